#include "platform/display/IdleSourceChoice.h"

#include "platform/session/MutterIdleSource.h"
#include "platform/wayland/WaylandIdleSource.h"
#include "platform/x11/X11IdleSource.h"

namespace vb {

std::unique_ptr<IdleSource> ChooseIdleSource(QDBusConnection sessionBus, QString* error)
{
    if (auto mutter = MutterIdleSource::Connect(sessionBus))
        return mutter;
    QStringList lacks;
    // On Wayland, Xwayland's idle time does not see input to Wayland windows: the compositor's
    // protocol or nothing.
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        QString why;
        if (auto wayland = WaylandIdleSource::Connect(&why))
            return wayland;
        lacks.append(why);
    } else if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
        QString why;
        if (auto x11 = X11IdleSource::Connect(&why))
            return x11;
        lacks.append(why);
    } else {
        lacks.append(QStringLiteral("neither WAYLAND_DISPLAY nor DISPLAY is set"));
    }
    lacks.append(sessionBus.isConnected()
                     ? QStringLiteral("no org.gnome.Mutter.IdleMonitor on the session bus")
                     : QStringLiteral("no session bus"));
    *error = QStringLiteral("no idle source: ") + lacks.join(QStringLiteral(", and "));
    return nullptr;
}

} // namespace vb
