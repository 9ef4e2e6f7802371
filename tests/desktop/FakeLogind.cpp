// A stand-in for systemd-logind on a private bus, for the xss-lock test: xss-lock asks the login
// manager for its session and reports its idle and locked state to it; without an answer it
// aborts when it starts the saver. Each call is printed on standard output, one line each.
//   vb_fake_logind BUS_ADDRESS
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <cstdio>
#include <unistd.h>

namespace {

const QString SessionPath = QStringLiteral("/org/freedesktop/login1/session/self");

void Report(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

class Manager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    Manager()
    {
        if (::pipe(m_inhibitor) != 0)
            m_inhibitor[0] = m_inhibitor[1] = -1;
    }

public slots:
    QDBusObjectPath GetSession(const QString&) { return QDBusObjectPath(SessionPath); }
    QDBusObjectPath GetSessionByPID(uint) { return QDBusObjectPath(SessionPath); }
    // A sleep inhibitor is a file descriptor that the caller closes to let the system sleep.
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString&, const QString&, const QString& mode)
    {
        Report(QStringLiteral("Inhibit %1 %2").arg(what, mode));
        return QDBusUnixFileDescriptor(m_inhibitor[0]);
    }

private:
    int m_inhibitor[2];
};

class Session : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")

public slots:
    void SetIdleHint(bool idle) { Report(QStringLiteral("SetIdleHint %1").arg(idle)); }
    void SetLockedHint(bool locked) { Report(QStringLiteral("SetLockedHint %1").arg(locked)); }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s BUS_ADDRESS\n", argv[0]);
        return 2;
    }
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromLocal8Bit(argv[1]), "bus");
    Manager manager;
    Session session;
    if (!bus.isConnected() ||
        !bus.registerObject("/org/freedesktop/login1", &manager, QDBusConnection::ExportAllSlots) ||
        !bus.registerObject(SessionPath, &session, QDBusConnection::ExportAllSlots) ||
        !bus.registerService("org.freedesktop.login1")) {
        std::fprintf(stderr, "%s: cannot serve on %s: %s\n", argv[0], argv[1],
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    Report(QStringLiteral("ready"));
    return app.exec();
}

#include "FakeLogind.moc"
