#include "settings/PictureCatalogue.h"

#include "platform/files/DirectoryLister.h"
#include "platform/files/FileNames.h"
#include "platform/runtime/DetachedThread.h"
#include "platform/runtime/RuntimeError.h"
#include "state/ModuleState.h"

#include <QCoreApplication>
#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>

namespace vb {

namespace {

// Counts the catalogues built, so that a listing that answers late joins only its own.
std::atomic<quint64> s_catalogue{0};

bool EndsWithNoCase(std::string_view name, std::string_view suffix)
{
    if (name.size() < suffix.size())
        return false;
    const std::string_view tail = name.substr(name.size() - suffix.size());
    for (size_t i = 0; i < suffix.size(); ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != suffix[i])
            return false;
    }
    return true;
}

} // namespace

int PicturePatternIndex(std::string_view name)
{
    static constexpr std::array<std::string_view, 4> Extensions{".bmp", ".jpg", ".jpeg", ".gif"};
    for (size_t i = 0; i < Extensions.size(); ++i) {
        if (EndsWithNoCase(name, Extensions[i]))
            return int(i);
    }
    return -1;
}

QStringList PicturesInFolder(QString folder, const DirectoryLister& lister,
                             std::optional<RuntimeError>& error)
{
    if (!folder.endsWith(u'/'))
        folder += u'/';

    std::array<QStringList, 4> byPattern;
    try {
        lister.List(
            folder, [](std::string_view name) { return PicturePatternIndex(name) >= 0; },
            [&](std::string_view name) {
                const QString path =
                    folder + DecodeFileName(QByteArrayView(name.data(), qsizetype(name.size())));
                byPattern[size_t(PicturePatternIndex(name))].append(path);
            });
    } catch (const RuntimeError& e) {
        // Four listings in a row would have failed at the same entry during the first one.
        error = e;
        return byPattern[0];
    }
    QStringList pictures;
    for (const QStringList& pattern : byPattern)
        pictures += pattern;
    return pictures;
}

void AddPicturesFromFolder(QString folder, const DirectoryLister& lister)
{
    std::optional<RuntimeError> error;
    PictureList += PicturesInFolder(std::move(folder), lister, error);
    if (error)
        throw *error;
}

ListingTimedOut::ListingTimedOut(const QString& folder, std::chrono::milliseconds deadline)
    : RuntimeError(ErrorCode::DeviceIO, QStringLiteral("folder \"%1\" did not answer within %2 s")
                                            .arg(folder)
                                            .arg(double(deadline.count()) / 1000.0))
{
}

void StartCatalogue()
{
    ++s_catalogue;
    FolderList = QStringList();
    PictureList = QStringList();
}

void AddPicturesFromFolderWithin(const QString& folder, const DirectoryLister& lister,
                                 std::chrono::milliseconds deadline)
{
    struct Listing
    {
        std::mutex mutex;
        std::condition_variable answered;
        bool done = false;
        bool late = false;
        QStringList pictures;
        std::optional<RuntimeError> error;
    };
    auto listing = std::make_shared<Listing>();
    const quint64 catalogue = s_catalogue;
    try {
        StartDetachedThread([listing, folder, &lister, catalogue] {
            std::optional<RuntimeError> error;
            QStringList pictures = PicturesInFolder(folder, lister, error);
            std::unique_lock lock(listing->mutex);
            if (!listing->late) {
                listing->pictures = std::move(pictures);
                listing->error = std::move(error);
                listing->done = true;
                listing->answered.notify_one();
                return;
            }
            lock.unlock();
            // The caller has gone on without this folder; its pictures join the show now.
            if (QCoreApplication* app = QCoreApplication::instance())
                QMetaObject::invokeMethod(
                    app,
                    [catalogue, pictures = std::move(pictures)] {
                        if (catalogue == s_catalogue)
                            PictureList += pictures;
                    },
                    Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        // No thread to be had: list here, without a deadline.
        AddPicturesFromFolder(folder, lister);
        return;
    }

    std::unique_lock lock(listing->mutex);
    if (!listing->answered.wait_for(lock, deadline, [&] { return listing->done; })) {
        listing->late = true;
        throw ListingTimedOut(folder, deadline);
    }
    PictureList += listing->pictures;
    if (listing->error)
        throw *listing->error;
}

} // namespace vb
