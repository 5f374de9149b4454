// The INI reader and writer on any file contents: reading never fails, writing an unchanged
// file gives its bytes back (a byte-order mark too), and writing any value (line breaks too) to
// one key reads back as written (by the profile rules) while every other key keeps its value,
// also after a save and a new read.

#include "FuzzSupport.h"

#include "base/IniFile.h"

#include <QStringList>

#include <array>
#include <optional>
#include <vector>

using velmora::IniFile;
using velmora::fuzz::check;
using velmora::fuzz::FuzzInput;

namespace {

const std::array<QString, 4> kSections{QStringLiteral("Common"), QStringLiteral("URL"),
                                       QStringLiteral("common"), QStringLiteral("Serial Port")};
const std::array<QString, 5> kKeys{QStringLiteral("AskExit"), QStringLiteral("Path"),
                                   QStringLiteral("askexit"), QStringLiteral("Mode"),
                                   QStringLiteral("Site URL")};

// What reading gives back for a value written as these bytes: each line break a space, blanks
// around it dropped, a pair of matching quotes taken off.
QString readBack(QByteArray written) {
    written.replace("\r\n", " ").replace('\r', ' ').replace('\n', ' ');
    QByteArray value = written.trimmed();
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.mid(1, value.size() - 2);
    }
    return QString::fromUtf8(value);
}

std::vector<std::optional<QString>> allValues(const IniFile& ini) {
    std::vector<std::optional<QString>> values;
    values.reserve(kSections.size() * kKeys.size());
    for (const QString& section : kSections) {
        for (const QString& key : kKeys) {
            values.push_back(ini.value(section, key));
        }
    }
    return values;
}

// Whether two names are the same to the profile rules.
bool same(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    struct Write {
        int section;
        int key;
        QString value;
    };
    std::vector<Write> writes(input.pick(4));
    for (Write& write : writes) {
        write.section = input.pick(static_cast<int>(kSections.size()));
        write.key = input.pick(static_cast<int>(kKeys.size()));
        write.value = QString::fromUtf8(input.chunk(40));
    }
    const QByteArray file = input.rest();

    IniFile ini = IniFile::fromBytes(file);
    check(ini.toBytes() == file, "an unchanged file is written back byte for byte");
    // Each key is read once per state: the values after one write are the ones before the next.
    auto before = allValues(ini);
    for (const Write& write : writes) {
        const QString& section = kSections[static_cast<std::size_t>(write.section)];
        const QString& key = kKeys[static_cast<std::size_t>(write.key)];
        const QString expected = readBack(write.value.toUtf8());
        ini.setValue(section, key, write.value);
        check(ini.value(section, key) == expected, "a written key reads back");
        auto after = allValues(ini);
        const IniFile reread = IniFile::fromBytes(ini.toBytes());
        check(allValues(reread) == after, "a saved file reads as the one in memory");
        for (std::size_t s = 0, i = 0; s < kSections.size(); ++s) {
            for (std::size_t k = 0; k < kKeys.size(); ++k, ++i) {
                if (same(kSections[s], section) && same(kKeys[k], key)) {
                    check(after[i] == expected, "the key reads back under any case");
                } else {
                    check(after[i] == before[i], "writing one key leaves the others alone");
                }
            }
        }
        before = std::move(after);
    }
    return 0;
}
