#pragma once

#include <QString>
#include <QStringList>
#include <sys/types.h>
#include <vector>

namespace vb {

// One loading helper process as the program starts it: `program` run with LoadingHelperArgument,
// one end of a socket of packets as its descriptor 3, nothing else of the program's.
class HelperProcess
{
public:
    // Started; `Started()` false when it could not be. `first`: the run's first helper; `folders`:
    // those it may read. `sharedStreams` (tests only): it keeps the program's session, standard
    // input, output and error, to see what that would let it do.
    HelperProcess(const QString& program, int decodeLimitMegabytes, bool first, const QStringList& folders,
                  bool sharedStreams = false);
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;
    // Ends it (unless it has been ended) and closes the program's end of its socket.
    ~HelperProcess();

    bool Started() const { return m_pid > 0 && m_socket >= 0; }
    pid_t Pid() const { return m_pid; }
    int Socket() const { return m_socket; }

    // Sends SIGKILL, once; the process is left to the reaper (LeftBehind).
    void End();
    // For a helper whose socket has closed: whether it ended with a status of its own (it could
    // not start or lock itself down) rather than of a signal (a decoder's fault, or a limit).
    bool EndedOnItsOwn() const;
    // Whether it has been waited for (by EndedOnItsOwn).
    bool Reaped() const { return m_reaped; }
    // Ends it and hands it to `leftBehind` to be waited for, unless that has been done.
    void EndInto(class LeftBehindHelpers& leftBehind);

private:
    pid_t m_pid = -1;
    int m_socket = -1;
    bool m_ended = false;
    // Waited for already: its pid may be another process's by now.
    mutable bool m_reaped = false;
};

// Helpers ended but not yet gone (each may wait in a file system that stopped answering).
class LeftBehindHelpers
{
public:
    void Add(pid_t pid);
    // Waits for none; forgets those that have gone. Returns how many are left.
    size_t Reap();

private:
    std::vector<pid_t> m_pids;
};

} // namespace vb
