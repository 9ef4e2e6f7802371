#pragma once

#include "platform/files/DirectoryLister.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

namespace vbtest {

// Writes a file, creating its folder; fails the test on error.
bool WriteFile(const QString& path, const QByteArray& bytes);
QByteArray ReadFile(const QString& path);

// An in-memory folder tree for catalogue tests: each folder is a list of entries in "directory
// order"; an entry may be a non-ordinary file, and a folder may fail after a number of entries.
class FakeLister final : public vb::DirectoryLister
{
public:
    struct Entry
    {
        std::string name;
        bool ordinary = true;
        bool folder = false; // a subfolder, listed as the folder text + name + "/"
    };
    struct Folder
    {
        std::vector<Entry> entries;
        int failAfter = -1; // -1: never fails
        int silentMs = 0;   // how long the listing takes to answer
    };
    QMap<QString, Folder> folders; // keyed by the folder text the lister is asked for
    mutable QStringList asked;     // every folder text List() was called with, in the order asked

    void List(const QString& folder, const Wanted& wanted, const Found& found) const override;
    // A folder's id is made from its text, so that a folder has one id however it is reached.
    std::optional<vb::FolderId> ListWithSubfolders(const QString& folder, const Wanted& wanted,
                                                   const Found& found,
                                                   const FoundFolder& subfolder) const override;
};

// The folders a settings file stores: Dir1 to Dir<NumDirs> ("<absent>" for a missing one), then
// any of the next Dir keys, which should have gone.
QStringList StoredFolders(const QString& file);

// The non-empty lines of a process's standard error.
QStringList ErrorLines(const QByteArray& err);

// Collects what is written to standard error (the file descriptor) while it lives.
class StderrCapture
{
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    // Stops capturing and returns the text.
    QString Finish();

private:
    int m_saved = -1;
    int m_file = -1;
    QString m_text;
};

} // namespace vbtest
