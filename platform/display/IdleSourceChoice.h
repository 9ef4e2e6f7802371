#pragma once

#include "idle/IdleSource.h"

#include <QDBusConnection>
#include <memory>

namespace vb {

// The idle source of this session, chosen once at start: mutter's idle monitor where it is on the
// session bus (GNOME, on Wayland and on X11), else the Wayland compositor's idle protocol where
// WAYLAND_DISPLAY is set, else the X server's screen saver where DISPLAY is. Null where none of
// them answers; `error` then names what the session lacks, in one line.
std::unique_ptr<IdleSource> ChooseIdleSource(QDBusConnection sessionBus, QString* error);

} // namespace vb
