#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace vb {

// A list of file paths kept compact for catalogues of a million pictures: the text of each folder
// is stored once, the names are packed one after another in one byte array as the file system
// gave them, and an entry costs eight bytes beyond its name. An entry's text (folder text, then
// the name decoded as DecodeFileName does) is made only when it is asked for.
//
// Copies share their data, and a copy is not changed by changes to another: appending to a list
// whose data is shared first gives it data of its own. Identity() names a list's data, and no other
// data ever has the same, so that a cached order can tell a replaced list from the one it was
// made for by its identity and size alone, without holding a copy that would make the next append
// copy the whole list.
class PathList
{
public:
    struct Entry
    {
        quint32 folder;  // index into Folders()
        quint32 nameEnd; // the name runs from the previous entry's nameEnd (0 for the first) to here
    };

    PathList();
    // Whole paths, as Append(path) takes them.
    PathList(std::initializer_list<QString> paths);

    qsizetype size() const { return qsizetype(m_data->entries.size()); }
    bool isEmpty() const { return m_data->entries.empty(); }
    // The entry's text; `index` must be in range.
    QString at(qsizetype index) const;
    QString operator[](qsizetype index) const { return at(index); }
    // The entry's name as the file system gave it, and its folder's index.
    std::string_view Name(qsizetype index) const;
    quint32 FolderOf(qsizetype index) const { return m_data->entries[size_t(index)].folder; }

    // A folder text (ending in "/") for the entries appended after it; the same text as the last
    // one added is not stored again. Returns its index.
    quint32 AddFolder(const QString& folderText);
    // An entry in the folder AddFolder returned, with its name in the file system's bytes.
    void Append(quint32 folder, std::string_view name);
    // A whole path: the folder is the text up to the last "/", the name the rest, encoded.
    void Append(const QString& path);
    void Append(const PathList& other); // `other` may be this list
    PathList& operator+=(const PathList& other)
    {
        Append(other);
        return *this;
    }
    void clear();
    // Takes out the entry at `index`, which must be in range; the entries after it move up.
    void RemoveAt(qsizetype index);
    // The first entry whose text is `path`, or -1; one pass over the names, no entry text made.
    qsizetype IndexOf(const QString& path) const;

    // Whether the list is one the picture index kept from an earlier run (its entries may have gone
    // since), rather than one a walk of this run made. Copies keep the mark; clear() drops it.
    bool FromIndex() const { return m_fromIndex; }
    void SetFromIndex(bool fromIndex) { m_fromIndex = fromIndex; }

    // What the list holds, for the index file.
    const QStringList& Folders() const { return m_data->folders; }
    std::span<const Entry> Entries() const { return m_data->entries; }
    const QByteArray& Names() const { return m_data->names; }
    // A list from those parts; none where they do not fit together (a folder index out of range,
    // name ends that go back or past the names, names beyond the last entry's).
    static std::optional<PathList> FromParts(QStringList folders, std::vector<Entry> entries,
                                             QByteArray names);

    // Bytes held, for the benchmark.
    size_t MemoryBytes() const;
    quint64 Identity() const { return m_data->identity; }

    static PathList FromStringList(const QStringList& paths);
    QStringList ToStringList() const;
    friend bool operator==(const PathList& a, const PathList& b);

private:
    struct Data
    {
        QStringList folders;
        std::vector<Entry> entries;
        QByteArray names;
        quint64 identity = NewIdentity();
        Data() = default;
        Data(const Data& other) : folders(other.folders), entries(other.entries), names(other.names) {}
        Data& operator=(const Data&) = delete;
    };
    static quint64 NewIdentity();
    Data& Own();
    std::shared_ptr<Data> m_data;
    bool m_fromIndex = false;
};

} // namespace vb
