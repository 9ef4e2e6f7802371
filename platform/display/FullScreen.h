#pragma once

class QScreen;
class QWidget;

namespace vb {

// Shows a top-level window over the whole of one monitor, above other windows: the full-screen
// state that a window manager honours, and the monitor's geometry set as well, since without a
// window manager the state alone leaves the window at its old size. Again on a window that is
// already shown, it follows the monitor's new geometry. On Wayland, where a client places no
// window, the state is asked for on the monitor's output, and again when the monitor changes.
void ShowFullScreen(QWidget& window, QScreen& screen);

} // namespace vb
