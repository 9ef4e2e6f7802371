// Loading the picture index of VB_BENCH_INDEX_ENTRIES entries (a million unless set) against
// `cat` of the same file: the load reads the file once and checks it, nothing more.
#include "Measure.h"
#include "catalogue/PictureIndex.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <cstdio>

namespace vbbench {

void IndexFigures(const Context& context, std::vector<Row>& rows)
{
    const qsizetype entries = qEnvironmentVariableIntValue("VB_BENCH_INDEX_ENTRIES") > 0
                                  ? qEnvironmentVariableIntValue("VB_BENCH_INDEX_ENTRIES")
                                  : 1000000;
    // A thousand folders of a thousand photos each, named as cameras name them.
    const QStringList chosen{QStringLiteral("/home/user/Pictures")};
    vb::PathList list;
    for (qsizetype i = 0; i < entries; ++i) {
        const quint32 folder = list.AddFolder(
            QStringLiteral("/home/user/Pictures/%1/day %2/").arg(2000 + i / 100000).arg(i / 1000));
        const QByteArray name = QByteArray("IMG_") + QByteArray::number(20240101000000LL + i) + ".jpg";
        list.Append(folder, std::string_view(name.constData(), size_t(name.size())));
    }
    const vb::PictureIndex index(context.corpus + QStringLiteral("/index"));
    if (!index.Save(chosen, {}, list)) {
        std::fprintf(stderr, "cannot write the index; its figure is left out\n");
        return;
    }
    const QString file = index.FilePath(chosen, {});
    std::vector<double> ours, reference;
    bool whole = true;
    for (int i = 0; i < context.repetitions; ++i) {
        ours.push_back(Seconds(
            [&] { whole = whole && index.Load(chosen, {}).value_or(vb::PathList()).size() == entries; }));
        reference.push_back(CommandSeconds(QStringLiteral("cat"), {file}));
    }
    if (!whole)
        std::fprintf(stderr, "the index did not load whole; its figure means nothing\n");
    rows.push_back(Row{QStringLiteral("index load, %1 entries, %2 MB (vs cat of the file)")
                           .arg(QLocale::c().toString(qlonglong(entries)))
                           .arg(double(QFileInfo(file).size()) / 1e6, 0, 'f', 1),
                       Median(ours) * 1000, Median(reference) * 1000, QStringLiteral("ms"),
                       QStringLiteral("<= 2 x"), 2});
}

} // namespace vbbench
