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

// The one pass behind both listings; `subfolder` may be empty, and then nothing is looked at
// that today's file rules would not look at.
std::optional<FolderId> ListFolder(const QString& folder, const DirectoryLister::Wanted& wanted,
                                   const DirectoryLister::Found& found,
                                   const DirectoryLister::FoundFolder& subfolder)
{
    const QByteArray path = EncodeFileName(folder);
    std::unique_ptr<DIR, DirCloser> dir(opendir(path.constData()));
    if (!dir) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR)
            return std::nullopt;
        throw ListingError(folder, err);
    }
    const int fd = dirfd(dir.get());
    // The folder's own id is needed only by a walk through its subfolders.
    struct stat self = {};
    if (subfolder && fstat(fd, &self) != 0)
        throw ListingError(folder, errno);
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir.get());
        if (!entry) {
            if (errno != 0)
                throw ListingError(folder, errno);
            return FolderId{quint64(self.st_dev), quint64(self.st_ino)};
        }
        const std::string_view name(entry->d_name);
        if (name.empty() || name.front() == '.')
            continue;
        const bool maybeFolder = subfolder && entry->d_type != DT_REG;
        const bool fileWanted = entry->d_type != DT_DIR && wanted(name);
        if (!fileWanted && !maybeFolder)
            continue;
        if (entry->d_type == DT_REG) {
            found(name);
            continue;
        }
        if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN && entry->d_type != DT_DIR)
            continue;
        // A broken link, or an entry that vanished since the listing, is neither file nor folder.
        struct stat st;
        if (fstatat(fd, entry->d_name, &st, 0) != 0)
            continue;
        if (S_ISREG(st.st_mode) && fileWanted)
            found(name);
        else if (S_ISDIR(st.st_mode) && maybeFolder)
            subfolder(name, FolderId{quint64(st.st_dev), quint64(st.st_ino)});
    }
}

} // namespace

void PosixDirectoryLister::List(const QString& folder, const Wanted& wanted, const Found& found) const
{
    ListFolder(folder, wanted, found, FoundFolder());
}

std::optional<FolderId> PosixDirectoryLister::ListWithSubfolders(const QString& folder, const Wanted& wanted,
                                                                 const Found& found,
                                                                 const FoundFolder& subfolder) const
{
    return ListFolder(folder, wanted, found, subfolder);
}

} // namespace vb
