#include "config/frmOptions.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace vb {

frmOptions::frmOptions(const Choices& choices, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("Slideshow Options"));
    setModal(true);
    if (parent)
        setFont(parent->font());

    chkFitLargePictures = new QCheckBox(QStringLiteral("Fit large pictures to the screen"), this);
    chkShuffle = new QCheckBox(QStringLiteral("Shuffle: show every picture once before repeating"), this);
    chkOutlineFileNames = new QCheckBox(QStringLiteral("Outline file names"), this);
    chkIncludeSubfolders = new QCheckBox(QStringLiteral("Include subfolders"), this);
    chkAllPictureTypes =
        new QCheckBox(QStringLiteral("All picture types (PNG, WebP, TIFF, HEIC, AVIF)"), this);
    chkShowDateTaken = new QCheckBox(QStringLiteral("Show the date taken"), this);
    cmdOk = new QPushButton(QStringLiteral("OK"), this);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    chkFitLargePictures->setObjectName(QStringLiteral("chkFitLargePictures"));
    chkShuffle->setObjectName(QStringLiteral("chkShuffle"));
    chkOutlineFileNames->setObjectName(QStringLiteral("chkOutlineFileNames"));
    chkIncludeSubfolders->setObjectName(QStringLiteral("chkIncludeSubfolders"));
    chkAllPictureTypes->setObjectName(QStringLiteral("chkAllPictureTypes"));
    chkShowDateTaken->setObjectName(QStringLiteral("chkShowDateTaken"));
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdOk->setDefault(true);

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
    layout->addWidget(chkFitLargePictures);
    layout->addWidget(chkShuffle);
    layout->addWidget(chkOutlineFileNames);
    layout->addWidget(chkIncludeSubfolders);
    layout->addWidget(chkAllPictureTypes);
    layout->addWidget(chkShowDateTaken);
    layout->addSpacing(8);
    layout->addLayout(buttons);

    chkFitLargePictures->setChecked(choices.fitLargePictures);
    chkShuffle->setChecked(choices.shuffle);
    chkOutlineFileNames->setChecked(choices.outlineFileNames);
    chkIncludeSubfolders->setChecked(choices.includeSubfolders);
    chkAllPictureTypes->setChecked(choices.allPictureTypes);
    chkShowDateTaken->setChecked(choices.showDateTaken);
    chkFitLargePictures->setFocus(Qt::OtherFocusReason);

    connect(cmdOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

frmOptions::Choices frmOptions::Chosen() const
{
    return Choices{chkFitLargePictures->isChecked(), chkShuffle->isChecked(),
                   chkOutlineFileNames->isChecked(), chkIncludeSubfolders->isChecked(),
                   chkAllPictureTypes->isChecked(),  chkShowDateTaken->isChecked()};
}

} // namespace vb
