#pragma once

#include "catalogue/PictureCatalogue.h"
#include "config/ConfigServices.h"
#include "config/frmOptions.h"

#include <QDialog>
#include <map>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace vb {

// The configuration dialog: the list of picture folders, the seconds between pictures, the
// option that prints each picture's path, and "Options..." for the options that are off unless
// chosen. Editing touches only the controls; OK puts them into
// the module-wide state, rebuilds the picture list, saves the settings and closes; Cancel, Esc and
// closing the window close without changing anything.
//
// Form_Load runs in the constructor, so the dialog is ready to show once built. Every control has
// its own name as object name ("cmdOk", ...; the two Label1 members are "Label1_0" and
// "Label1_3").
class frmConfig final : public QDialog
{
    Q_OBJECT

public:
    explicit frmConfig(ConfigServices services, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The controls, named, placed and in tab order; then their looks, their behaviours and
    // their handlers.
    void CreateControls();
    void StyleControls();
    void SetUpControls();
    void ConnectControls();
    void SizeWebLabelToText();
    void CentreOnPrimaryScreen();
    void FollowFrame();
    // The selected entry of FirstDirectories, or -1 when none is selected.
    int ListIndex() const;
    // Appends a folder to FirstDirectories, with its path as tooltip.
    QListWidgetItem* AddListEntry(const QString& folder);
    // OK's walk through the folders, with its progress line; false when it was cancelled.
    bool ReadFolders();
    // The built catalogue's list and warnings for the show, and its late part; false when it
    // was cancelled.
    bool TakeCatalogue(Catalogue& catalogue, const QStringList& folders, CatalogueOptions options);
    // While OK's walk runs: the progress line in place of the left-hand buttons, every other
    // control but Cancel disabled.
    void ShowWalking(bool walking);

    void Form_Load();
    void cmdOk_Click();
    void cmdCancel_Click();
    void cmdAdd_Click();
    void cmdDelete_Click();
    void FirstDirectories_Click();
    void lblWeb_Click();
    void cmdOptions_Click();
    void cmdPreview_Click();

    ConfigServices m_services;
    bool m_webPressed = false;
    // The outer size and position of the last centring.
    QSize m_centredFor;
    QPoint m_centredAt;

    QCheckBox* chkShowFileNames = nullptr;
    QGroupBox* fraCopyright = nullptr;
    // A control array: members 0 ("Interval (seconds)") and 3 ("Visit Quorrel on the web").
    std::map<int, QLabel*> Label1;
    QLabel* lblWeb = nullptr;
    QLineEdit* txtInterval = nullptr;
    QPushButton* cmdDelete = nullptr;
    QPushButton* cmdAdd = nullptr;
    QListWidget* FirstDirectories = nullptr;
    QPushButton* cmdCancel = nullptr;
    QPushButton* cmdOk = nullptr;
    // "Options...": opens "Slideshow Options". Not a tab stop, so that the design's focus order
    // stays as it is; Alt+O presses it from the keyboard.
    QPushButton* cmdOptions = nullptr;
    // The options as chosen in this dialog: from the module-wide state at load, applied on OK.
    frmOptions::Choices m_options;
    // OK's walk: "Reading folders: N folders, M pictures", shown while it runs; Cancel, Esc and
    // closing the window stop it.
    QLabel* lblProgress = nullptr;
    // Not part of the design: the idle watcher's "Start after [N] minutes without input" and
    // "Start automatically", under the interval, and "Preview" beside them; the folder list and the
    // bottom row moved down to make room.
    QLabel* lblStartAfter = nullptr;
    QLineEdit* txtStartAfter = nullptr;
    QLabel* lblMinutes = nullptr;
    QCheckBox* chkStartAutomatically = nullptr;
    QPushButton* cmdPreview = nullptr;
    // "Start automatically" as loaded.
    bool m_startedAutomatically = false;
    // The catalogue OK builds, where the program gives none to replace.
    Catalogue m_ownCatalogue;
    bool m_walking = false;
    bool m_cancelWalk = false;
};

} // namespace vb
