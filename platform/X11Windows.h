#pragma once

#include <QRect>
#include <QString>
#include <QtGlobal>
#include <optional>

namespace vb::x11 {

// The display's window operations the program needs, on the X connection of the running
// QGuiApplication. Without an X connection (another platform plugin, or no application) every
// query answers "nothing found".
using WindowId = quint32;

bool Available();

// `FindWindowA` with a caption and no class: a top-level window (a child of the root window, or
// a window manager's client window inside a frame) whose title (_NET_WM_NAME, else WM_NAME)
// equals `title`. 0 when there is none.
WindowId FindTopLevelWindow(const QString& title);

// `GetClientRect`: the window's current size; nullopt when the id names no window.
std::optional<QSize> ClientSize(WindowId window);

// Used by tests and the preview's watch on its host.
struct WindowState
{
    WindowId parent = 0;
    QRect geometry; // relative to the parent
    bool mapped = false;
};
std::optional<WindowState> QueryWindow(WindowId window);
WindowId InputFocus();

} // namespace vb::x11
