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
    const int fd = ::open(EncodeFileName(m_path).constData(),
                          O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0) {
        const int err = errno;
        if (code)
            *code = ErrorCodeFromErrno(err);
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(err));
        return Result::CannotCreate;
    }

    // The wait is a blocking flock, so that the kernel hands the lock over when its holder lets
    // go: polling with LOCK_NB lost the race for good against a process that saves in a loop. It
    // runs on a thread of its own so that the wait can end at the deadline; a wait given up owns
    // the descriptor and closes it (letting go of the lock) whenever flock returns.
    struct Wait
    {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool abandoned = false;
        int err = 0;
    };
    auto wait = std::make_shared<Wait>();
    std::thread([wait, fd] {
        int err = 0;
        while (::flock(fd, LOCK_EX) != 0 && (err = errno) == EINTR)
            err = 0;
        std::lock_guard guard(wait->mutex);
        wait->finished = true;
        wait->err = err;
        if (wait->abandoned)
            ::close(fd);
        wait->done.notify_all();
    }).detach();

    std::unique_lock guard(wait->mutex);
    wait->done.wait_for(guard, std::chrono::milliseconds(std::max(0, timeoutMs)),
                        [&] { return wait->finished; });
    if (!wait->finished) {
        wait->abandoned = true;
        return Result::Busy;
    }
    if (wait->err != 0 && wait->err != ENOLCK && wait->err != EOPNOTSUPP && wait->err != EINVAL) {
        ::close(fd);
        if (code)
            *code = ErrorCodeFromErrno(wait->err);
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(wait->err));
        return Result::CannotCreate;
    }
    // Locked, or a file system without locks (an NFS mount without its lock service), where the
    // atomic replacement still keeps the file whole: go on rather than never save again.
    m_fd = fd;
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
