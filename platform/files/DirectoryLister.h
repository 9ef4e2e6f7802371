#pragma once

#include <QString>
#include <QtGlobal>
#include <compare>
#include <functional>
#include <optional>
#include <string_view>

namespace vb {

// Which folder a path leads to, whatever links it goes through: its device and inode.
struct FolderId
{
    quint64 device = 0;
    quint64 inode = 0;
    auto operator<=>(const FolderId&) const = default;
};

// Lists the ordinary files directly inside one folder, in the order in which the file system
// returns them. Ordinary files are regular files and links that resolve to one; folders,
// hidden names (a leading "."), devices, sockets, pipes and broken links are left out.
//
// `wanted` sees each candidate name first, so a lister need not look at the type of an entry
// the caller does not want; `found` receives the wanted ordinary files.
//
// A folder that does not exist, or is no folder, lists nothing. A folder that exists but cannot
// be read throws RuntimeError, after `found` has received the names read before the failure.
class DirectoryLister
{
public:
    using Wanted = std::function<bool(std::string_view name)>;
    using Found = std::function<void(std::string_view name)>;
    using FoundFolder = std::function<void(std::string_view name, FolderId id)>;

    virtual ~DirectoryLister() = default;
    virtual void List(const QString& folder, const Wanted& wanted, const Found& found) const = 0;

    // The same files, and in the same pass the folder's visible subfolders (links to a folder
    // included, broken links not), each with the folder it leads to, in the listing's order among
    // the files. Returns the listed folder's own id (all zero where the lister does not know it);
    // none when it does not exist. A lister that knows no subfolders reports none.
    virtual std::optional<FolderId> ListWithSubfolders(const QString& folder, const Wanted& wanted,
                                                       const Found& found, const FoundFolder& subfolder) const
    {
        (void)subfolder;
        List(folder, wanted, found);
        return FolderId{};
    }
};

// One pass of getdents64 over the folder, a large buffer at a time. The entry type comes from the
// directory itself; only links and entries of unknown type cost a stat. A subfolder's id is the
// folder's device and the inode the directory gives, with no stat, on the file systems whose
// directories give the inode a stat gives (ext4, XFS, tmpfs, NFS, F2FS); elsewhere, and for a
// link, it is where a stat says it leads.
class PosixDirectoryLister final : public DirectoryLister
{
public:
    void List(const QString& folder, const Wanted& wanted, const Found& found) const override;
    std::optional<FolderId> ListWithSubfolders(const QString& folder, const Wanted& wanted,
                                               const Found& found,
                                               const FoundFolder& subfolder) const override;
};

} // namespace vb
