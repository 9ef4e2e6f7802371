#pragma once

#include <string_view>

namespace vb {

// The catalogue's patterns in their order: "*.bmp", "*.jpg", "*.jpeg", "*.gif", then, with
// `allPictureTypes`, "*.png", "*.webp", "*.tif", "*.tiff", "*.heic", "*.heif", "*.avif". Returns
// the index of the pattern a file name matches (letter case does not count), or -1.
int PicturePatternIndex(std::string_view name, bool allPictureTypes = false);

// How many patterns there are with all picture types.
inline constexpr int PicturePatternCount = 11;

} // namespace vb
