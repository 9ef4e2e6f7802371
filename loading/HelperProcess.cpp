#include "loading/HelperProcess.h"

#include "loading/LoadingHelper.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vb {

HelperProcess::HelperProcess(const QString& program, int decodeLimitMegabytes)
{
    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0)
        return;
    const QByteArray path = QFile::encodeName(program);
    const QByteArray limit = QByteArray::number(decodeLimitMegabytes);
    // The name `ps` shows.
    char name[] = "vellumbright-loading-helper";
    char* const argv[] = {name, const_cast<char*>(LoadingHelperArgument),
                          const_cast<char*>(limit.constData()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 onto itself would keep close-on-exec: the end goes to 3 from elsewhere.
    int childEnd = sockets[1];
    if (childEnd == LoadingHelperSocket) {
        childEnd = fcntl(sockets[1], F_DUPFD_CLOEXEC, LoadingHelperSocket + 1);
        close(sockets[1]);
    }
    posix_spawn_file_actions_adddup2(&actions, childEnd, LoadingHelperSocket);
    // Nothing else of this process's goes along (a pipe its starter waits on included): a helper
    // left behind in a dead share must hold nothing that keeps anyone waiting.
    posix_spawn_file_actions_addclosefrom_np(&actions, LoadingHelperSocket + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int failed =
        childEnd >= 0 ? posix_spawn(&pid, path.constData(), &actions, &attributes, argv, environ) : EBADF;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (childEnd >= 0)
        close(childEnd);
    if (failed != 0 || pid <= 0) {
        close(sockets[0]);
        return;
    }
    m_pid = pid;
    m_socket = sockets[0];
}

HelperProcess::~HelperProcess()
{
    End();
    if (m_socket >= 0)
        close(m_socket);
}

void HelperProcess::End()
{
    // Never a pid of 0 or below: those would signal a whole group, or every process we may signal.
    if (m_pid > 0 && !m_ended && !m_reaped)
        kill(m_pid, SIGKILL);
    m_ended = true;
}

// Its socket closes as it exits, so it is normally gone at once; one still there after a moment
// counts as faulted.
bool HelperProcess::EndedOnItsOwn() const
{
    if (m_pid <= 0 || m_reaped)
        return false;
    for (int look = 0; look < 20; ++look) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_reaped = true;
            return WIFEXITED(status) && WEXITSTATUS(status) != 0;
        }
        usleep(10000);
    }
    return false;
}

void HelperProcess::EndInto(LeftBehindHelpers& leftBehind)
{
    const bool waitedFor = m_ended || m_reaped;
    End();
    if (!waitedFor)
        leftBehind.Add(m_pid);
}

void LeftBehindHelpers::Add(pid_t pid)
{
    if (pid > 0)
        m_pids.push_back(pid);
}

size_t LeftBehindHelpers::Reap()
{
    std::erase_if(m_pids, [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; });
    return m_pids.size();
}

} // namespace vb
