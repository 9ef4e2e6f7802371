#pragma once

#include "catalogue/PictureCatalogue.h"
#include "state/PathList.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <optional>

namespace vb {

// The picture list of the last complete catalogue, kept in a file so that the next start can show
// pictures at once, before any folder has been listed. One file per set of chosen folders and
// catalogue options (the things that change the list), named by a hash of them, in the cache
// folder; deleting it loses nothing but that head start.
//
// The file holds a magic, a format version, the folders and options it was made for (in full,
// compared on load), the list's parts as PathList keeps them, and a checksum over all of it. A
// file that is missing, cut short, damaged, of another version or made for other settings is
// ignored: Load gives none, and the next complete catalogue replaces it. Every length in it is
// checked against the file's size, and the file against holes (a sparse file holds none of what
// its lengths claim), before anything is allocated for it.
class PictureIndex
{
public:
    // `folder`: where the files go; made with mode 0700 on the first save.
    explicit PictureIndex(QString folder);

    // $XDG_CACHE_HOME/vellumbright, else ~/.cache/vellumbright.
    static QString DefaultFolder();

    const QString& Folder() const { return m_folder; }
    QString FilePath(const QStringList& folders, CatalogueOptions options) const;

    std::optional<PathList> Load(const QStringList& folders, CatalogueOptions options) const;
    // Writes a temporary file beside the index and renames it over. A failure (a read-only or
    // full disk) is one warning line and false; the caller goes on without an index.
    bool Save(const QStringList& folders, CatalogueOptions options, const PathList& list) const;

    // The file's content, and its reading; for the fuzzer and the tests.
    static QByteArray Serialize(const QStringList& folders, CatalogueOptions options, const PathList& list);
    static std::optional<PathList> Parse(QByteArrayView bytes, const QStringList& folders,
                                         CatalogueOptions options);

private:
    QString m_folder;
};

} // namespace vb
