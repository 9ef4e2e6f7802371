#pragma once

#include "idle/IdleSource.h"

#include <QDBusConnection>
#include <memory>

namespace vb {

// Where a desktop owns org.freedesktop.ScreenSaver, the players' inhibits go to it, and some
// players inhibit through the desktop's own interface anyway: the watcher asks the desktop's
// session too. GNOME: org.gnome.SessionManager.IsInhibited with the idle flag; KDE:
// PolicyAgent.HasInhibition with the flag for the screen's settings. Null where the bus has
// neither.
std::unique_ptr<InhibitCheck> DesktopInhibitCheck(QDBusConnection bus);

// logind's view of this session: the saver does not start while the session is locked (a screen
// locker is up) or is not the active one (another user's session is in front). Null where there
// is no system bus, no logind or no session of ours: the check is then skipped.
std::unique_ptr<InhibitCheck> LogindCheck(QDBusConnection systemBus);

} // namespace vb
