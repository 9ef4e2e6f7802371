#pragma once

#include "catalogue/PictureCatalogue.h"

namespace vb {

class PictureIndex;
class SettingsStore;

// `LoadSettings`: reads NumDirs, the Dir keys, Interval, ShowFileNames and the options
// FitLargePictures, Shuffle, OutlineFileNames, IncludeSubfolders, AllPictureTypes and
// ShowDateTaken (each False when absent) of section "Settings"
// and rebuilds FolderList and PictureList from the stored folders, with IncludeSubfolders and
// AllPictureTypes as stored. When there is no settings file at all, the user's pictures folder
// (UserPicturesFolder), where there is one, is the one folder, with both of those options on.
//
// A stored text that does not convert throws RuntimeError (TypeMismatch or Overflow) whose cause
// names the key, the text and the settings file; NumDirs, IncludeSubfolders and AllPictureTypes
// are converted before the lists are replaced, the rest after. A folder that cannot be listed
// does not stop the load: one warning line goes to standard error, the folder stays in
// FolderList with the pictures found before the failure, and loading goes on; the subfolders
// that cannot be read share one warning line.
//
// With an `index` that holds a list for these folders and options, PictureList is that list at
// once and the folders are walked again in the background (Catalogue::Aside): the new list
// replaces PictureList and the index when the walk is done, and the warnings of folders that
// cannot be listed come then. Without one, a complete catalogue is written to `index`.
//
// The catalogue returned is the caller's: while it lives, the pictures of folders that answered
// late join PictureList, and the walk aside replaces it.
Catalogue LoadSettings(const SettingsStore& store, const DirectoryLister& lister,
                       const PictureIndex* index = nullptr);

// `SaveSettings`: writes NumDirs, Dir1..DirN, Interval and ShowFileNames from the module-wide
// state and deletes the Dir keys above N up to the old NumDirs; then each option that is on or
// already stored. All of it is one atomic
// replacement of the file: a failure (a bad stored NumDirs, an unwritable file) throws
// RuntimeError and leaves the file as it was.
void SaveSettings(SettingsStore& store);

} // namespace vb
