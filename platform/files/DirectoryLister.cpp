#include "platform/files/DirectoryLister.h"

#include "platform/files/FileNames.h"
#include "platform/runtime/RuntimeError.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace vb {

namespace {

struct FdCloser
{
    int fd;
    ~FdCloser() { close(fd); }
};

// getdents64 in one read fills this many bytes with entries: a folder of a few thousand entries
// takes one call, where readdir(3) takes one per 32 KiB.
constexpr size_t ListingBufferBytes = 128 * 1024;

// The kernel's record for one entry, as getdents64 fills the buffer with them.
struct LinuxDirent64
{
    quint64 d_ino;
    qint64 d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
};

// Whether the inode a directory gives for an entry is the one a stat of the entry gives, on the
// file system of device `device` (one of whose folders `fd` is). Where it is not (FUSE gives one
// number for every entry, btrfs a subvolume's id, CIFS without server inode numbers one of its
// own), each subfolder costs a stat. Asked once per device: on a share, statfs is a round trip.
bool DirectoryInodesHold(int fd, dev_t device)
{
    static std::mutex mutex;
    static std::map<dev_t, bool> known;
    {
        const std::lock_guard lock(mutex);
        if (const auto it = known.find(device); it != known.end())
            return it->second;
    }
    struct statfs fs;
    if (fstatfs(fd, &fs) != 0)
        return false;
    constexpr unsigned long Ext = 0xEF53, Xfs = 0x58465342, Tmpfs = 0x01021994, Nfs = 0x6969,
                            F2fs = 0xF2F52010;
    const unsigned long type = static_cast<unsigned long>(fs.f_type);
    const bool hold = type == Ext || type == Xfs || type == Tmpfs || type == Nfs || type == F2fs;
    const std::lock_guard lock(mutex);
    known[device] = hold;
    return hold;
}

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
    const int fd = open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR)
            return std::nullopt;
        throw ListingError(folder, err);
    }
    const FdCloser closer{fd};
    // The folder's own id is needed only by a walk through its subfolders; its device is also
    // that of each subfolder that is not a link (a mount point's inode is the one below it, which
    // is as unique on that device; the walk also checks the id the folder's own listing gives).
    struct stat self = {};
    if (subfolder && fstat(fd, &self) != 0)
        throw ListingError(folder, errno);
    const bool inodesHold = subfolder && DirectoryInodesHold(fd, self.st_dev);
    // One buffer per thread, kept: a block this large is mapped and unmapped on its own, and each
    // unmapping in a process of many threads interrupts every CPU to flush its TLB; a walk lists
    // thousands of folders on the same few threads.
    thread_local const std::unique_ptr<char[]> buffer(new char[ListingBufferBytes]);
    for (;;) {
        const long filled = syscall(SYS_getdents64, fd, buffer.get(), ListingBufferBytes);
        if (filled < 0)
            throw ListingError(folder, errno);
        if (filled == 0)
            return FolderId{quint64(self.st_dev), quint64(self.st_ino)};
        for (long at = 0; at < filled;) {
            const auto* entry = reinterpret_cast<const LinuxDirent64*>(buffer.get() + at);
            at += entry->d_reclen;
            const char* const name = reinterpret_cast<const char*>(entry) + offsetof(LinuxDirent64, d_name);
            const std::string_view view(name);
            if (view.empty() || view.front() == '.')
                continue;
            const unsigned char type = entry->d_type;
            const bool maybeFolder = subfolder && type != DT_REG;
            const bool fileWanted = type != DT_DIR && wanted(view);
            if (!fileWanted && !maybeFolder)
                continue;
            if (type == DT_REG) {
                found(view);
                continue;
            }
            if (type == DT_DIR && inodesHold) {
                subfolder(view, FolderId{quint64(self.st_dev), entry->d_ino});
                continue;
            }
            if (type != DT_LNK && type != DT_UNKNOWN && type != DT_DIR)
                continue;
            // A broken link, or an entry that vanished since the listing, is neither file nor folder.
            struct stat st;
            if (fstatat(fd, name, &st, 0) != 0)
                continue;
            if (S_ISREG(st.st_mode) && fileWanted)
                found(view);
            else if (S_ISDIR(st.st_mode) && maybeFolder)
                subfolder(view, FolderId{quint64(st.st_dev), quint64(st.st_ino)});
        }
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
