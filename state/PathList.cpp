#include "state/PathList.h"

#include "platform/files/FileNames.h"

#include <atomic>
#include <limits>
#include <stdexcept>

namespace vb {

PathList::PathList() : m_data(std::make_shared<Data>()) {}

PathList::PathList(std::initializer_list<QString> paths) : PathList()
{
    for (const QString& path : paths)
        Append(path);
}

quint64 PathList::NewIdentity()
{
    static std::atomic<quint64> last{0};
    return ++last;
}

PathList::Data& PathList::Own()
{
    if (m_data.use_count() > 1)
        m_data = std::make_shared<Data>(*m_data);
    return *m_data;
}

std::string_view PathList::Name(qsizetype index) const
{
    const auto& entries = m_data->entries;
    const quint32 begin = index > 0 ? entries[size_t(index) - 1].nameEnd : 0;
    return std::string_view(m_data->names.constData() + begin, entries[size_t(index)].nameEnd - begin);
}

QString PathList::at(qsizetype index) const
{
    const std::string_view name = Name(index);
    return m_data->folders[FolderOf(index)] +
           DecodeFileName(QByteArrayView(name.data(), qsizetype(name.size())));
}

quint32 PathList::AddFolder(const QString& folderText)
{
    if (!m_data->folders.isEmpty() && m_data->folders.constLast() == folderText)
        return quint32(m_data->folders.size() - 1);
    Own().folders.append(folderText);
    return quint32(m_data->folders.size() - 1);
}

void PathList::Append(quint32 folder, std::string_view name)
{
    Data& data = Own();
    // Offsets are 32 bits: 4 GB of names, far beyond any catalogue's.
    if (size_t(data.names.size()) + name.size() > std::numeric_limits<quint32>::max())
        throw std::length_error("too many picture names");
    data.names.append(name.data(), qsizetype(name.size()));
    data.entries.push_back(Entry{folder, quint32(data.names.size())});
}

void PathList::Append(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/') + 1;
    const quint32 folder = AddFolder(path.left(slash));
    const QByteArray name = EncodeFileName(QStringView(path).mid(slash));
    Append(folder, std::string_view(name.constData(), size_t(name.size())));
}

void PathList::Append(const PathList& other)
{
    if (other.isEmpty())
        return;
    if (isEmpty() && m_data->folders.isEmpty()) {
        m_data = other.m_data;
        return;
    }
    // Held, so that the source stays as it is while this list changes, also where it is this one.
    const std::shared_ptr<const Data> source = other.m_data;
    std::vector<quint32> folders;
    folders.reserve(size_t(source->folders.size()));
    for (const QString& folder : source->folders)
        folders.push_back(AddFolder(folder));
    Data& data = Own();
    data.entries.reserve(data.entries.size() + source->entries.size());
    data.names.reserve(data.names.size() + source->names.size());
    quint32 begin = 0;
    for (const Entry& entry : source->entries) {
        Append(folders[entry.folder],
               std::string_view(source->names.constData() + begin, entry.nameEnd - begin));
        begin = entry.nameEnd;
    }
}

void PathList::clear()
{
    m_data = std::make_shared<Data>();
    m_fromIndex = false;
}

void PathList::RemoveAt(qsizetype index)
{
    Data& data = Own();
    auto& entries = data.entries;
    const quint32 begin = index > 0 ? entries[size_t(index) - 1].nameEnd : 0;
    const quint32 length = entries[size_t(index)].nameEnd - begin;
    data.names.remove(qsizetype(begin), qsizetype(length));
    for (auto entry = entries.begin() + index + 1; entry != entries.end(); ++entry)
        entry->nameEnd -= length;
    entries.erase(entries.begin() + index);
    // An order cached for the list as it was must not be taken for this one.
    data.identity = NewIdentity();
}

std::optional<PathList> PathList::FromParts(QStringList folders, std::vector<Entry> entries, QByteArray names)
{
    quint32 end = 0;
    for (const Entry& entry : entries) {
        if (entry.folder >= quint32(folders.size()) || entry.nameEnd < end ||
            entry.nameEnd > quint32(names.size()))
            return std::nullopt;
        end = entry.nameEnd;
    }
    // Bytes past the last name would become part of the next name appended.
    if (end != quint32(names.size()))
        return std::nullopt;
    PathList list;
    list.m_data->folders = std::move(folders);
    list.m_data->entries = std::move(entries);
    list.m_data->names = std::move(names);
    return list;
}

qsizetype PathList::IndexOf(const QString& path) const
{
    const qsizetype slash = path.lastIndexOf(u'/') + 1;
    const QStringView folder = QStringView(path).left(slash);
    const QByteArray encoded = EncodeFileName(QStringView(path).mid(slash));
    const std::string_view name(encoded.constData(), size_t(encoded.size()));
    // Folders compared once each, where a name matches.
    std::vector<signed char> folderMatches(size_t(m_data->folders.size()), -1);
    for (qsizetype i = 0; i < size(); ++i) {
        if (Name(i) != name)
            continue;
        signed char& match = folderMatches[FolderOf(i)];
        if (match < 0)
            match = m_data->folders[FolderOf(i)] == folder ? 1 : 0;
        if (match == 1)
            return i;
    }
    return -1;
}

size_t PathList::MemoryBytes() const
{
    size_t bytes =
        sizeof(Data) + m_data->entries.capacity() * sizeof(Entry) + size_t(m_data->names.capacity());
    for (const QString& folder : m_data->folders)
        bytes += sizeof(QString) + size_t(folder.capacity()) * sizeof(QChar);
    return bytes;
}

PathList PathList::FromStringList(const QStringList& paths)
{
    PathList list;
    for (const QString& path : paths)
        list.Append(path);
    return list;
}

QStringList PathList::ToStringList() const
{
    QStringList paths;
    paths.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        paths.append(at(i));
    return paths;
}

bool operator==(const PathList& a, const PathList& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (a.Name(i) != b.Name(i) || a.m_data->folders[a.FolderOf(i)] != b.m_data->folders[b.FolderOf(i)])
            return false;
    return true;
}

} // namespace vb
