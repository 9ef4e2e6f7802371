#include "platform/session/MutterIdleSource.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>

namespace vb {

namespace {

const QString Service = QStringLiteral("org.gnome.Mutter.IdleMonitor");
const QString Path = QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core");

} // namespace

std::unique_ptr<MutterIdleSource> MutterIdleSource::Connect(QDBusConnection bus)
{
    if (!bus.isConnected() || !bus.interface())
        return nullptr;
    const QDBusReply<bool> present = bus.interface()->isServiceRegistered(Service);
    if (!present.isValid() || !present.value())
        return nullptr;
    return std::unique_ptr<MutterIdleSource>(new MutterIdleSource(bus));
}

MutterIdleSource::MutterIdleSource(QDBusConnection bus) : m_bus(std::move(bus))
{
    m_bus.connect(Service, Path, Service, QStringLiteral("WatchFired"), this, SLOT(WatchFired(quint32)));
    auto* gone = new QDBusServiceWatcher(Service, m_bus, QDBusServiceWatcher::WatchForUnregistration, this);
    connect(gone, &QDBusServiceWatcher::serviceUnregistered, this,
            [this] { emit failed(QStringLiteral("mutter's idle monitor has left the session bus")); });
}

QString MutterIdleSource::Name() const
{
    return QStringLiteral("mutter's idle monitor (org.gnome.Mutter.IdleMonitor)");
}

quint32 MutterIdleSource::Add(const QString& method, const QVariantList& arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Service, method);
    call.setArguments(arguments);
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        emit failed(QStringLiteral("mutter's idle monitor refused %1: %2").arg(method, reply.errorMessage()));
        return 0;
    }
    return reply.arguments().first().toUInt();
}

void MutterIdleSource::Remove(quint32& id)
{
    if (id != 0)
        m_bus.call(QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("RemoveWatch"))
                       << QVariant::fromValue(id),
                   QDBus::NoBlock);
    id = 0;
}

void MutterIdleSource::Watch(qint64 ms)
{
    Remove(m_idleWatch);
    m_idleWatch = Add(QStringLiteral("AddIdleWatch"), {QVariant::fromValue(quint64(qMax<qint64>(1, ms)))});
}

void MutterIdleSource::WatchFired(quint32 id)
{
    if (id == 0)
        return;
    if (id == m_idleWatch) {
        // The user-active watch fires once, at the next input.
        if (m_activeWatch == 0)
            m_activeWatch = Add(QStringLiteral("AddUserActiveWatch"), {});
        emit idle();
    } else if (id == m_activeWatch) {
        m_activeWatch = 0;
        emit active();
    }
}

} // namespace vb
