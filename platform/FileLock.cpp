#include "platform/FileLock.h"

#include "platform/FileNames.h"

#include <QDeadlineTimer>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vb {

FileLock::FileLock(QString path) : m_path(std::move(path)) {}

FileLock::~FileLock()
{
    Unlock();
}

FileLock::Result FileLock::TryLock(int timeoutMs, ErrorCode* code, QString* error)
{
    if (m_fd >= 0)
        return Result::Locked;
    const QByteArray path = EncodeFileName(m_path);
    const QDeadlineTimer deadline(timeoutMs);
    int pauseMs = 1;
    for (;;) {
        const int fd = ::open(path.constData(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
        if (fd < 0) {
            const int err = errno;
            if (code)
                *code = ErrorCodeFromErrno(err);
            if (error)
                *error = QString::fromLocal8Bit(std::strerror(err));
            return Result::CannotCreate;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // Ours only if the name still leads to the file locked: a holder that has just let go
            // removed it, and someone else may already hold a new one under the same name.
            struct stat opened
            {
            };
            struct stat named
            {
            };
            if (::fstat(fd, &opened) == 0 && ::lstat(path.constData(), &named) == 0 &&
                opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
                m_fd = fd;
                return Result::Locked;
            }
            ::close(fd);
            continue;
        }
        const int err = errno;
        if (err == ENOLCK || err == EOPNOTSUPP || err == EINVAL) {
            // A file system without locks (an NFS mount without its lock service): the atomic
            // replacement still keeps the file whole, so go on rather than never save again.
            m_fd = fd;
            return Result::Locked;
        }
        ::close(fd);
        if (deadline.hasExpired())
            return Result::Busy;
        QThread::msleep(ulong(std::min<qint64>(pauseMs, std::max<qint64>(1, deadline.remainingTime()))));
        pauseMs = std::min(pauseMs * 2, 50);
    }
}

void FileLock::Unlock()
{
    if (m_fd < 0)
        return;
    ::unlink(EncodeFileName(m_path).constData());
    ::close(m_fd);
    m_fd = -1;
}

} // namespace vb
