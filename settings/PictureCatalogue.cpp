#include "settings/PictureCatalogue.h"

#include "platform/files/DirectoryLister.h"
#include "platform/files/FileNames.h"
#include "platform/files/PictureNames.h"
#include "platform/runtime/DetachedThread.h"
#include "platform/runtime/ErrorReport.h"
#include "platform/runtime/MainThreadPost.h"
#include "platform/runtime/RuntimeError.h"
#include "state/ModuleState.h"

#include <QCoreApplication>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <system_error>

namespace vb {

namespace {

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

} // namespace

CatalogueOptions CatalogueOptions::Current()
{
    return {IncludeSubfolders != 0, AllPictureTypes != 0};
}

namespace {

// The wanted names of one folder in the listing's order, each with its pattern, handed over as a
// list that holds them pattern by pattern, as one listing per pattern would find them. The names
// go into the list's own buffers: where the listing already gave them in pattern order (a folder
// of JPEGs alone), as they are; otherwise sorted in one pass into buffers of their final size.
// Each name is copied at most twice; appending entry by entry, one pass per
// pattern, grew a second pair of buffers as large as the first and walked the names eleven times.
class FolderNames
{
public:
    void Add(std::string_view name, int pattern)
    {
        // Offsets are 32 bits: 4 GB of names, far beyond any catalogue's.
        if (size_t(m_names.size()) + name.size() > std::numeric_limits<quint32>::max())
            throw std::length_error("too many picture names");
        m_names.append(name.data(), qsizetype(name.size()));
        // The folder field holds the pattern until Take.
        m_found.push_back(PathList::Entry{quint32(pattern), quint32(m_names.size())});
        m_inOrder = m_inOrder && quint32(pattern) >= m_last;
        m_last = quint32(pattern);
        ++m_count[size_t(pattern)];
        m_bytes[size_t(pattern)] += name.size();
    }

    // The names of the first `patterns` patterns, in `folder`.
    PathList Take(const QString& folder, int patterns) &&
    {
        if (!m_inOrder || m_last >= quint32(patterns))
            Sort(size_t(patterns));
        for (PathList::Entry& entry : m_found)
            entry.folder = 0;
        return PathList::FromParts({folder}, std::move(m_found), std::move(m_names)).value_or(PathList());
    }

private:
    // A counting sort by pattern, stable, dropping the names of patterns beyond `patterns`.
    void Sort(size_t patterns)
    {
        std::array<size_t, PicturePatternCount> entryAt{}, byteAt{};
        for (size_t p = 1; p < patterns; ++p) {
            entryAt[p] = entryAt[p - 1] + m_count[p - 1];
            byteAt[p] = byteAt[p - 1] + m_bytes[p - 1];
        }
        const size_t entries = entryAt[patterns - 1] + m_count[patterns - 1];
        QByteArray names(qsizetype(byteAt[patterns - 1] + m_bytes[patterns - 1]), Qt::Uninitialized);
        std::vector<PathList::Entry> found(entries);
        quint32 begin = 0;
        for (const PathList::Entry& entry : m_found) {
            const size_t p = entry.folder;
            const quint32 length = entry.nameEnd - begin;
            if (p < patterns) {
                std::memcpy(names.data() + byteAt[p], m_names.constData() + begin, length);
                byteAt[p] += length;
                found[entryAt[p]++] = PathList::Entry{quint32(p), quint32(byteAt[p])};
            }
            begin = entry.nameEnd;
        }
        m_names = std::move(names);
        m_found = std::move(found);
    }

    QByteArray m_names;
    std::vector<PathList::Entry> m_found;
    std::array<size_t, PicturePatternCount> m_count{}, m_bytes{};
    quint32 m_last = 0;
    bool m_inOrder = true;
};

} // namespace

FolderReading ReadFolder(const QString& folder, const DirectoryLister& lister, CatalogueOptions options)
{
    FolderReading reading;
    FolderNames names;
    const auto wanted = [all = options.allPictureTypes](std::string_view name) {
        return PicturePatternIndex(name, all) >= 0;
    };
    const auto file = [&](std::string_view name) {
        if (const int pattern = PicturePatternIndex(name, options.allPictureTypes); pattern >= 0)
            names.Add(name, pattern);
    };
    try {
        if (options.includeSubfolders) {
            reading.id =
                lister.ListWithSubfolders(folder, wanted, file, [&](std::string_view name, FolderId id) {
                    reading.subfolders.emplace_back(
                        folder + DecodeFileName(QByteArrayView(name.data(), qsizetype(name.size()))) + u'/',
                        id);
                });
        } else {
            lister.List(folder, wanted, file);
        }
    } catch (const RuntimeError& e) {
        // One listing per pattern would have failed at the same entry during the first one.
        reading.error = e;
        reading.pictures = std::move(names).Take(folder, 1);
        reading.subfolders.clear();
        return reading;
    }
    reading.pictures = std::move(names).Take(folder, PicturePatternCount);
    return reading;
}

FolderTreeWalk::FolderTreeWalk(QString root)
{
    m_waiting.push_back(NewNode(std::move(root)));
    m_cursor.push_back({0, -1});
}

int FolderTreeWalk::NewNode(QString folder, FolderId claimed)
{
    Node& node = m_nodes.emplace_back();
    node.folder = std::move(folder);
    node.claimed = claimed;
    return int(m_nodes.size() - 1);
}

void FolderTreeWalk::Drop(int node)
{
    m_nodes[size_t(node)].dropped = true;
    for (const int below : m_nodes[size_t(node)].ahead)
        if (below >= 0)
            Drop(below);
}

std::optional<FolderTreeWalk::Pending> FolderTreeWalk::TakeNext()
{
    while (!m_waiting.empty()) {
        const int node = m_waiting.back();
        m_waiting.pop_back();
        if (!m_nodes[size_t(node)].dropped)
            return Pending{node, m_nodes[size_t(node)].folder};
    }
    return std::nullopt;
}

QString FolderTreeWalk::Awaited() const
{
    return m_cursor.empty() ? QString() : m_nodes[size_t(m_cursor.back().first)].folder;
}

void FolderTreeWalk::Deliver(int node, FolderReading reading)
{
    Node& at = m_nodes[size_t(node)];
    at.read = true;
    if (at.dropped)
        return;
    // A walk has an end whatever its lister reports (a helper gone wrong can claim a new folder
    // under each folder): so many folders and names at most, and no path longer than a path can
    // be. What lies beyond is left out, as an unreadable folder is.
    std::erase_if(reading.subfolders,
                  [](const auto& subfolder) { return subfolder.first.size() > MaxWalkPath; });
    const size_t room = MaxWalkFolders - std::min(MaxWalkFolders, m_nodes.size());
    if (reading.subfolders.size() > room)
        reading.subfolders.resize(room);
    m_names += reading.pictures.size();
    if (m_names > MaxWalkNames)
        reading.pictures = PathList();
    at.id = reading.id;
    if (reading.error && node != 0) {
        // Skipped whole, also what it listed before the failure.
        at.error = std::move(reading.error);
    } else {
        at.pictures = std::move(reading.pictures);
        if (reading.error) {
            m_rootError = std::move(reading.error);
        } else {
            if (node == 0 && reading.id) {
                m_rootId = reading.id;
                m_seen.insert(*reading.id);
            }
            // Each subfolder not seen yet is read ahead of its turn.
            at.subfolders = std::move(reading.subfolders);
            std::vector<int> ahead(at.subfolders.size(), -1);
            for (size_t i = 0; i < ahead.size(); ++i)
                if (m_seen.insert(m_nodes[size_t(node)].subfolders[i].second).second)
                    ahead[i] = NewNode(m_nodes[size_t(node)].subfolders[i].first,
                                       m_nodes[size_t(node)].subfolders[i].second);
            for (auto it = ahead.rbegin(); it != ahead.rend(); ++it)
                if (*it >= 0)
                    m_waiting.push_back(*it);
            m_nodes[size_t(node)].ahead = std::move(ahead);
        }
    }
    Settle();
}

void FolderTreeWalk::Settle()
{
    while (!m_cursor.empty()) {
        auto& [node, next] = m_cursor.back();
        if (!m_nodes[size_t(node)].read)
            break;
        if (next < 0) {
            Node& at = m_nodes[size_t(node)];
            // Its own listing tells another id where the way in crosses a mount point, and it may
            // be a folder entered already; then it ends there, as a link back up does.
            if (node != 0 && at.id && *at.id != FolderId{} && *at.id != at.claimed &&
                !m_entered.insert(*at.id).second) {
                at.pictures.clear();
                at.subfolders.clear();
                for (const int below : std::exchange(at.ahead, {}))
                    if (below >= 0)
                        Drop(below);
                at.error.reset();
            }
            m_settled += std::exchange(at.pictures, PathList());
            if (at.error && m_skipped++ == 0)
                m_firstSkipped = at.error;
            if (node == 0 && m_rootId)
                m_entered.insert(*m_rootId);
            // The subfolders entered as a one-at-a-time walk enters them, when it reads the folder.
            auto subfolders = std::move(at.subfolders);
            const std::vector<int> ahead = std::move(at.ahead);
            std::vector<int> children, added;
            for (size_t i = 0; i < subfolders.size(); ++i) {
                if (!m_entered.insert(subfolders[i].second).second) {
                    if (ahead[i] >= 0)
                        Drop(ahead[i]);
                    continue;
                }
                int child = ahead[i];
                if (child < 0) {
                    m_seen.insert(subfolders[i].second);
                    child = NewNode(std::move(subfolders[i].first), subfolders[i].second);
                    added.push_back(child);
                }
                children.push_back(child);
            }
            m_waiting.insert(m_waiting.end(), added.rbegin(), added.rend());
            m_nodes[size_t(node)].children = std::move(children);
            next = 0;
        }
        const Node& at = m_nodes[size_t(node)];
        if (size_t(next) < at.children.size()) {
            const int child = at.children[size_t(next++)];
            m_cursor.push_back({child, -1});
        } else {
            m_cursor.pop_back();
        }
    }
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
    PictureList = PathList();
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

// The state a walk's readers share with the caller, under the mutex.
struct Walking
{
    Walking(QString root, const DirectoryLister& lister, CatalogueOptions options, quint64 catalogue)
        : walk(std::move(root)), lister(lister), options(options), catalogue(catalogue)
    {
    }
    using Clock = std::chrono::steady_clock;
    std::mutex mutex;
    std::condition_variable progressed; // the caller waits for a reading
    std::condition_variable work;       // an idle reader waits for a folder to read
    FolderTreeWalk walk;
    const DirectoryLister& lister;
    const CatalogueOptions options;
    const quint64 catalogue;
    quint64 reads = 0;
    Clock::time_point lastAnswer = Clock::now(); // of any reader; the walk's start before
    int readers = 0;                             // running
    int idle = 0;                                // of those, waiting for work
    bool late = false;                           // the caller has gone on without the rest
    bool stop = false;                           // nobody wants the rest
};

namespace {

// Called with the mutex held.
void StopReaders(Walking& walking)
{
    walking.stop = true;
    walking.work.notify_all();
}

void StartReader(const std::shared_ptr<Walking>& walking);

// One reader: reads folders while any wait, and ends when none waits and none is being read (no
// reading can bring more). A reader in the kernel for a share that stopped answering holds
// nothing but its share of `walking`.
void Read(const std::shared_ptr<Walking>& walking)
{
    std::unique_lock lock(walking->mutex);
    for (;;) {
        if (walking->stop) {
            --walking->readers;
            return;
        }
        const std::optional<FolderTreeWalk::Pending> next = walking->walk.TakeNext();
        if (!next) {
            if (walking->idle + 1 == walking->readers) {
                --walking->readers;
                walking->work.notify_all();
                walking->progressed.notify_one();
                // The last reader of a walk the caller left behind: the build is whole now.
                if (walking->late)
                    PostToMainThread([catalogue = walking->catalogue] {
                        if (catalogue != s_catalogue)
                            return;
                        --s_late;
                        CompleteIfDone();
                    });
                return;
            }
            ++walking->idle;
            walking->work.wait(lock);
            --walking->idle;
            continue;
        }
        lock.unlock();
        FolderReading reading = ReadFolder(next->folder, walking->lister, walking->options);
        lock.lock();
        walking->walk.Deliver(next->node, std::move(reading));
        ++walking->reads;
        walking->lastAnswer = Walking::Clock::now();
        // Folders found wait for the idle readers first, then for new ones.
        const int waiting = int(walking->walk.Waiting());
        if (waiting > 0 && walking->idle > 0)
            walking->work.notify_all();
        for (int more = std::min(waiting - walking->idle, WalkThreads - walking->readers); more > 0; --more)
            StartReader(walking);
        if (!walking->late) {
            walking->progressed.notify_one();
            continue;
        }
        // The caller has gone on without this part of the tree; it joins the show now.
        PathList settled = walking->walk.TakeSettled();
        if (settled.isEmpty())
            continue;
        PostToMainThread([catalogue = walking->catalogue, settled = std::move(settled)] {
            if (catalogue == s_catalogue)
                PictureList += settled;
        });
    }
}

// Called with the mutex held. The readers there are carry on without one that cannot be had.
void StartReader(const std::shared_ptr<Walking>& walking)
{
    ++walking->readers;
    try {
        StartDetachedThread([walking] { Read(walking); });
    } catch (const std::system_error&) {
        --walking->readers;
    }
}

} // namespace

namespace {
// Walks started before anyone waits for them, on the window thread only: with a hundred chosen
// folders, a hundred walks at once would only crowd each other.
int s_walksAhead = 0;
} // namespace

FolderWalk::FolderWalk(const QString& folder, const DirectoryLister& lister)
    : m_folder(folder), m_lister(lister)
{
    if (s_walksAhead < WalkThreads) {
        ++s_walksAhead;
        m_ahead = true;
        Start();
    }
}

FolderWalk::FolderWalk(FolderWalk&& other) noexcept
    : m_folder(std::move(other.m_folder)), m_lister(other.m_lister), m_walking(std::move(other.m_walking)),
      m_ahead(std::exchange(other.m_ahead, false))
{
}

FolderWalk::~FolderWalk()
{
    // A walk nobody waited for (the caller was cancelled or failed before) is not wanted.
    if (m_ahead) {
        --s_walksAhead;
        if (m_walking) {
            const std::lock_guard lock(m_walking->mutex);
            StopReaders(*m_walking);
        }
    }
}

void FolderWalk::Start()
{
    m_walking = std::make_shared<Walking>(FolderText(m_folder), m_lister, CatalogueOptions::Current(),
                                          s_catalogue.load());
    const std::lock_guard lock(m_walking->mutex);
    // The first reader; more start as folders are found.
    StartReader(m_walking);
    if (m_walking->readers == 0)
        m_walking.reset(); // no thread to be had
}

void FolderWalk::AddPicturesWithin(std::chrono::milliseconds deadline, const WalkProgress& progress)
{
    if (std::exchange(m_ahead, false))
        --s_walksAhead;
    else
        Start();
    if (!m_walking) {
        // Walked here, without a deadline.
        AddPicturesFromFolder(m_folder, m_lister);
        return;
    }
    const std::shared_ptr<Walking>& walking = m_walking;
    std::unique_lock lock(walking->mutex);
    // Until every reader has ended: a reader ends only when nothing is left to read. The deadline
    // runs from the last answer of any reader, or from the walk's start, which may have been
    // before this call.
    using Clock = Walking::Clock;
    Clock::time_point lastReport = Clock::now();
    for (quint64 seen = 0;;) {
        const Clock::time_point& lastRead = walking->lastAnswer;
        const Clock::duration left = lastRead + deadline - Clock::now();
        const Clock::duration slice = progress ? std::min<Clock::duration>(left, ProgressEvery) : left;
        const bool answered =
            walking->progressed.wait_for(lock, std::max(slice, Clock::duration::zero()),
                                         [&] { return walking->reads != seen || walking->readers == 0; });
        PictureList += walking->walk.TakeSettled();
        if (walking->readers == 0)
            break;
        if (answered) {
            seen = walking->reads;
        } else if (Clock::now() - lastRead >= deadline) {
            walking->late = true;
            // What still reads is a second way to a folder, whose reading would be dropped.
            if (walking->walk.Finished()) {
                StopReaders(*walking);
                break;
            }
            ++s_late;
            NoteSkipped(walking->walk);
            // The chosen folder as given; a subfolder without the "/" the walk gave it.
            throw ListingTimedOut(walking->reads == 0 ? m_folder : walking->walk.Awaited().chopped(1),
                                  deadline);
        }
        if (progress && Clock::now() - lastReport >= ProgressEvery) {
            lock.unlock();
            const bool goOn = progress(seen);
            lock.lock();
            lastReport = Clock::now();
            if (!goOn) {
                StopReaders(*walking);
                AbandonCatalogue();
                throw CatalogueCancelled{};
            }
        }
    }
    NoteSkipped(walking->walk);
    if (walking->walk.RootError())
        throw *walking->walk.RootError();
}

void AddPicturesFromFolderWithin(const QString& folder, const DirectoryLister& lister,
                                 std::chrono::milliseconds deadline, const WalkProgress& progress)
{
    FolderWalk(folder, lister).AddPicturesWithin(deadline, progress);
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
        // Handed over whole: this thread keeps nothing of the list once the window thread may
        // take it.
        PostToMainThread([catalogue, rebuild = std::move(rebuild), skipped, firstSkipped, done] {
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
