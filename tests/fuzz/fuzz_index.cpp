// Any bytes as a picture index: reading never crashes, hangs or allocates more than the input
// holds, and whatever it accepts is written back byte for byte.
//   fuzz_index --write-seeds FOLDER    writes the seeds (small indexes made by the program's own
//                                      writer) into FOLDER and ends
#include "catalogue/PictureIndex.h"
#include "platform/files/FileNames.h"

#include <QFile>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

const QStringList Folders{"/pictures", vb::DecodeFileName("/mnt/share/caf\xe9")};

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void WriteSeeds(const QString& folder)
{
    vb::PathList list;
    const quint32 top = list.AddFolder("/pictures/");
    list.Append(top, "a.jpg");
    list.Append(top, "caf\xe9.bmp");
    list.Append(list.AddFolder("/pictures/holiday/"), "b.gif");
    const vb::PathList none;
    const auto write = [&](const char* name, const QByteArray& bytes) {
        QFile file(folder + u'/' + QLatin1String(name));
        Check(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    };
    write("three", vb::PictureIndex::Serialize(Folders, {}, list));
    write("three-subfolders", vb::PictureIndex::Serialize(Folders, {true, false}, list));
    write("empty", vb::PictureIndex::Serialize(Folders, {}, none));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    if (*argc == 3 && std::strcmp((*argv)[1], "--write-seeds") == 0) {
        WriteSeeds(QString::fromLocal8Bit((*argv)[2]));
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const vb::CatalogueOptions options : {vb::CatalogueOptions{}, vb::CatalogueOptions{true, false}}) {
        const std::optional<vb::PathList> list = vb::PictureIndex::Parse(bytes, Folders, options);
        if (!list)
            continue;
        Check(vb::PictureIndex::Serialize(Folders, options, *list) == bytes);
        for (qsizetype i = 0; i < list->size(); ++i)
            Check(list->at(i).startsWith(list->Folders()[list->FolderOf(i)]));
    }
    return 0;
}
