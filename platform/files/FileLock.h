#pragma once

#include "platform/runtime/RuntimeError.h"

#include <QString>

namespace vb {

// An exclusive lock between processes: flock(2) on an open descriptor of a lock file. The kernel
// lets go of it when the descriptor closes, also when its holder dies, so nothing is ever stale:
// a lock file left by a crash, an empty one, or one another program wrote in its own format
// (a host name, a process id) is taken at once. Only a live holder is waited for. On Linux flock
// also works on NFS, where the kernel carries it out with byte-range locks.
//
// The lock file stays, empty, beside the file it guards: removing it on release would let a
// process that saves in a loop take a new lock file ahead of every waiter on the old one.
class FileLock
{
public:
    explicit FileLock(QString path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    enum class Result { Locked, Busy, CannotCreate };
    // Waits up to `timeoutMs` for the lock file to open and for a live holder. `error` gets
    // errno's text when the file cannot be made or opened, or no thread can be had for the wait
    // (CannotCreate), and its code in `code`; when the time runs out (Busy), it is empty if a live
    // holder kept the lock, else it says that the file did not open.
    Result TryLock(int timeoutMs, ErrorCode* code = nullptr, QString* error = nullptr);
    void Unlock();
    bool IsLocked() const { return m_fd >= 0; }

private:
    QString m_path;
    int m_fd = -1;
};

} // namespace vb
