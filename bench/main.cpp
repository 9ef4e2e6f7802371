// The benchmark: every figure against a reference measured in the same run, printed as a table.
//   vellumbright_bench CORPUS_DIR [REPETITIONS]
// bench/run makes the corpora and an X server; a figure whose corpus is missing is left out.
#include "Measure.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

using namespace vbbench;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc == 5 && std::strcmp(argv[1], "--peak-memory") == 0)
        return PeakMemoryChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                               QString::fromLocal8Bit(argv[4]));
    if (argc >= 3 && std::strcmp(argv[1], "--command-peak") == 0) {
        QStringList command;
        for (int i = 2; i < argc; ++i)
            command.append(QString::fromLocal8Bit(argv[i]));
        return CommandPeakChild(command);
    }
    if (argc == 6 && std::strcmp(argv[1], "--changes") == 0)
        return ChangesForProfiler(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                                  QString::fromLocal8Bit(argv[4]), std::atoi(argv[5]));
    if (argc == 4 && std::strcmp(argv[1], "--make-tiled") == 0)
        return MakeCorpusFile(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]),
                              QString::fromLocal8Bit(argv[3]));
    if (argc == 3 && std::strcmp(argv[1], "--display-p3") == 0)
        return MakeCorpusFile(QString::fromLocal8Bit(argv[1]), QString(), QString::fromLocal8Bit(argv[2]));
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR [REPETITIONS]\n", argv[0]);
        return 2;
    }
    Context context;
    context.corpus = QString::fromLocal8Bit(argv[1]);
    if (argc > 2)
        context.repetitions = std::max(1, std::atoi(argv[2]));
    context.program = QStringLiteral(VB_PROGRAM);

    // VB_BENCH_ONLY=index,program (say) measures only those groups, to look again at a few figures.
    const QStringList only = qEnvironmentVariable("VB_BENCH_ONLY").split(u',', Qt::SkipEmptyParts);
    const std::pair<const char*, void (*)(const Context&, std::vector<Row>&)> groups[] = {
        {"catalogue", CatalogueFigures},
        {"index", IndexFigures},
        {"change", PictureChangeFigures},
        {"memory", PeakMemoryFigures},
        {"heif-memory", HeifPeakMemoryFigures},
        {"program", ProgramFigures},
        {"warm-index", WarmIndexFigures},
        {"shuffle", ShuffleFigures},
        {"helper-change", HelperChangeFigures},
        {"helper-memory", HelperPeakMemoryFigures},
        {"idle", IdleFigures},
        {"photos", PhotoFigures}};
    std::vector<Row> rows;
    for (const auto& [name, figures] : groups)
        if (only.isEmpty() || only.contains(QLatin1String(name)))
            figures(context, rows);
    PrintTable(rows);
    return 0;
}
