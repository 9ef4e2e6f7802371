#include "platform/FullScreen.h"

#include <QScreen>
#include <QWidget>

namespace vb {

void ShowFullScreen(QWidget& window, QScreen& screen)
{
    if (window.screen() != &screen)
        window.setScreen(&screen);
    // The geometry goes first: setting it afterwards takes the full-screen state away again, and
    // a compositor such as sway then tiles the window (through Xwayland). On Wayland the geometry
    // is only a wish; the state on the window's own output is what covers it.
    if (window.geometry() != screen.geometry())
        window.setGeometry(screen.geometry());
    window.setWindowState(window.windowState() | Qt::WindowFullScreen);
    if (!window.isVisible())
        window.show();
}

} // namespace vb
