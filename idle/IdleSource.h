#pragma once

#include <QObject>
#include <QString>

namespace vb {

// What tells the watcher that the user has stopped using the session, and started again: the X
// server's screen saver, a Wayland compositor's idle protocol, or mutter's idle monitor.
class IdleSource : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // What the source is, as --verbose names it.
    virtual QString Name() const = 0;
    // From now on idle() comes once the user has been idle for `ms`, and active() at the next
    // input after it. A second call replaces the time.
    virtual void Watch(qint64 ms) = 0;
    // Counts as input where the source can make it so (a player's SimulateUserActivity).
    virtual void SimulateUserActivity() {}

signals:
    void idle();
    void active();
    // The source's connection is gone; the watcher cannot go on.
    void failed(const QString& cause);
};

// One reason not to start the saver now: an inhibit a player holds, a locked session.
class InhibitCheck : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Why the saver must not start now; empty when nothing holds it.
    virtual QString Inhibited() = 0;

signals:
    // A hold has ended: the idle time counts again from now.
    void released();
};

// Starts the saver and tells when it has ended.
class SaverLauncher : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // False, with the reason, when it cannot be started.
    virtual bool Start(QString* error) = 0;

signals:
    void ended();
};

} // namespace vb
