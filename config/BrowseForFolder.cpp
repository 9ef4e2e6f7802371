#include "config/BrowseForFolder.h"

#include <QDir>
#include <QFileDialog>

namespace vb {

QString FolderAsChosen(const QString& path)
{
    QString folder = path;
    while (folder.size() > 1 && folder.endsWith(u'/'))
        folder.chop(1);
    return folder;
}

QString BrowseForFolder(QWidget* owner)
{
    // The tree starts at the home folder with nothing selected, the nearest thing to the shell's
    // desktop. A desktop's own picker is used where the platform theme offers one.
    QFileDialog picker(owner, FolderPickerTitle, QDir::homePath());
    picker.setAcceptMode(QFileDialog::AcceptOpen);
    picker.setFileMode(QFileDialog::Directory);
    picker.setOption(QFileDialog::ShowDirsOnly, true);
    picker.setWindowModality(owner ? Qt::WindowModal : Qt::ApplicationModal);
    if (picker.exec() != QDialog::Accepted)
        return QString();
    const QStringList chosen = picker.selectedFiles();
    return chosen.isEmpty() ? QString() : FolderAsChosen(chosen.first());
}

} // namespace vb
