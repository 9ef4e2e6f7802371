#pragma once

#include "platform/files/DirectoryLister.h"

#include <QByteArray>
#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <optional>
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
    };
    struct Folder
    {
        std::vector<Entry> entries;
        int failAfter = -1; // -1: never fails
        int silentMs = 0;   // how long the listing takes to answer
    };
    QMap<QString, Folder> folders; // keyed by the folder text the lister is asked for
    mutable QStringList asked;     // every folder text List() was called with

    void List(const QString& folder, const Wanted& wanted, const Found& found) const override;
};

struct ProcessResult
{
    int exitCode = -1;
    bool crashed = false;
    bool timedOut = false;
    QByteArray out;
    QByteArray err;
};

// Runs the real program with the arguments and environment given; the test's own environment
// (DISPLAY, QT_QPA_PLATFORM, XDG folders) is the base. `asUser`: see ProgramAsUser.
ProcessResult RunProgram(const QStringList& arguments, const QProcessEnvironment& environment,
                         int timeoutMs = 20000, bool asUser = false);

// Permissions do not stop root, so what a user cannot read or write is tried with the program
// running as an ordinary user. When the tests run as root, that is "nobody" (65534, no
// supplementary groups), through setpriv; otherwise the test's own user.
//
// The program and arguments that start it so.
QString ProgramAsUser();
QStringList ArgumentsAsUser(const QStringList& arguments);
// Gives a folder and everything in it to that user, and returns an environment whose HOME and
// XDG_RUNTIME_DIR lie inside it (Qt refuses a runtime folder that belongs to someone else).
bool GiveToUser(const QString& folder);
QProcessEnvironment EnvironmentForUser(QProcessEnvironment environment, const QString& folder);

// The non-empty lines of a process's standard error.
QStringList ErrorLines(const QByteArray& err);

} // namespace vbtest

namespace vbtest {

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
