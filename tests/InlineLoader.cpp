#include "InlineLoader.h"

#include "picture/FramePainter.h"

namespace vb {

void InlineLoader::SetReceiver(Receiver receiver)
{
    m_receiver = std::move(receiver);
}

void InlineLoader::Request(FrameRequest request)
{
    Frame frame = RenderFrame(std::move(request));
    if (m_receiver)
        m_receiver(std::move(frame));
}

} // namespace vb
