#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace vb {

class Catalogue;
class DirectoryLister;
class PictureIndex;
class RuntimeError;
class SettingsStore;

// What the configuration dialog needs from outside. The program passes the real services; tests
// replace the folder picker, the web-address opener and the error report.
struct ConfigServices
{
    // Where OK saves the settings.
    SettingsStore& store;
    // Lists each folder when OK rebuilds the picture list.
    const DirectoryLister& lister;
    // `BrowseForFolder`: shows a folder picker modal to `owner`; the chosen folder or "".
    std::function<QString(QWidget* owner)> browseForFolder;
    // Hands a web address to the desktop's handler; reports nothing, whatever happens.
    std::function<void(const QString& address)> openWebAddress;
    // An error of the save, which the dialog does not handle: in the program, the report of an
    // uncaught error, which ends the process.
    std::function<void(const RuntimeError& error)> uncaughtError;
    // Where OK writes the new picture list for the next start; none: nowhere.
    const PictureIndex* index = nullptr;
    // "Preview": starts the show at once, as "/S", with the saved settings; none: nothing.
    std::function<void()> preview;
    // After OK has saved, when "Start automatically" changed: makes the idle watcher start with
    // every session and run now (true), or neither (false); none: nothing.
    std::function<void(bool startAutomatically)> startAutomatically;
    // After every save by OK: a running idle watcher rereads its minutes; none: nothing.
    std::function<void()> saved;
    // The catalogue PictureList comes from, which OK replaces; none: the dialog keeps its own.
    Catalogue* catalogue = nullptr;
};

} // namespace vb
