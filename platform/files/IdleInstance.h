#pragma once

#include <QString>
#include <sys/types.h>

namespace vb {

// One idle watcher per desktop session: a lock file per display,
// $XDG_RUNTIME_DIR/vellumbright/idle-DISPLAY.lock (the Wayland display where there is one, else
// the X display), held with flock for the watcher's life and holding its process id, so that the
// dialog can tell it to reread its settings (SIGHUP) or to end (SIGTERM).
QString IdleLockPath();

class IdleInstanceLock
{
public:
    IdleInstanceLock() = default;
    ~IdleInstanceLock();
    IdleInstanceLock(const IdleInstanceLock&) = delete;
    IdleInstanceLock& operator=(const IdleInstanceLock&) = delete;

    // False when another watcher holds it (`error` empty) or the file cannot be made (`error`
    // says why).
    bool Take(QString* error);

private:
    int m_fd = -1;
};

// The process id of the watcher that holds this display's lock; 0 when none runs.
pid_t RunningIdleWatcher();

// Sends the signal to this display's watcher; false when none runs.
bool SignalIdleWatcher(int signalNumber);

} // namespace vb
