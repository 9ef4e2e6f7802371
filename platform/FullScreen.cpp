#include "platform/FullScreen.h"

#include <QScreen>
#include <QWidget>

namespace vb {

void ShowFullScreen(QWidget& window, QScreen& screen)
{
    if (window.screen() != &screen)
        window.setScreen(&screen);
    window.setWindowState(window.windowState() | Qt::WindowFullScreen);
    if (window.geometry() != screen.geometry())
        window.setGeometry(screen.geometry());
    if (!window.isVisible())
        window.show();
}

} // namespace vb
