#include "platform/files/UserFolders.h"

#include "platform/files/FileNames.h"
#include "platform/files/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace vb {

namespace {

// Far more than any user-dirs.dirs holds; a larger file is not read.
constexpr qint64 MaxUserDirsSize = 64 * 1024;

QByteArray ReadSmallFile(const QString& path)
{
    OpenRefusal refusal;
    const int fd = TryOpenRegularFile(path, &refusal);
    if (fd < 0)
        return QByteArray();
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return QByteArray();
    }
    const QByteArray bytes = file.read(MaxUserDirsSize + 1);
    return bytes.size() > MaxUserDirsSize ? QByteArray() : bytes;
}

// The value of one line XDG_PICTURES_DIR="VALUE", its backslash escapes undone; none when the
// line is another or does not read so.
std::optional<QByteArray> PicturesDirValue(QByteArray line)
{
    static const QByteArray Key("XDG_PICTURES_DIR");
    line = line.trimmed();
    if (!line.startsWith(Key))
        return std::nullopt;
    line = line.mid(Key.size()).trimmed();
    if (!line.startsWith('='))
        return std::nullopt;
    line = line.mid(1).trimmed();
    if (!line.startsWith('"'))
        return std::nullopt;
    QByteArray value;
    for (qsizetype i = 1; i < line.size(); ++i) {
        char c = line[i];
        if (c == '"') {
            const QByteArray rest = line.mid(i + 1).trimmed();
            return rest.isEmpty() || rest.startsWith('#') ? std::optional(value) : std::nullopt;
        }
        if (c == '\\') {
            if (++i == line.size())
                break;
            c = line[i];
        }
        value += c;
    }
    return std::nullopt; // no closing quote
}

bool IsFolder(const QString& path)
{
    struct stat st;
    return stat(EncodeFileName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

QString UserConfigFolder()
{
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The base-directory rules ignore a relative XDG_CONFIG_HOME.
    if (config.isEmpty() || QDir::isRelativePath(config))
        return QDir::homePath() + QStringLiteral("/.config");
    return config;
}

QString UserCacheFolder()
{
    const QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty() || QDir::isRelativePath(cache))
        return QDir::homePath() + QStringLiteral("/.cache");
    return cache;
}

bool MakePrivateFolder(const QString& path, QString* why)
{
    if (IsFolder(path))
        return true;
    const QString parent = QFileInfo(path).absolutePath();
    if (!IsFolder(parent) && !QDir().mkpath(parent)) {
        *why = QStringLiteral("cannot create the folder %1").arg(parent);
        return false;
    }
    if (::mkdir(EncodeFileName(path).constData(), 0700) != 0 && !IsFolder(path)) {
        *why = QStringLiteral("cannot create the folder %1: %2")
                   .arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    return true;
}

std::optional<QString> UserPicturesFolder()
{
    const QString home = QDir::homePath();
    const QString fallback = home + QStringLiteral("/Pictures");
    QString pictures = fallback;
    // As a shell reading the file would have it: the last line that sets the folder counts.
    for (const QByteArray& line :
         ReadSmallFile(UserConfigFolder() + QStringLiteral("/user-dirs.dirs")).split('\n')) {
        const std::optional<QByteArray> value = PicturesDirValue(line);
        if (!value)
            continue;
        QString path = DecodeFileName(*value);
        if (path == QStringLiteral("$HOME") || path.startsWith(QStringLiteral("$HOME/")))
            path = home + path.mid(5);
        else if (!path.startsWith(u'/'))
            path = home + u'/' + path;
        path = QDir::cleanPath(path);
        pictures = path == QDir::cleanPath(home) ? fallback : path;
    }
    if (!IsFolder(pictures))
        return std::nullopt;
    return pictures;
}

} // namespace vb
