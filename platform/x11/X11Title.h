#pragma once

class QWidget;

namespace vb::x11 {

// Gives a top-level window an empty title on the display. Qt never sends an empty title: it puts
// the application's name in its place, so the title properties are overwritten here. Call it
// after the native window exists and before it is mapped (a show event is the place), so that a
// window manager never sees another title. Does nothing without an X connection.
void ClearTitle(QWidget* window);

} // namespace vb::x11
