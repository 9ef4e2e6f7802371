#include "platform/display/WindowTitle.h"

#include "platform/display/DisplayServer.h"
#include "platform/wayland/WaylandTitle.h"
#include "platform/x11/X11Title.h"

#include <QWidget>

namespace vb {

void ClearTitle(QWidget* window)
{
    if (!window || !window->windowTitle().isEmpty())
        return;
    if (CurrentDisplayServer() == DisplayServer::Wayland)
        wayland::ClearTitle(window->windowHandle());
    else
        x11::ClearTitle(window);
}

} // namespace vb
