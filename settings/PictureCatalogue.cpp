#include "settings/PictureCatalogue.h"

#include "app/ModuleState.h"
#include "platform/DirectoryLister.h"
#include "platform/RuntimeError.h"

#include <QFile>
#include <array>

namespace vb {

namespace {

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

int PicturePatternIndex(std::string_view name)
{
    static constexpr std::array<std::string_view, 4> Extensions{".bmp", ".jpg", ".jpeg", ".gif"};
    for (size_t i = 0; i < Extensions.size(); ++i) {
        if (EndsWithNoCase(name, Extensions[i]))
            return int(i);
    }
    return -1;
}

void AddPicturesFromFolder(QString folder, const DirectoryLister& lister)
{
    if (!folder.endsWith(u'/'))
        folder += u'/';

    std::array<QStringList, 4> byPattern;
    try {
        lister.List(
            folder, [](std::string_view name) { return PicturePatternIndex(name) >= 0; },
            [&](std::string_view name) {
                const QString path =
                    folder + QFile::decodeName(QByteArray(name.data(), qsizetype(name.size())));
                byPattern[size_t(PicturePatternIndex(name))].append(path);
            });
    } catch (const RuntimeError&) {
        // Four listings in a row would have failed at the same entry during the first one.
        PictureList += byPattern[0];
        throw;
    }
    for (const QStringList& pictures : byPattern)
        PictureList += pictures;
}

} // namespace vb
