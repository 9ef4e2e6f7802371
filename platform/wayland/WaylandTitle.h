#pragma once

class QWindow;

namespace vb::wayland {

// Gives a window with an empty title an empty title on the compositor as well. Qt's Wayland
// platform never sends an empty title: in its place it sends the application's display name, or
// the application's name where none is set. From this call on the display name is empty, which
// Qt appends to no title, so every empty title stays empty and every other one stays as it is.
void ClearTitle(QWindow* window);

} // namespace vb::wayland
