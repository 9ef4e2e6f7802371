#include "config/frmOptions.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace vb {

namespace {

// A check box of the dialog: its name, its caption and the choice it shows, top to bottom.
struct OptionBox
{
    const char* name;
    const char* caption;
    bool frmOptions::Choices::*choice;
};

constexpr OptionBox OptionBoxes[] = {
    {"chkFitLargePictures", "Fit large pictures to the screen", &frmOptions::Choices::fitLargePictures},
    {"chkShuffle", "Shuffle: show every picture once before repeating", &frmOptions::Choices::shuffle},
    {"chkOutlineFileNames", "Outline file names", &frmOptions::Choices::outlineFileNames},
    {"chkIncludeSubfolders", "Include subfolders", &frmOptions::Choices::includeSubfolders},
    {"chkAllPictureTypes", "All picture types (PNG, WebP, TIFF, HEIC, AVIF)",
     &frmOptions::Choices::allPictureTypes},
    {"chkShowDateTaken", "Show the date taken", &frmOptions::Choices::showDateTaken},
};

} // namespace

frmOptions::frmOptions(const Choices& choices, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("Slideshow Options"));
    setModal(true);
    if (parent)
        setFont(parent->font());

    for (const OptionBox& option : OptionBoxes) {
        auto* box = new QCheckBox(QString::fromUtf8(option.caption), this);
        box->setObjectName(QLatin1String(option.name));
        box->setChecked(choices.*option.choice);
        m_boxes.push_back(box);
    }
    cmdOk = new QPushButton(QStringLiteral("OK"), this);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdOk->setDefault(true);
    LayOut();
    m_boxes.front()->setFocus(Qt::OtherFocusReason);

    connect(cmdOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void frmOptions::LayOut()
{
    // The buttons as the configuration dialog has them: the same size, OK left of Cancel, at the
    // right.
    const QSize buttonSize(1095 / 15, 375 / 15);
    cmdOk->setFixedSize(buttonSize);
    cmdCancel->setFixedSize(buttonSize);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOk);
    buttons->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    for (QCheckBox* box : m_boxes)
        layout->addWidget(box);
    layout->addSpacing(8);
    layout->addLayout(buttons);
}

frmOptions::Choices frmOptions::Chosen() const
{
    Choices chosen;
    for (std::size_t i = 0; i < m_boxes.size(); ++i)
        chosen.*OptionBoxes[i].choice = m_boxes[i]->isChecked();
    return chosen;
}

} // namespace vb
