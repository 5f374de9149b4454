#include "base/IniFile.h"

#include <QFile>
#include <QSaveFile>

namespace velmora {

namespace {

constexpr char ByteOrderMark[] = "\xEF\xBB\xBF";

// The value's bytes on one line: CR LF, CR and LF each become one space.
QByteArray onOneLine(const QString& value) {
    QByteArray bytes = value.toUtf8();
    bytes.replace("\r\n", " ");
    bytes.replace('\r', ' ');
    bytes.replace('\n', ' ');
    return bytes;
}

QByteArray withoutCarriageReturn(const QByteArray& line) {
    return line.endsWith('\r') ? line.chopped(1) : line;
}

// The section name of a "[name]" line, or nothing.
std::optional<QString> sectionName(const QByteArray& rawLine) {
    const QByteArray line = withoutCarriageReturn(rawLine).trimmed();
    if (!line.startsWith('[')) {
        return std::nullopt;
    }
    const qsizetype close = line.indexOf(']');
    if (close < 0) {
        return std::nullopt;
    }
    return QString::fromUtf8(line.mid(1, close - 1)).trimmed();
}

bool isComment(const QByteArray& trimmed) {
    return trimmed.startsWith(';') || trimmed.startsWith('#');
}

// The key and value of a "key=value" line, or nothing.
std::optional<std::pair<QString, QString>> keyValue(const QByteArray& rawLine) {
    const QByteArray line = withoutCarriageReturn(rawLine);
    const QByteArray trimmed = line.trimmed();
    if (trimmed.isEmpty() || isComment(trimmed) || trimmed.startsWith('[')) {
        return std::nullopt;
    }
    const qsizetype equals = line.indexOf('=');
    if (equals < 0) {
        return std::nullopt;
    }
    QByteArray value = line.mid(equals + 1).trimmed();
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.mid(1, value.size() - 2);
    }
    return std::pair{QString::fromUtf8(line.left(equals)).trimmed(), QString::fromUtf8(value)};
}

}  // namespace

IniFile IniFile::load(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaximumSize) {
        return {};
    }
    return fromBytes(file.read(MaximumSize));
}

IniFile IniFile::fromBytes(const QByteArray& bytes) {
    IniFile ini;
    ini.m_byteOrderMark = bytes.startsWith(ByteOrderMark);
    const QByteArray text = ini.m_byteOrderMark ? bytes.sliced(3) : bytes;
    if (text.isEmpty()) {
        return ini;
    }
    ini.m_endsWithNewline = text.endsWith('\n');
    const QList<QByteArray> lines = text.split('\n');
    ini.m_lines.assign(lines.begin(), lines.end());
    if (ini.m_endsWithNewline) {
        ini.m_lines.pop_back();
    }
    return ini;
}

int IniFile::findSection(const QString& section) const {
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const auto name = sectionName(m_lines[i]);
        if (name && name->compare(section, Qt::CaseInsensitive) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int IniFile::findKey(int sectionLine, const QString& key) const {
    for (std::size_t i = sectionLine + 1; i < m_lines.size(); ++i) {
        if (sectionName(m_lines[i])) {
            break;
        }
        const auto pair = keyValue(m_lines[i]);
        if (pair && pair->first.compare(key, Qt::CaseInsensitive) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int IniFile::sectionEnd(int sectionLine) const {
    int end = sectionLine + 1;
    for (std::size_t i = sectionLine + 1; i < m_lines.size(); ++i) {
        if (sectionName(m_lines[i])) {
            break;
        }
        if (keyValue(m_lines[i])) {
            end = static_cast<int>(i) + 1;
        }
    }
    return end;
}

std::optional<QString> IniFile::value(const QString& section, const QString& key) const {
    const int sectionLine = findSection(section);
    if (sectionLine < 0) {
        return std::nullopt;
    }
    const int keyLine = findKey(sectionLine, key);
    if (keyLine < 0) {
        return std::nullopt;
    }
    return keyValue(m_lines[keyLine])->second;
}

QString IniFile::stringValue(const QString& section, const QString& key,
                             const QString& fallback) const {
    return value(section, key).value_or(fallback);
}

int IniFile::intValue(const QString& section, const QString& key, int fallback) const {
    const auto text = value(section, key);
    if (!text) {
        return fallback;
    }
    bool ok = false;
    const int number = text->toInt(&ok, 10);
    return ok ? number : fallback;
}

void IniFile::setValue(const QString& section, const QString& key, const QString& value) {
    const QByteArray line = key.toUtf8() + '=' + onOneLine(value);
    int sectionLine = findSection(section);
    if (sectionLine < 0) {
        if (!m_lines.empty() && !withoutCarriageReturn(m_lines.back()).trimmed().isEmpty()) {
            m_lines.emplace_back();
        }
        m_lines.push_back('[' + section.toUtf8() + ']');
        m_lines.push_back(line);
        m_endsWithNewline = true;
        return;
    }
    const int keyLine = findKey(sectionLine, key);
    if (keyLine >= 0) {
        m_lines[keyLine] = m_lines[keyLine].endsWith('\r') ? line + '\r' : line;
        return;
    }
    const int end = sectionEnd(sectionLine);
    if (end == static_cast<int>(m_lines.size())) {
        m_endsWithNewline = true;
    }
    m_lines.insert(m_lines.begin() + end, line);
}

void IniFile::setValue(const QString& section, const QString& key, int value) {
    setValue(section, key, QString::number(value));
}

QByteArray IniFile::toBytes() const {
    QByteArray bytes = m_byteOrderMark ? QByteArray(ByteOrderMark) : QByteArray();
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        bytes += m_lines[i];
        if (i + 1 < m_lines.size() || m_endsWithNewline) {
            bytes += '\n';
        }
    }
    return bytes;
}

bool IniFile::save(const QString& path) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    file.write(toBytes());
    return file.commit();
}

}  // namespace velmora
