#pragma once

#include "platform/files/DirectoryLister.h"
#include "platform/files/PictureNames.h"
#include "platform/runtime/RuntimeError.h"
#include "state/PathList.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

namespace vb {

// What a catalogue looks for: IncludeSubfolders and AllPictureTypes as they are when it is built.
struct CatalogueOptions
{
    bool includeSubfolders = false;
    bool allPictureTypes = false;
    static CatalogueOptions Current();
};

// One folder, read once: its pictures pattern by pattern (within a pattern in the folder's own
// order) and, when subfolders are included, its visible subfolders in the listing's order. The
// pictures are the folder's text and the names as the file system gave them, the form they keep
// in PictureList.
struct FolderReading
{
    PathList pictures;
    std::vector<std::pair<QString, FolderId>> subfolders; // folder texts ending in "/"
    std::optional<FolderId> id;                           // none: the folder does not exist
    // A listing that failed part-way: `pictures` holds what the first of one listing per pattern
    // would have found before the failure, and there are no subfolders.
    std::optional<RuntimeError> error;
};

// `folder` ends in "/".
FolderReading ReadFolder(const QString& folder, const DirectoryLister& lister, CatalogueOptions options);

// The order of a walk through a chosen folder's tree, kept apart from the reading of each folder:
// a folder's own pictures come before its subfolders', the subfolders in the order their folder
// lists them, each with its whole tree. The folders may be read in any order and their readings
// handed in as they come, by several readers at once; the pictures are handed out in walk order
// as soon as everything before them is read.
//
// No folder is entered twice (the same device and inode, as its folder's listing gives them and
// as its own listing gives them, which differ at a mount point), so a link that leads back up
// ends there. Of two ways to one folder the one a one-at-a-time walk takes is taken, whatever the
// order the readings come in: that walk reads the folders in walk order and enters a folder's
// subfolders when it reads it, so a folder's subfolders are entered here when everything before
// it in walk order is settled. A subfolder is read ahead of that, unless another way to it has
// been seen; where it turns out to be a second way, its reading and what was read below it are
// dropped. A subfolder that cannot be read is skipped and noted; the chosen folder's own failure
// ends the walk (RootError).
class FolderTreeWalk
{
public:
    // `root` ends in "/".
    explicit FolderTreeWalk(QString root);

    struct Pending
    {
        int node;
        QString folder;
    };
    // A folder to read next, taken off the list of those waiting; none while none waits. The
    // subfolders of the folder read last come first, so that a single reader reads in walk order.
    std::optional<Pending> TakeNext();
    // How many folders wait to be read.
    size_t Waiting() const { return m_waiting.size(); }
    void Deliver(int node, FolderReading reading);
    // Every folder of the walk has been read and settled.
    bool Finished() const { return m_cursor.empty(); }
    // The first folder in walk order not read yet, which holds up the rest; empty when finished.
    QString Awaited() const;

    // The pictures whose place in the walk is settled, each handed out once.
    PathList TakeSettled() { return std::exchange(m_settled, PathList()); }
    // Of the subfolders settled so far: how many were skipped, and the error of the first.
    int Skipped() const { return m_skipped; }
    const std::optional<RuntimeError>& FirstSkipped() const { return m_firstSkipped; }
    const std::optional<RuntimeError>& RootError() const { return m_rootError; }

private:
    struct Node
    {
        QString folder;
        bool read = false;
        bool dropped = false;       // read ahead, and found to be a second way to a folder
        FolderId claimed;           // the id its folder's listing gave it
        std::optional<FolderId> id; // the id its own listing gave, where that listing knows it
        PathList pictures;
        // From its reading until it is settled: the subfolders it lists, and the node read ahead
        // for each (-1: none, another way to it had been seen).
        std::vector<std::pair<QString, FolderId>> subfolders;
        std::vector<int> ahead;
        std::vector<int> children; // the subfolders entered, in order
        std::optional<RuntimeError> error;
    };
    int NewNode(QString folder, FolderId claimed = {});
    void Drop(int node);
    // Moves the cursor through what is read, entering subfolders and handing out pictures.
    void Settle();

    static constexpr size_t MaxWalkFolders = 1 << 20;
    static constexpr qsizetype MaxWalkNames = qsizetype(1) << 25;
    static constexpr qsizetype MaxWalkPath = 4096;
    std::vector<Node> m_nodes;
    std::vector<int> m_waiting;
    qsizetype m_names = 0;
    std::set<FolderId> m_entered;
    std::set<FolderId> m_seen; // entered, or read ahead
    std::optional<FolderId> m_rootId;
    // Where settling stopped: the path from the root, each node with the next child to visit
    // (-1: not settled yet).
    std::vector<std::pair<int, int>> m_cursor;
    PathList m_settled;
    int m_skipped = 0;
    std::optional<RuntimeError> m_firstSkipped;
    std::optional<RuntimeError> m_rootError;
};

// `AddPicturesFromFolder`: appends to PictureList the full path of every picture file inside
// `folder`, directly inside it or, with IncludeSubfolders, anywhere in its tree (FolderTreeWalk):
// folder text with a "/" ensured at its end, then the path below it as listed. The options are
// taken as they are at the call.
//
// Each folder is read once; sorting the names into the patterns as they come gives the same
// order as one listing per pattern would. When the chosen folder's listing fails part-way, the
// names the first of those listings would have appended before the failure are appended and the
// RuntimeError is rethrown. A folder that does not exist adds nothing and raises nothing. A
// subfolder that cannot be read is skipped and counted for EndCatalogue.
void AddPicturesFromFolder(QString folder, const DirectoryLister& lister);

// How long start-up and the dialog's OK wait for one folder's listing.
inline constexpr std::chrono::milliseconds ListingDeadline{2000};
// How many folders a walk reads at once.
inline constexpr int WalkThreads = 8;

// A folder whose listing did not answer in time.
class ListingTimedOut final : public RuntimeError
{
public:
    ListingTimedOut(const QString& folder, std::chrono::milliseconds deadline);
};

// Both builders of the catalogue begin with this: FolderList and PictureList replaced by new,
// empty lists, and no subfolder skipped yet.
void StartCatalogue();

// And end with this: one warning line, if any subfolder could not be read during the build,
// with how many and the first of them. `whenComplete` runs on the application's thread once the
// build is complete: at once when no folder timed out, else when the last walk that went on
// late has ended; never when another catalogue has been started or this one abandoned since.
void EndCatalogue(std::function<void()> whenComplete = {});

// Drops the catalogue under way: what its walks still find, and its `whenComplete`.
void AbandonCatalogue();

// What AddPicturesFromFolderWithin throws when its progress callback asks it to stop.
struct CatalogueCancelled
{
};

// Called on the caller's thread while AddPicturesFromFolderWithin waits, about every 100 ms, with
// the number of folders the walk has read so far; false stops the walk and abandons the
// catalogue.
using WalkProgress = std::function<bool(quint64 foldersRead)>;

// AddPicturesFromFolder with the walk on threads of their own, up to WalkThreads folders read at
// once (a share answers each listing late, but many at a time), with the same pictures in the
// same order; waited for as long as some listing answers within `deadline` of the last: a folder
// on a share that stopped answering cannot hold up the program. When the chosen folder has not answered by
// then, ListingTimedOut is thrown and nothing is added yet; when a subfolder stalls, the pictures before it
// in walk order are added and ListingTimedOut names the subfolder. The rest is appended to PictureList on the
// application's thread as the walk goes on, provided the catalogue it was started for has not
// been replaced since. `lister` must outlive the process's event loop.
void AddPicturesFromFolderWithin(const QString& folder, const DirectoryLister& lister,
                                 std::chrono::milliseconds deadline, const WalkProgress& progress = {});

struct Walking;

// AddPicturesFromFolderWithin in two steps, so that the walks of all chosen folders run at once
// and a stalled folder's deadline runs while the others are read: the walk starts at
// construction, and AddPicturesWithin waits for it as AddPicturesFromFolderWithin does, its
// deadline counted from the walk's last answer or its start. Walks are waited for in the order
// of the chosen folders, so the list keeps that order. Up to WalkThreads walks start ahead; the
// rest start when waited for. A walk destroyed without being waited for stops reading. Window
// thread only.
class FolderWalk
{
public:
    FolderWalk(const QString& folder, const DirectoryLister& lister);
    ~FolderWalk();
    FolderWalk(FolderWalk&& other) noexcept;
    FolderWalk& operator=(FolderWalk&&) = delete;

    void AddPicturesWithin(std::chrono::milliseconds deadline, const WalkProgress& progress = {});

private:
    void Start();

    QString m_folder;
    const DirectoryLister& m_lister;
    std::shared_ptr<Walking> m_walking;
    bool m_ahead = false; // started at construction and not waited for yet
};

// A catalogue of `folders` made aside, while the show goes on from another list.
struct CatalogueRebuild
{
    PathList pictures;
    // Per chosen folder: the error that ended its walk, if any.
    std::vector<std::optional<RuntimeError>> errors;
};

// Walks each of `folders` in turn, with the options as they are at the call, on a thread of its
// own at the lowest priority and without any deadline, leaving PictureList alone. Then runs
// `onThread` there (for work the window thread need not wait for), writes the warning line of
// the skipped subfolders, and hands the result to `done` on the application's thread, provided
// no other catalogue has been started since. `lister` must outlive the process's event loop.
void RebuildCatalogueInBackground(const QStringList& folders, const DirectoryLister& lister,
                                  std::function<void(const CatalogueRebuild&)> onThread,
                                  std::function<void(CatalogueRebuild)> done);

} // namespace vb
