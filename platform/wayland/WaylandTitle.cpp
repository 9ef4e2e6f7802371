#include "platform/wayland/WaylandTitle.h"

#include <QGuiApplication>
#include <QWindow>

namespace vb::wayland {

void ClearTitle(QWindow* window)
{
    if (!qGuiApp || !window || !window->title().isEmpty())
        return;
    QGuiApplication::setApplicationDisplayName(QStringLiteral(""));
    // The title went out when the surface was made; the same title again is sent again.
    window->setTitle(QString());
}

} // namespace vb::wayland
