#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;

namespace vb {

// "Slideshow Options": the options that are off unless chosen, as six check boxes with OK and
// Cancel. It only shows and returns choices; the configuration dialog keeps them and its OK
// applies and saves them. Every control has its own name as object name ("chkShuffle", ...).
class frmOptions final : public QDialog
{
    Q_OBJECT

public:
    struct Choices
    {
        bool fitLargePictures = false;
        bool shuffle = false;
        bool outlineFileNames = false;
        bool includeSubfolders = false;
        bool allPictureTypes = false;
        bool showDateTaken = false;
        bool operator==(const Choices&) const = default;
    };

    // Modal to `parent`, whose font it takes.
    frmOptions(const Choices& choices, QWidget* parent);

    // What the check boxes show now.
    Choices Chosen() const;

private:
    QCheckBox* chkFitLargePictures = nullptr;
    QCheckBox* chkShuffle = nullptr;
    QCheckBox* chkOutlineFileNames = nullptr;
    QCheckBox* chkIncludeSubfolders = nullptr;
    QCheckBox* chkAllPictureTypes = nullptr;
    QCheckBox* chkShowDateTaken = nullptr;
    QPushButton* cmdOk = nullptr;
    QPushButton* cmdCancel = nullptr;
};

} // namespace vb
