#include "catalogue/PictureIndex.h"

#include "platform/files/FileNames.h"
#include "platform/files/RegularFile.h"
#include "platform/files/UserFolders.h"
#include "platform/runtime/ErrorReport.h"
#include "state/ModuleState.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSaveFile>
#include <QtEndian>
#include <cstring>
#include <unistd.h>

namespace vb {

namespace {

// The file: a header, the texts (the chosen folders, then the list's folder texts, each a 32-bit
// length and its bytes), the entries (folder index and name end, 32 bits each), the names, and
// the checksum. Numbers are little-endian.
constexpr char Magic[8] = {'V', 'B', 'I', 'N', 'D', 'E', 'X', '\x1a'};
constexpr quint32 FormatVersion = 1;
constexpr qsizetype HeaderBytes = 32;
constexpr qsizetype ChecksumBytes = 8;

struct Header
{
    quint32 version = FormatVersion;
    quint32 options = 0;
    quint32 textBytes = 0;
    quint32 entryCount = 0;
    quint32 nameBytes = 0;

    // The whole file's size as the header has it; 64 bits, so that no length can wrap it.
    quint64 FileBytes() const
    {
        return quint64(HeaderBytes) + textBytes + quint64(entryCount) * sizeof(PathList::Entry) + nameBytes +
               ChecksumBytes;
    }
};

quint32 OptionBits(CatalogueOptions options)
{
    return (options.includeSubfolders ? 1u : 0u) | (options.allPictureTypes ? 2u : 0u);
}

quint64 Read64(const char* p)
{
    return qFromLittleEndian<quint64>(p);
}

quint32 Read32(const char* p)
{
    return qFromLittleEndian<quint32>(p);
}

void Append32(QByteArray& bytes, quint32 value)
{
    char le[4];
    qToLittleEndian(value, le);
    bytes.append(le, 4);
}

// The checksum: Fletcher's sums in four 64-bit lanes (each word added to its lane's sum, and that
// sum to a second one, so that moved words count too), which sum at memory speed, then mixed
// with rounds of the well-known xxHash64 design. It guards against damage, not against intent.
constexpr quint64 P1 = 0x9E3779B185EBCA87ULL, P2 = 0xC2B2AE3D27D4EB4FULL, P3 = 0x165667B19E3779F9ULL,
                  P4 = 0x85EBCA77C2B2AE63ULL, P5 = 0x27D4EB2F165667C5ULL;

quint64 Round(quint64 acc, quint64 input)
{
    acc += input * P2;
    return ((acc << 31) | (acc >> 33)) * P1;
}

class Summer
{
public:
    static constexpr size_t Stripe = 32;

    // Every call but the last with a multiple of Stripe bytes.
    void Add(const char* p, size_t n)
    {
        m_length += n;
        for (; n >= Stripe; p += Stripe, n -= Stripe)
            Take(p);
        if (n > 0) {
            char last[Stripe] = {};
            std::memcpy(last, p, n);
            Take(last);
        }
    }

    quint64 Value() const
    {
        quint64 h = m_length * P5;
        for (size_t k = 0; k < 4; ++k)
            h = Round(Round(h, m_a[k]), m_b[k]);
        h ^= h >> 33;
        h *= P2;
        h ^= h >> 29;
        h *= P3;
        return h ^ (h >> 32);
    }

private:
    void Take(const char* p)
    {
        for (size_t k = 0; k < 4; ++k) {
            m_a[k] += Read64(p + 8 * k);
            m_b[k] += m_a[k];
        }
    }

    quint64 m_a[4] = {P1, P2, P3, P4};
    quint64 m_b[4] = {};
    quint64 m_length = 0;
};

quint64 Hash(const char* p, size_t n)
{
    Summer summer;
    summer.Add(p, n);
    return summer.Value();
}

// Over the whole content: header and texts directly, the two large parts by their own sums.
quint64 Checksum(QByteArrayView headerAndTexts, quint64 entriesSum, quint64 namesSum)
{
    QByteArray all(headerAndTexts.data(), headerAndTexts.size());
    char le[8];
    qToLittleEndian(entriesSum, le);
    all.append(le, 8);
    qToLittleEndian(namesSum, le);
    all.append(le, 8);
    return Hash(all.constData(), size_t(all.size()));
}

quint64 EntriesSum(const std::vector<PathList::Entry>& entries)
{
    return Hash(reinterpret_cast<const char*>(entries.data()), entries.size() * sizeof(PathList::Entry));
}

quint64 NamesSum(const QByteArray& names)
{
    return Hash(names.constData(), size_t(names.size()));
}

// The entries are held as the file has them; a big-endian host turns them round.
void EntriesFromFile(std::vector<PathList::Entry>& entries)
{
    if constexpr (Q_BYTE_ORDER == Q_BIG_ENDIAN)
        for (PathList::Entry& entry : entries)
            entry = {qFromLittleEndian(entry.folder), qFromLittleEndian(entry.nameEnd)};
}

void AppendTexts(QByteArray& bytes, const QStringList& texts)
{
    Append32(bytes, quint32(texts.size()));
    for (const QString& text : texts) {
        const QByteArray encoded = EncodeFileName(text);
        Append32(bytes, quint32(encoded.size()));
        bytes.append(encoded);
    }
}

// A count of texts and the texts, from `at` on; none where a length runs past the end.
std::optional<QStringList> TakeTexts(QByteArrayView texts, qsizetype& at)
{
    if (texts.size() - at < 4)
        return std::nullopt;
    const quint32 count = Read32(texts.data() + at);
    at += 4;
    // Each text takes at least its length field: a count beyond that is a lie.
    if (count > quint64(texts.size() - at) / 4)
        return std::nullopt;
    QStringList list;
    list.reserve(qsizetype(count));
    for (quint32 i = 0; i < count; ++i) {
        if (texts.size() - at < 4)
            return std::nullopt;
        const quint32 length = Read32(texts.data() + at);
        at += 4;
        if (length > quint64(texts.size() - at))
            return std::nullopt;
        list.append(DecodeFileName(texts.sliced(at, qsizetype(length))));
        at += qsizetype(length);
    }
    return list;
}

std::optional<Header> ReadHeader(QByteArrayView bytes, CatalogueOptions options)
{
    if (bytes.size() < HeaderBytes || std::memcmp(bytes.data(), Magic, sizeof Magic) != 0)
        return std::nullopt;
    const char* p = bytes.data() + sizeof Magic;
    Header header{Read32(p), Read32(p + 4), Read32(p + 8), Read32(p + 12), Read32(p + 16)};
    if (header.version != FormatVersion || header.options != OptionBits(options) || Read32(p + 20) != 0)
        return std::nullopt;
    return header;
}

// The list's folder texts, when the chosen folders are `folders` and the texts fill the section.
std::optional<QStringList> ReadTexts(QByteArrayView texts, const QStringList& folders)
{
    qsizetype at = 0;
    const std::optional<QStringList> chosen = TakeTexts(texts, at);
    if (!chosen || *chosen != folders)
        return std::nullopt;
    std::optional<QStringList> listFolders = TakeTexts(texts, at);
    if (at != texts.size())
        return std::nullopt;
    return listFolders;
}

QByteArray HeaderAndTexts(const QStringList& folders, CatalogueOptions options, const PathList& list)
{
    QByteArray texts;
    AppendTexts(texts, folders);
    AppendTexts(texts, list.Folders());
    QByteArray bytes(Magic, sizeof Magic);
    for (const quint32 value : {FormatVersion, OptionBits(options), quint32(texts.size()),
                                quint32(list.Entries().size()), quint32(list.Names().size()), 0u})
        Append32(bytes, value);
    return bytes + texts;
}

// What the file holds apart from the names, which are written as the list keeps them.
struct FilePieces
{
    QByteArray head;                      // header and texts
    std::vector<PathList::Entry> entries; // in the file's byte order
    char checksum[ChecksumBytes];

    QByteArrayView EntryBytes() const
    {
        static_assert(sizeof(PathList::Entry) == 8);
        return QByteArrayView(reinterpret_cast<const char*>(entries.data()),
                              qsizetype(entries.size() * sizeof(PathList::Entry)));
    }
};

FilePieces Pieces(const QStringList& folders, CatalogueOptions options, const PathList& list)
{
    FilePieces pieces{
        HeaderAndTexts(folders, options, list), {list.Entries().begin(), list.Entries().end()}, {}};
    EntriesFromFile(pieces.entries); // the same turn both ways
    qToLittleEndian(Checksum(pieces.head, EntriesSum(pieces.entries), NamesSum(list.Names())),
                    pieces.checksum);
    return pieces;
}

// Reads exactly `size` bytes; false at an early end or an error. With a `summer`, each piece is
// summed as soon as it is read, while it is still in the processor's cache.
bool ReadFully(QFile& file, char* into, qint64 size, Summer* summer = nullptr)
{
    constexpr qint64 Piece = 64 * 1024;
    while (size > 0) {
        const qint64 got = file.read(into, summer ? std::min(size, Piece) : size);
        if (got <= 0 || (summer && got % qint64(Summer::Stripe) != 0 && got != size))
            return false;
        if (summer)
            summer->Add(into, size_t(got));
        into += got;
        size -= got;
    }
    return true;
}

} // namespace

PictureIndex::PictureIndex(QString folder) : m_folder(std::move(folder)) {}

QString PictureIndex::DefaultFolder()
{
    return UserCacheFolder() + QStringLiteral("/vellumbright");
}

QString PictureIndex::FilePath(const QStringList& folders, CatalogueOptions options) const
{
    QByteArray key;
    Append32(key, OptionBits(options));
    AppendTexts(key, folders);
    const QByteArray hash = QCryptographicHash::hash(key, QCryptographicHash::Sha256).left(12).toHex();
    return m_folder + QStringLiteral("/pictures-") + QString::fromLatin1(hash) + QStringLiteral(".index");
}

QByteArray PictureIndex::Serialize(const QStringList& folders, CatalogueOptions options, const PathList& list)
{
    const FilePieces pieces = Pieces(folders, options, list);
    QByteArray bytes = pieces.head;
    bytes.append(pieces.EntryBytes().data(), pieces.EntryBytes().size());
    bytes += list.Names();
    return bytes.append(pieces.checksum, ChecksumBytes);
}

std::optional<PathList> PictureIndex::Parse(QByteArrayView bytes, const QStringList& folders,
                                            CatalogueOptions options)
{
    const std::optional<Header> header = ReadHeader(bytes, options);
    if (!header || header->FileBytes() != quint64(bytes.size()))
        return std::nullopt;
    const qsizetype textsEnd = HeaderBytes + qsizetype(header->textBytes);
    std::optional<QStringList> listFolders = ReadTexts(bytes.sliced(HeaderBytes, header->textBytes), folders);
    if (!listFolders)
        return std::nullopt;
    std::vector<PathList::Entry> entries(header->entryCount);
    const qsizetype entryBytes = qsizetype(entries.size() * sizeof(PathList::Entry));
    if (entryBytes > 0)
        std::memcpy(entries.data(), bytes.data() + textsEnd, size_t(entryBytes));
    QByteArray names = bytes.sliced(textsEnd + entryBytes, header->nameBytes).toByteArray();
    if (Checksum(bytes.first(textsEnd), EntriesSum(entries), NamesSum(names)) !=
        Read64(bytes.data() + bytes.size() - ChecksumBytes))
        return std::nullopt;
    EntriesFromFile(entries);
    return PathList::FromParts(std::move(*listFolders), std::move(entries), std::move(names));
}

namespace {

// The rest of an index after its header, which has been checked against the file.
std::optional<PathList> ReadAfterHeader(QFile& file, const Header& header, QByteArray bytes,
                                        const QStringList& folders)
{
    bytes.resize(HeaderBytes + qsizetype(header.textBytes));
    if (!ReadFully(file, bytes.data() + HeaderBytes, header.textBytes))
        return std::nullopt;
    std::optional<QStringList> listFolders = ReadTexts(QByteArrayView(bytes).sliced(HeaderBytes), folders);
    if (!listFolders)
        return std::nullopt;
    std::vector<PathList::Entry> entries(header.entryCount);
    QByteArray names(header.nameBytes, Qt::Uninitialized);
    char checksum[ChecksumBytes];
    Summer entriesSum, namesSum;
    if (!ReadFully(file, reinterpret_cast<char*>(entries.data()),
                   qint64(entries.size() * sizeof(PathList::Entry)), &entriesSum) ||
        !ReadFully(file, names.data(), names.size(), &namesSum) || !ReadFully(file, checksum, ChecksumBytes))
        return std::nullopt;
    if (Checksum(bytes, entriesSum.Value(), namesSum.Value()) != Read64(checksum))
        return std::nullopt;
    EntriesFromFile(entries);
    std::optional<PathList> list =
        PathList::FromParts(std::move(*listFolders), std::move(entries), std::move(names));
    if (list)
        list->SetFromIndex(true);
    return list;
}

} // namespace

std::optional<PathList> PictureIndex::Load(const QStringList& folders, CatalogueOptions options) const
{
    OpenRefusal refusal;
    const int fd = TryOpenRegularFile(FilePath(folders, options), &refusal);
    if (fd < 0)
        return std::nullopt;
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    // The parts are read straight into the buffers the list keeps, each once.
    QByteArray bytes(HeaderBytes, Qt::Uninitialized);
    if (!ReadFully(file, bytes.data(), HeaderBytes))
        return std::nullopt;
    const std::optional<Header> header = ReadHeader(bytes, options);
    if (!header || header->FileBytes() != quint64(file.size()))
        return std::nullopt;
    // The lengths are the file's, but a sparse file holds none of what they claim: a hole would
    // have its gigabytes allocated here before the checksum could tell.
    const off_t firstHole = lseek(fd, 0, SEEK_HOLE);
    if (firstHole < 0 || quint64(firstHole) < header->FileBytes() ||
        lseek(fd, HeaderBytes, SEEK_SET) != HeaderBytes)
        return std::nullopt;
    try {
        return ReadAfterHeader(file, *header, std::move(bytes), folders);
    } catch (const std::bad_alloc&) {
        // No memory for what the file does hold: it is rebuilt as any unusable index is.
        return std::nullopt;
    }
}

bool PictureIndex::Save(const QStringList& folders, CatalogueOptions options, const PathList& list) const
{
    const auto fail = [this](const QString& why) {
        WriteWarning(QStringLiteral("cannot write the picture index in %1: %2").arg(m_folder, why));
        return false;
    };
    QString why;
    if (!MakePrivateFolder(m_folder, &why))
        return fail(why);
    const FilePieces pieces = Pieces(folders, options, list);
    if (pieces.head.size() - HeaderBytes > qsizetype(0xffffffffLL))
        return fail(QStringLiteral("too many folders"));
    QSaveFile file(FilePath(folders, options));
    const QByteArrayView entries = pieces.EntryBytes();
    if (!file.open(QIODevice::WriteOnly) || file.write(pieces.head) != pieces.head.size() ||
        file.write(entries.data(), entries.size()) != entries.size() ||
        file.write(list.Names()) != list.Names().size() ||
        file.write(pieces.checksum, ChecksumBytes) != ChecksumBytes || !file.commit())
        return fail(file.errorString());
    return true;
}

} // namespace vb
