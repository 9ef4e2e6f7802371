#include "platform/wayland/WaylandCompositor.h"

#include "platform/runtime/RuntimeError.h"

#include <QString>
#include <QtGlobal>
#include <wayland-client.h>

namespace vb::wayland {

void RequireCompositor()
{
    wl_display* display = wl_display_connect(nullptr);
    if (display) {
        wl_display_disconnect(display);
        return;
    }
    throw RuntimeError(ErrorCode::DeviceIO, QStringLiteral("cannot connect to the Wayland compositor \"%1\"")
                                                .arg(QString::fromLocal8Bit(qgetenv("WAYLAND_DISPLAY"))));
}

} // namespace vb::wayland
