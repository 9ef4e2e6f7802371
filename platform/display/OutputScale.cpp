#include "platform/display/OutputScale.h"

#include "platform/display/DisplayServer.h"
#include "platform/wayland/WaylandOutputs.h"

#include <QScreen>
#include <QWidget>
#include <cmath>

namespace vb {

double DevicePixelsPerBufferPixel(const QWidget& window)
{
    const QScreen* screen = window.screen();
    if (CurrentDisplayServer() != DisplayServer::Wayland || !screen)
        return 1.0;
    const std::optional<double> scale = wayland::OutputScale(screen->name());
    const double drawn = window.devicePixelRatioF();
    if (!scale || !(drawn > 0))
        return 1.0;
    const double ratio = *scale / drawn;
    return std::abs(ratio - 1.0) < 1e-6 ? 1.0 : ratio;
}

} // namespace vb
