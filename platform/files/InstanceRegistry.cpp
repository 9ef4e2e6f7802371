#include "platform/files/InstanceRegistry.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vb {

namespace {

// Makes `folder` if need be, and tells whether it is a private folder of this user: a folder, not
// a link, owned by the user, that the user may write and nobody else may enter. In a shared
// folder such as /tmp, a folder planted by someone else is not ours to use.
bool PrivateFolder(const QString& folder)
{
    const QByteArray dir = QFile::encodeName(folder);
    if (mkdir(dir.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    if (lstat(dir.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
        return false;
    if ((st.st_mode & 0077) != 0 && chmod(dir.constData(), 0700) != 0)
        return false;
    return access(dir.constData(), W_OK | X_OK) == 0;
}

// An open file description's record lock (not a process's, and apart from flock), held while it
// lives.
class RecordLock
{
public:
    RecordLock(int fd, short type) : m_fd(fd)
    {
        struct flock lock = {};
        lock.l_type = type;
        lock.l_whence = SEEK_SET;
        m_locked = fcntl(m_fd, F_OFD_SETLKW, &lock) == 0;
    }
    ~RecordLock()
    {
        if (!m_locked)
            return;
        struct flock lock = {};
        lock.l_type = F_UNLCK;
        lock.l_whence = SEEK_SET;
        fcntl(m_fd, F_OFD_SETLK, &lock);
    }
    RecordLock(const RecordLock&) = delete;
    RecordLock& operator=(const RecordLock&) = delete;

private:
    int m_fd;
    bool m_locked = false;
};

// The record is small: the run mode and a few captions.
constexpr qsizetype MaxRecordSize = 4096;

} // namespace

QString InstanceRegistry::ChooseFolder(const QString& runtimeDir, const QString& fallback)
{
    // The base-directory rules ignore a relative XDG_RUNTIME_DIR.
    if (!runtimeDir.isEmpty() && QDir::isAbsolutePath(runtimeDir)) {
        const QString folder = runtimeDir + QStringLiteral("/vellumbright");
        if (PrivateFolder(folder))
            return folder;
    }
    return fallback;
}

InstanceRegistry::InstanceRegistry(QString folder)
    : m_folder(folder.isEmpty() ? ChooseFolder(qEnvironmentVariable("XDG_RUNTIME_DIR"),
                                               QStringLiteral("/tmp/vellumbright-%1").arg(getuid()))
                                : folder)
{
}

InstanceRegistry::~InstanceRegistry()
{
    Unregister();
}

void InstanceRegistry::Unregister()
{
    if (m_fd < 0)
        return;
    unlink(QFile::encodeName(m_ownFile).constData());
    close(m_fd);
    m_fd = -1;
}

bool InstanceRegistry::Register()
{
    if (m_fd >= 0)
        return true;
    if (!PrivateFolder(m_folder))
        return false;

    // The file is locked under a temporary name and only then renamed into view, so a file that
    // others can see is always locked by a live process or left by a dead one.
    const QString pid = QString::number(getpid());
    const QByteArray temp = QFile::encodeName(m_folder + QStringLiteral("/.new-") + pid);
    const QByteArray final = QFile::encodeName(m_folder + QStringLiteral("/instance-") + pid);
    const int fd = open(temp.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || rename(temp.constData(), final.constData()) != 0) {
        unlink(temp.constData());
        close(fd);
        return false;
    }
    m_fd = fd;
    m_ownFile = QFile::decodeName(final);
    return true;
}

InstanceRegistry::Entry InstanceRegistry::ReadEntry(int fd, const QByteArray& name)
{
    Entry entry;
    entry.pid = name.mid(int(sizeof "instance-") - 1).toLongLong();
    QByteArray text(MaxRecordSize, Qt::Uninitialized);
    ssize_t size;
    {
        RecordLock lock(fd, F_RDLCK);
        size = pread(fd, text.data(), size_t(text.size()), 0);
    }
    if (size <= 0)
        return entry;
    text.truncate(qsizetype(size));
    QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    entry.mode = lines.takeFirst();
    entry.captions = lines;
    return entry;
}

bool InstanceRegistry::PrevInstance() const
{
    return ForEachOther([](const Entry&) { return true; });
}

void InstanceRegistry::Record(const QString& mode, const QStringList& captions)
{
    if (m_fd < 0)
        return;
    QStringList lines{mode};
    lines += captions;
    for (QString& line : lines)
        line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QByteArray text = lines.join(QLatin1Char('\n')).toUtf8();
    // Readers take a read lock, so they never see the record half rewritten.
    RecordLock lock(m_fd, F_WRLCK);
    if (ftruncate(m_fd, 0) == 0 && pwrite(m_fd, text.constData(), size_t(text.size()), 0) < 0)
        (void)ftruncate(m_fd, 0);
}

qint64 InstanceRegistry::FindCaption(const QString& caption) const
{
    qint64 pid = 0;
    ForEachOther([&](const Entry& entry) {
        if (entry.captions.contains(caption))
            pid = entry.pid;
        return pid != 0;
    });
    return pid;
}

bool InstanceRegistry::ForEachOther(const std::function<bool(const Entry&)>& live) const
{
    const QByteArray dirPath = QFile::encodeName(m_folder);
    DIR* dir = opendir(dirPath.constData());
    if (!dir)
        return false;
    const QByteArray own = QFile::encodeName(m_ownFile).mid(dirPath.size() + 1);
    bool done = false;
    while (const dirent* entry = readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (!name.startsWith("instance-") || name == own)
            continue;
        const int fd = openat(dirfd(dir), entry->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // Its owner is gone; tidy up while holding the lock, unless a new process of the same
            // pid has just put its own file under that name.
            struct stat opened, named;
            if (fstat(fd, &opened) == 0 &&
                fstatat(dirfd(dir), entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                opened.st_ino == named.st_ino && opened.st_dev == named.st_dev)
                unlinkat(dirfd(dir), entry->d_name, 0);
        } else if (errno == EWOULDBLOCK) {
            done = live(ReadEntry(fd, name));
        }
        close(fd);
        if (done)
            break;
    }
    closedir(dir);
    return done;
}

} // namespace vb
