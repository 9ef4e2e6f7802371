#include "platform/files/DirectoryLister.h"

#include "platform/files/FileNames.h"
#include "platform/runtime/RuntimeError.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace vb {

namespace {

struct DirCloser
{
    void operator()(DIR* dir) const { closedir(dir); }
};

RuntimeError ListingError(const QString& folder, int err)
{
    return RuntimeError(ErrorCodeFromErrno(err),
                        QStringLiteral("cannot list folder \"%1\": %2")
                            .arg(folder, QString::fromLocal8Bit(std::strerror(err))));
}

} // namespace

void PosixDirectoryLister::List(const QString& folder, const Wanted& wanted, const Found& found) const
{
    const QByteArray path = EncodeFileName(folder);
    std::unique_ptr<DIR, DirCloser> dir(opendir(path.constData()));
    if (!dir) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR)
            return;
        throw ListingError(folder, err);
    }
    const int fd = dirfd(dir.get());
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir.get());
        if (!entry) {
            if (errno != 0)
                throw ListingError(folder, errno);
            return;
        }
        const std::string_view name(entry->d_name);
        if (name.empty() || name.front() == '.' || !wanted(name))
            continue;
        bool ordinary = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st;
            // A broken link or one that vanished since the listing is simply not a file.
            ordinary = fstatat(fd, entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
        }
        if (ordinary)
            found(name);
    }
}

} // namespace vb
