#pragma once

#include <QString>

class QWidget;

namespace vb {

// The title of the folder picker.
inline const QString FolderPickerTitle = QStringLiteral("Select Directory");

// `BrowseForFolder`: Qt's directory chooser, titled "Select Directory", modal to `owner`, which
// takes no input while it is open. Only folders can be chosen. Returns the chosen folder as
// FolderAsChosen spells it, or "" when the user cancels.
QString BrowseForFolder(QWidget* owner);

// A chosen folder as the dialog lists and stores it: the root as "/", any other folder without a
// trailing "/". Empty stays empty.
QString FolderAsChosen(const QString& path);

} // namespace vb
