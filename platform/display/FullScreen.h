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
// the preview's make it exact); elsewhere, before it has one, or while the server still has
// another size than the widget's (the window manager has yet to apply it), an empty size.
QSize DeviceSize(const QWidget& window);

// The monitors that get a window of their own. On X11 every monitor is a view of one X screen,
// so a monitor that lies inside another (a smaller mirror of it) already shows part of that one's
// window and gets none of its own; on Wayland every output shows only its own surface.
QList<QScreen*> ScreensToCover();
// The monitor whose window covers `screen`: itself, or the largest one it lies inside.
QScreen* CoveringScreen(QScreen* screen);

// Whether a window shown by ShowFullScreen has to be replaced by a new one to be drawn at the
// monitor's scale. Only on Wayland: Qt 6.4's Wayland plugin gives a surface the scale of the output
// it is made on, and changes it only when the compositor reports the surface on another output,
// without drawing anew; a change of its own output's scale it never follows. Such a window is
// drawn at the old scale for good, and the compositor enlarges or reduces the drawing. Making
// only its native window anew is not enough: Qt keeps the window's buffers, and sway 1.7 then
// shows an old buffer over the new drawing.
bool NeedsNewWindow(const QWidget& window, const QScreen& screen);

} // namespace vb
