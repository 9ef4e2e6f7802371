#include "platform/RegularFile.h"

#include "platform/RuntimeError.h"

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

int OpenRegularFileDescriptor(const QString& path)
{
    // Without O_NONBLOCK, opening a pipe blocks until someone opens it for writing. The flag
    // changes nothing for a regular file, so it may stay.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        throw OpenFailure(path, ErrorCodeFromErrno(err), QString::fromLocal8Bit(std::strerror(err)));
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw OpenFailure(path, ErrorCode::PathFileAccess, QStringLiteral("not a regular file"));
    }
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
