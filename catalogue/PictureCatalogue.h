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

// What a catalogue looks for: the options IncludeSubfolders and AllPictureTypes.
struct CatalogueOptions
{
    bool includeSubfolders = false;
    bool allPictureTypes = false;
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

// Called on the building thread while a build waits, about every 100 ms, with the folders read
// and the pictures found so far (without a deadline: after each chosen folder, with the chosen
// folders walked); false stops the build, which then holds what was found until then.
using WalkProgress = std::function<bool(quint64 foldersRead, qsizetype pictures)>;

// What a catalogue is built from.
struct CatalogueRequest
{
    QStringList folders;
    CatalogueOptions options;
    // How long a walk waits for the next answer of its folders' listings; none: each folder is
    // walked on the building thread, one after the other, as long as it takes.
    std::optional<std::chrono::milliseconds> deadline = ListingDeadline;
    WalkProgress progress;
};

// The subfolders a build skipped because they could not be read: how many, and the first.
struct SkippedSubfolders
{
    int count = 0;
    std::optional<RuntimeError> first;
    void Note(const FolderTreeWalk& walk);
    // One warning line with how many and the first of them; nothing when none was skipped.
    void WriteWarning() const;
};

// What kept one chosen folder's walk from being whole.
struct FolderTrouble
{
    RuntimeError error;
    // The error is ListingTimedOut: the walk goes on, and its pictures join late.
    bool timedOut = false;
};

// A catalogue as its build returns it.
struct CatalogueBuilt
{
    // Every picture of the chosen folders, in their order: folder text with a "/" ensured at its
    // end, then the path below it as listed. A folder whose listing failed part-way keeps what
    // the first of one listing per pattern would have found before the failure; a folder that
    // does not exist adds nothing.
    PathList pictures;
    // Per chosen folder: none, or what ended its walk early.
    std::vector<std::optional<FolderTrouble>> troubles;
    SkippedSubfolders skipped;
    // The progress callback stopped the build.
    bool cancelled = false;
};

struct LatePart;

// One build of the catalogue: the walks of the chosen folders at once, all of them waited for
// as long as some listing answers within the deadline of the last (a folder on a share that
// stopped answering cannot hold up the program), each tree on up to WalkThreads readers (a
// share answers each listing late, but many at a time). A folder that did not answer in time
// goes on being walked: its pictures join late, through the callback given to `DeliverLate`, on
// the window thread, for as long as this object lives; destroying or replacing it drops what its
// walks still find. A build with a deadline runs on the window thread; `lister` must outlive the
// process's event loop.
class Catalogue
{
public:
    // An empty catalogue, with nothing to come.
    Catalogue();
    Catalogue(const CatalogueRequest& request, const DirectoryLister& lister);
    ~Catalogue();
    Catalogue(Catalogue&&) noexcept;
    Catalogue& operator=(Catalogue&&) noexcept;

    CatalogueBuilt& Built() { return m_built; }

    // Where the pictures of folders that answered late go (what came already, at once), and what
    // runs once the build is whole: at once when nothing goes on late, else when the last late
    // walk has ended.
    void DeliverLate(std::function<void(PathList)> pictures, std::function<void()> complete);

    // A catalogue that starts from `pictures` (taken from elsewhere, such as the index) and is
    // built again aside: on a thread of its own at the lowest priority, without any deadline.
    // Then `onThread` runs there (for work the window thread need not wait for), and the new
    // catalogue goes to `done` on the window thread, its skipped subfolders' warning written,
    // provided this object still lives. `lister` must outlive the process's event loop.
    static Catalogue Aside(const CatalogueRequest& request, const DirectoryLister& lister,
                           std::function<void(const CatalogueBuilt&)> onThread,
                           std::function<void(CatalogueBuilt)> done);

private:
    void BuildHere(const CatalogueRequest& request, const DirectoryLister& lister);
    void BuildWithin(const CatalogueRequest& request, const DirectoryLister& lister);

    CatalogueBuilt m_built;
    std::shared_ptr<LatePart> m_late;
};

} // namespace vb
