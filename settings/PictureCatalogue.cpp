#include "settings/PictureCatalogue.h"

#include "platform/files/DirectoryLister.h"
#include "platform/files/FileNames.h"
#include "platform/runtime/DetachedThread.h"
#include "platform/runtime/ErrorReport.h"
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

constexpr std::array<std::string_view, 11> Extensions{".bmp", ".jpg",  ".jpeg", ".gif",  ".png", ".webp",
                                                      ".tif", ".tiff", ".heic", ".heif", ".avif"};
// The first four are the program's own; the rest come with AllPictureTypes.
constexpr size_t OwnPatterns = 4;

// Counts the catalogues built, so that a listing that answers late joins only its own.
std::atomic<quint64> s_catalogue{0};

// The subfolders skipped during the build under way; only the window thread touches these.
int s_skipped = 0;
std::optional<RuntimeError> s_firstSkipped;
// The build's walks that went on late and have not ended yet, whether EndCatalogue has run, and
// what runs once both are so.
int s_late = 0;
bool s_ended = false;
std::function<void()> s_whenComplete;

// How often a waiting caller hears of the walk's progress.
constexpr std::chrono::milliseconds ProgressEvery{100};

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

QString FolderText(QString folder)
{
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder;
}

void NoteSkipped(const FolderTreeWalk& walk)
{
    if (walk.Skipped() > 0 && s_skipped == 0)
        s_firstSkipped = walk.FirstSkipped();
    s_skipped += walk.Skipped();
}

void WriteSkippedWarning(int skipped, const std::optional<RuntimeError>& first)
{
    if (skipped == 0 || !first)
        return;
    if (skipped == 1)
        WriteWarning(QStringLiteral("skipped 1 subfolder that could not be read: %1").arg(first->cause()));
    else
        WriteWarning(QStringLiteral("skipped %1 subfolders that could not be read, the first: %2")
                         .arg(skipped)
                         .arg(first->cause()));
}

void CompleteIfDone()
{
    if (s_ended && s_late == 0 && s_whenComplete)
        std::exchange(s_whenComplete, {})();
}

// A whole tree read on the calling thread.
FolderTreeWalk WalkTree(const QString& folder, const DirectoryLister& lister, CatalogueOptions options)
{
    FolderTreeWalk walk(FolderText(folder));
    while (const std::optional<FolderTreeWalk::Pending> next = walk.TakeNext())
        walk.Deliver(next->node, ReadFolder(next->folder, lister, options));
    return walk;
}

void PostToApplication(std::function<void()> work)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

} // namespace

int PicturePatternIndex(std::string_view name, bool allPictureTypes)
{
    const size_t patterns = allPictureTypes ? Extensions.size() : OwnPatterns;
    for (size_t i = 0; i < patterns; ++i) {
        if (EndsWithNoCase(name, Extensions[i]))
            return int(i);
    }
    return -1;
}

CatalogueOptions CatalogueOptions::Current()
{
    return {IncludeSubfolders != 0, AllPictureTypes != 0};
}

FolderReading ReadFolder(const QString& folder, const DirectoryLister& lister, CatalogueOptions options)
{
    FolderReading reading;
    std::array<QStringList, Extensions.size()> byPattern;
    const auto wanted = [all = options.allPictureTypes](std::string_view name) {
        return PicturePatternIndex(name, all) >= 0;
    };
    const auto found = [&](std::string_view name) {
        const QString path = folder + DecodeFileName(QByteArrayView(name.data(), qsizetype(name.size())));
        byPattern[size_t(PicturePatternIndex(name, options.allPictureTypes))].append(path);
    };
    try {
        if (options.includeSubfolders) {
            reading.id =
                lister.ListWithSubfolders(folder, wanted, found, [&](std::string_view name, FolderId id) {
                    reading.subfolders.emplace_back(
                        folder + DecodeFileName(QByteArrayView(name.data(), qsizetype(name.size()))) + u'/',
                        id);
                });
        } else {
            lister.List(folder, wanted, found);
        }
    } catch (const RuntimeError& e) {
        // One listing per pattern would have failed at the same entry during the first one.
        reading.error = e;
        reading.pictures = byPattern[0];
        reading.subfolders.clear();
        return reading;
    }
    for (const QStringList& pattern : byPattern)
        reading.pictures += pattern;
    return reading;
}

FolderTreeWalk::FolderTreeWalk(QString root)
{
    m_nodes.emplace_back().folder = std::move(root);
    m_waiting.push_back(0);
    m_cursor.push_back({0, -1});
}

std::optional<FolderTreeWalk::Pending> FolderTreeWalk::TakeNext()
{
    if (m_waiting.empty())
        return std::nullopt;
    const int node = m_waiting.back();
    m_waiting.pop_back();
    return Pending{node, m_nodes[size_t(node)].folder};
}

void FolderTreeWalk::Deliver(int node, FolderReading reading)
{
    --m_unread;
    m_nodes[size_t(node)].read = true;
    if (reading.error && node != 0) {
        // Skipped whole, also what it listed before the failure.
        m_nodes[size_t(node)].error = std::move(reading.error);
        return;
    }
    m_nodes[size_t(node)].pictures = std::move(reading.pictures);
    if (reading.error) {
        m_rootError = std::move(reading.error);
        return;
    }
    if (node == 0 && reading.id)
        m_entered.insert(*reading.id);
    std::vector<int> children;
    for (auto& [folder, id] : reading.subfolders) {
        if (!m_entered.insert(id).second)
            continue;
        children.push_back(int(m_nodes.size()));
        m_nodes.emplace_back().folder = std::move(folder);
    }
    m_unread += int(children.size());
    m_waiting.insert(m_waiting.end(), children.rbegin(), children.rend());
    m_nodes[size_t(node)].children = std::move(children);
}

QStringList FolderTreeWalk::TakeSettled()
{
    QStringList settled;
    while (!m_cursor.empty()) {
        auto& [node, next] = m_cursor.back();
        Node& at = m_nodes[size_t(node)];
        if (!at.read)
            break;
        if (next < 0) {
            settled += std::exchange(at.pictures, QStringList());
            if (at.error) {
                if (m_skipped++ == 0)
                    m_firstSkipped = at.error;
            }
            next = 0;
        }
        if (size_t(next) < at.children.size()) {
            const int child = at.children[size_t(next++)];
            m_cursor.push_back({child, -1});
        } else {
            m_cursor.pop_back();
        }
    }
    return settled;
}

void AddPicturesFromFolder(QString folder, const DirectoryLister& lister)
{
    FolderTreeWalk walk = WalkTree(folder, lister, CatalogueOptions::Current());
    PictureList += walk.TakeSettled();
    NoteSkipped(walk);
    if (walk.RootError())
        throw *walk.RootError();
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
    s_skipped = 0;
    s_firstSkipped.reset();
    s_late = 0;
    s_ended = false;
    s_whenComplete = {};
}

void EndCatalogue(std::function<void()> whenComplete)
{
    WriteSkippedWarning(s_skipped, s_firstSkipped);
    s_ended = true;
    s_whenComplete = std::move(whenComplete);
    CompleteIfDone();
}

void AbandonCatalogue()
{
    ++s_catalogue;
    s_late = 0;
    s_whenComplete = {};
}

void AddPicturesFromFolderWithin(const QString& folder, const DirectoryLister& lister,
                                 std::chrono::milliseconds deadline, const WalkProgress& progress)
{
    // Shared by the caller and the walking thread, under the mutex.
    struct Walking
    {
        explicit Walking(QString root) : walk(std::move(root)) {}
        std::mutex mutex;
        std::condition_variable progressed;
        FolderTreeWalk walk;
        QString reading; // the folder being read
        quint64 reads = 0;
        bool late = false; // the caller has gone on without the rest
        bool stop = false; // nobody wants the rest
    };
    auto walking = std::make_shared<Walking>(FolderText(folder));
    const CatalogueOptions options = CatalogueOptions::Current();
    const quint64 catalogue = s_catalogue;
    try {
        StartDetachedThread([walking, &lister, options, catalogue] {
            std::unique_lock lock(walking->mutex);
            while (const std::optional<FolderTreeWalk::Pending> next = walking->walk.TakeNext()) {
                walking->reading = next->folder;
                lock.unlock();
                FolderReading reading = ReadFolder(next->folder, lister, options);
                lock.lock();
                walking->walk.Deliver(next->node, std::move(reading));
                ++walking->reads;
                if (walking->stop)
                    return;
                if (!walking->late) {
                    walking->progressed.notify_one();
                    continue;
                }
                // The caller has gone on without this part of the tree; it joins the show now.
                QStringList settled = walking->walk.TakeSettled();
                if (settled.isEmpty())
                    continue;
                PostToApplication([catalogue, settled = std::move(settled)] {
                    if (catalogue == s_catalogue)
                        PictureList += settled;
                });
            }
            if (walking->late) {
                PostToApplication([catalogue] {
                    if (catalogue != s_catalogue)
                        return;
                    --s_late;
                    CompleteIfDone();
                });
            }
        });
    } catch (const std::system_error&) {
        // No thread to be had: walk here, without a deadline.
        AddPicturesFromFolder(folder, lister);
        return;
    }

    using Clock = std::chrono::steady_clock;
    std::unique_lock lock(walking->mutex);
    Clock::time_point lastRead = Clock::now();
    Clock::time_point lastReport = lastRead;
    for (quint64 seen = 0;;) {
        const Clock::duration left = lastRead + deadline - Clock::now();
        const Clock::duration slice = progress ? std::min<Clock::duration>(left, ProgressEvery) : left;
        if (walking->progressed.wait_for(lock, std::max(slice, Clock::duration::zero()),
                                         [&] { return walking->reads != seen; })) {
            seen = walking->reads;
            lastRead = Clock::now();
            PictureList += walking->walk.TakeSettled();
            if (walking->walk.Finished())
                break;
        } else if (Clock::now() - lastRead >= deadline) {
            walking->late = true;
            ++s_late;
            PictureList += walking->walk.TakeSettled();
            NoteSkipped(walking->walk);
            // The chosen folder as given; a subfolder without the "/" the walk gave it.
            throw ListingTimedOut(seen == 0 ? folder : walking->reading.chopped(1), deadline);
        }
        if (progress && Clock::now() - lastReport >= ProgressEvery) {
            lock.unlock();
            const bool goOn = progress(seen);
            lock.lock();
            lastReport = Clock::now();
            if (!goOn) {
                walking->stop = true;
                AbandonCatalogue();
                throw CatalogueCancelled{};
            }
        }
    }
    NoteSkipped(walking->walk);
    if (walking->walk.RootError())
        throw *walking->walk.RootError();
}

void RebuildCatalogueInBackground(const QStringList& folders, const DirectoryLister& lister,
                                  std::function<void(const CatalogueRebuild&)> onThread,
                                  std::function<void(CatalogueRebuild)> done)
{
    const CatalogueOptions options = CatalogueOptions::Current();
    const quint64 catalogue = s_catalogue;
    const auto work = [folders, &lister, options, catalogue, onThread = std::move(onThread),
                       done = std::move(done)] {
        // Nobody waits for this walk: the show already runs from another list.
        LowerThisThreadPriority();
        auto rebuild = std::make_shared<CatalogueRebuild>();
        int skipped = 0;
        std::optional<RuntimeError> firstSkipped;
        for (const QString& folder : folders) {
            FolderTreeWalk walk = WalkTree(folder, lister, options);
            rebuild->pictures += walk.TakeSettled();
            rebuild->errors.push_back(walk.RootError());
            if (walk.Skipped() > 0 && skipped == 0)
                firstSkipped = walk.FirstSkipped();
            skipped += walk.Skipped();
            if (catalogue != s_catalogue)
                return; // replaced meanwhile: the rest is not worth reading
        }
        if (onThread)
            onThread(*rebuild);
        PostToApplication([catalogue, rebuild, skipped, firstSkipped, done] {
            if (catalogue != s_catalogue)
                return;
            WriteSkippedWarning(skipped, firstSkipped);
            done(std::move(*rebuild));
        });
    };
    try {
        StartDetachedThread(work);
    } catch (const std::system_error&) {
        // No thread to be had: the show goes on from the list it has.
    }
}

} // namespace vb
