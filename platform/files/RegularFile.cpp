#include "platform/files/RegularFile.h"

#include "platform/files/FileNames.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vb {

namespace {

RuntimeError OpenFailure(const QString& path, ErrorCode code, const QString& why)
{
    return RuntimeError(code, QStringLiteral("cannot open \"%1\": %2").arg(path, why));
}

} // namespace

int TryOpenRegularFile(const QString& path, OpenRefusal* refusal)
{
    // Without O_NONBLOCK, opening a pipe blocks until someone opens it for writing. The flag
    // changes nothing for a regular file, so it may stay.
    const int fd = ::open(EncodeFileName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        *refusal =
            OpenRefusal{ErrorCodeFromErrno(err), QString::fromLocal8Bit(std::strerror(err)), err == ENOENT};
        return -1;
    }
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *refusal = OpenRefusal{ErrorCode::PathFileAccess, S_ISDIR(st.st_mode)
                                                              ? QStringLiteral("it is a folder")
                                                              : QStringLiteral("it is not a regular file")};
        return -1;
    }
    return fd;
}

int OpenRegularFileDescriptor(const QString& path)
{
    OpenRefusal refusal;
    const int fd = TryOpenRegularFile(path, &refusal);
    if (fd < 0)
        throw OpenFailure(path, refusal.code, refusal.why);
    return fd;
}

void OpenRegularFile(QFile& file, const QString& path)
{
    const int fd = OpenRegularFileDescriptor(path);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw OpenFailure(path, ErrorCode::PathFileAccess, file.errorString());
    }
}

} // namespace vb
