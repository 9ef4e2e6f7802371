#pragma once

namespace vb {

// Which display server a run talks to. This is the one place that decides it; every service that
// differs between X11 and Wayland asks CurrentDisplayServer().
enum class DisplayServer {
    X11,
    Wayland,
    // Qt's offscreen platform or another one named by the user: no display services at all.
    Other,
};

// What a run mode needs from the display.
enum class DisplayNeed {
    // Windows of its own (full screen, the dialog).
    OwnWindows,
    // Another program's X11 window, given by its id (the preview).
    ForeignX11Window,
};

// Before the application is made: chooses Qt's platform plugin and checks that its server can be
// reached. In a Wayland session (WAYLAND_DISPLAY set) own windows go to the compositor, elsewhere
// to the X server. A foreign X11 window always needs X11; in a Wayland session that is Xwayland
// through DISPLAY. A platform named in QT_QPA_PLATFORM is kept (a user may force xcb), except
// that a foreign X11 window is never looked for on Wayland. Throws RuntimeError (Device I/O
// error) with the reason when the server cannot be reached, since Qt would abort instead.
DisplayServer ChooseDisplayServer(DisplayNeed need);

// The server of the running application's platform plugin; Other before the application exists.
DisplayServer CurrentDisplayServer();

// Whether a window has to take the keyboard for itself to receive every key. Not on Wayland,
// which offers clients no grab: the compositor gives a full-screen surface the keyboard focus.
bool KeyboardGrabNeeded();

} // namespace vb
