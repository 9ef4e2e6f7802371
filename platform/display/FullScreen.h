#pragma once

#include <QList>
#include <QSize>

class QScreen;
class QWidget;

namespace vb {

// Shows a top-level window over the whole of one monitor, above other windows: the full-screen
// state that a window manager honours, and the monitor's geometry set as well, since without a
// window manager the state alone leaves the window at its old size. Again on a window that is
// already shown, it follows the monitor's new geometry. On Wayland, where a client places no
// window, the state is asked for on the monitor's output, and again when the monitor changes.
// On X11 the window covers exactly the monitor's device pixels at any scale factor.
void ShowFullScreen(QWidget& window, QScreen& screen);

// The size of the window's native window in device pixels, on X11 (where the placing above and
// the preview's make it exact); elsewhere, or before it has one, an empty size.
QSize DeviceSize(const QWidget& window);

// The monitors that get a window of their own. On X11 every monitor is a view of one X screen,
// so a monitor that lies inside another (a smaller mirror of it) already shows part of that one's
// window and gets none of its own; on Wayland every output shows only its own surface.
QList<QScreen*> ScreensToCover();
// The monitor whose window covers `screen`: itself, or the largest one it lies inside.
QScreen* CoveringScreen(QScreen* screen);

} // namespace vb
