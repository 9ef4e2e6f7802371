#include "settings/SettingsStore.h"

#include "platform/files/FileLock.h"
#include "platform/files/FileNames.h"
#include "platform/files/RegularFile.h"
#include "platform/files/UserFolders.h"
#include "platform/runtime/DetachedThread.h"
#include "platform/runtime/RuntimeError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <unistd.h>

namespace vb {

namespace {

// A settings file this large is not ours; refusing it keeps a mistaken path from eating memory.
constexpr qint64 MaxFileSize = 16 * 1024 * 1024;
// How long an update may take, from waiting for the lock to the file replaced.
constexpr std::chrono::milliseconds UpdateLimit{10000};

// A step of an update on a thread of its own, waited for until the update's time is up: a
// settings folder on a share that stopped answering holds that thread, never the caller. The step
// has what it uses by value (and the lock, which it lets go when it ends).
template <typename Result>
Result WithinLimit(std::function<Result()> step, std::chrono::steady_clock::time_point deadline,
                   const std::function<RuntimeError()>& late)
{
    struct Outcome
    {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<Result> result;
        std::exception_ptr error;
        bool finished = false;
    };
    auto outcome = std::make_shared<Outcome>();
    StartDetachedThread([outcome, step = std::move(step)] {
        std::optional<Result> result;
        std::exception_ptr error;
        try {
            result = step();
        } catch (...) {
            error = std::current_exception();
        }
        const std::lock_guard lock(outcome->mutex);
        outcome->result = std::move(result);
        outcome->error = error;
        outcome->finished = true;
        outcome->done.notify_all();
    });
    std::unique_lock lock(outcome->mutex);
    if (!outcome->done.wait_until(lock, deadline, [&] { return outcome->finished; }))
        throw late();
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    return std::move(*outcome->result);
}

} // namespace

SettingsStore::SettingsStore(QString filePath) : m_filePath(std::move(filePath)) {}

QString SettingsStore::DefaultFilePath()
{
    return UserConfigFolder() + QStringLiteral("/Lanternshade.ini");
}

QString SettingsStore::displayPath() const
{
    const QString home = QDir::homePath();
    if (home.size() > 1 && m_filePath.startsWith(home + u'/'))
        return u'~' + m_filePath.mid(home.size());
    return m_filePath;
}

IniDocument SettingsStore::Read(bool* present) const
{
    const auto fail = [this](ErrorCode code, const QString& why) {
        return RuntimeError(code, QStringLiteral("cannot read settings file %1: %2").arg(displayPath(), why));
    };
    // Only a regular file is read: a pipe or a device in its place would never end. A name that
    // does not exist, or a link whose target does not, means nothing is stored yet; any other
    // failure, such as a folder on the way that may not be searched, is an error.
    OpenRefusal refusal;
    const int fd = TryOpenRegularFile(m_filePath, &refusal);
    if (present)
        *present = fd >= 0;
    if (fd < 0) {
        if (refusal.missing)
            return IniDocument();
        throw fail(refusal.code, refusal.why);
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw fail(ErrorCode::PathFileAccess, file.errorString());
    }
    if (file.size() > MaxFileSize)
        throw fail(ErrorCode::PathFileAccess, QStringLiteral("larger than %1 bytes").arg(MaxFileSize));
    const QByteArray bytes = file.read(MaxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        throw fail(ErrorCode::DeviceIO, file.errorString());
    if (bytes.size() > MaxFileSize)
        throw fail(ErrorCode::PathFileAccess, QStringLiteral("larger than %1 bytes").arg(MaxFileSize));
    return IniDocument::Parse(bytes);
}

void SettingsStore::Update(const std::function<void(IniDocument&)>& edit)
{
    const auto fail = [this](ErrorCode code, const QString& why) {
        return RuntimeError(code,
                            QStringLiteral("cannot write settings file %1: %2").arg(displayPath(), why));
    };
    const QFileInfo info(m_filePath);
    if (!QDir().mkpath(info.absolutePath()))
        throw fail(ErrorCode::PathFileAccess,
                   QStringLiteral("cannot create the folder %1").arg(info.absolutePath()));

    // The lock makes the read, the edit and the replacement one step: two processes that update
    // the file at the same time each see the other's finished update, and neither loses it. The
    // whole update keeps within the lock's limit: a read or write still under way then holds the
    // lock until it ends.
    const auto deadline = std::chrono::steady_clock::now() + UpdateLimit;
    auto lock = std::make_shared<FileLock>(m_filePath + QStringLiteral(".lock"));
    ErrorCode code = ErrorCode::PathFileAccess;
    QString why;
    switch (lock->TryLock(int(UpdateLimit.count()), &code, &why)) {
    case FileLock::Result::Locked:
        break;
    case FileLock::Result::Busy:
        throw fail(ErrorCode::PathFileAccess,
                   why.isEmpty() ? QStringLiteral("another process holds its lock") : why);
    case FileLock::Result::CannotCreate:
        throw fail(code, code == ErrorCode::PermissionDenied ? QStringLiteral("cannot create its lock file")
                                                             : QStringLiteral("cannot lock it: %1").arg(why));
    }
    const auto late = [&] {
        return fail(
            ErrorCode::DeviceIO,
            QStringLiteral("its folder did not answer within %1 seconds").arg(UpdateLimit.count() / 1000));
    };

    const SettingsStore store(m_filePath);
    IniDocument doc = WithinLimit<IniDocument>([store, lock] { return store.Read(); }, deadline, late);
    edit(doc);

    const QByteArray bytes = doc.Serialize();
    const QString path = m_filePath;
    const QString failure = WithinLimit<QString>(
        [path, bytes, lock]() -> QString {
            QSaveFile file(path);
            if (!file.open(QIODevice::WriteOnly))
                return file.errorString();
            if (file.write(bytes) != bytes.size() || !file.commit())
                return file.errorString();
            return QString();
        },
        deadline, late);
    if (!failure.isEmpty())
        throw fail(ErrorCode::PathFileAccess, failure);
}

} // namespace vb
