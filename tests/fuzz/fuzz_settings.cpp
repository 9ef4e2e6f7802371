// Any bytes as the settings file: parsing never fails, lines the program does not change come
// back byte for byte, a value set by the program reads back unchanged, and LoadSettings either
// loads or throws the runtime's error.
#include "platform/files/DirectoryLister.h"
#include "platform/files/FileNames.h"
#include "platform/runtime/RuntimeError.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "state/ModuleState.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

namespace {

// Lists nothing: the fuzzer is after the settings, not the folders named in them.
class NoFolders final : public vb::DirectoryLister
{
public:
    void List(const QString&, const Wanted&, const Found&) const override {}
};

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    Check(vb::EncodeFileName(vb::DecodeFileName(bytes)) == bytes);
    const bool ended = bytes.isEmpty() || bytes.endsWith('\n');
    Check(vb::IniDocument::Parse(bytes).Serialize() == (ended ? bytes : bytes + '\n'));

    // Round trip: whatever the file held, values the program writes read back as written.
    vb::IniDocument doc = vb::IniDocument::Parse(bytes);
    const QString odd = vb::DecodeFileName(bytes.left(64));
    doc.SetValue("Settings", "Dir1", odd);
    doc.SetValue("Settings", "NumDirs", "1");
    doc.Remove("Settings", "Dir2");
    const vb::IniDocument again = vb::IniDocument::Parse(doc.Serialize());
    Check(again.Value("Settings", "Dir1") == std::optional<QString>(odd));
    Check(again.Value("Settings", "NumDirs") == std::optional<QString>("1"));
    Check(!again.Value("Settings", "Dir2"));

    // The loader on the raw file.
    const QString path = dir.filePath("Lanternshade.ini");
    {
        QFile file(path);
        Check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    vb::ResetModuleState();
    try {
        vb::LoadSettings(vb::SettingsStore(path), NoFolders());
        Check(vb::FolderList.size() <= 32767);
    } catch (const vb::RuntimeError&) {
    }
    return 0;
}
