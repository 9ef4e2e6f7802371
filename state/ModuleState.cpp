#include "state/ModuleState.h"

namespace vb {

qint32 RunMode = ScreenSaver;
QStringList FolderList;
PathList PictureList;
qint32 IntervalSeconds = 0;
qint16 ShowFileNames = 0;
qint16 FitLargePictures = 0;
qint16 Shuffle = 0;
qint16 OutlineFileNames = 0;
qint16 IncludeSubfolders = 0;
qint16 AllPictureTypes = 0;
qint16 ShowDateTaken = 0;
qint32 StartAfterMinutes = DefaultStartAfterMinutes;
qint16 StartAutomatically = 0;
DateTime NextPictureTime{};

void ResetModuleState()
{
    RunMode = ScreenSaver;
    FolderList = QStringList();
    PictureList = PathList();
    IntervalSeconds = 0;
    ShowFileNames = 0;
    FitLargePictures = 0;
    Shuffle = 0;
    OutlineFileNames = 0;
    IncludeSubfolders = 0;
    AllPictureTypes = 0;
    ShowDateTaken = 0;
    StartAfterMinutes = DefaultStartAfterMinutes;
    StartAutomatically = 0;
    NextPictureTime = DateTime{};
}

} // namespace vb
