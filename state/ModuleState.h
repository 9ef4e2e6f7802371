#pragma once

#include "platform/runtime/Clock.h"
#include "state/PathList.h"

#include <QStringList>
#include <QtGlobal>

namespace vb {

// The module-wide state of the start-up module. It lives as long as the process. Only the window
// thread reads or writes it: the threads that list folders and decode pictures are handed copies
// of what they need and post their results back to the window thread, so nothing here needs a
// lock.

enum RunModes : qint32 {
    Configure = 0,
    ScreenSaver = 1,
    Preview = 2,
};

// Set once by SubMain before any window exists.
extern qint32 RunMode;
// The chosen folders, as chosen or stored. Replaced whole by each build, never edited.
extern QStringList FolderList;
// Full paths of the pictures found inside FolderList's folders: directly inside them, or anywhere
// in their trees with IncludeSubfolders. Kept compact (each folder's text once, the names as the
// file system gave them); an entry's path is made when it is asked for.
extern PathList PictureList;
// Seconds from one picture to the next; no range is enforced.
extern qint32 IntervalSeconds;
// Whether the slideshow prints each picture's path: 0 false, -1 true, any non-zero value true.
extern qint16 ShowFileNames;
// Options that are off unless chosen, held like ShowFileNames. FitLargePictures shrinks a picture
// larger than the screen to fit it; Shuffle shows every entry of PictureList once, in random order,
// before any again; OutlineFileNames outlines the printed path and shortens it in the middle to fit.
extern qint16 FitLargePictures;
extern qint16 Shuffle;
extern qint16 OutlineFileNames;
// IncludeSubfolders catalogues each folder with its whole tree; AllPictureTypes also lists PNG,
// WebP, TIFF, HEIC, HEIF and AVIF files; ShowDateTaken starts the caption with the date the photo
// was taken.
extern qint16 IncludeSubfolders;
extern qint16 AllPictureTypes;
extern qint16 ShowDateTaken;
// The idle watcher's: the minutes without input after which it starts the saver (1 to 240), and
// whether it starts with every session.
constexpr qint32 DefaultStartAfterMinutes = 10;
constexpr qint32 MaxStartAfterMinutes = 240;
extern qint32 StartAfterMinutes;
extern qint16 StartAutomatically;
// The earliest moment the next picture may be shown; the clock's epoch at process start.
extern DateTime NextPictureTime;

// Back to the values at process start; for tests.
void ResetModuleState();

} // namespace vb
