#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <optional>
#include <vector>

namespace vb {

// The text of an INI file, kept line by line so that a rewrite changes only the values the
// program sets and keeps everything else (comments, other sections, foreign keys) as it was.
//
// A value is read raw, up to the end of its line, spaces and tabs around it removed, so that a
// hand-written "Dir1=C:\Pics, old;2" means exactly that text. A value that would not survive
// that (white space of any kind at either end, a leading quote, control characters) is written
// in double quotes with backslash escapes. Bytes that are not UTF-8 are kept as DecodeFileName
// keeps them, so every line the program does not change is written back byte for byte.
// Section and key names match without regard to letter case, as in the registry the store
// stands in for; of repeated keys the last counts.
class IniDocument
{
public:
    static IniDocument Parse(const QByteArray& bytes);
    QByteArray Serialize() const;

    std::optional<QString> Value(const QString& section, const QString& key) const;
    void SetValue(const QString& section, const QString& key, const QString& value);
    // Returns false when the key was absent.
    bool Remove(const QString& section, const QString& key);

    static QString EncodeValue(const QString& value);
    static QString DecodeValue(const QString& raw);

private:
    struct Line
    {
        QString text;
        QString key; // empty unless a key line
        bool removed = false;
    };
    struct Section
    {
        QString name; // empty for the lines before the first header
        std::vector<Line> lines;
        // Lower-cased key to the indices of its lines, in file order. Removed lines stay in place
        // as tombstones, so that saving thousands of folders stays linear.
        QHash<QString, std::vector<size_t>> keys;
    };
    Section* FindKey(const QString& section, const QString& key, size_t* index);
    std::vector<Section> m_sections;
};

} // namespace vb
