#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace velmora {

// An INI file read and written with the rules of the Windows profile functions: section and key
// names match without regard to letter case, the first of duplicate sections or keys wins, blanks
// around names and values are dropped, a value in matching quotes loses them, lines without '='
// and comment lines are skipped. A UTF-8 byte-order mark at the start is read past and kept.
// Writing a key changes only that key's line; every other line of the file (sections, keys,
// comments, even unreadable bytes) is kept as it was. A written value never holds a line break:
// each one becomes a space, so no value can add lines or sections to the file.
class IniFile {
public:
    // Files larger than this are not read (their keys take their defaults).
    static constexpr qint64 MaximumSize = 8 * 1024 * 1024;

    IniFile() = default;

    // Reads the file; a missing, unreadable or oversized file gives an empty one.
    static IniFile load(const QString& path);
    static IniFile fromBytes(const QByteArray& bytes);

    std::optional<QString> value(const QString& section, const QString& key) const;
    QString stringValue(const QString& section, const QString& key, const QString& fallback) const;
    // The value as a decimal integer; fallback when the key is absent or its value is no integer.
    int intValue(const QString& section, const QString& key, int fallback) const;

    void setValue(const QString& section, const QString& key, const QString& value);
    void setValue(const QString& section, const QString& key, int value);

    QByteArray toBytes() const;
    // Writes a new file beside the old one and renames it over, so a crash never leaves half a
    // file. Returns false when the file could not be written.
    bool save(const QString& path) const;

private:
    // Finds the "[section]" lines again after lines were added.
    void indexSections();
    // Index of the line "[section]" or -1.
    int findSection(const QString& section) const;
    // The line of the section after the one that starts at sectionLine, or the line count.
    int nextSection(int sectionLine) const;
    // Index of the key's line inside the section that starts at sectionLine, or -1.
    int findKey(int sectionLine, const QString& key) const;
    // One past the last key line of the section that starts at sectionLine.
    int sectionEnd(int sectionLine) const;

    std::vector<QByteArray> m_lines;
    std::vector<int> m_sectionLines;  // the indexes of the "[section]" lines, in order
    bool m_byteOrderMark = false;
    bool m_endsWithNewline = true;
};

}  // namespace velmora
