#include "platform/display/FullScreen.h"

#include "platform/display/DisplayServer.h"

#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace vb {

namespace {

// The scale of the monitor a window's Wayland surface was made for, kept on the window.
constexpr char SurfaceScale[] = "vbSurfaceScale";

} // namespace

void ShowFullScreen(QWidget& window, QScreen& screen)
{
    const bool wayland = CurrentDisplayServer() == DisplayServer::Wayland;
    // Qt 6.4's Wayland plugin gives a surface the scale of the output it is made on. It changes
    // that scale only when the compositor reports the surface on another output, and even then
    // draws nothing anew; a change of its own output's scale it never follows. Such a surface is
    // drawn at the old scale for good, and the compositor enlarges or reduces the drawing. A
    // surface made anew on the output has the output's scale from its first drawing.
    const QVariant madeFor = window.property(SurfaceScale);
    if (wayland && window.isVisible() && madeFor.isValid() && madeFor.toReal() != screen.devicePixelRatio()) {
        window.hide();
        if (QWindow* handle = window.windowHandle())
            handle->destroy();
    }

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
