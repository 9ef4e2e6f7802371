#pragma once

#include <QByteArray>
#include <QRect>
#include <QString>
#include <QtGlobal>
#include <optional>

class QScreen;

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

// The monitor that shows a window: the one holding the window's centre, the primary when none
// does or the window is gone. X measures in device pixels; Qt's screens keep their origin in
// device pixels and give their size in logical ones, so each is compared at its own scale.
QScreen* ScreenShowing(WindowId window);

// Asks the X server to report the window's size changes and its destruction to this program,
// on top of anything else the program already listens to on it. False when the window is gone.
bool WatchStructure(WindowId window);

// The ICC profile of the `index`-th monitor as the desktop's colour manager (colord, a desktop's
// settings) publishes it on the root window: `_ICC_PROFILE` for the first, `_ICC_PROFILE_<index>`
// for the others, as the ICC Profiles in X convention names them. Empty when none is published.
QByteArray MonitorIccProfile(int index);

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
