#pragma once

class QWidget;

namespace vb {

// Gives a top-level window whose caption is empty an empty title on the display, where Qt would
// show the application's name instead: on X11 and on Wayland. Call it once the native window
// exists (a show event is the place).
void ClearTitle(QWidget* window);

} // namespace vb
