#include "platform/display/FullScreen.h"

#include "platform/display/DisplayServer.h"

#include <QScreen>
#include <QWidget>

namespace vb {

namespace {

// The scale of the monitor a window's Wayland surface was made for, kept on the window.
constexpr char SurfaceScale[] = "vbSurfaceScale";

} // namespace

bool NeedsNewWindow(const QWidget& window, const QScreen& screen)
{
    const QVariant madeFor = window.property(SurfaceScale);
    return CurrentDisplayServer() == DisplayServer::Wayland && window.isVisible() && madeFor.isValid() &&
           madeFor.toReal() != screen.devicePixelRatio();
}

void ShowFullScreen(QWidget& window, QScreen& screen)
{
    const bool wayland = CurrentDisplayServer() == DisplayServer::Wayland;
    const bool moved = window.screen() != &screen;
    if (moved)
        window.setScreen(&screen);
    // The geometry goes first: setting it afterwards takes the full-screen state away again, and
    // a compositor such as sway then tiles the window (through Xwayland). On Wayland it also
    // decides the output whose scale a surface made now takes.
    if (window.geometry() != screen.geometry())
        window.setGeometry(screen.geometry());
    // On Wayland a client cannot place its windows: the full-screen request names the output, the
    // one of the window's screen when the request is made. A shown window asks anew for its new one.
    if (moved && window.isVisible() && wayland)
        window.setWindowState(window.windowState() & ~Qt::WindowFullScreen);
    window.setWindowState(window.windowState() | Qt::WindowFullScreen);
    if (!window.isVisible())
        window.show();
    window.setProperty(SurfaceScale, screen.devicePixelRatio());
}

} // namespace vb
