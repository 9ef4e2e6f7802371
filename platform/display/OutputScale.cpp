#include "platform/display/OutputScale.h"

#include "platform/display/DisplayServer.h"
#include "platform/wayland/WaylandOutputs.h"
#include "platform/x11/X11Windows.h"

#include <QGuiApplication>
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

QByteArray MonitorColourProfile(const QWidget& window)
{
    if (CurrentDisplayServer() != DisplayServer::X11 || !window.screen())
        return QByteArray();
    return x11::MonitorIccProfile(int(QGuiApplication::screens().indexOf(window.screen())));
}

} // namespace vb
