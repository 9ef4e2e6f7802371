#include "loading/FrameMemory.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vb::helper {

namespace {

constexpr int FrameSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL;

// The answer for a frame of `size` in its memfd; an empty size for no picture.
QByteArray FrameDone(const Frame& frame, QSize size)
{
    return EncodeFrameAnswer({frame.id, size, qint64(size.width()) * 4, frame.dateTaken, frame.missing, {}});
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
    return !size.isEmpty() && size.width() <= MaxFrameSide && size.height() <= MaxFrameSide &&
           qint64(size.width()) * size.height() * 4 <= MaxFrameBytes;
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

QImage MapFrame(const FrameAnswer& answer, int fd)
{
    const int width = answer.size.width(), height = answer.size.height();
    const qint64 bytesPerLine = answer.bytesPerLine;
    const qint64 size = bytesPerLine * height;
    // Only a memfd answers F_GET_SEALS: any other file fails it, and the -1 of the failure would
    // have every seal bit set. One of exactly the frame's size: a sparse one larger would still
    // be mapped whole by MAP_POPULATE.
    struct stat facts
    {
    };
    const int seals = fd >= 0 ? fcntl(fd, F_GET_SEALS) : -1;
    constexpr int Needed = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE;
    if (answer.size.isEmpty() || size > MaxFrameBytes || seals < 0 || (seals & Needed) != Needed ||
        fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode) || facts.st_size != size) {
        CloseQuietly(fd);
        return QImage();
    }
    // Its pages mapped in one go, here on the reader rather than at a fault each as the window
    // thread draws it.
    void* memory = mmap(nullptr, size_t(size), PROT_READ, MAP_SHARED | MAP_POPULATE, fd, 0);
    close(fd);
    if (memory == MAP_FAILED)
        return QImage();
    struct Mapping
    {
        void* memory;
        size_t size;
    };
    return QImage(
        static_cast<const uchar*>(memory), width, height, bytesPerLine, QImage::Format_RGB32,
        [](void* mapping) {
            auto* owned = static_cast<Mapping*>(mapping);
            munmap(owned->memory, owned->size);
            delete owned;
        },
        new Mapping{memory, size_t(size)});
}

std::optional<Frame> DecodeFrameDone(const QByteArray& bytes, int fd)
{
    const std::optional<FrameAnswer> answer = DecodeFrameAnswer(bytes);
    if (!answer) {
        CloseQuietly(fd);
        return std::nullopt;
    }
    return Frame{answer->id, MapFrame(*answer, fd), answer->dateTaken, answer->missing};
}

} // namespace vb::helper
