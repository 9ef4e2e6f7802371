#include "loading/HelperProtocol.h"

#include <QDataStream>
#include <QIODevice>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vb::helper {

namespace {

// Beyond any monitor: a frame is the size of a cover.
constexpr int MaxFrameSide = 1 << 15;
constexpr int HeaderBytes = ListHeaderBytes;

void CloseQuietly(int fd)
{
    if (fd >= 0)
        close(fd);
}

} // namespace

bool Send(int socket, const QByteArray& bytes, int fd, bool wait)
{
    iovec part{const_cast<char*>(bytes.constData()), size_t(bytes.size())};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (fd >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &fd, sizeof(int));
    }
    ssize_t sent;
    do
        sent = sendmsg(socket, &message, MSG_NOSIGNAL | (wait ? 0 : MSG_DONTWAIT));
    while (sent < 0 && errno == EINTR);
    return sent == bytes.size();
}

std::optional<Packet> Receive(int socket)
{
    Packet packet;
    packet.bytes.resize(MaxMessageBytes);
    iovec part{packet.bytes.data(), size_t(packet.bytes.size())};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)] = {};
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    ssize_t received;
    do
        received = recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    while (received < 0 && errno == EINTR);
    if (received <= 0)
        return std::nullopt;
    // Every descriptor that came is taken, so none leaks; only a lone one is kept.
    int count = 0;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
            continue;
        const size_t fds = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < fds; ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof(int));
            if (count++ == 0)
                packet.fd = fd;
            else
                CloseQuietly(fd);
        }
    }
    if (count > 1 || (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC))) {
        CloseQuietly(packet.fd);
        packet.fd = -1;
        packet.bytes.clear();
        return packet;
    }
    packet.bytes.resize(received);
    return packet;
}

Kind KindOf(const QByteArray& bytes)
{
    return bytes.isEmpty() ? Kind{} : Kind(quint8(bytes.at(0)));
}

QByteArray BeginListPart(quint64 id)
{
    QByteArray part;
    part.reserve(MaxMessageBytes);
    part.append(char(Kind::ListPart));
    for (int shift = 56; shift >= 0; shift -= 8)
        part.append(char(quint8(id >> shift)));
    return part;
}

bool ListPartEmpty(const QByteArray& part)
{
    return part.size() <= ListHeaderBytes;
}

void AppendListEntry(QByteArray& part, std::string_view name, const FolderId* folder)
{
    // A file system's names are at most 255 bytes; a longer one could not be opened anyway, and
    // a part with the longest stays within a packet.
    if (name.size() > 4096)
        return;
    const char head[3] = {char(folder ? 1 : 0), char(quint8(name.size() >> 8)), char(quint8(name.size()))};
    part.append(head, 3);
    part.append(name.data(), qsizetype(name.size()));
    if (folder) {
        part.append(reinterpret_cast<const char*>(&folder->device), sizeof(quint64));
        part.append(reinterpret_cast<const char*>(&folder->inode), sizeof(quint64));
    }
}

QByteArray EncodeListDone(quint64 id, const ListEnd& end, const QByteArray& lastPart, bool* tookPart)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << quint8(Kind::ListDone) << id << quint8(end.status) << end.own.device << end.own.inode << end.code
        << end.error;
    const qsizetype entries = lastPart.size() - ListHeaderBytes;
    *tookPart = entries > 0 && bytes.size() + entries <= MaxMessageBytes;
    if (*tookPart)
        bytes.append(lastPart.constData() + ListHeaderBytes, entries);
    return bytes;
}

std::optional<ListEnd> DecodeListDone(const QByteArray& bytes)
{
    QDataStream in(bytes);
    quint8 kind = 0, status = 0;
    quint64 id = 0;
    ListEnd end;
    in >> kind >> id >> status >> end.own.device >> end.own.inode >> end.code >> end.error;
    if (in.status() != QDataStream::Ok || Kind(kind) != Kind::ListDone ||
        status > quint8(ListStatus::Unreadable))
        return std::nullopt;
    end.status = ListStatus(status);
    end.entriesFrom = qsizetype(in.device()->pos());
    return end;
}

quint64 IdOf(const QByteArray& bytes)
{
    if (bytes.size() < HeaderBytes)
        return 0;
    quint64 id = 0;
    for (int i = 1; i < HeaderBytes; ++i)
        id = id << 8 | quint8(bytes.at(i));
    return id;
}

QByteArray EncodeFrameRequest(const FrameRequest& request)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    const ImageCanvas& canvas = request.canvas;
    out << quint8(Kind::Frame) << quint64(request.id) << request.path << canvas.LogicalSize()
        << canvas.DeviceSize() << double(canvas.DevicePixelRatio()) << double(canvas.DevicePixelsPerPixel())
        << request.preview << request.screen << qint32(request.decodeLimitMegabytes)
        << request.fitLargePictures << request.readDateTaken << canvas.ScreenProfile();
    return bytes;
}

std::optional<FrameRequest> DecodeFrameRequest(const QByteArray& bytes)
{
    QDataStream in(bytes);
    quint8 kind = 0;
    quint64 id = 0;
    FrameRequest request;
    QSize logical, device;
    double ratio = 1, perPixel = 1;
    qint32 limit = 0;
    QByteArray screenProfile;
    in >> kind >> id >> request.path >> logical >> device >> ratio >> perPixel >> request.preview >>
        request.screen >> limit >> request.fitLargePictures >> request.readDateTaken >> screenProfile;
    if (in.status() != QDataStream::Ok || Kind(kind) != Kind::Frame || logical.width() > MaxFrameSide ||
        logical.height() > MaxFrameSide || device.width() > MaxFrameSide || device.height() > MaxFrameSide ||
        !(ratio > 0 && ratio < 64) || !(perPixel > 0 && perPixel < 64))
        return std::nullopt;
    request.id = id;
    request.decodeLimitMegabytes = limit;
    request.canvas.SetSizeWithoutImage(logical, ratio, device, perPixel);
    request.canvas.SetScreenProfile(screenProfile);
    return request;
}

namespace {

constexpr int FrameSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL;

// The answer for a frame of `size` in its memfd; an empty size for no picture.
QByteArray FrameDone(const Frame& frame, QSize size)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << quint8(Kind::FrameDone) << quint64(frame.id) << !size.isEmpty() << qint32(size.width())
        << qint32(size.height()) << qint64(size.width()) * 4 << frame.dateTaken;
    return bytes;
}

} // namespace

QByteArray EncodeFrameDone(const Frame& frame, int* fd)
{
    *fd = -1;
    QImage image = frame.image;
    if (!image.isNull() && image.format() != QImage::Format_RGB32)
        image = image.convertToFormat(QImage::Format_RGB32);
    const qsizetype size = image.sizeInBytes();
    if (!image.isNull() && size > 0) {
        const int made = memfd_create("vellumbright-frame", MFD_CLOEXEC | MFD_ALLOW_SEALING);
        void* memory = MAP_FAILED;
        if (made >= 0 && ftruncate(made, off_t(size)) == 0)
            memory = mmap(nullptr, size_t(size), PROT_READ | PROT_WRITE, MAP_SHARED, made, 0);
        if (memory != MAP_FAILED) {
            std::memcpy(memory, image.constBits(), size_t(size));
            munmap(memory, size_t(size));
            // Sealed, so that what the program maps can neither shrink under it (a fault on
            // reading) nor change while it shows.
            if (fcntl(made, F_ADD_SEALS, FrameSeals) == 0)
                *fd = made;
        }
        if (*fd < 0)
            CloseQuietly(made);
    }
    return FrameDone(frame, *fd >= 0 ? image.size() : QSize());
}

FrameMemory::~FrameMemory()
{
    CloseQuietly(m_fd);
}

namespace {

// A memfd mapped for writing, its pages in place.
struct MappedMemfd
{
    int fd = -1;
    void* memory = nullptr;
    QSize size;
};

MappedMemfd MakeMappedMemfd(QSize size)
{
    const size_t bytes = size_t(size.width()) * size_t(size.height()) * 4;
    const int made = memfd_create("vellumbright-frame", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    // Its pages made in one go rather than at a fault each as the canvas is filled.
    void* memory = MAP_FAILED;
    if (made >= 0 && ftruncate(made, off_t(bytes)) == 0)
        memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, made, 0);
    if (memory == MAP_FAILED) {
        CloseQuietly(made);
        return {};
    }
    return {made, memory, size};
}

void Release(MappedMemfd& made)
{
    if (made.fd < 0)
        return;
    munmap(made.memory, size_t(made.size.width()) * size_t(made.size.height()) * 4);
    close(made.fd);
    made = {};
}

// The memfds for the next frames, one for each size asked for lately (a monitor's, a preview's),
// made after the last answer went: making the pages of a screen-sized memfd took 9 ms of a 70 ms
// change, and the next frame of a cover has the size of its last.
constexpr size_t MaxSpares = 4;
std::mutex s_spareMutex;
std::vector<MappedMemfd> s_spares;

bool ValidFrameSize(QSize size)
{
    return !size.isEmpty() && size.width() <= MaxFrameSide && size.height() <= MaxFrameSide;
}

} // namespace

QImage FrameMemory::Make(QSize size)
{
    CloseQuietly(std::exchange(m_fd, -1));
    m_bits = nullptr;
    if (!ValidFrameSize(size))
        return QImage();
    MappedMemfd made;
    {
        const std::lock_guard lock(s_spareMutex);
        const auto spare = std::find_if(s_spares.begin(), s_spares.end(),
                                        [size](const MappedMemfd& one) { return one.size == size; });
        if (spare != s_spares.end()) {
            made = *spare;
            s_spares.erase(spare);
        }
    }
    if (made.fd < 0)
        made = MakeMappedMemfd(size);
    if (made.fd < 0)
        return QImage();
    m_fd = made.fd;
    m_bits = static_cast<const uchar*>(made.memory);
    struct Mapping
    {
        void* memory;
        size_t size;
    };
    const size_t bytes = size_t(size.width()) * size_t(size.height()) * 4;
    return QImage(
        static_cast<uchar*>(made.memory), size.width(), size.height(), qsizetype(size.width()) * 4,
        QImage::Format_RGB32,
        [](void* mapping) {
            auto* owned = static_cast<Mapping*>(mapping);
            munmap(owned->memory, owned->size);
            delete owned;
        },
        new Mapping{made.memory, bytes});
}

void FrameMemory::PrepareNext(QSize size)
{
    if (!ValidFrameSize(size))
        return;
    const auto ofSize = [size](const MappedMemfd& one) {
        return one.size == size;
    };
    {
        const std::lock_guard lock(s_spareMutex);
        if (std::any_of(s_spares.begin(), s_spares.end(), ofSize))
            return;
    }
    MappedMemfd made = MakeMappedMemfd(size);
    if (made.fd < 0)
        return;
    std::lock_guard lock(s_spareMutex);
    s_spares.push_back(made);
    if (s_spares.size() > MaxSpares) {
        Release(s_spares.front());
        s_spares.erase(s_spares.begin());
    }
}

QByteArray FrameMemory::Encode(Frame frame, int* fd)
{
    *fd = -1;
    if (m_fd < 0 || frame.image.isNull() || frame.image.constBits() != m_bits || !frame.image.isDetached())
        return EncodeFrameDone(frame, fd);
    const QSize size = frame.image.size();
    // The last reference: the writable mapping goes with it, which the write seal requires.
    frame.image = QImage();
    if (fcntl(m_fd, F_ADD_SEALS, FrameSeals) != 0)
        return FrameDone(frame, QSize());
    *fd = std::exchange(m_fd, -1);
    m_bits = nullptr;
    return FrameDone(frame, size);
}

std::optional<Frame> DecodeFrameDone(const QByteArray& bytes, int fd)
{
    QDataStream in(bytes);
    quint8 kind = 0;
    quint64 id = 0;
    bool shown = false;
    qint32 width = 0, height = 0;
    qint64 bytesPerLine = 0;
    Frame frame;
    in >> kind >> id >> shown >> width >> height >> bytesPerLine >> frame.dateTaken;
    if (in.status() != QDataStream::Ok || Kind(kind) != Kind::FrameDone) {
        CloseQuietly(fd);
        return std::nullopt;
    }
    frame.id = id;
    struct stat facts
    {
    };
    const qint64 size = qint64(bytesPerLine) * height;
    if (!shown || fd < 0 || width <= 0 || height <= 0 || width > MaxFrameSide || height > MaxFrameSide ||
        bytesPerLine != qint64(width) * 4 || fstat(fd, &facts) != 0 || facts.st_size < size ||
        (fcntl(fd, F_GET_SEALS) & (F_SEAL_SHRINK | F_SEAL_WRITE)) != (F_SEAL_SHRINK | F_SEAL_WRITE)) {
        CloseQuietly(fd);
        return frame;
    }
    // Its pages mapped in one go, here on the reader rather than at a fault each as the window
    // thread draws it.
    void* memory = mmap(nullptr, size_t(size), PROT_READ, MAP_SHARED | MAP_POPULATE, fd, 0);
    close(fd);
    if (memory == MAP_FAILED)
        return frame;
    struct Mapping
    {
        void* memory;
        size_t size;
    };
    frame.image = QImage(
        static_cast<const uchar*>(memory), width, height, bytesPerLine, QImage::Format_RGB32,
        [](void* mapping) {
            auto* owned = static_cast<Mapping*>(mapping);
            munmap(owned->memory, owned->size);
            delete owned;
        },
        new Mapping{memory, size_t(size)});
    return frame;
}

} // namespace vb::helper
