#pragma once

#include "idle/IdleSource.h"

#include <QDBusConnection>
#include <memory>

namespace vb {

// GNOME's compositor, mutter, offers other programs no Wayland idle protocol; its idle monitor
// on the session bus (org.gnome.Mutter.IdleMonitor) is the source there, on Wayland and on X11.
// An idle watch says when the idle time is reached, a user-active watch (one shot, added each
// time) when input comes. Both live as long as the connection that added them and WatchFired goes
// to that connection only, so one connection is kept.
class MutterIdleSource final : public IdleSource
{
    Q_OBJECT

public:
    // Null where nobody owns org.gnome.Mutter.IdleMonitor on the bus.
    static std::unique_ptr<MutterIdleSource> Connect(QDBusConnection bus);

    QString Name() const override;
    void Watch(qint64 ms) override;

private slots:
    void WatchFired(quint32 id);

private:
    explicit MutterIdleSource(QDBusConnection bus);
    quint32 Add(const QString& method, const QVariantList& arguments);
    void Remove(quint32& id);

    QDBusConnection m_bus;
    quint32 m_idleWatch = 0;
    quint32 m_activeWatch = 0;
};

} // namespace vb
