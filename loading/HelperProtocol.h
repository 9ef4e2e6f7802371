#pragma once

#include "picture/PictureLoader.h"
#include "platform/files/DirectoryLister.h"

#include <QByteArray>
#include <QString>
#include <cstring>
#include <optional>
#include <string_view>

namespace vb {

// The messages between the program and its loading helper, over a Unix socket of packets: one
// message per packet, never longer than MaxMessageBytes. A frame travels as a memfd passed with
// its answer; everything else is in the packet.
namespace helper {

inline constexpr qsizetype MaxMessageBytes = 60 * 1024;

enum class Kind : quint8 {
    // Program to helper.
    Frame = 1,
    List = 2,
    // Helper to program.
    FrameDone = 3,
    ListPart = 4,
    ListDone = 5,
};

// How a listing ended.
enum class ListStatus : quint8 { Listed = 0, Missing = 1, Unreadable = 2 };

// A packet as read: its bytes, and the descriptor that came with it (-1 for none; owned by the
// receiver).
struct Packet
{
    QByteArray bytes;
    int fd = -1;
};

// Sends one packet, with `fd` passed along when it is not -1. `wait`: whether to wait for room in
// the socket. False when the packet could not be sent whole.
bool Send(int socket, const QByteArray& bytes, int fd = -1, bool wait = true);
// Waits for the next packet. None when the other end has gone or the socket failed.
std::optional<Packet> Receive(int socket);

QByteArray EncodeFrameRequest(const FrameRequest& request);
// The request as the program made it; none for a malformed packet.
std::optional<FrameRequest> DecodeFrameRequest(const QByteArray& bytes);

// A finished frame's answer: its image goes into a sealed memfd (returned through `fd`, -1 when
// the picture cannot be shown or the memfd cannot be made).
QByteArray EncodeFrameDone(const Frame& frame, int* fd);
// Memory a frame is drawn in, in the helper: a memfd mapped as the frame's image, so that its
// answer passes the drawing on with no copy.
class FrameMemory
{
public:
    FrameMemory() = default;
    FrameMemory(const FrameMemory&) = delete;
    FrameMemory& operator=(const FrameMemory&) = delete;
    ~FrameMemory();
    // For ImageCanvas::Resize: an image of `size` over a new memfd; a null one (the canvas then
    // makes its own) when none can be had.
    QImage Make(QSize size);
    // As EncodeFrameDone: the image Make gave goes in its own memfd, sealed once the image, its
    // last user, is gone; any other image, or one still shared, is copied.
    QByteArray Encode(Frame frame, int* fd);
    // Makes the memory for a frame of `size` ahead, for the next Make of that size (kept for the
    // process, for the last few sizes asked for).
    static void PrepareNext(QSize size);

private:
    int m_fd = -1;
    const uchar* m_bits = nullptr;
};

// The frame, its image mapped read-only from `fd` (which it takes over); a null image when the
// answer says so or the memfd is not sealed against shrinking and writing, or is too small.
std::optional<Frame> DecodeFrameDone(const QByteArray& bytes, int fd);

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

} // namespace helper
} // namespace vb
