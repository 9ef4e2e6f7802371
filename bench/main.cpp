// The benchmark: every figure against a reference measured in the same run, printed as a table.
//   vellumbright_bench CORPUS_DIR [REPETITIONS]
// bench/run makes the corpora; a figure whose corpus is missing is left out.
#include "Measure.h"
#include "app/ModuleState.h"
#include "platform/DirectoryLister.h"
#include "settings/PictureCatalogue.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <cstdio>

using namespace vbbench;

namespace {

struct Context
{
    QString corpus;
    int repetitions = 5;
};

double CatalogueSeconds(const QString& folder)
{
    const vb::PosixDirectoryLister lister;
    return Seconds([&] {
        vb::PictureList = QStringList();
        vb::AddPicturesFromFolder(folder, lister);
    });
}

void CatalogueFigures(const Context& context, std::vector<Row>& rows)
{
    const QString folder = context.corpus + QStringLiteral("/listing-100000");
    if (!QFileInfo(folder).isDir())
        return;
    std::vector<double> ours, reference;
    for (int i = 0; i < context.repetitions; ++i) {
        ours.push_back(CatalogueSeconds(folder));
        reference.push_back(CommandSeconds(QStringLiteral("ls"), {QStringLiteral("-f"), folder}));
    }
    rows.push_back(
        Row{QStringLiteral("catalogue of a 100,000-entry folder (%1 pictures)").arg(vb::PictureList.size()),
            Median(ours) * 1000, Median(reference) * 1000, QStringLiteral("ms"), QStringLiteral("<= 1.5 x"),
            1.5});
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR [REPETITIONS]\n", argv[0]);
        return 2;
    }
    Context context;
    context.corpus = QString::fromLocal8Bit(argv[1]);
    if (argc > 2)
        context.repetitions = std::max(1, std::atoi(argv[2]));

    std::vector<Row> rows;
    CatalogueFigures(context, rows);
    PrintTable(rows);
    return 0;
}
