#include "idle/IdleWatcher.h"

namespace vb {

IdleWatcher::IdleWatcher(IdleSource& source, std::vector<InhibitCheck*> checks, SaverLauncher& launcher,
                         QObject* parent)
    : QObject(parent), m_source(source), m_checks(std::move(checks)), m_launcher(launcher)
{
    m_retry.setSingleShot(true);
    // Coarse: a hold is asked about once per idle time; the exact moment does not matter.
    m_retry.setTimerType(Qt::CoarseTimer);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        if (m_state == State::Held && m_userIdle)
            TryStart();
    });
    connect(&m_source, &IdleSource::idle, this, &IdleWatcher::OnIdle);
    connect(&m_source, &IdleSource::active, this, &IdleWatcher::OnActive);
    connect(&m_launcher, &SaverLauncher::ended, this, &IdleWatcher::OnSaverEnded);
    for (InhibitCheck* check : m_checks)
        connect(check, &InhibitCheck::released, this, &IdleWatcher::OnReleased);
}

void IdleWatcher::SetIdleTime(qint64 ms)
{
    m_idleMs = ms;
    // The source counts from the last input, whatever the time was before.
    m_source.Watch(ms);
    if (m_state == State::Held)
        m_retry.start(int(qMin<qint64>(ms, INT_MAX)));
}

qint64 IdleWatcher::ShowingSeconds() const
{
    return m_state == State::Showing ? m_showingSince.elapsed() / 1000 : 0;
}

qint64 IdleWatcher::IdleSeconds() const
{
    return m_userIdle ? (m_idleSince.elapsed() + m_idleMs) / 1000 : 0;
}

void IdleWatcher::SimulateUserActivity()
{
    m_source.SimulateUserActivity();
    // A source that cannot take the activity back still counts a full idle time from here.
    if (m_state == State::Held)
        m_retry.start(int(qMin<qint64>(m_idleMs, INT_MAX)));
}

void IdleWatcher::OnIdle()
{
    m_userIdle = true;
    m_idleSince.start();
    if (m_state == State::Waiting)
        TryStart();
}

void IdleWatcher::OnActive()
{
    m_userIdle = false;
    m_retry.stop();
    if (m_state == State::Held)
        SetState(State::Waiting);
}

void IdleWatcher::OnReleased()
{
    // The idle time counts again from the end of the hold, as if the player's last moment had been
    // input.
    if (m_state == State::Held)
        m_retry.start(int(qMin<qint64>(m_idleMs, INT_MAX)));
}

void IdleWatcher::OnSaverEnded()
{
    // Ended by input, the source reports it; ended otherwise, the user is still idle and the next
    // show waits for input and a new idle time, so that a saver that cannot start does not loop.
    SetState(State::Waiting);
}

void IdleWatcher::TryStart()
{
    for (InhibitCheck* check : m_checks) {
        const QString reason = check->Inhibited();
        if (!reason.isEmpty()) {
            emit note(QStringLiteral("not starting the saver: ") + reason);
            SetState(State::Held);
            m_retry.start(int(qMin<qint64>(m_idleMs, INT_MAX)));
            return;
        }
    }
    QString error;
    if (!m_launcher.Start(&error)) {
        emit note(QStringLiteral("cannot start the saver: ") + error);
        SetState(State::Waiting);
        return;
    }
    m_showingSince.start();
    SetState(State::Showing);
}

void IdleWatcher::SetState(State state)
{
    const bool wasShowing = m_state == State::Showing;
    m_state = state;
    if (wasShowing != (state == State::Showing))
        emit showingChanged(!wasShowing);
}

} // namespace vb
