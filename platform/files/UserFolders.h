#pragma once

#include <QString>
#include <optional>

namespace vb {

// The user's configuration folder: $XDG_CONFIG_HOME, else ~/.config.
QString UserConfigFolder();

// The user's cache folder: $XDG_CACHE_HOME, else ~/.cache.
QString UserCacheFolder();

// Creates `path` with mode 0700 (its parents as needed, with the usual mode) unless it is a
// folder already; false, with the reason in `why`, when it cannot be had.
bool MakePrivateFolder(const QString& path, QString* why);

// The user's pictures folder, when it exists: the one XDG_PICTURES_DIR names in user-dirs.dirs
// of the configuration folder, else ~/Pictures. A line of that file that does not read as
// XDG_PICTURES_DIR="VALUE" is passed over; "$HOME" at the start of VALUE, and a relative VALUE,
// are taken from the home folder, and VALUE naming the home folder itself (how xdg-user-dirs
// turns a folder off) counts as not given.
std::optional<QString> UserPicturesFolder();

} // namespace vb
