#include "platform/session/SessionChecks.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <unistd.h>

namespace vb {

namespace {

// A desktop that does not answer within this is taken to hold nothing.
constexpr int CallTimeoutMs = 2000;

bool HasOwner(QDBusConnection& bus, const QString& name)
{
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QDBusReply<bool> reply = bus.interface()->isServiceRegistered(name);
    return reply.isValid() && reply.value();
}

// The call's one answer, invalid when it failed.
QVariant Call(QDBusConnection& bus, const QString& service, const QString& path, const QString& interface,
              const QString& method, const QVariantList& arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments);
    const QDBusMessage reply = bus.call(call, QDBus::Block, CallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return QVariant();
    return reply.arguments().first();
}

class DesktopQuery final : public InhibitCheck
{
public:
    DesktopQuery(QDBusConnection bus, QString service, QString path, QString method, quint32 flag,
                 QString desktop)
        : m_bus(std::move(bus)), m_service(std::move(service)), m_path(std::move(path)),
          m_method(std::move(method)), m_flag(flag), m_desktop(std::move(desktop))
    {
    }

    QString Inhibited() override
    {
        const QVariant held =
            Call(m_bus, m_service, m_path, m_service, m_method, {QVariant::fromValue(m_flag)});
        return held.toBool() ? QStringLiteral("%1 reports an inhibit").arg(m_desktop) : QString();
    }

private:
    QDBusConnection m_bus;
    QString m_service;
    QString m_path;
    QString m_method;
    quint32 m_flag;
    QString m_desktop;
};

class Logind final : public InhibitCheck
{
public:
    Logind(QDBusConnection bus, QString session) : m_bus(std::move(bus)), m_session(std::move(session)) {}

    QString Inhibited() override
    {
        if (Property(QStringLiteral("LockedHint")).toBool())
            return QStringLiteral("the session is locked");
        const QVariant active = Property(QStringLiteral("Active"));
        // A logind that does not say counts as active.
        if (active.isValid() && !active.toBool())
            return QStringLiteral("the session is not the active one");
        return QString();
    }

private:
    QVariant Property(const QString& name)
    {
        const QVariant value = Call(m_bus, QStringLiteral("org.freedesktop.login1"), m_session,
                                    QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                                    {QStringLiteral("org.freedesktop.login1.Session"), name});
        return value.value<QDBusVariant>().variant();
    }

    QDBusConnection m_bus;
    QString m_session;
};

} // namespace

std::unique_ptr<InhibitCheck> DesktopInhibitCheck(QDBusConnection bus)
{
    const QString gnome = QStringLiteral("org.gnome.SessionManager");
    if (HasOwner(bus, gnome))
        return std::make_unique<DesktopQuery>(bus, gnome, QStringLiteral("/org/gnome/SessionManager"),
                                              QStringLiteral("IsInhibited"), 8u,
                                              QStringLiteral("GNOME's session"));
    const QString kde = QStringLiteral("org.kde.Solid.PowerManagement.PolicyAgent");
    if (HasOwner(bus, kde))
        return std::make_unique<DesktopQuery>(
            bus, kde, QStringLiteral("/org/kde/Solid/PowerManagement/PolicyAgent"),
            QStringLiteral("HasInhibition"), 4u, QStringLiteral("KDE's power management"));
    return nullptr;
}

std::unique_ptr<InhibitCheck> LogindCheck(QDBusConnection systemBus)
{
    const QString login = QStringLiteral("org.freedesktop.login1");
    if (!HasOwner(systemBus, login))
        return nullptr;
    const QString manager = QStringLiteral("org.freedesktop.login1.Manager");
    const QString id = qEnvironmentVariable("XDG_SESSION_ID");
    const QVariant session =
        id.isEmpty() ? Call(systemBus, login, QStringLiteral("/org/freedesktop/login1"), manager,
                            QStringLiteral("GetSessionByPID"), {QVariant::fromValue(quint32(::getpid()))})
                     : Call(systemBus, login, QStringLiteral("/org/freedesktop/login1"), manager,
                            QStringLiteral("GetSession"), {id});
    const QString path = session.value<QDBusObjectPath>().path();
    if (path.isEmpty())
        return nullptr;
    return std::make_unique<Logind>(systemBus, path);
}

} // namespace vb
