#include "platform/display/FullScreen.h"

#include "platform/display/DisplayServer.h"

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
    // On Wayland a client cannot place its windows: the full-screen request names the output, the
    // one of the window's screen when the request is made. A shown window asks anew for its new one.
    if (moved && window.isVisible() && CurrentDisplayServer() == DisplayServer::Wayland)
        window.setWindowState(window.windowState() & ~Qt::WindowFullScreen);
    window.setWindowState(window.windowState() | Qt::WindowFullScreen);
    if (!window.isVisible())
        window.show();
}

} // namespace vb
