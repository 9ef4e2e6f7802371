#include "platform/session/ScreenSaverService.h"

#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>

namespace vb {

namespace {

const QString ServiceName = QStringLiteral("org.freedesktop.ScreenSaver");

} // namespace

std::unique_ptr<ScreenSaverService> ScreenSaverService::Own(QDBusConnection bus, ScreenSaverState state,
                                                            QString* owner)
{
    owner->clear();
    if (!bus.isConnected() || !bus.interface())
        return nullptr;
    std::unique_ptr<ScreenSaverService> service(new ScreenSaverService(bus, std::move(state)));
    const auto flags = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals;
    bus.registerObject(QStringLiteral("/ScreenSaver"), service.get(), flags);
    bus.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), service.get(), flags);
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus.interface()->registerService(ServiceName, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return service;
    const QDBusReply<QString> current = bus.interface()->serviceOwner(ServiceName);
    *owner = current.isValid() ? current.value() : ServiceName;
    return nullptr;
}

ScreenSaverService::ScreenSaverService(QDBusConnection bus, ScreenSaverState state)
    : m_bus(std::move(bus)), m_state(std::move(state)),
      m_callers(new QDBusServiceWatcher(QString(), m_bus, QDBusServiceWatcher::WatchForUnregistration, this))
{
    connect(m_callers, &QDBusServiceWatcher::serviceUnregistered, this, &ScreenSaverService::CallerLeft);
}

ScreenSaverService::~ScreenSaverService()
{
    m_bus.unregisterObject(QStringLiteral("/ScreenSaver"));
    m_bus.unregisterObject(QStringLiteral("/org/freedesktop/ScreenSaver"));
    m_bus.unregisterService(ServiceName);
}

QString ScreenSaverService::Inhibited()
{
    if (m_holds.isEmpty())
        return QString();
    const Hold& hold = m_holds.first();
    return QStringLiteral("%1 holds an inhibit (%2)").arg(hold.application, hold.reason);
}

quint32 ScreenSaverService::Inhibit(const QString& application, const QString& reason)
{
    const QString caller = calledFromDBus() ? message().service() : QString();
    const quint32 cookie = m_nextCookie++;
    m_holds.insert(cookie, {caller, application, reason});
    if (!caller.isEmpty() && !m_callers->watchedServices().contains(caller))
        m_callers->addWatchedService(caller);
    return cookie;
}

void ScreenSaverService::UnInhibit(quint32 cookie)
{
    // Only its caller ends a hold; a cookie that is not ours, or is gone, changes nothing.
    const auto hold = m_holds.constFind(cookie);
    if (hold != m_holds.constEnd() && (!calledFromDBus() || hold->caller == message().service()))
        Remove(cookie);
}

void ScreenSaverService::SimulateUserActivity()
{
    if (m_state.simulateUserActivity)
        m_state.simulateUserActivity();
}

bool ScreenSaverService::GetActive()
{
    return m_state.active && m_state.active();
}

quint32 ScreenSaverService::GetActiveTime()
{
    return m_state.activeSeconds ? m_state.activeSeconds() : 0;
}

quint32 ScreenSaverService::GetSessionIdleTime()
{
    return m_state.idleSeconds ? m_state.idleSeconds() : 0;
}

void ScreenSaverService::CallerLeft(const QString& caller)
{
    m_callers->removeWatchedService(caller);
    for (const quint32 cookie : m_holds.keys())
        if (m_holds.value(cookie).caller == caller)
            Remove(cookie);
}

void ScreenSaverService::Remove(quint32 cookie)
{
    if (m_holds.remove(cookie) && m_holds.isEmpty())
        emit released();
}

} // namespace vb
