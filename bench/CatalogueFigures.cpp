// The catalogue of one folder against `ls -f` of it (one pass of getdents, no sorting, no stat),
// for every folder size bench/run made, and how the time grows with the size; the walk of a
// tree against `find -type f`, and on a file system that answers each listing late against a
// walk that reads one folder at a time; and what the picture list holds per entry.
#include "Measure.h"
#include "catalogue/PictureCatalogue.h"
#include "loading/HelperConnection.h"
#include "loading/HelperLoader.h"
#include "picture/PictureHolder.h"
#include "platform/files/DirectoryLister.h"
#include "state/ModuleState.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <malloc.h>
#include <map>

namespace vbbench {

namespace {

double CatalogueSeconds(const QString& folder)
{
    const vb::PosixDirectoryLister lister;
    return Seconds([&] {
        vb::PictureList = std::move(vb::Catalogue({{folder}, {}, std::nullopt, {}}, lister).Built().pictures);
    });
}

// The folders listed as the program lists them: by its loading helper, which sends the names
// back over its socket. Kept to the end of the bench, as the program keeps its own.
const vb::DirectoryLister& ProgramLister(const Context& context)
{
    static vb::HelperConnection* helper =
        new vb::HelperConnection({context.program, vb::PictureHolder::DefaultDecodeLimitMegabytes});
    static const vb::HelperDirectoryLister lister(*helper);
    return lister;
}

// The walk start-up makes, through the tree with IncludeSubfolders; `oneAtATime` reads one folder
// after the other instead.
double WalkSeconds(const QString& tree, bool oneAtATime, const vb::DirectoryLister& lister)
{
    const vb::CatalogueRequest request{
        {tree}, {true, false}, oneAtATime ? std::nullopt : std::optional(vb::ListingDeadline), {}};
    return Seconds([&] { vb::PictureList = std::move(vb::Catalogue(request, lister).Built().pictures); });
}

// In use on the heap, large blocks (mapped on their own) included.
size_t HeapBytes()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

QString Count(qsizetype count)
{
    return QLocale::c().toString(qlonglong(count));
}

// The bytes a list of `entries` pictures in folders of a hundred holds beyond its names' UTF-8
// bytes, per entry, as a PathList and as the QStringList PictureList was.
std::pair<double, double> ListBytesPerEntry(qsizetype entries)
{
    size_t nameBytes = 0;
    const size_t before = HeapBytes();
    vb::PathList list;
    quint32 folder = 0;
    for (qsizetype i = 0; i < entries; ++i) {
        if (i % 100 == 0)
            folder = list.AddFolder(QStringLiteral("/home/someone/Pictures/top%1/folder%2/")
                                        .arg(i / 10000, 4, 10, QChar(u'0'))
                                        .arg(i / 100, 6, 10, QChar(u'0')));
        const QByteArray name = QByteArrayLiteral("entry") + QByteArray::number(i).rightJustified(7, '0') +
                                (i % 2 ? QByteArrayLiteral(".jpg") : QByteArrayLiteral(".gif"));
        nameBytes += size_t(name.size());
        list.Append(folder, std::string_view(name.constData(), size_t(name.size())));
    }
    const double compact = (double(HeapBytes() - before) - double(nameBytes)) / double(entries);
    const QStringList strings = list.ToStringList();
    list.clear();
    const double strung = (double(HeapBytes() - before) - double(nameBytes)) / double(entries);
    return {compact, strung};
}

} // namespace

void CatalogueFigures(const Context& context, std::vector<Row>& rows)
{
    // listing-<entries> folders, smallest first.
    std::map<long, QString> folders;
    for (const QString& name : QDir(context.corpus).entryList({QStringLiteral("listing-*")}, QDir::Dirs))
        folders[name.mid(8).toLong()] = context.corpus + u'/' + name;

    // At least nine of each, whatever the repetitions: `ls -f` of the same folder varied by a
    // fifth from one run to the next here while our own time held within a few per cent, and with
    // three of each the ratio moved by a tenth between runs. The tiny bench only checks that it runs.
    const int repetitions =
        qEnvironmentVariableIsSet("VB_BENCH_TINY") ? context.repetitions : std::max(9, context.repetitions);
    std::map<long, double> medians;
    for (const auto& [entries, folder] : folders) {
        std::vector<double> ours, reference;
        for (int i = 0; i < repetitions; ++i) {
            ours.push_back(CatalogueSeconds(folder));
            reference.push_back(CommandSeconds(QStringLiteral("ls"), {QStringLiteral("-f"), folder}));
        }
        medians[entries] = Median(ours);
        rows.push_back(Row{QStringLiteral("catalogue of a %1-entry folder, %2 pictures (vs ls -f)")
                               .arg(QLocale::c().toString(qlonglong(entries)))
                               .arg(vb::PictureList.size()),
                           Median(ours) * 1000, Median(reference) * 1000, QStringLiteral("ms"),
                           QStringLiteral("<= 0.8 x"), 0.8});
    }
    // Linear growth: ten times the entries take at most eleven times as long.
    if (folders.size() >= 2) {
        const long largest = folders.rbegin()->first;
        if (medians.count(largest / 10)) {
            rows.push_back(Row{QStringLiteral("catalogue time, %1 entries (vs %2 entries)")
                                   .arg(QLocale::c().toString(qlonglong(largest)))
                                   .arg(QLocale::c().toString(qlonglong(largest / 10))),
                               medians[largest] * 1000, medians[largest / 10] * 1000, QStringLiteral("ms"),
                               QStringLiteral("<= 11 x"), 11});
        }
    }

    // The tree, warm: the first walk reads it into the cache.
    const QString tree = qEnvironmentVariable("VB_BENCH_TREE");
    if (!tree.isEmpty()) {
        std::vector<double> ours, reference;
        WalkSeconds(tree, false, ProgramLister(context));
        for (int i = 0; i < context.repetitions; ++i) {
            ours.push_back(WalkSeconds(tree, false, ProgramLister(context)));
            reference.push_back(CommandSeconds(QStringLiteral("find"), {tree, QStringLiteral("-type"), "f"}));
        }
        // bench/run names it tree-FILES-FOLDERS.
        const QStringList size = QFileInfo(tree).fileName().split(u'-');
        rows.push_back(Row{QStringLiteral("walk of %1 files in %2 folders, %3 pictures, warm, through the "
                                          "loading helper (vs find -type f)")
                               .arg(Count(size.value(1).toLongLong()), Count(size.value(2).toLongLong()),
                                    Count(vb::PictureList.size())),
                           Median(ours) * 1000, Median(reference) * 1000, QStringLiteral("ms"),
                           QStringLiteral("<= 1.2 x"), 1.2});
    }
    const QString slow = qEnvironmentVariable("VB_BENCH_SLOW_TREE");
    if (!slow.isEmpty()) {
        std::vector<double> ours, reference;
        for (int i = 0; i < context.repetitions; ++i) {
            ours.push_back(WalkSeconds(slow, false, ProgramLister(context)));
            reference.push_back(WalkSeconds(slow, true, ProgramLister(context)));
        }
        rows.push_back(Row{
            QStringLiteral("walk with each listing 5 ms late, %1 pictures, %2 threads, through the loading "
                           "helper (vs one folder at a time)")
                .arg(Count(vb::PictureList.size()))
                .arg(vb::WalkThreads),
            Median(ours) * 1000, Median(reference) * 1000, QStringLiteral("ms"), QStringLiteral("<= 0.25 x"),
            0.25});
    }
    vb::PictureList = vb::PathList();

    const qsizetype entries = 1000000;
    const auto [compact, strings] = ListBytesPerEntry(entries);
    rows.push_back(
        Row{QStringLiteral("PictureList of %1 entries: bytes an entry beyond its name (vs a QStringList)")
                .arg(Count(entries)),
            compact, strings, QStringLiteral("B"), QStringLiteral("<= 64 B"), 0, 64.0});
}

} // namespace vbbench
