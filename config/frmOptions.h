#pragma once

#include <QDialog>
#include <vector>

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
    // The check boxes and the two buttons, one under the other and the buttons at the right.
    void LayOut();

    // One a choice, top to bottom: chkFitLargePictures, chkShuffle, chkOutlineFileNames,
    // chkIncludeSubfolders, chkAllPictureTypes, chkShowDateTaken.
    std::vector<QCheckBox*> m_boxes;
    QPushButton* cmdOk = nullptr;
    QPushButton* cmdCancel = nullptr;
};

} // namespace vb
