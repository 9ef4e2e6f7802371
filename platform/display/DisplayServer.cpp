#include "platform/display/DisplayServer.h"

#include "platform/runtime/RuntimeError.h"
#include "platform/wayland/WaylandCompositor.h"
#include "platform/x11/X11ConnectionWatch.h"

#include <QFileInfo>
#include <QGuiApplication>

namespace vb {

namespace {

DisplayServer ServerOfPlatform(const QByteArray& name)
{
    if (name.startsWith("xcb"))
        return DisplayServer::X11;
    if (name.startsWith("wayland"))
        return DisplayServer::Wayland;
    return DisplayServer::Other;
}

} // namespace

DisplayServer ChooseDisplayServer(DisplayNeed need)
{
    QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    const bool wayland = ServerOfPlatform(platform) == DisplayServer::Wayland ||
                         (platform.isEmpty() && !qgetenv("WAYLAND_DISPLAY").isEmpty());
    if (need == DisplayNeed::ForeignX11Window && (platform.isEmpty() || wayland)) {
        if (qgetenv("DISPLAY").isEmpty())
            throw RuntimeError(
                ErrorCode::DeviceIO,
                QStringLiteral("the preview draws into an X11 window, and DISPLAY is not set"));
        platform = "xcb";
    } else if (platform.isEmpty()) {
        platform = wayland ? "wayland" : "xcb";
    }
    // Qt reads its choice from the environment.
    qputenv("QT_QPA_PLATFORM", platform);
    // With no session bus to be found, libdbus would start one for Qt's first connection: a fork
    // from Qt's D-Bus thread that runs code in the child before its exec, which can hang there
    // when another thread held a lock at the fork, the child keeping the instance's files and the
    // caller's pipes for ever. A screen saver has no use for a bus of its own.
    if (qgetenv("DBUS_SESSION_BUS_ADDRESS").isEmpty()) {
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        if (runtime.isEmpty() || !QFileInfo::exists(QString::fromLocal8Bit(runtime + "/bus")))
            qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    }

    const DisplayServer server = ServerOfPlatform(platform);
    if (server == DisplayServer::X11)
        x11::RequireDisplay();
    else if (server == DisplayServer::Wayland)
        wayland::RequireCompositor();
    return server;
}

DisplayServer CurrentDisplayServer()
{
    if (!qGuiApp)
        return DisplayServer::Other;
    return ServerOfPlatform(QGuiApplication::platformName().toLatin1());
}

bool KeyboardGrabNeeded()
{
    return CurrentDisplayServer() != DisplayServer::Wayland;
}

} // namespace vb
