// What the idle watcher's tests do to a session, one per argument; each prints "ready" once in
// place and holds until it is ended:
//   vb_idle_client inhibit        Inhibit on org.freedesktop.ScreenSaver, never UnInhibit
//   vb_idle_client suspend        the X server's screen-saver suspend, as mpv holds it
//   vb_idle_client mutter-input   each line on standard input becomes a pointer move and a key
//                                 in mutter, through its RemoteDesktop interface
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QSocketNotifier>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <xcb/screensaver.h>

namespace {

QDBusMessage Call(const QString& service, const QString& path, const QString& interface,
                  const QString& method, const QVariantList& arguments = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call);
}

bool Failed(const QDBusMessage& reply)
{
    if (reply.type() != QDBusMessage::ErrorMessage)
        return false;
    std::fprintf(stderr, "vb_idle_client: %s\n", qPrintable(reply.errorMessage()));
    return true;
}

void Ready()
{
    std::printf("ready\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : QString();
    if (mode == "inhibit") {
        const QString name = QStringLiteral("org.freedesktop.ScreenSaver");
        if (Failed(Call(name, QStringLiteral("/org/freedesktop/ScreenSaver"), name, QStringLiteral("Inhibit"),
                        {QStringLiteral("vb_idle_client"), QStringLiteral("a film")})))
            return 1;
    } else if (mode == "suspend") {
        xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection))
            return 1;
        xcb_screensaver_suspend(connection, 1);
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    } else if (mode == "mutter-input") {
        const QString service = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
        const QDBusMessage created = Call(service, QStringLiteral("/org/gnome/Mutter/RemoteDesktop"), service,
                                          QStringLiteral("CreateSession"));
        if (Failed(created))
            return 1;
        static const QString session = created.arguments().value(0).value<QDBusObjectPath>().path();
        const QString interface = service + QStringLiteral(".Session");
        if (Failed(Call(service, session, interface, QStringLiteral("Start"))))
            return 1;
        static const auto input = [service, interface] {
            Call(service, session, interface, QStringLiteral("NotifyPointerMotionRelative"), {5.0, 5.0});
            for (const bool press : {true, false})
                Call(service, session, interface, QStringLiteral("NotifyKeyboardKeycode"), {30u, press});
        };
        // The first move only enters and the first key is lost.
        input();
        auto* lines = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &app);
        QObject::connect(lines, &QSocketNotifier::activated, [] {
            char buffer[256];
            if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
                QCoreApplication::exit(0);
            else
                input();
        });
    } else {
        std::fprintf(stderr, "usage: vb_idle_client inhibit|suspend|mutter-input\n");
        return 2;
    }
    Ready();
    return QCoreApplication::exec();
}
