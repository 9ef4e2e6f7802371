#pragma once

#include "loading/PacketSocket.h"
#include "picture/PictureLoader.h"
#include "platform/files/DirectoryLister.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstring>
#include <optional>
#include <string_view>

namespace vb::helper {

// The messages between the program and its loading helper, one per packet (PacketSocket). A
// frame travels as a memfd passed with its answer (FrameMemory); everything else is in the packet.
enum class Kind : quint8 {
    // Program to helper.
    Frame = 1,
    List = 2,
    // Helper to program.
    FrameDone = 3,
    ListPart = 4,
    ListDone = 5,
};

// Beyond any monitor: a frame is the size of a cover. Its bytes are bounded too, well above an
// 8K monitor's 133 MB; the helper's file-size limit is the same.
inline constexpr int MaxFrameSide = 1 << 15;
inline constexpr qint64 MaxFrameBytes = qint64(256) << 20;

// How a listing ended. `Elsewhere`: the folder leads (through a link) out of the folders the
// helper may read; the listing's end names where, so that a helper that may read there is started.
enum class ListStatus : quint8 { Listed = 0, Missing = 1, Unreadable = 2, Elsewhere = 3 };

// Whether `path` is one of `folders` or lies below one (as text: both sides clean and absolute).
bool FolderWithin(const QString& path, const QStringList& folders);

QByteArray EncodeFrameRequest(const FrameRequest& request);
// The size of the frame that answers `request` (a picture's is its canvas's in device pixels).
QSize FrameSize(const FrameRequest& request);
// The request as the program made it; none for a malformed packet.
std::optional<FrameRequest> DecodeFrameRequest(const QByteArray& bytes);

struct ListRequest
{
    quint64 id = 0;
    QString folder;
    bool subfolders = false;
};
QByteArray EncodeListRequest(const ListRequest& request);
std::optional<ListRequest> DecodeListRequest(const QByteArray& bytes);

// A frame's answer, without the memfd its pixels come in: an empty `size` for no picture.
struct FrameAnswer
{
    quint64 id = 0;
    QSize size;
    qint64 bytesPerLine = 0;
    QDate dateTaken;
    bool missing = false; // the file was not there: the tick picks another at once
    // The picture's folder leads out of what the helper may read (a link to a folder elsewhere):
    // its real path, which a helper that may read it is then asked for the picture.
    QString elsewhere;
};
QByteArray EncodeFrameAnswer(const FrameAnswer& answer);
// None for a malformed packet; a size or line length that no frame has reads as no picture.
std::optional<FrameAnswer> DecodeFrameAnswer(const QByteArray& bytes);

// A listing's names travel in parts: after the header, each entry packed as a type byte, the
// name's length (two bytes) and bytes, and for a folder its device and inode. The last entries
// come with the end of the listing, so that a folder of a few names costs one packet. Neither side
// makes an object per name: a walk of a million names is spent in the file system, not in here.
QByteArray BeginListPart(quint64 id);
// Whether the part holds no entry yet.
bool ListPartEmpty(const QByteArray& part);
void AppendListEntry(QByteArray& part, std::string_view name, const FolderId* folder);

struct ListEnd
{
    ListStatus status = ListStatus::Listed;
    FolderId own;
    qint32 code = 0;
    QString error;
    // Elsewhere: the folder's real path.
    QString target{};
    // Where the entries that came with it start in the packet.
    qsizetype entriesFrom = 0;
};
// The end of a listing, with the entries of `lastPart` (a part begun for the same listing) when
// they fit in the packet; else `lastPart` must go first on its own.
QByteArray EncodeListDone(quint64 id, const ListEnd& end, const QByteArray& lastPart, bool* tookPart);
// None for a malformed packet.
std::optional<ListEnd> DecodeListDone(const QByteArray& bytes);

// Calls `entry` for each entry from `from` on (`folder` null for a file); false when the entries
// are malformed, after those before the fault.
template <typename Entry>
bool ForEachListEntry(const QByteArray& bytes, qsizetype from, Entry&& entry);

quint64 IdOf(const QByteArray& bytes);
Kind KindOf(const QByteArray& bytes);

inline constexpr qsizetype ListHeaderBytes = 1 + 8;

template <typename Entry>
bool ForEachListEntry(const QByteArray& bytes, qsizetype from, Entry&& entry)
{
    if (from < 0 || from > bytes.size())
        return false;
    const char* at = bytes.constData() + from;
    const char* const end = bytes.constData() + bytes.size();
    while (at != end) {
        if (end - at < 3)
            return false;
        const quint8 type = quint8(at[0]);
        const size_t length = size_t(quint8(at[1])) << 8 | quint8(at[2]);
        at += 3;
        const size_t idBytes = type == 1 ? 2 * sizeof(quint64) : 0;
        if (type > 1 || size_t(end - at) < length + idBytes)
            return false;
        const std::string_view name(at, length);
        at += length;
        if (type == 1) {
            FolderId id;
            std::memcpy(&id.device, at, sizeof(quint64));
            std::memcpy(&id.inode, at + sizeof(quint64), sizeof(quint64));
            at += idBytes;
            entry(name, &id);
        } else {
            entry(name, static_cast<const FolderId*>(nullptr));
        }
    }
    return true;
}

} // namespace vb::helper
