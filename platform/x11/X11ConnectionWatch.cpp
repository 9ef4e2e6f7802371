#include "platform/x11/X11ConnectionWatch.h"

#include "platform/runtime/ErrorReport.h"
#include "platform/runtime/RuntimeError.h"

#include <QGuiApplication>
#include <cstdlib>
#include <xcb/xcb.h>

namespace vb::x11 {

namespace {

xcb_connection_t* g_connection = nullptr;
QtMessageHandler g_previousHandler = nullptr;

void EndIfBroken()
{
    if (!g_connection)
        return;
    const int error = xcb_connection_has_error(g_connection);
    if (error == 0)
        return;
    WriteErrorReport(
        RuntimeError(ErrorCode::DeviceIO,
                     QStringLiteral("the connection to the X server broke (xcb error %1)").arg(error)));
    // Nothing is left to tidy: the windows went with the server, and no file is open for writing.
    std::_Exit(1);
}

void CheckFirst(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    EndIfBroken();
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

} // namespace

void RequireDisplay()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb"))
        return;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const int error = xcb_connection_has_error(connection);
    xcb_disconnect(connection);
    if (error != 0)
        throw RuntimeError(ErrorCode::DeviceIO,
                           QStringLiteral("cannot connect to the X server \"%1\" (xcb error %2)")
                               .arg(QString::fromLocal8Bit(qgetenv("DISPLAY")))
                               .arg(error));
}

ConnectionWatch::ConnectionWatch(QObject* parent) : QObject(parent)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || g_connection)
        return;
    g_connection = x11->connection();
    g_previousHandler = qInstallMessageHandler(CheckFirst);
    m_installed = true;
}

ConnectionWatch::~ConnectionWatch()
{
    if (!m_installed)
        return;
    qInstallMessageHandler(g_previousHandler);
    g_previousHandler = nullptr;
    g_connection = nullptr;
}

} // namespace vb::x11
