#include "settings/Settings.h"

#include "catalogue/PictureCatalogue.h"
#include "catalogue/PictureIndex.h"
#include "platform/files/UserFolders.h"
#include "platform/runtime/Conversions.h"
#include "platform/runtime/DetachedThread.h"
#include "platform/runtime/ErrorReport.h"
#include "platform/runtime/RuntimeError.h"
#include "settings/IdleSettings.h"
#include "settings/SettingsStore.h"
#include "state/ModuleState.h"

#include <array>
#include <iterator>
#include <system_error>

namespace vb {

namespace {

const QString Section = QStringLiteral("Settings");
const QString KeyNumDirs = QStringLiteral("NumDirs");
const QString KeyInterval = QStringLiteral("Interval");
const QString KeyShowFileNames = QStringLiteral("ShowFileNames");

// The options that are off unless chosen, stored after ShowFileNames in this order.
struct OptionSetting
{
    QString key;
    qint16* variable;
    bool steersCatalogue = false;
};
const OptionSetting OptionSettings[] = {
    {QStringLiteral("FitLargePictures"), &FitLargePictures},
    {QStringLiteral("Shuffle"), &Shuffle},
    {QStringLiteral("OutlineFileNames"), &OutlineFileNames},
    {QStringLiteral("IncludeSubfolders"), &IncludeSubfolders, true},
    {QStringLiteral("AllPictureTypes"), &AllPictureTypes, true},
    {QStringLiteral("ShowDateTaken"), &ShowDateTaken},
};
constexpr size_t OptionCount = std::size(OptionSettings);

QString DirKey(int index)
{
    return QStringLiteral("Dir") + QString::number(index);
}

QString GetSetting(const IniDocument& doc, const QString& key, const QString& fallback)
{
    return doc.Value(Section, key).value_or(fallback);
}

// Runs a conversion of a stored text; its error names the setting, the text and the file.
template <typename Convert>
auto ConvertSetting(const SettingsStore& store, const QString& key, const QString& text, Convert convert)
{
    try {
        return convert(text);
    } catch (const RuntimeError& e) {
        throw e.withCause(QStringLiteral("setting %1 holds \"%2\" (%3)").arg(key, text, store.displayPath()));
    }
}

void LoadOption(const SettingsStore& store, const IniDocument& doc, const OptionSetting& option)
{
    *option.variable =
        ConvertSetting(store, option.key, GetSetting(doc, option.key, QStringLiteral("False")), TextToBool)
            ? -1
            : 0;
}

} // namespace

namespace {

// A chosen folder with the setting it came from, for the warnings.
struct ChosenFolder
{
    QString folder;
    QString from;
};

QList<ChosenFolder> LoadFolders(const SettingsStore& store, const IniDocument& doc)
{
    const qint16 count =
        ConvertSetting(store, KeyNumDirs, GetSetting(doc, KeyNumDirs, QStringLiteral("0")), TextToInt16);
    QList<ChosenFolder> folders;
    for (int i = 1; i <= count; ++i) {
        const QString folder = GetSetting(doc, DirKey(i), QString());
        if (!folder.isEmpty())
            folders.append({folder, QStringLiteral("setting ") + DirKey(i)});
    }
    return folders;
}

// The options that steer the catalogue come before it is built, so that a bad one leaves the lists
// as they were; the others come after, as Interval does.
void LoadOptions(const SettingsStore& store, const IniDocument& doc, bool steeringCatalogue)
{
    for (const OptionSetting& option : OptionSettings)
        if (option.steersCatalogue == steeringCatalogue)
            LoadOption(store, doc, option);
}

// A first run starts on the user's pictures and everything below them; nothing is written until
// the dialog's OK.
void ChooseFirstRunFolder(QList<ChosenFolder>& folders)
{
    if (const std::optional<QString> pictures = UserPicturesFolder()) {
        folders.append({*pictures, QStringLiteral("the pictures folder, as no settings are stored")});
        IncludeSubfolders = -1;
        AllPictureTypes = -1;
    }
}

void WriteCannotList(const RuntimeError& e, const QString& from)
{
    WriteWarning(e.cause() + QStringLiteral(" (%1); showing the pictures found before the error").arg(from));
}

void WriteFolderWarnings(const CatalogueBuilt& built, const QList<ChosenFolder>& folders)
{
    for (size_t i = 0; i < built.troubles.size() && i < size_t(folders.size()); ++i) {
        const std::optional<FolderTrouble>& trouble = built.troubles[i];
        if (trouble && trouble->timedOut)
            WriteWarning(trouble->error.cause() +
                         QStringLiteral(" (%1); its pictures join the show if it answers later")
                             .arg(folders[qsizetype(i)].from));
        else if (trouble)
            WriteCannotList(trouble->error, folders[qsizetype(i)].from);
    }
}

// The show starts on the last complete catalogue at once, without waiting for a folder; the tree
// is walked again aside and its list takes over when the walk is done.
Catalogue CatalogueFromIndex(PathList indexed, const CatalogueRequest& request, const PictureIndex& index,
                             const DirectoryLister& lister, const QList<ChosenFolder>& folders)
{
    PictureList = std::move(indexed);
    return Catalogue::Aside(
        request, lister,
        [index, chosen = request.folders, options = request.options](const CatalogueBuilt& built) {
            index.Save(chosen, options, built.pictures);
        },
        [folders](CatalogueBuilt built) {
            PictureList = std::move(built.pictures);
            WriteFolderWarnings(built, folders);
        });
}

// The list written aside, so that a large one does not hold up the show.
void SaveIndexAside(const PictureIndex& index, const QStringList& chosen, CatalogueOptions options)
{
    try {
        StartDetachedThread([index, chosen, options, pictures = PictureList] {
            LowerThisThreadPriority();
            index.Save(chosen, options, pictures);
        });
    } catch (const std::system_error&) {
    }
}

Catalogue WalkFolders(const CatalogueRequest& request, const PictureIndex* index,
                      const DirectoryLister& lister, const QList<ChosenFolder>& folders)
{
    Catalogue catalogue(request, lister);
    PictureList = std::move(catalogue.Built().pictures);
    WriteFolderWarnings(catalogue.Built(), folders);
    catalogue.Built().skipped.WriteWarning();
    catalogue.DeliverLate([](PathList late) { PictureList += late; },
                          [index, chosen = request.folders, options = request.options] {
                              if (index)
                                  SaveIndexAside(*index, chosen, options);
                          });
    return catalogue;
}

Catalogue LoadCatalogue(const QList<ChosenFolder>& folders, const PictureIndex* index,
                        const DirectoryLister& lister)
{
    FolderList = QStringList();
    PictureList = PathList();
    for (const ChosenFolder& chosen : folders)
        FolderList.append(chosen.folder);
    const CatalogueRequest request{
        FolderList, {IncludeSubfolders != 0, AllPictureTypes != 0}, ListingDeadline, {}};
    if (std::optional<PathList> indexed =
            index ? index->Load(request.folders, request.options) : std::nullopt)
        return CatalogueFromIndex(std::move(*indexed), request, *index, lister, folders);
    return WalkFolders(request, index, lister, folders);
}

void LoadShowSettings(const SettingsStore& store, const IniDocument& doc)
{
    IntervalSeconds =
        ConvertSetting(store, KeyInterval, GetSetting(doc, KeyInterval, QStringLiteral("60")), TextToInt32);
    ShowFileNames = ConvertSetting(store, KeyShowFileNames,
                                   GetSetting(doc, KeyShowFileNames, QStringLiteral("False")), TextToBool)
                        ? -1
                        : 0;
    LoadOptions(store, doc, false);
}

// The idle watcher's settings never stop a run: a value that does not convert is the default.
void LoadIdleSettings(const IniDocument& doc)
{
    StartAfterMinutes = StartAfterMinutesFromText(GetSetting(doc, KeyStartAfterMinutes, QString()));
    try {
        StartAutomatically =
            TextToBool(GetSetting(doc, KeyStartAutomatically, QStringLiteral("False"))) ? -1 : 0;
    } catch (const RuntimeError&) {
        StartAutomatically = 0;
    }
}

} // namespace

Catalogue LoadSettings(const SettingsStore& store, const DirectoryLister& lister, const PictureIndex* index)
{
    bool stored = false;
    const IniDocument doc = store.Read(&stored);
    QList<ChosenFolder> folders = LoadFolders(store, doc);
    LoadOptions(store, doc, true);
    if (!stored)
        ChooseFirstRunFolder(folders);
    Catalogue catalogue = LoadCatalogue(folders, index, lister);
    LoadShowSettings(store, doc);
    LoadIdleSettings(doc);
    return catalogue;
}

void SaveSettings(SettingsStore& store)
{
    // The stored count and the Dir index are 16-bit and the index must reach one past the last.
    if (FolderList.size() >= 32767)
        throw RuntimeError(
            ErrorCode::Overflow,
            QStringLiteral("%1 folders are more than the settings can hold (32766)").arg(FolderList.size()));
    const QStringList folders = FolderList;
    const qint32 interval = IntervalSeconds;
    const bool showFileNames = ShowFileNames != 0;
    std::array<bool, OptionCount> options{};
    for (size_t i = 0; i < OptionCount; ++i)
        options[i] = *OptionSettings[i].variable != 0;
    const qint32 startAfter = StartAfterMinutes;
    const bool startAutomatically = StartAutomatically != 0;

    store.Update([&](IniDocument& doc) {
        const qint16 oldCount =
            ConvertSetting(store, KeyNumDirs, GetSetting(doc, KeyNumDirs, QStringLiteral("0")), TextToInt16);
        const int count = int(folders.size());
        doc.SetValue(Section, KeyNumDirs, IntToText(count));
        for (int i = 1; i <= count; ++i)
            doc.SetValue(Section, DirKey(i), folders[i - 1]);
        // A key that is already gone (the file was edited by hand) needs no deleting.
        for (int i = count + 1; i <= oldCount; ++i)
            doc.Remove(Section, DirKey(i));
        doc.SetValue(Section, KeyInterval, IntToText(interval));
        doc.SetValue(Section, KeyShowFileNames, BoolToText(showFileNames));
        // An option never chosen stays absent, which reads as False: the file of someone who
        // never used the options keeps today's keys.
        for (size_t i = 0; i < OptionCount; ++i)
            if (options[i] || doc.Value(Section, OptionSettings[i].key))
                doc.SetValue(Section, OptionSettings[i].key, BoolToText(options[i]));
        // Likewise the idle watcher's: written once chosen, absent until then.
        if (startAfter != DefaultStartAfterMinutes || doc.Value(Section, KeyStartAfterMinutes))
            doc.SetValue(Section, KeyStartAfterMinutes, IntToText(startAfter));
        if (startAutomatically || doc.Value(Section, KeyStartAutomatically))
            doc.SetValue(Section, KeyStartAutomatically, BoolToText(startAutomatically));
    });
}

} // namespace vb
