#pragma once

#include <functional>

namespace vb::wayland {

// Qt's Wayland plugin hides the pointer over a window only when the cursor changes while the
// pointer is inside it: a blank cursor set before the pointer entered stays unsent, and the
// compositor goes on drawing the pointer it had. From this call on, each time the pointer enters
// one of the program's windows, or an output is added, while `hidden` answers true, the blank
// cursor is set anew.
// Once per process; later calls do nothing.
void ResendBlankCursorOnEnter(std::function<bool()> hidden);

} // namespace vb::wayland
