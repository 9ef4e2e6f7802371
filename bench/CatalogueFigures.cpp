// The catalogue of one folder against `ls -f` of it (one pass of getdents, no sorting, no stat),
// for every folder size bench/run made, and how the time grows with the size.
#include "Measure.h"
#include "platform/files/DirectoryLister.h"
#include "settings/PictureCatalogue.h"
#include "state/ModuleState.h"

#include <QDir>
#include <QLocale>
#include <map>

namespace vbbench {

namespace {

double CatalogueSeconds(const QString& folder)
{
    const vb::PosixDirectoryLister lister;
    return Seconds([&] {
        vb::PictureList = vb::PathList();
        vb::AddPicturesFromFolder(folder, lister);
    });
}

} // namespace

void CatalogueFigures(const Context& context, std::vector<Row>& rows)
{
    // listing-<entries> folders, smallest first.
    std::map<long, QString> folders;
    for (const QString& name : QDir(context.corpus).entryList({QStringLiteral("listing-*")}, QDir::Dirs))
        folders[name.mid(8).toLong()] = context.corpus + u'/' + name;

    std::map<long, double> medians;
    for (const auto& [entries, folder] : folders) {
        std::vector<double> ours, reference;
        for (int i = 0; i < context.repetitions; ++i) {
            ours.push_back(CatalogueSeconds(folder));
            reference.push_back(CommandSeconds(QStringLiteral("ls"), {QStringLiteral("-f"), folder}));
        }
        medians[entries] = Median(ours);
        rows.push_back(Row{QStringLiteral("catalogue of a %1-entry folder, %2 pictures (vs ls -f)")
                               .arg(QLocale::c().toString(qlonglong(entries)))
                               .arg(vb::PictureList.size()),
                           Median(ours) * 1000, Median(reference) * 1000, QStringLiteral("ms"),
                           QStringLiteral("<= 1.5 x"), 1.5});
    }
    // Linear growth: ten times the entries take at most twelve times as long.
    if (folders.size() >= 2) {
        const long largest = folders.rbegin()->first;
        if (medians.count(largest / 10)) {
            rows.push_back(Row{QStringLiteral("catalogue time, %1 entries (vs %2 entries)")
                                   .arg(QLocale::c().toString(qlonglong(largest)))
                                   .arg(QLocale::c().toString(qlonglong(largest / 10))),
                               medians[largest] * 1000, medians[largest / 10] * 1000, QStringLiteral("ms"),
                               QStringLiteral("<= 12 x"), 12});
        }
    }
}

} // namespace vbbench
