#include "platform/display/CursorCounter.h"

#include "platform/display/DisplayServer.h"
#include "platform/wayland/WaylandPointer.h"

#include <QCursor>
#include <QGuiApplication>

namespace vb {

namespace {

int g_count = 0;

} // namespace

int ShowCursor(bool show)
{
    const int before = g_count;
    g_count += show ? 1 : -1;
    if (qGuiApp) {
        if (before >= 0 && g_count < 0) {
            QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
            if (CurrentDisplayServer() == DisplayServer::Wayland)
                wayland::ResendBlankCursorOnEnter([] { return g_count < 0; });
        } else if (before < 0 && g_count >= 0)
            QGuiApplication::restoreOverrideCursor();
    }
    return g_count;
}

int CursorDisplayCount()
{
    return g_count;
}

} // namespace vb
