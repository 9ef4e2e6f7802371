#include "platform/InstanceRegistry.h"

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
    if (m_fd >= 0) {
        unlink(QFile::encodeName(m_ownFile).constData());
        close(m_fd);
    }
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

bool InstanceRegistry::PrevInstance() const
{
    const QByteArray dirPath = QFile::encodeName(m_folder);
    DIR* dir = opendir(dirPath.constData());
    if (!dir)
        return false;
    const QByteArray own = QFile::encodeName(m_ownFile).mid(dirPath.size() + 1);
    bool found = false;
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
            found = true;
        }
        close(fd);
        if (found)
            break;
    }
    closedir(dir);
    return found;
}

} // namespace vb
