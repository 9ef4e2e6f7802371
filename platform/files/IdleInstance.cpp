#include "platform/files/IdleInstance.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vb {

namespace {

QString DisplayKey()
{
    QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (display.isEmpty())
        display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty())
        display = QStringLiteral("none");
    // A Wayland display may be a path.
    for (QChar& c : display)
        if (!c.isLetterOrNumber() && c != u'.' && c != u'-' && c != u'_' && c != u':')
            c = u'_';
    return display;
}

QString RuntimeFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return runtime + QStringLiteral("/vellumbright");
    return QDir::tempPath() + QStringLiteral("/vellumbright-") + QString::number(::getuid());
}

} // namespace

QString IdleLockPath()
{
    return RuntimeFolder() + QStringLiteral("/idle-") + DisplayKey() + QStringLiteral(".lock");
}

IdleInstanceLock::~IdleInstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool IdleInstanceLock::Take(QString* error)
{
    error->clear();
    const QByteArray folder = QFile::encodeName(RuntimeFolder());
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) {
        *error = RuntimeFolder() + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const QByteArray path = QFile::encodeName(IdleLockPath());
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = IdleLockPath() + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK)
            *error = IdleLockPath() + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return false;
    }
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) != pid.size()) {
        *error = IdleLockPath() + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

pid_t RunningIdleWatcher()
{
    const QByteArray path = QFile::encodeName(IdleLockPath());
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    pid_t pid = 0;
    // Held by a live watcher only when a shared lock cannot be had.
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        char text[32] = {};
        if (::pread(fd, text, sizeof text - 1, 0) > 0)
            pid = pid_t(std::strtol(text, nullptr, 10));
    }
    ::close(fd);
    // Never 0, -1 or below: kill() would reach a whole process group, or every process.
    return pid > 1 ? pid : 0;
}

bool SignalIdleWatcher(int signalNumber)
{
    const pid_t pid = RunningIdleWatcher();
    return pid > 1 && ::kill(pid, signalNumber) == 0;
}

} // namespace vb
