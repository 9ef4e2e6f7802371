#include "platform/files/PictureNames.h"

#include <array>
#include <cstddef>

namespace vb {

namespace {

constexpr std::array<std::string_view, PicturePatternCount> Extensions{
    ".bmp", ".jpg", ".jpeg", ".gif", ".png", ".webp", ".tif", ".tiff", ".heic", ".heif", ".avif"};
// The first four are the program's own; the rest come with AllPictureTypes.
constexpr size_t OwnPatterns = 4;

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

} // namespace vb
