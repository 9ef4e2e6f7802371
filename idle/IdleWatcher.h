#pragma once

#include "idle/IdleSource.h"

#include <QElapsedTimer>
#include <QTimer>
#include <vector>

namespace vb {

// The watcher's state machine: when its source says the user has been idle for the chosen time,
// it asks every check whether something holds the saver off and, if nothing does, starts it.
// After the saver ends the count starts again with the next input.
//
// While a check holds the saver, the watcher asks again after each further idle time, and after
// a full idle time from the moment a hold is released; input ends the wait.
class IdleWatcher final : public QObject
{
    Q_OBJECT

public:
    enum class State {
        // Counting: the user is active, or idle after a saver that ended without input.
        Waiting,
        // Idle long enough, but a check holds the saver off.
        Held,
        // The saver runs.
        Showing,
    };

    IdleWatcher(IdleSource& source, std::vector<InhibitCheck*> checks, SaverLauncher& launcher,
                QObject* parent = nullptr);

    // The idle time; a running watcher takes a new one at once.
    void SetIdleTime(qint64 ms);
    qint64 IdleTime() const { return m_idleMs; }

    State state() const { return m_state; }
    // Whether the user has been idle for the idle time and has not given input since.
    bool UserIdle() const { return m_userIdle; }
    // Seconds the saver has run, 0 when it does not.
    qint64 ShowingSeconds() const;
    // Seconds since the last input the source reported; 0 while the user is active.
    qint64 IdleSeconds() const;
    // A player says the user is there.
    void SimulateUserActivity();

signals:
    // The saver started (true) or ended (false).
    void showingChanged(bool showing);
    // Why the saver was not started; for --verbose.
    void note(const QString& line);

private:
    void OnIdle();
    void OnActive();
    void OnReleased();
    void OnSaverEnded();
    void TryStart();
    void SetState(State state);

    IdleSource& m_source;
    std::vector<InhibitCheck*> m_checks;
    SaverLauncher& m_launcher;
    qint64 m_idleMs = 10 * 60 * 1000;
    State m_state = State::Waiting;
    bool m_userIdle = false;
    // While held: the next time to ask the checks again.
    QTimer m_retry;
    QElapsedTimer m_idleSince;
    QElapsedTimer m_showingSince;
};

} // namespace vb
