#include "platform/DisplayServer.h"

#include "platform/RuntimeError.h"
#include "platform/X11ConnectionWatch.h"

#include <QGuiApplication>
#include <wayland-client.h>

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

void RequireCompositor()
{
    wl_display* display = wl_display_connect(nullptr);
    if (display) {
        wl_display_disconnect(display);
        return;
    }
    throw RuntimeError(ErrorCode::DeviceIO, QStringLiteral("cannot connect to the Wayland compositor \"%1\"")
                                                .arg(QString::fromLocal8Bit(qgetenv("WAYLAND_DISPLAY"))));
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

    const DisplayServer server = ServerOfPlatform(platform);
    if (server == DisplayServer::X11)
        x11::RequireDisplay();
    else if (server == DisplayServer::Wayland)
        RequireCompositor();
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
