#include "base/IniFile.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>

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

// The line without the CR of a CR LF line end.
QByteArrayView content(const QByteArray& line) {
    return line.endsWith('\r') ? QByteArrayView(line).chopped(1) : QByteArrayView(line);
}

// The name inside the brackets of a "[name]" line, or nothing.
std::optional<QByteArrayView> sectionName(const QByteArray& rawLine) {
    const QByteArrayView line = content(rawLine).trimmed();
    if (!line.startsWith('[')) {
        return std::nullopt;
    }
    const qsizetype close = line.indexOf(']');
    if (close < 0) {
        return std::nullopt;
    }
    return line.sliced(1, close - 1).trimmed();
}

// The key and value of a "key=value" line, or nothing.
std::optional<std::pair<QByteArrayView, QByteArrayView>> keyValue(const QByteArray& rawLine) {
    const QByteArrayView line = content(rawLine);
    const QByteArrayView trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(';') || trimmed.startsWith('#') ||
        trimmed.startsWith('[')) {
        return std::nullopt;
    }
    const qsizetype equals = line.indexOf('=');
    if (equals < 0) {
        return std::nullopt;
    }
    return std::pair{line.first(equals).trimmed(), line.sliced(equals + 1).trimmed()};
}

// Names compare as text, without regard to letter case; read without copying the line.
bool sameName(QByteArrayView name, const QString& wanted) {
    return QAnyStringView::compare(QUtf8StringView(name), wanted, Qt::CaseInsensitive) == 0;
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
    ini.indexSections();
    return ini;
}

void IniFile::indexSections() {
    m_sectionLines.clear();
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        if (sectionName(m_lines[i])) {
            m_sectionLines.push_back(static_cast<int>(i));
        }
    }
}

int IniFile::findSection(const QString& section) const {
    for (const int line : m_sectionLines) {
        if (sameName(*sectionName(m_lines[line]), section)) {
            return line;
        }
    }
    return -1;
}

int IniFile::nextSection(int sectionLine) const {
    const auto next = std::upper_bound(m_sectionLines.begin(), m_sectionLines.end(), sectionLine);
    return next == m_sectionLines.end() ? static_cast<int>(m_lines.size()) : *next;
}

int IniFile::findKey(int sectionLine, const QString& key) const {
    const int next = nextSection(sectionLine);
    for (int i = sectionLine + 1; i < next; ++i) {
        const auto pair = keyValue(m_lines[i]);
        if (pair && sameName(pair->first, key)) {
            return i;
        }
    }
    return -1;
}

int IniFile::sectionEnd(int sectionLine) const {
    int end = sectionLine + 1;
    const int next = nextSection(sectionLine);
    for (int i = sectionLine + 1; i < next; ++i) {
        if (keyValue(m_lines[i])) {
            end = i + 1;
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
    QByteArrayView value = keyValue(m_lines[keyLine])->second;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.sliced(1, value.size() - 2);
    }
    return QString::fromUtf8(value);
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
        if (!m_lines.empty() && !content(m_lines.back()).trimmed().isEmpty()) {
            m_lines.emplace_back();
        }
        m_lines.push_back('[' + section.toUtf8() + ']');
        m_lines.push_back(line);
        m_endsWithNewline = true;
        indexSections();
        return;
    }
    const int keyLine = findKey(sectionLine, key);
    if (keyLine >= 0) {
        m_lines[keyLine] = m_lines[keyLine].endsWith('\r') ? line + '\r' : line;
        indexSections();
        return;
    }
    const int end = sectionEnd(sectionLine);
    if (end == static_cast<int>(m_lines.size())) {
        m_endsWithNewline = true;
    }
    m_lines.insert(m_lines.begin() + end, line);
    indexSections();
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
