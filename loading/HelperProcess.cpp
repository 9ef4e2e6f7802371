#include "loading/HelperProcess.h"

#include "loading/LoadingHelper.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vb {

namespace {

// What a helper writes on its standard error reaches ours line by line, each with the helper's
// name, cut at this length, and at most so many lines a minute: a helper gone wrong can neither
// forge the program's own lines nor flood a log.
constexpr size_t MaxErrorLine = 300;
constexpr int MaxErrorLinesPerMinute = 20;

void RelayErrors(int fd)
{
    std::string line;
    bool cut = false;
    int lines = 0;
    auto minute = std::chrono::steady_clock::now();
    const auto pass = [&] {
        const auto now = std::chrono::steady_clock::now();
        if (now - minute >= std::chrono::minutes(1))
            minute = now, lines = 0;
        if (++lines <= MaxErrorLinesPerMinute) {
            for (char& c : line)
                if (c < 0x20 || c == 0x7f)
                    c = '?';
            std::fprintf(stderr, "vellumbright: loading helper: %s%s\n", line.c_str(), cut ? " [...]" : "");
        }
        line.clear();
        cut = false;
    };
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        for (ssize_t i = 0; i < got; ++i) {
            if (buffer[i] == '\n')
                pass();
            else if (line.size() < MaxErrorLine)
                line += buffer[i];
            else
                cut = true;
        }
    }
    if (!line.empty())
        pass();
    close(fd);
}

} // namespace

HelperProcess::HelperProcess(const QString& program, int decodeLimitMegabytes, bool first,
                             const QStringList& folders, bool sharedStreams)
{
    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0)
        return;
    const QByteArray path = QFile::encodeName(program);
    const QByteArray limit = QByteArray::number(decodeLimitMegabytes);
    // The name `ps` shows.
    char name[] = "vellumbright-loading-helper";
    std::vector<QByteArray> folderBytes;
    for (const QString& folder : folders)
        folderBytes.push_back(QFile::encodeName(folder));
    std::vector<char*> argv{name, const_cast<char*>(LoadingHelperArgument),
                            const_cast<char*>(limit.constData()),
                            const_cast<char*>(first ? LoadingHelperFirst : LoadingHelperLater)};
    for (QByteArray& folder : folderBytes)
        argv.push_back(folder.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 onto itself would keep close-on-exec: the end goes to 3 from elsewhere.
    int childEnd = sockets[1];
    if (childEnd == LoadingHelperSocket) {
        childEnd = fcntl(sockets[1], F_DUPFD_CLOEXEC, LoadingHelperSocket + 1);
        close(sockets[1]);
    }
    posix_spawn_file_actions_adddup2(&actions, childEnd, LoadingHelperSocket);
    // No terminal of ours: nothing to read or type into (TIOCSTI), nothing to write on but its
    // own pipe, whose lines we pass on with its name and within bounds.
    int errorPipe[2] = {-1, -1};
    if (pipe2(errorPipe, O_CLOEXEC) != 0) {
        close(sockets[0]);
        if (childEnd >= 0)
            close(childEnd);
        return;
    }
    if (!sharedStreams) {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, errorPipe[1], STDERR_FILENO);
    }
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
    // A session of its own: no controlling terminal, none to open as /dev/tty.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                              (sharedStreams ? 0 : POSIX_SPAWN_SETSID));
    pid_t pid = -1;
    const int failed = childEnd >= 0
                           ? posix_spawn(&pid, path.constData(), &actions, &attributes, argv.data(), environ)
                           : EBADF;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (childEnd >= 0)
        close(childEnd);
    close(errorPipe[1]);
    if (failed != 0 || pid <= 0) {
        close(sockets[0]);
        close(errorPipe[0]);
        return;
    }
    std::thread(RelayErrors, errorPipe[0]).detach();
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
