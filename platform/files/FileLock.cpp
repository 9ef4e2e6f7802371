#include "platform/files/FileLock.h"

#include "platform/files/FileNames.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
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
    const auto failed = [&](int err, const QString& what) {
        if (code)
            *code = ErrorCodeFromErrno(err);
        if (error)
            *error = what + QString::fromLocal8Bit(std::strerror(err));
        return Result::CannotCreate;
    };

    // The open and the wait both run on a thread of its own, so that the wait ends at the deadline
    // also when the folder of the lock file does not answer (a share that stopped). The wait is a
    // blocking flock, so that the kernel hands the lock over when its holder lets go: polling with
    // LOCK_NB lost the race for good against a process that saves in a loop. A wait given up owns
    // the descriptor and closes it (letting go of the lock) whenever flock returns.
    struct Wait
    {
        std::mutex mutex;
        std::condition_variable done;
        bool opened = false;
        bool finished = false;
        bool abandoned = false;
        int fd = -1;
        int err = 0;
    };
    auto wait = std::make_shared<Wait>();
    try {
        std::thread([wait, name = EncodeFileName(m_path)] {
            const int fd =
                ::open(name.constData(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
            int err = fd < 0 ? errno : 0;
            if (fd >= 0) {
                {
                    std::lock_guard guard(wait->mutex);
                    wait->opened = true;
                }
                while (::flock(fd, LOCK_EX) != 0 && (err = errno) == EINTR)
                    err = 0;
            }
            std::lock_guard guard(wait->mutex);
            wait->finished = true;
            wait->err = err;
            if (wait->abandoned) {
                if (fd >= 0)
                    ::close(fd);
            } else {
                wait->fd = fd;
            }
            wait->done.notify_all();
        }).detach();
    } catch (const std::system_error& e) {
        // Nothing is open yet. The caller reports it like a lock file it cannot make.
        return failed(e.code().value(), QStringLiteral("cannot start the wait for it: "));
    }

    std::unique_lock guard(wait->mutex);
    wait->done.wait_for(guard, std::chrono::milliseconds(std::max(0, timeoutMs)),
                        [&] { return wait->finished; });
    if (!wait->finished) {
        wait->abandoned = true;
        if (error)
            *error = wait->opened ? QString() : QStringLiteral("its lock file did not open in time");
        return Result::Busy;
    }
    if (wait->fd < 0)
        return failed(wait->err, QString());
    if (wait->err != 0 && wait->err != ENOLCK && wait->err != EOPNOTSUPP && wait->err != EINVAL) {
        ::close(wait->fd);
        return failed(wait->err, QString());
    }
    // Locked, or a file system without locks (an NFS mount without its lock service), where the
    // atomic replacement still keeps the file whole: go on rather than never save again.
    m_fd = wait->fd;
    return Result::Locked;
}

void FileLock::Unlock()
{
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
}

} // namespace vb
