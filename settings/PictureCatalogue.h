#pragma once

#include "platform/runtime/RuntimeError.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>
#include <string_view>

namespace vb {

class DirectoryLister;

// The catalogue's patterns in their order: "*.bmp", "*.jpg", "*.jpeg", "*.gif". Returns the
// index of the pattern a file name matches (letter case does not count), or -1.
int PicturePatternIndex(std::string_view name);

// `AddPicturesFromFolder`: appends to PictureList the full path of every picture file directly
// inside `folder`: folder text with a "/" ensured at its end, then the name as listed. Pictures
// come pattern by pattern, and within a pattern in the folder's own order.
//
// The folder is read once; sorting the names into the four patterns as they come gives the same
// order as four listings would. When the listing fails part-way, the names the first of those
// four listings would have appended before the failure are appended and the RuntimeError is
// rethrown. A folder that does not exist adds nothing and raises nothing.
void AddPicturesFromFolder(QString folder, const DirectoryLister& lister);

// The pictures AddPicturesFromFolder would append, returned instead; on a listing failure, those
// it would have appended before it, with the error in `error`.
QStringList PicturesInFolder(QString folder, const DirectoryLister& lister,
                             std::optional<RuntimeError>& error);

// How long start-up and the dialog's OK wait for one folder's listing.
inline constexpr std::chrono::milliseconds ListingDeadline{2000};

// A folder whose listing did not answer in time.
class ListingTimedOut final : public RuntimeError
{
public:
    ListingTimedOut(const QString& folder, std::chrono::milliseconds deadline);
};

// Both builders of the catalogue begin with this: FolderList and PictureList replaced by new,
// empty lists.
void StartCatalogue();

// AddPicturesFromFolder with the listing on a thread of its own, waited for up to `deadline`: a
// folder on a share that stopped answering cannot hold up the program. A folder that has not
// answered by then throws ListingTimedOut and adds nothing yet; should its listing end later,
// its pictures are appended to PictureList on the application's thread, provided the catalogue
// it was started for has not been replaced since. `lister` must outlive the process's event loop.
void AddPicturesFromFolderWithin(const QString& folder, const DirectoryLister& lister,
                                 std::chrono::milliseconds deadline);

} // namespace vb
