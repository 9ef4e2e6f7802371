#pragma once

#include "picture/PictureLoader.h"

namespace vb {

// Answers each request at once, on the calling thread: the picture is read, decoded and drawn by
// RenderFrame, and the receiver has the frame before Request returns. So a due tick has finished
// its change, and made the next one ready, when it returns; the tests, the fuzzer and the
// benchmarks rely on that. A file that hangs would hang the window with it, so the tests of the
// cover window use BackgroundLoader.
class InlineLoader final : public PictureLoader
{
public:
    void SetReceiver(Receiver receiver) override;
    void Request(FrameRequest request) override;

private:
    Receiver m_receiver;
};

} // namespace vb
