#pragma once

#include "idle/IdleSource.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QMap>
#include <functional>
#include <memory>

class QDBusServiceWatcher;

namespace vb {

// What the service reports and does, from the watcher.
struct ScreenSaverState
{
    std::function<bool()> active;
    std::function<quint32()> activeSeconds;
    std::function<quint32()> idleSeconds;
    std::function<void()> simulateUserActivity;
};

// Our own org.freedesktop.ScreenSaver on the session bus, where no desktop owns the name: video
// players (mpv, Firefox, Chromium, VLC) ask it to hold the saver off. It answers at both paths
// that players use, /ScreenSaver and /org/freedesktop/ScreenSaver. An inhibit lasts until
// UnInhibit with its cookie, or until the caller leaves the bus.
class ScreenSaverService final : public InhibitCheck, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

public:
    // Takes the name; null when another program owns it (or no bus answers), `owner` then holds
    // the name's owner, empty when there is no bus.
    static std::unique_ptr<ScreenSaverService> Own(QDBusConnection bus, ScreenSaverState state,
                                                   QString* owner);
    ~ScreenSaverService() override;

    QString Inhibited() override;
    // The saver started or ended.
    void ReportActive(bool active) { emit ActiveChanged(active); }

public slots:
    quint32 Inhibit(const QString& application, const QString& reason);
    void UnInhibit(quint32 cookie);
    void SimulateUserActivity();
    bool GetActive();
    quint32 GetActiveTime();
    quint32 GetSessionIdleTime();

signals:
    void ActiveChanged(bool active);

private:
    ScreenSaverService(QDBusConnection bus, ScreenSaverState state);
    void CallerLeft(const QString& caller);
    void Remove(quint32 cookie);

    struct Hold
    {
        QString caller;
        QString application;
        QString reason;
    };
    QDBusConnection m_bus;
    ScreenSaverState m_state;
    QMap<quint32, Hold> m_holds;
    quint32 m_nextCookie = 1;
    QDBusServiceWatcher* m_callers;
};

} // namespace vb
