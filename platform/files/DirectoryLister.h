#pragma once

#include <QString>
#include <functional>
#include <string_view>

namespace vb {

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

    virtual ~DirectoryLister() = default;
    virtual void List(const QString& folder, const Wanted& wanted, const Found& found) const = 0;
};

// One pass of readdir(3) over the folder. The entry type comes from the directory itself; only
// links and entries of unknown type cost a stat.
class PosixDirectoryLister final : public DirectoryLister
{
public:
    void List(const QString& folder, const Wanted& wanted, const Found& found) const override;
};

} // namespace vb
