#pragma once

#include "settings/IniDocument.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

namespace vb {

// The per-user settings store: the file "Lanternshade.ini" in the user's configuration folder.
//
// Readers take a snapshot of the whole file. A writer holds the store's lock file while it reads
// the current content, edits it and replaces the file by an atomic rename, so a reader always
// sees a complete file and two processes that save at the same moment do not mix their keys.
class SettingsStore
{
public:
    explicit SettingsStore(QString filePath);

    // $XDG_CONFIG_HOME/Lanternshade.ini, else ~/.config/Lanternshade.ini.
    static QString DefaultFilePath();

    const QString& filePath() const { return m_filePath; }
    // The path as shown in messages: the home folder written as "~".
    QString displayPath() const;

    // Throws RuntimeError when the file exists but cannot be read or is no regular file, and when
    // a folder on its way may not be searched. A missing file, or a link to one, is empty, and
    // `present`, where given, tells it apart from a file that holds nothing.
    IniDocument Read(bool* present = nullptr) const;

    // Runs edit on the current content under the lock, then writes the result. Nothing is
    // written when edit throws or when any step fails; a failure throws RuntimeError.
    void Update(const std::function<void(IniDocument&)>& edit);

private:
    QString m_filePath;
};

} // namespace vb
