#include "platform/display/FullScreen.h"

#include "platform/display/DisplayServer.h"
#include "platform/x11/X11DevicePixels.h"

#include <QScreen>
#include <QWidget>

namespace vb {

void ShowFullScreen(QWidget& window, QScreen& screen)
{
    const bool moved = window.screen() != &screen;
    if (moved)
        window.setScreen(&screen);
    // The geometry goes first: setting it afterwards takes the full-screen state away again, and
    // a compositor such as sway then tiles the window (through Xwayland).
    if (window.geometry() != screen.geometry())
        window.setGeometry(screen.geometry());
    // At a fractional scale factor the logical geometry comes out a pixel off the monitor in
    // device pixels: the native window is placed on the monitor's own, before the window shows,
    // so that its first resize already has them.
    if (CurrentDisplayServer() == DisplayServer::X11)
        if (const auto device = x11::MonitorGeometry(screen))
            x11::PlaceOnDevicePixels(x11::WindowId(window.winId()), *device);
    // On Wayland a client cannot place its windows: the full-screen request names the output, the
    // one of the window's screen when the request is made. A shown window asks anew for its new one.
    if (moved && window.isVisible() && CurrentDisplayServer() == DisplayServer::Wayland)
        window.setWindowState(window.windowState() & ~Qt::WindowFullScreen);
    window.setWindowState(window.windowState() | Qt::WindowFullScreen);
    if (!window.isVisible())
        window.show();
}

QSize DeviceSize(const QWidget& window)
{
    if (CurrentDisplayServer() != DisplayServer::X11 || !window.internalWinId())
        return QSize();
    return x11::ClientSize(x11::WindowId(window.internalWinId())).value_or(QSize());
}

} // namespace vb
