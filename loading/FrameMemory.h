#pragma once

#include "loading/HelperMessages.h"
#include "picture/PictureLoader.h"

#include <QByteArray>
#include <QImage>
#include <optional>

namespace vb::helper {

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

// In the program: the image of `answer`, mapped read-only from `fd` (which it takes over), once
// the answer has been matched to its request; a null image when the answer says so, or `fd` is not
// a memfd sealed against shrinking, growing and writing, of exactly the frame's size.
QImage MapFrame(const FrameAnswer& answer, int fd);
// DecodeFrameAnswer and MapFrame in one; none for a malformed packet.
std::optional<Frame> DecodeFrameDone(const QByteArray& bytes, int fd);

} // namespace vb::helper
