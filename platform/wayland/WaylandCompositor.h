#pragma once

namespace vb::wayland {

// Before the application is made: checks that the compositor named by WAYLAND_DISPLAY answers,
// and throws RuntimeError (Device I/O error) when not. Qt's Wayland plugin would abort instead.
void RequireCompositor();

} // namespace vb::wayland
