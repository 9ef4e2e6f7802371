#include "config/frmConfig.h"

#include "catalogue/PictureCatalogue.h"
#include "catalogue/PictureIndex.h"
#include "config/ProgramIcon.h"
#include "platform/display/WindowTitle.h"
#include "platform/runtime/Conversions.h"
#include "platform/runtime/ErrorReport.h"
#include "platform/runtime/RuntimeError.h"
#include "settings/IdleSettings.h"
#include "settings/Settings.h"
#include "state/ModuleState.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <iterator>
#include <variant>

namespace vb {

namespace {

// The maker's web address. The label shows it and a click opens whatever the label shows, so
// this is the only place that holds it.
const QString MakerWebAddress = QStringLiteral("https://www.quorrel.com/");

// The dialog is designed in twips; at 15 twips to the pixel every design value is a whole number
// of logical pixels.
constexpr int TwipsPerPixel = 15;

// The idle watcher's two rows under the interval push the folder list and the bottom row down by
// this much; the dialog grows by it.
constexpr int IdleRows = 720;
// The top of the bottom row's buttons.
constexpr int BottomRow = 4200 + IdleRows;

QRect Twips(int left, int top, int width, int height)
{
    return QRect(left / TwipsPerPixel, top / TwipsPerPixel, width / TwipsPerPixel, height / TwipsPerPixel);
}

// "MS Sans Serif" where it is installed, else the system's sans-serif face at the same size.
QFont SansSerif(qreal points, bool bold = false, bool underline = false)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setUnderline(underline);
    return font;
}

constexpr qreal ControlPoints = 8.25;

// The design's widths were measured in a narrow face. Where the fallback face is wider, the text
// of a fixed-size control is condensed until it fits the room it has, rather than cut off.
void CondenseToFit(QWidget* control, const QString& text, int room)
{
    QFont font = control->font();
    for (int stretch = 98; stretch >= 60 && QFontMetrics(font).horizontalAdvance(text) > room; stretch -= 2)
        font.setStretch(stretch);
    control->setFont(font);
}

// The width a check box leaves its text beside the box.
int CheckBoxTextRoom(const QCheckBox* box)
{
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    return box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box).width();
}

// Shows the busy pointer for as long as it lives, also when the work it covers throws.
struct BusyPointer
{
    BusyPointer() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyPointer() { QGuiApplication::restoreOverrideCursor(); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
};

// A control as the design has it: the member that holds it (which gives its kind), its name, its
// caption (text or title), its place and its tab index (-1: no tab stop); the web label and the
// line above it sit in the frame.
struct ControlDesign
{
    std::variant<QCheckBox**, QGroupBox**, QLabel**, QLineEdit**, QListWidget**, QPushButton**> member;
    const char* name;
    QString caption;
    QRect place;
    int tabIndex = -1;
    bool inFrame = false;
};

// A new control of the member's kind in the member, with its caption.
template <typename Control>
QWidget* Make(Control*& member, QWidget* parent, const QString& caption)
{
    member = new Control(parent);
    if constexpr (requires { member->setTitle(caption); })
        member->setTitle(caption);
    else if constexpr (requires { member->setText(caption); })
        member->setText(caption);
    return member;
}

} // namespace

frmConfig::frmConfig(ConfigServices services, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      m_services(std::move(services))
{
    CreateControls();
    Form_Load();
}

void frmConfig::CreateControls()
{
    setObjectName(QStringLiteral("frmConfig"));
    setFont(SansSerif(ControlPoints));
    setWindowIcon(ProgramIcon());
    setFixedSize(416, 312 + IdleRows / TwipsPerPixel);

    // In the order the design creates them, which is also the order they are painted in. Tab
    // indices 0 to 10; the frame and the labels take no focus, and Qt skips cmdDelete while it is
    // disabled. Not part of the design: Options..., in the free space of the bottom row between
    // Delete and OK with the gap that OK and Cancel have on either side, and after the designed
    // controls in the tab order, so that they keep theirs; the progress line, where Add...,
    // Delete and Options... are while OK reads the folders; the idle watcher's rows, in the
    // interval row's columns, with Preview beside them.
    const ControlDesign design[] = {
        {&chkShowFileNames, "chkShowFileNames", "Show File Names", Twips(2520, 1560, 1815, 255), 6},
        {&fraCopyright, "fraCopyright", "Vellumbright", Twips(120, 120, 6015, 1335)},
        {&Label1[3], "Label1_3", "Visit Quorrel on the web", Twips(120, 600, 5775, 255), -1, true},
        {&lblWeb, "lblWeb", MakerWebAddress, Twips(1770, 960, 2475, 195), -1, true},
        {&txtInterval, "txtInterval", "", Twips(1560, 1560, 735, 285), 5},
        {&cmdDelete, "cmdDelete", "Delete", Twips(1440, BottomRow, 1095, 375), 4},
        {&cmdAdd, "cmdAdd", "Add...", Twips(120, BottomRow, 1095, 375), 3},
        {&FirstDirectories, "FirstDirectories", "", Twips(120, 2040 + IdleRows, 6015, 2010), 2},
        {&cmdCancel, "cmdCancel", "Cancel", Twips(5040, BottomRow, 1095, 375), 1},
        {&cmdOk, "cmdOk", "OK", Twips(3840, BottomRow, 1095, 375), 0},
        {&Label1[0], "Label1_0", "Interval (seconds)", Twips(120, 1560, 1335, 255)},
        {&cmdOptions, "cmdOptions", "Options...", Twips(2640, BottomRow, 1095, 375), 7},
        {&lblProgress, "lblProgress", "", Twips(120, BottomRow, 3615, 375)},
        {&lblStartAfter, "lblStartAfter", "Start after", Twips(120, 1920, 1335, 255)},
        {&txtStartAfter, "txtStartAfter", "", Twips(1560, 1920, 735, 285), 8},
        {&lblMinutes, "lblMinutes", "minutes without input", Twips(2400, 1920, 2535, 255)},
        {&chkStartAutomatically, "chkStartAutomatically", "Start automatically", Twips(120, 2280, 2535, 255),
         9},
        {&cmdPreview, "cmdPreview", "Preview", Twips(5040, 1860, 1095, 375), 10},
    };
    std::map<int, QWidget*> tabOrder;
    for (const ControlDesign& control : design) {
        QWidget* parent = control.inFrame ? static_cast<QWidget*>(fraCopyright) : this;
        QWidget* made =
            std::visit([&](auto* member) { return Make(*member, parent, control.caption); }, control.member);
        made->setObjectName(QLatin1String(control.name));
        made->setGeometry(control.place);
        if (control.tabIndex >= 0)
            tabOrder[control.tabIndex] = made;
    }
    for (auto at = std::next(tabOrder.begin()); at != tabOrder.end(); ++at)
        setTabOrder(std::prev(at)->second, at->second);

    StyleControls();
    SetUpControls();
    ConnectControls();
}

void frmConfig::StyleControls()
{
    fraCopyright->setFont(SansSerif(12, true));
    Label1[3]->setFont(SansSerif(ControlPoints));
    lblWeb->setFont(SansSerif(ControlPoints, true, true));
    QPalette webPalette = lblWeb->palette();
    webPalette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    lblWeb->setPalette(webPalette);
    SizeWebLabelToText();
    for (QLabel* label : {Label1[3], lblWeb})
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    for (QLabel* label : {Label1[0], lblStartAfter, lblMinutes})
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblProgress->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    lblProgress->setWordWrap(true);
    for (QLabel* label : {Label1[0], lblMinutes, Label1[3]})
        CondenseToFit(label, label->text(), label->width());
    for (QCheckBox* box : {chkStartAutomatically, chkShowFileNames})
        CondenseToFit(box, box->text(), CheckBoxTextRoom(box));
}

void frmConfig::SetUpControls()
{
    lblWeb->setCursor(Qt::PointingHandCursor);
    lblWeb->installEventFilter(this);
    cmdDelete->setEnabled(false);
    FirstDirectories->setSelectionMode(QAbstractItemView::SingleSelection);
    FirstDirectories->setSortingEnabled(false);
    // Each entry as wide as its path, with a horizontal scroll bar where needed, so that folders
    // under one long parent can be told apart; the Delete key deletes the selected entry.
    FirstDirectories->setTextElideMode(Qt::ElideNone);
    FirstDirectories->installEventFilter(this);
    cmdOk->setDefault(true);
    cmdOk->setFocus(Qt::OtherFocusReason);
    cmdOptions->setShortcut(QKeySequence(Qt::ALT | Qt::Key_O));
    lblProgress->hide();
    txtStartAfter->setValidator(new QIntValidator(1, MaxStartAfterMinutes, txtStartAfter));
}

void frmConfig::ConnectControls()
{
    connect(cmdOk, &QPushButton::clicked, this, &frmConfig::cmdOk_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmConfig::cmdCancel_Click);
    connect(cmdAdd, &QPushButton::clicked, this, &frmConfig::cmdAdd_Click);
    connect(cmdDelete, &QPushButton::clicked, this, &frmConfig::cmdDelete_Click);
    connect(cmdOptions, &QPushButton::clicked, this, &frmConfig::cmdOptions_Click);
    connect(cmdPreview, &QPushButton::clicked, this, &frmConfig::cmdPreview_Click);
    // Every change of the selection, by mouse, keyboard or code, so that cmdDelete is enabled
    // exactly while an entry is selected.
    connect(FirstDirectories, &QListWidget::itemSelectionChanged, this, &frmConfig::FirstDirectories_Click);
}

void frmConfig::SizeWebLabelToText()
{
    // The label fits its text on one line and sits centred in the frame, whatever the address.
    const QFontMetrics metrics(lblWeb->font());
    const int width = metrics.horizontalAdvance(lblWeb->text());
    lblWeb->setGeometry((fraCopyright->width() - width) / 2, lblWeb->y(), width, metrics.height());
}

int frmConfig::ListIndex() const
{
    const QList<QListWidgetItem*> selected = FirstDirectories->selectedItems();
    return selected.isEmpty() ? -1 : FirstDirectories->row(selected.first());
}

void frmConfig::showEvent(QShowEvent* event)
{
    // The native window exists now and is not mapped yet: the moment to blank its title.
    ClearTitle(this);
    QDialog::showEvent(event);
    FollowFrame();
}

void frmConfig::moveEvent(QMoveEvent* event)
{
    QDialog::moveEvent(event);
    FollowFrame();
}

void frmConfig::keyPressEvent(QKeyEvent* event)
{
    // Esc presses the cancel button itself, as Enter presses the default one.
    if (event->matches(QKeySequence::Cancel)) {
        cmdCancel->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmConfig::closeEvent(QCloseEvent* event)
{
    // Closing the window while OK reads the folders stops the reading; OK then saves and closes.
    if (m_walking) {
        m_cancelWalk = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

bool frmConfig::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == FirstDirectories && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Delete) && cmdDelete->isEnabled()) {
        cmdDelete->click();
        return true;
    }
    // A click on the web label: the left button pressed and released over it.
    if (watched == lblWeb) {
        if (event->type() == QEvent::MouseButtonPress) {
            m_webPressed = static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
        } else if (event->type() == QEvent::MouseButtonRelease) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const bool click = m_webPressed && mouse->button() == Qt::LeftButton &&
                               lblWeb->rect().contains(mouse->position().toPoint());
            m_webPressed = false;
            if (click)
                lblWeb_Click();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmConfig::Form_Load()
{
    // No default folder is offered: the list starts as stored, empty on a first run.
    fraCopyright->setTitle(QStringLiteral("Vellumbright ") + IntToText(VELLUMBRIGHT_VERSION_MAJOR) +
                           QStringLiteral(".") + IntToText(VELLUMBRIGHT_VERSION_MINOR));

    for (const QString& folder : FolderList)
        AddListEntry(folder);

    txtInterval->setText(IntToText(IntervalSeconds));
    chkShowFileNames->setChecked(ShowFileNames != 0);
    txtStartAfter->setText(IntToText(StartAfterMinutes));
    chkStartAutomatically->setChecked(StartAutomatically != 0);
    m_startedAutomatically = StartAutomatically != 0;
    m_options = {FitLargePictures != 0,  Shuffle != 0,         OutlineFileNames != 0,
                 IncludeSubfolders != 0, AllPictureTypes != 0, ShowDateTaken != 0};

    CentreOnPrimaryScreen();
}

void frmConfig::CentreOnPrimaryScreen()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // By the window's outer size, its frame and title bar included.
    const QRect area = screen->geometry();
    const QSize outer = frameGeometry().size();
    const float top = float(area.height() - outer.height()) / 2.0f;
    const float left = float(area.width() - outer.width()) / 2.0f;
    move(area.x() + qRound(left), area.y() + qRound(top));
    m_centredFor = outer;
    m_centredAt = pos();
}

void frmConfig::FollowFrame()
{
    // The frame is known only once the window is shown; before that the outer size is the client
    // size. When the frame turns up, centre once more for the true outer size, unless the window
    // has been moved meanwhile.
    if (m_centredFor.isValid() && frameGeometry().size() != m_centredFor && pos() == m_centredAt)
        CentreOnPrimaryScreen();
}

void frmConfig::cmdOk_Click()
{
    // Phase 1: each step on its own; a step that fails is passed over and the next one runs.
    try {
        IntervalSeconds = TextToInt32(txtInterval->text());
    } catch (const RuntimeError&) {
        // Not a number, or out of range: the interval shown at load stays.
    }
    ShowFileNames = chkShowFileNames->isChecked() ? -1 : 0;
    FitLargePictures = m_options.fitLargePictures ? -1 : 0;
    Shuffle = m_options.shuffle ? -1 : 0;
    OutlineFileNames = m_options.outlineFileNames ? -1 : 0;
    IncludeSubfolders = m_options.includeSubfolders ? -1 : 0;
    AllPictureTypes = m_options.allPictureTypes ? -1 : 0;
    ShowDateTaken = m_options.showDateTaken ? -1 : 0;
    // The box takes only numbers from 1 to 240; an empty one keeps the minutes shown at load.
    if (txtStartAfter->hasAcceptableInput())
        StartAfterMinutes = StartAfterMinutesFromText(txtStartAfter->text());
    StartAutomatically = chkStartAutomatically->isChecked() ? -1 : 0;

    ReadFolders();

    // Phase 2: a failing save is an error nobody handles here. A cancelled reading of the folders
    // still saves what was chosen; only the index waits for a complete one.
    try {
        SaveSettings(m_services.store);
    } catch (const RuntimeError& error) {
        m_services.uncaughtError(error);
        return;
    }
    // Saved first, so that a watcher started or told to reread now reads the new minutes. Only a
    // change of the box starts or ends one: a watcher the user runs otherwise (a systemd unit)
    // is left alone.
    if (m_services.saved)
        m_services.saved();
    if (m_services.startAutomatically && (StartAutomatically != 0) != m_startedAutomatically)
        m_services.startAutomatically(StartAutomatically != 0);
    accept();
}

bool frmConfig::ReadFolders()
{
    const BusyPointer busy;
    // Disabling the focused OK would pass the focus on; it comes back after.
    const QPointer<QWidget> focus = focusWidget();
    ShowWalking(true);
    Catalogue& catalogue = m_services.catalogue ? *m_services.catalogue : m_ownCatalogue;
    // What the catalogue shown so far still finds has no place in the new one.
    catalogue = Catalogue();
    // Counted in full: a count narrowed to 16 bits could wrap and save an empty list. More
    // folders than the settings hold make the save fail instead.
    QStringList folders;
    for (int i = 0; i < FirstDirectories->count(); ++i)
        folders.append(FirstDirectories->item(i)->text());
    const auto progress = [this](quint64 foldersRead, qsizetype pictures) {
        lblProgress->setText(
            QStringLiteral("Reading folders: %1 folders, %2 pictures").arg(foldersRead).arg(pictures));
        // Keeps the dialog painted and its Cancel button pressable while the walk goes on.
        QCoreApplication::processEvents();
        return !m_cancelWalk;
    };
    const CatalogueOptions options{IncludeSubfolders != 0, AllPictureTypes != 0};
    catalogue = Catalogue({folders, options, ListingDeadline, progress}, m_services.lister);
    ShowWalking(false);
    if (focus)
        focus->setFocus(Qt::OtherFocusReason);
    return TakeCatalogue(catalogue, folders, options);
}

bool frmConfig::TakeCatalogue(Catalogue& catalogue, const QStringList& folders, CatalogueOptions options)
{
    // A folder that cannot be listed keeps the pictures found before the failure and stays in
    // the list; one that timed out is saved as listed all the same.
    FolderList = folders;
    PictureList = std::move(catalogue.Built().pictures);
    for (const std::optional<FolderTrouble>& trouble : catalogue.Built().troubles)
        if (trouble && trouble->timedOut)
            WriteWarning(trouble->error.cause());
    if (catalogue.Built().cancelled) {
        catalogue = Catalogue();
        return false;
    }
    catalogue.Built().skipped.WriteWarning();
    catalogue.DeliverLate([](PathList late) { PictureList += late; },
                          [index = m_services.index, folders, options] {
                              if (index)
                                  index->Save(folders, options, PictureList);
                          });
    return true;
}

void frmConfig::ShowWalking(bool walking)
{
    m_walking = walking;
    m_cancelWalk = false;
    lblProgress->setText(QString());
    lblProgress->setVisible(walking);
    for (QWidget* control :
         {static_cast<QWidget*>(cmdAdd), static_cast<QWidget*>(cmdDelete), static_cast<QWidget*>(cmdOptions)})
        control->setVisible(!walking);
    for (QWidget* control : {static_cast<QWidget*>(cmdOk), static_cast<QWidget*>(FirstDirectories),
                             static_cast<QWidget*>(txtInterval), static_cast<QWidget*>(chkShowFileNames),
                             static_cast<QWidget*>(txtStartAfter),
                             static_cast<QWidget*>(chkStartAutomatically), static_cast<QWidget*>(cmdPreview)})
        control->setEnabled(!walking);
}

void frmConfig::cmdCancel_Click()
{
    // During OK's reading of the folders, Cancel stops only the reading.
    if (m_walking) {
        m_cancelWalk = true;
        return;
    }
    reject();
}

void frmConfig::cmdAdd_Click()
{
    const QString folder = m_services.browseForFolder(this);
    // The same folder may be listed more than once; each entry is scanned on OK.
    if (!folder.isEmpty())
        FirstDirectories->scrollToItem(AddListEntry(folder));
}

QListWidgetItem* frmConfig::AddListEntry(const QString& folder)
{
    auto* item = new QListWidgetItem(folder, FirstDirectories);
    item->setToolTip(folder);
    return item;
}

void frmConfig::cmdDelete_Click()
{
    const int index = ListIndex();
    if (index >= 0)
        delete FirstDirectories->takeItem(index);
    // Nothing is selected afterwards, not even the entry that moved up into the place.
    FirstDirectories->setCurrentItem(nullptr);
    FirstDirectories->clearSelection();
    // A disabled button that has the focus passes it on to the next control, the interval box,
    // where a stray key would overwrite the interval: the list takes it first.
    FirstDirectories->setFocus(Qt::OtherFocusReason);
    cmdDelete->setEnabled(false);
}

void frmConfig::FirstDirectories_Click()
{
    cmdDelete->setEnabled(ListIndex() >= 0);
}

void frmConfig::lblWeb_Click()
{
    m_services.openWebAddress(lblWeb->text());
}

void frmConfig::cmdOptions_Click()
{
    // Kept here until OK saves them or Cancel drops them with everything else.
    frmOptions options(m_options, this);
    if (options.exec() == QDialog::Accepted)
        m_options = options.Chosen();
}

void frmConfig::cmdPreview_Click()
{
    // The show as it is saved: what the dialog holds counts only after OK.
    if (m_services.preview)
        m_services.preview();
}

} // namespace vb
