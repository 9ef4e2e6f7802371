#pragma once

#include <QString>
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

} // namespace vb
