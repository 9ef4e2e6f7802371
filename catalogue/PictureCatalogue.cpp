#include "catalogue/PictureCatalogue.h"

#include "platform/files/DirectoryLister.h"
#include "platform/files/FileNames.h"
#include "platform/files/PictureNames.h"
#include "platform/runtime/DetachedThread.h"
#include "platform/runtime/ErrorReport.h"
#include "platform/runtime/MainThreadPost.h"
#include "platform/runtime/RuntimeError.h"

#include <QCoreApplication>
#include <array>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <system_error>

namespace vb {

namespace {

// How often a waiting caller hears of the walk's progress.
constexpr std::chrono::milliseconds ProgressEvery{100};

QString FolderText(QString folder)
{
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder;
}

} // namespace

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

namespace {

// A whole tree read on the calling thread.
FolderTreeWalk WalkTree(const QString& folder, const DirectoryLister& lister, CatalogueOptions options)
{
    FolderTreeWalk walk(FolderText(folder));
    while (const std::optional<FolderTreeWalk::Pending> next = walk.TakeNext())
        walk.Deliver(next->node, ReadFolder(next->folder, lister, options));
    return walk;
}

} // namespace

void SkippedSubfolders::Note(const FolderTreeWalk& walk)
{
    if (walk.Skipped() > 0 && count == 0)
        first = walk.FirstSkipped();
    count += walk.Skipped();
}

void SkippedSubfolders::WriteWarning() const
{
    if (count == 0 || !first)
        return;
    if (count == 1)
        vb::WriteWarning(
            QStringLiteral("skipped 1 subfolder that could not be read: %1").arg(first->cause()));
    else
        vb::WriteWarning(QStringLiteral("skipped %1 subfolders that could not be read, the first: %2")
                             .arg(count)
                             .arg(first->cause()));
}

ListingTimedOut::ListingTimedOut(const QString& folder, std::chrono::milliseconds deadline)
    : RuntimeError(ErrorCode::DeviceIO, QStringLiteral("folder \"%1\" did not answer within %2 s")
                                            .arg(folder)
                                            .arg(double(deadline.count()) / 1000.0))
{
}

// The part of a build that comes after it has returned; window thread only.
struct LatePart
{
    // What came before anyone asked for it.
    PathList waiting;
    std::function<void(PathList)> pictures;
    std::function<void()> complete;
    int walks = 0; // gone on late and not ended yet
    bool asked = false;

    void Add(PathList late)
    {
        if (pictures)
            pictures(std::move(late));
        else
            waiting += late;
    }
    void CompleteIfDone()
    {
        if (asked && walks == 0 && complete)
            std::exchange(complete, {})();
    }
};

// The state a walk's readers share with the caller, under the mutex.
struct Walking
{
    Walking(QString root, const DirectoryLister& lister, CatalogueOptions options,
            std::weak_ptr<LatePart> late)
        : walk(std::move(root)), lister(lister), options(options), late(std::move(late))
    {
    }
    using Clock = std::chrono::steady_clock;
    std::mutex mutex;
    std::condition_variable progressed; // the caller waits for a reading
    std::condition_variable work;       // an idle reader waits for a folder to read
    FolderTreeWalk walk;
    const DirectoryLister& lister;
    const CatalogueOptions options;
    // Touched on the window thread only: the readers only copy it into what they post there.
    const std::weak_ptr<LatePart> late;
    quint64 reads = 0;
    Clock::time_point lastAnswer = Clock::now(); // of any reader; the walk's start before
    int readers = 0;                             // running
    int idle = 0;                                // of those, waiting for work
    bool isLate = false;                         // the caller has gone on without the rest
    bool stop = false;                           // nobody wants the rest
};

namespace {

// What a walk throws when its progress callback asks it to stop.
struct CatalogueCancelled
{
};

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
                if (walking->isLate)
                    PostToMainThread([late = walking->late] {
                        if (const std::shared_ptr<LatePart> part = late.lock()) {
                            --part->walks;
                            part->CompleteIfDone();
                        }
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
        if (!walking->isLate) {
            walking->progressed.notify_one();
            continue;
        }
        // The caller has gone on without this part of the tree; it joins the show now.
        PathList settled = walking->walk.TakeSettled();
        if (settled.isEmpty())
            continue;
        PostToMainThread([late = walking->late, settled = std::move(settled)] {
            if (const std::shared_ptr<LatePart> part = late.lock())
                part->Add(settled);
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

// One chosen folder's walk on threads of its own: it starts at construction when `ahead` (so
// that the walks of all chosen folders run at once and a stalled folder's deadline runs while the
// others are read), else when waited for. AddPicturesWithin waits for it as long as some listing
// answers within `deadline` of the last, counted from the walk's last answer or its start, and
// appends the pictures in walk order. When the chosen folder has not answered by then,
// ListingTimedOut is thrown and nothing is added yet; when a subfolder stalls, the pictures
// before it are added and ListingTimedOut names the subfolder; the rest goes to the late part.
// The chosen folder's own failure is rethrown. A walk destroyed without being waited for stops
// reading. Window thread only.
class FolderWalk
{
public:
    FolderWalk(const QString& folder, const DirectoryLister& lister, CatalogueOptions options,
               std::shared_ptr<LatePart> late, bool ahead);
    ~FolderWalk();
    FolderWalk(FolderWalk&& other) noexcept;
    FolderWalk& operator=(FolderWalk&&) = delete;

    void AddPicturesWithin(PathList& into, SkippedSubfolders& skipped, std::chrono::milliseconds deadline,
                           const std::function<bool(quint64 foldersRead)>& progress);

private:
    void Start();

    QString m_folder;
    const DirectoryLister& m_lister;
    CatalogueOptions m_options;
    std::shared_ptr<LatePart> m_late;
    std::shared_ptr<Walking> m_walking;
    bool m_ahead = false; // started at construction and not waited for yet
};

FolderWalk::FolderWalk(const QString& folder, const DirectoryLister& lister, CatalogueOptions options,
                       std::shared_ptr<LatePart> late, bool ahead)
    : m_folder(folder), m_lister(lister), m_options(options), m_late(std::move(late)), m_ahead(ahead)
{
    if (m_ahead)
        Start();
}

FolderWalk::FolderWalk(FolderWalk&& other) noexcept
    : m_folder(std::move(other.m_folder)), m_lister(other.m_lister), m_options(other.m_options),
      m_late(std::move(other.m_late)), m_walking(std::move(other.m_walking)),
      m_ahead(std::exchange(other.m_ahead, false))
{
}

FolderWalk::~FolderWalk()
{
    // A walk nobody waited for (the caller was cancelled or failed before) is not wanted.
    if (m_ahead && m_walking) {
        const std::lock_guard lock(m_walking->mutex);
        StopReaders(*m_walking);
    }
}

void FolderWalk::Start()
{
    m_walking = std::make_shared<Walking>(FolderText(m_folder), m_lister, m_options, m_late);
    const std::lock_guard lock(m_walking->mutex);
    // The first reader; more start as folders are found.
    StartReader(m_walking);
    if (m_walking->readers == 0)
        m_walking.reset(); // no thread to be had
}

void FolderWalk::AddPicturesWithin(PathList& into, SkippedSubfolders& skipped,
                                   std::chrono::milliseconds deadline,
                                   const std::function<bool(quint64 foldersRead)>& progress)
{
    if (!std::exchange(m_ahead, false))
        Start();
    if (!m_walking) {
        // Walked here, without a deadline.
        FolderTreeWalk walk = WalkTree(m_folder, m_lister, m_options);
        into += walk.TakeSettled();
        skipped.Note(walk);
        if (walk.RootError())
            throw *walk.RootError();
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
        into += walking->walk.TakeSettled();
        if (walking->readers == 0)
            break;
        if (answered) {
            seen = walking->reads;
        } else if (Clock::now() - lastRead >= deadline) {
            walking->isLate = true;
            // What still reads is a second way to a folder, whose reading would be dropped.
            if (walking->walk.Finished()) {
                StopReaders(*walking);
                break;
            }
            ++m_late->walks;
            skipped.Note(walking->walk);
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
                throw CatalogueCancelled{};
            }
        }
    }
    skipped.Note(walking->walk);
    if (walking->walk.RootError())
        throw *walking->walk.RootError();
}

} // namespace

Catalogue::Catalogue() = default;
Catalogue::~Catalogue() = default;
Catalogue::Catalogue(Catalogue&&) noexcept = default;
Catalogue& Catalogue::operator=(Catalogue&&) noexcept = default;

Catalogue::Catalogue(const CatalogueRequest& request, const DirectoryLister& lister)
{
    m_built.troubles.resize(size_t(request.folders.size()));
    if (request.deadline)
        BuildWithin(request, lister);
    else
        BuildHere(request, lister);
}

void Catalogue::BuildHere(const CatalogueRequest& request, const DirectoryLister& lister)
{
    for (qsizetype i = 0; i < request.folders.size(); ++i) {
        FolderTreeWalk walk = WalkTree(request.folders[i], lister, request.options);
        m_built.pictures += walk.TakeSettled();
        m_built.skipped.Note(walk);
        if (walk.RootError())
            m_built.troubles[size_t(i)] = FolderTrouble{*walk.RootError()};
        if (request.progress && !request.progress(quint64(i + 1), m_built.pictures.size())) {
            m_built.cancelled = true;
            return;
        }
    }
}

void Catalogue::BuildWithin(const CatalogueRequest& request, const DirectoryLister& lister)
{
    m_late = std::make_shared<LatePart>();
    // All walks at once, so that stalled folders wait out their deadline together; with a hundred
    // chosen folders, a hundred walks at once would only crowd each other.
    std::vector<FolderWalk> walks;
    walks.reserve(size_t(request.folders.size()));
    for (qsizetype i = 0; i < request.folders.size(); ++i)
        walks.emplace_back(request.folders[i], lister, request.options, m_late, i < WalkThreads);
    quint64 foldersBefore = 0;
    for (size_t i = 0; i < walks.size(); ++i) {
        quint64 foldersRead = 0;
        const auto progress = [&](quint64 read) {
            foldersRead = read;
            return request.progress(foldersBefore + read, m_built.pictures.size());
        };
        try {
            walks[i].AddPicturesWithin(m_built.pictures, m_built.skipped, *request.deadline,
                                       request.progress ? progress : std::function<bool(quint64)>());
        } catch (const ListingTimedOut& e) {
            m_built.troubles[i] = FolderTrouble{e, true};
        } catch (const RuntimeError& e) {
            m_built.troubles[i] = FolderTrouble{e};
        } catch (const CatalogueCancelled&) {
            m_built.cancelled = true;
            m_late.reset();
            return;
        }
        foldersBefore += foldersRead;
    }
}

void Catalogue::DeliverLate(std::function<void(PathList)> pictures, std::function<void()> complete)
{
    if (!m_late) {
        if (complete)
            complete();
        return;
    }
    if (pictures && !m_late->waiting.isEmpty())
        pictures(std::exchange(m_late->waiting, PathList()));
    m_late->pictures = std::move(pictures);
    m_late->complete = std::move(complete);
    m_late->asked = true;
    m_late->CompleteIfDone();
}

Catalogue Catalogue::Aside(const CatalogueRequest& request, const DirectoryLister& lister,
                           std::function<void(const CatalogueBuilt&)> onThread,
                           std::function<void(CatalogueBuilt)> done)
{
    Catalogue aside;
    aside.m_late = std::make_shared<LatePart>();
    CatalogueRequest walked = request;
    walked.deadline.reset();
    // Replaced meanwhile: the rest is not worth reading.
    walked.progress = [late = std::weak_ptr<LatePart>(aside.m_late)](quint64, qsizetype) {
        return !late.expired();
    };
    const auto work = [walked = std::move(walked), &lister, late = std::weak_ptr<LatePart>(aside.m_late),
                       onThread = std::move(onThread), done = std::move(done)] {
        // Nobody waits for this walk: the show already runs from another list.
        LowerThisThreadPriority();
        auto built = std::make_shared<CatalogueBuilt>(std::move(Catalogue(walked, lister).Built()));
        if (built->cancelled)
            return;
        if (onThread)
            onThread(*built);
        // Handed over whole: this thread keeps nothing of the list once the window thread may
        // take it.
        PostToMainThread([late, built = std::move(built), done] {
            if (late.expired())
                return;
            built->skipped.WriteWarning();
            done(std::move(*built));
        });
    };
    try {
        StartDetachedThread(work);
    } catch (const std::system_error&) {
        // No thread to be had: the show goes on from the list it has.
    }
    return aside;
}

} // namespace vb
