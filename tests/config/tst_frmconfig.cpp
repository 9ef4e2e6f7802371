#include "TestSupport.h"
#include "catalogue/PictureIndex.h"
#include "config/frmConfig.h"
#include "config/frmOptions.h"
#include "platform/runtime/DetachedThread.h"
#include "platform/runtime/RuntimeError.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "state/ModuleState.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyleOptionButton>
#include <QStyleOptionViewItem>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <mutex>
#include <optional>
#include <pthread.h>

using namespace vb;

namespace {

// Forwards to a FakeLister and notes the pointer shape the application shows during each listing.
class PointerWatchingLister final : public DirectoryLister
{
public:
    vbtest::FakeLister inner;
    mutable QList<int> shapes; // -1: no override pointer
    // The folders' walks read at once, each on threads of its own.
    mutable std::mutex shapesMutex;

    void List(const QString& folder, const Wanted& wanted, const Found& found) const override
    {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        std::unique_lock lock(shapesMutex);
        shapes.append(cursor ? int(cursor->shape()) : -1);
        lock.unlock();
        inner.List(folder, wanted, found);
    }
};

QStringList Entries(const QListWidget* list)
{
    QStringList entries;
    for (int i = 0; i < list->count(); ++i)
        entries.append(list->item(i)->text());
    return entries;
}

} // namespace

class tst_frmConfig : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;
    std::optional<SettingsStore> m_store;
    PointerWatchingLister m_lister;
    QStringList m_pickerAnswers;
    QList<QWidget*> m_pickerOwners;
    QStringList m_opened;
    int m_previews = 0;
    int m_saves = 0;
    QList<bool> m_startAutomatically;
    QStringList m_errors; // "<error>: <cause>"
    std::unique_ptr<frmConfig> m_dialog;
    std::unique_ptr<QSignalSpy> m_finished;
    PictureIndex m_index{m_dir.filePath("cache")};

    // Writes the settings file (none for an empty text), loads it as start-up does and opens the
    // dialog on it, shown and active.
    frmConfig& Open(const QByteArray& settings)
    {
        if (!settings.isEmpty())
            vbtest::WriteFile(m_path, settings);
        m_store.emplace(m_path);
        LoadSettings(*m_store, m_lister);
        m_dialog = std::make_unique<frmConfig>(ConfigServices{
            *m_store,
            m_lister,
            [this](QWidget* owner) {
                m_pickerOwners.append(owner);
                return m_pickerAnswers.isEmpty() ? QString() : m_pickerAnswers.takeFirst();
            },
            [this](const QString& address) { m_opened.append(address); },
            [this](const RuntimeError& error) { m_errors.append(error.errorText() + ": " + error.cause()); },
            &m_index,
            [this] { ++m_previews; },
            [this](bool start) { m_startAutomatically.append(start); },
            [this] { ++m_saves; },
        });
        m_finished = std::make_unique<QSignalSpy>(m_dialog.get(), &QDialog::finished);
        m_dialog->show();
        return *m_dialog;
    }

    template <typename T>
    T* Control(const char* name) const
    {
        T* control = m_dialog->findChild<T*>(QLatin1String(name));
        if (!control)
            qFatal("no control %s", name);
        return control;
    }
    QListWidget* List() const { return Control<QListWidget>("FirstDirectories"); }
    void Click(const char* name) const { QTest::mouseClick(Control<QWidget>(name), Qt::LeftButton); }
    QPushButton* Delete() const { return Control<QPushButton>("cmdDelete"); }

    void ClickEntry(int row) const
    {
        QListWidget* list = List();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(row)).center());
    }
    // A key as the window system delivers it: to whichever control has the focus.
    void Key(Qt::Key key) const { QTest::keyClick(m_dialog->windowHandle(), key); }

    std::optional<QString> Stored(const QString& key) const
    {
        return SettingsStore(m_path).Read().Value(QStringLiteral("Settings"), key);
    }
    // The results the dialog finished with.
    QList<int> Results() const
    {
        QList<int> results;
        for (const QList<QVariant>& finished : *m_finished)
            results.append(finished.first().toInt());
        return results;
    }

    static QByteArray FourFolders()
    {
        return "[Settings]\nNumDirs=4\nDir1=/a\nDir2=/b\nDir3=/c\nDir4=/d\nInterval=45\n";
    }

private slots:
    void init()
    {
        ResetModuleState();
        // A home without a pictures folder, unless a test makes one.
        qputenv("HOME", QFile::encodeName(m_dir.filePath("home")));
        qunsetenv("XDG_CONFIG_HOME");
        m_path = m_dir.filePath("Lanternshade.ini");
        QFile::remove(m_path);
        m_lister.inner = vbtest::FakeLister();
        m_lister.shapes.clear();
        m_previews = 0;
        m_saves = 0;
        m_startAutomatically.clear();
        m_lister.inner.folders["/a/"].entries = {{"a1.jpg"}, {"a2.gif"}};
        m_lister.inner.folders["/c/"].entries = {{"c1.bmp"}};
        m_lister.inner.folders["/p/"].entries = {{"p1.jpeg"}};
        m_pickerAnswers.clear();
        m_pickerOwners.clear();
        m_opened.clear();
        m_errors.clear();
    }
    void cleanup()
    {
        m_finished.reset();
        m_dialog.reset();
    }

    // A first run, with no settings file, offers the user's pictures folder and everything below
    // it; only OK writes the settings.
    void initialState_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("entries"); // "~": the home folder
        QTest::addColumn<QString>("interval");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<QStringList>("home"); // folders made in it, or "user-dirs.dirs=<text>"
        const QString dirs =
            "user-dirs.dirs=XDG_PICTURES_DIR=\"$HOME/Pictures\"\nXDG_PICTURES_DIR=\"Photos\"\n#\n"
            "XDG_PICTURES_DIR=\"$HOME/Broken\nXDG_PICTURES_DIR=/x\n";
        QTest::newRow("no settings file") << QByteArray() << QStringList() << "60" << false << QStringList();
        QTest::newRow("no settings file, ~/Pictures")
            << QByteArray() << QStringList{"~/Pictures"} << "60" << false << QStringList{"Pictures"};
        QTest::newRow("no settings file, user-dirs.dirs") << QByteArray() << QStringList{"~/Photos"} << "60"
                                                          << false << QStringList{"Pictures", "Photos", dirs};
        QTest::newRow("empty settings file")
            << QByteArray("[Settings]\n") << QStringList() << "60" << false << QStringList{"Pictures"};
        QTest::newRow("stored order, negative interval")
            << QByteArray(
                   "[Settings]\nNumDirs=3\nDir1=/z\nDir2=/a\nDir3=/m\nInterval=-30\nShowFileNames=True\n")
            << QStringList{"/z", "/a", "/m"} << "-30" << true << QStringList{"Pictures"};
    }
    void initialState()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, entries);
        QFETCH(QString, interval);
        QFETCH(bool, checked);
        QFETCH(QStringList, home);
        const QString homeDir = m_dir.filePath("home");
        for (const QString& made : home)
            QVERIFY(
                made.startsWith("user-dirs.dirs=")
                    ? vbtest::WriteFile(homeDir + "/.config/user-dirs.dirs", made.section('=', 1).toUtf8())
                    : QDir().mkpath(homeDir + "/" + made));
        const bool firstRunDefaults = !entries.filter(QRegularExpression("^~")).isEmpty();
        entries.replaceInStrings(QRegularExpression("^~"), homeDir);
        frmConfig& dialog = Open(settings);
        QVERIFY(QTest::qWaitForWindowActive(&dialog));

        QCOMPARE(Entries(List()), entries);
        QVERIFY(List()->selectedItems().isEmpty());
        QVERIFY(!Delete()->isEnabled());
        QCOMPARE(Control<QLineEdit>("txtInterval")->text(), interval);
        QCOMPARE(Control<QCheckBox>("chkShowFileNames")->isChecked(), checked);
        QCOMPARE(Control<QGroupBox>("fraCopyright")->title(), QStringLiteral("Vellumbright 1.3"));
        QCOMPARE(QApplication::focusWidget(), Control<QPushButton>("cmdOk"));
        QVERIFY(!dialog.isModal());
        QCOMPARE(IncludeSubfolders, qint16(firstRunDefaults ? -1 : 0));
        QCOMPARE(AllPictureTypes, qint16(firstRunDefaults ? -1 : 0));
        Click("cmdCancel");
        QCOMPARE(QFile::exists(m_path), !settings.isEmpty());
        QDir(homeDir).removeRecursively();
    }

    // Selecting enables Delete; Delete, the button (pressed or clicked) or the key in the list,
    // removes exactly that entry, leaves nothing selected and the focus in the list. Nothing is
    // applied or saved before OK, which also deletes every stored folder of an emptied list.
    void deleteSelectedEntry_data()
    {
        QTest::addColumn<QList<int>>("rows"); // deleted one after another
        QTest::addColumn<QString>("how");
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<QStringList>("pictures");
        const QStringList a{"/a/a1.jpg", "/a/a2.gif"}, c{"/c/c1.bmp"};
        QTest::newRow("first") << QList<int>{0} << "button" << QStringList{"/b", "/c", "/d"} << c;
        QTest::newRow("middle") << QList<int>{2} << "button" << QStringList{"/a", "/b", "/d"} << a;
        QTest::newRow("last") << QList<int>{3} << "button" << QStringList{"/a", "/b", "/c"} << a + c;
        QTest::newRow("Delete key") << QList<int>{1} << "key" << QStringList{"/a", "/c", "/d"} << a + c;
        QTest::newRow("OK with an empty list deletes stored folders")
            << QList<int>{0, 0, 0, 0} << "click" << QStringList() << QStringList();
    }
    void deleteSelectedEntry()
    {
        QFETCH(QList<int>, rows);
        QFETCH(QString, how);
        QFETCH(QStringList, left);
        QFETCH(QStringList, pictures);
        QVERIFY(QTest::qWaitForWindowActive(&Open(FourFolders())));
        for (const int row : rows) {
            QVERIFY(!Delete()->isEnabled());
            ClickEntry(row);
            QVERIFY(Delete()->isEnabled());
            if (how == "key") {
                Key(Qt::Key_Delete);
            } else if (how == "click") {
                Click("cmdDelete");
            } else {
                Delete()->setFocus();
                Key(Qt::Key_Space);
            }
            QVERIFY(List()->selectedItems().isEmpty());
            QVERIFY(!Delete()->isEnabled());
            QCOMPARE(QApplication::focusWidget(), List());
        }
        QCOMPARE(Entries(List()), left);
        Key(Qt::Key_Delete); // nothing selected: nothing happens
        QCOMPARE(Entries(List()), left);
        QCOMPARE(FolderList, (QStringList{"/a", "/b", "/c", "/d"}));
        QCOMPARE(Stored("Dir4"), QString("/d"));

        Click("cmdOk");
        QCOMPARE(FolderList, left);
        QCOMPARE(PictureList.ToStringList(), pictures);
        QCOMPARE(vbtest::StoredFolders(m_path), left);
        QCOMPARE(Stored("Interval"), QString("45"));
    }

    // Each picker answer in turn; an empty answer (cancelled) adds nothing.
    void addFolders_data()
    {
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("pictures");
        QTest::newRow("cancelled") << QStringList{""} << QStringList{"/a"}
                                   << QStringList{"/a/a1.jpg", "/a/a2.gif"};
        QTest::newRow("same folder twice")
            << QStringList{"/p", "/p"} << QStringList{"/a", "/p", "/p"}
            << QStringList{"/a/a1.jpg", "/a/a2.gif", "/p/p1.jpeg", "/p/p1.jpeg"};
        QTest::newRow("root, cancel, folder") << QStringList{"/", "", "/c"} << QStringList{"/a", "/", "/c"}
                                              << QStringList{"/a/a1.jpg", "/a/a2.gif", "/c/c1.bmp"};
    }
    void addFolders()
    {
        QFETCH(QStringList, answers);
        QFETCH(QStringList, entries);
        QFETCH(QStringList, pictures);
        frmConfig& dialog = Open("[Settings]\nNumDirs=1\nDir1=/a\n");
        ClickEntry(0);
        m_pickerAnswers = answers;
        for (qsizetype i = 0; i < answers.size(); ++i)
            Click("cmdAdd");

        QCOMPARE(m_pickerOwners.size(), answers.size());
        QVERIFY(std::all_of(m_pickerOwners.begin(), m_pickerOwners.end(),
                            [&](QWidget* owner) { return owner == &dialog; }));
        QCOMPARE(Entries(List()), entries);
        // Adding leaves the selection, and so Delete, as it was.
        QCOMPARE(List()->selectedItems().size(), 1);
        QCOMPARE(List()->selectedItems().first()->text(), QStringLiteral("/a"));
        QVERIFY(Delete()->isEnabled());

        Click("cmdOk");
        QCOMPARE(FolderList, entries);
        QCOMPARE(PictureList.ToStringList(), pictures);
        QCOMPARE(vbtest::StoredFolders(m_path), entries);
    }

    // Long paths added to a long list of short ones are shown in full, with a horizontal scroll
    // bar and the path as tooltip, and the last one added is scrolled into view.
    void longPathsAndLongList()
    {
        QByteArray settings = "[Settings]\nNumDirs=40\n";
        for (int i = 1; i <= 40; ++i)
            settings += QString("Dir%1=/p%1\n").arg(i).toUtf8();
        Open(settings);
        const QString parent = "/home/someone/Pictures/holidays/" + QString(60, u'x');
        // Under one long parent, so that only their ends tell them apart.
        m_pickerAnswers = {parent + "/" + QString(40, u'c'), parent + "/" + QString(20, u'b'), parent + "/a"};
        for (int i = 0; i < 3; ++i)
            Click("cmdAdd");
        QCOMPARE(List()->count(), 43);
        QTRY_VERIFY(List()->horizontalScrollBar()->maximum() > 0);
        QStyleOptionViewItem option;
        option.initFrom(List());
        option.font = List()->font();
        for (int i = 0; i < List()->count(); ++i) {
            const QListWidgetItem* item = List()->item(i);
            const QModelIndex index = List()->model()->index(i, 0);
            QVERIFY(List()->visualItemRect(item).width() >=
                    List()->itemDelegate()->sizeHint(option, index).width());
            QCOMPARE(item->toolTip(), item->text());
        }
        const auto shown = [&] {
            const QRect place = List()->visualItemRect(List()->item(42));
            return place.top() >= 0 && place.bottom() < List()->viewport()->height();
        };
        QTRY_VERIFY(shown());
    }

    // Every way of leaving without OK, after edits to every control.
    void leavingWithoutOkChangesNothing_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("Cancel clicked") << "cancel";
        QTest::newRow("Esc on OK") << "cmdOk";
        QTest::newRow("Esc in the list") << "FirstDirectories";
        QTest::newRow("Esc in the interval box") << "txtInterval";
        QTest::newRow("Esc on the check box") << "chkShowFileNames";
        QTest::newRow("window closed") << "close";
    }
    void leavingWithoutOkChangesNothing()
    {
        QFETCH(QString, way);
        frmConfig& dialog = Open(FourFolders());
        const QByteArray file = vbtest::ReadFile(m_path);
        const QStringList folders = FolderList;
        const QStringList pictures = PictureList.ToStringList();
        QSignalSpy cancelPressed(Control<QPushButton>("cmdCancel"), &QPushButton::clicked);

        ClickEntry(1);
        Click("cmdDelete");
        m_pickerAnswers = {"/p"};
        Click("cmdAdd");
        Control<QLineEdit>("txtInterval")->setText("7");
        Click("chkShowFileNames");
        QCOMPARE(Entries(List()), (QStringList{"/a", "/c", "/d", "/p"}));

        if (way == "cancel") {
            Click("cmdCancel");
        } else if (way == "close") {
            dialog.windowHandle()->close();
        } else {
            Control<QWidget>(qPrintable(way))->setFocus();
            Key(Qt::Key_Escape);
        }

        QCOMPARE(Results(), QList<int>{QDialog::Rejected});
        QVERIFY(!dialog.isVisible());
        // Esc presses the cancel button itself; closing the window does the same without it.
        QCOMPARE(cancelPressed.size(), way == "close" ? 0 : 1);
        QCOMPARE(FolderList, folders);
        QCOMPARE(PictureList.ToStringList(), pictures);
        QCOMPARE(IntervalSeconds, 45);
        QCOMPARE(ShowFileNames, qint16(0));
        QCOMPARE(vbtest::ReadFile(m_path), file);
    }

    // Enter presses OK unless a button has the focus; then it presses that button.
    void enterKey_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QString>("pressed");
        const auto row = [](const char* tag, const char* focus, const char* pressed) {
            QTest::newRow(tag) << QString(focus) << QString(pressed);
        };
        row("OK", "cmdOk", "cmdOk");
        row("list", "FirstDirectories", "cmdOk");
        row("interval box", "txtInterval", "cmdOk");
        row("check box", "chkShowFileNames", "cmdOk");
        row("Cancel", "cmdCancel", "cmdCancel");
        row("Add", "cmdAdd", "cmdAdd");
        row("Delete", "cmdDelete", "cmdDelete");
    }
    void enterKey()
    {
        QFETCH(QString, focus);
        QFETCH(QString, pressed);
        frmConfig& dialog = Open(FourFolders());
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        ClickEntry(0);
        QList<std::pair<QString, std::shared_ptr<QSignalSpy>>> spies;
        for (const char* name : {"cmdOk", "cmdCancel", "cmdAdd", "cmdDelete"})
            spies.append(
                {name, std::make_shared<QSignalSpy>(Control<QPushButton>(name), &QPushButton::clicked)});

        Control<QWidget>(qPrintable(focus))->setFocus();
        QCOMPARE(QApplication::focusWidget()->objectName(), focus);
        Key(Qt::Key_Return);

        for (const auto& [name, spy] : spies)
            QCOMPARE(spy->size(), name == pressed ? 1 : 0);
    }

    // What OK makes of the interval text; the interval at load is 45.
    void intervalText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint32>("interval");
        QTest::newRow("letters") << "abc" << 45;
        QTest::newRow("empty") << "" << 45;
        QTest::newRow("beyond 32 bits") << "99999999999" << 45;
        QTest::newRow("one beyond the top") << "2147483648" << 45;
        QTest::newRow("number then letters") << "12abc" << 45;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("negative") << "-5" << -5;
        QTest::newRow("half to even, down") << "2.5" << 2;
        QTest::newRow("half to even, up") << "3.5" << 4;
        QTest::newRow("blanks around") << " 7 " << 7;
        QTest::newRow("plus sign") << "+8" << 8;
        QTest::newRow("lowest") << "-2147483648" << std::numeric_limits<qint32>::min();
    }
    void intervalText()
    {
        QFETCH(QString, text);
        QFETCH(qint32, interval);
        Open(FourFolders());
        QLineEdit* box = Control<QLineEdit>("txtInterval");
        box->clear();
        QTest::keyClicks(box, text);
        QCOMPARE(box->text(), text);

        Click("cmdOk");
        QCOMPARE(IntervalSeconds, interval);
        QCOMPARE(Stored("Interval"), QString::number(interval));
        // The rest is applied and saved all the same.
        QCOMPARE(Stored("NumDirs"), QString("4"));
        QCOMPARE(Results(), QList<int>{QDialog::Accepted});
        QVERIFY(m_errors.isEmpty());
    }

    // The idle watcher's controls: OK stores the minutes (1 to 240; a box that holds none keeps
    // them) and the check box, tells a running watcher, and hands the check box on when it
    // changed; Preview starts the show.
    void idleControls_data()
    {
        QTest::addColumn<QString>("minutes");
        QTest::addColumn<bool>("tick");
        QTest::addColumn<QString>("button");
        QTest::addColumn<std::optional<QString>>("stored");
        QTest::addColumn<QList<bool>>("applied");
        QTest::newRow("25, ticked") << "25" << true << "cmdOk" << std::optional<QString>("25")
                                    << QList<bool>{true};
        QTest::newRow("0 keeps 10, unticked as before")
            << "0" << false << "cmdOk" << std::optional<QString>() << QList<bool>{};
        QTest::newRow("empty keeps 10")
            << "" << true << "cmdOk" << std::optional<QString>() << QList<bool>{true};
        QTest::newRow("Cancel") << "25" << true << "cmdCancel" << std::optional<QString>() << QList<bool>{};
    }
    void idleControls()
    {
        QFETCH(QString, minutes);
        QFETCH(bool, tick);
        QFETCH(QString, button);
        QFETCH(std::optional<QString>, stored);
        QFETCH(QList<bool>, applied);
        Open(FourFolders());
        QCOMPARE(Control<QLineEdit>("txtStartAfter")->text(), QStringLiteral("10"));
        QCOMPARE(Control<QLabel>("lblStartAfter")->text(), QStringLiteral("Start after"));
        QCOMPARE(Control<QLabel>("lblMinutes")->text(), QStringLiteral("minutes without input"));
        QCOMPARE(Control<QCheckBox>("chkStartAutomatically")->text(), QStringLiteral("Start automatically"));
        Click("cmdPreview");
        QCOMPARE(m_previews, 1);
        Control<QLineEdit>("txtStartAfter")->clear();
        QTest::keyClicks(Control<QLineEdit>("txtStartAfter"), minutes);
        Control<QCheckBox>("chkStartAutomatically")->setChecked(tick);
        Click(qPrintable(button));
        QCOMPARE(Stored("StartAfterMinutes"), stored);
        QCOMPARE(Stored("StartAutomatically"),
                 applied.value(0) ? std::optional<QString>("True") : std::optional<QString>());
        QCOMPARE(m_startAutomatically, applied);
        QCOMPARE(m_saves, button == "cmdOk" ? 1 : 0);
    }

    // A folder that cannot be listed keeps what was found before the failure, stays listed and
    // saved, and the folders after it are scanned; all of it under the busy pointer.
    void unlistableFolderIsSkipped()
    {
        m_lister.inner.folders["/bad/"] = {{{"b1.bmp"}, {"b2.jpg"}, {"b3.bmp"}}, 1};
        Open("[Settings]\nNumDirs=3\nDir1=/bad\nDir2=/a\nDir3=/bad\n");
        m_lister.shapes.clear();

        Click("cmdOk");
        QCOMPARE(FolderList, (QStringList{"/bad", "/a", "/bad"}));
        QCOMPARE(vbtest::StoredFolders(m_path), FolderList);
        QCOMPARE(Results(), QList<int>{QDialog::Accepted});
        QVERIFY(m_errors.isEmpty());
        QCOMPARE(m_lister.shapes, (QList<int>{Qt::WaitCursor, Qt::WaitCursor, Qt::WaitCursor}));
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        // The show gets the catalogue of the folders as listed, the failing ones' part included.
        QCOMPARE(PictureList.ToStringList(),
                 Catalogue({FolderList, {}, std::nullopt, {}}, m_lister).Built().pictures.ToStringList());
        QCOMPARE(PictureList.size(), 4);
    }

    // A folder whose listing does not answer within 2 s holds OK up no longer: it is saved as
    // listed, with one warning naming it, and the folders after it are scanned.
    void silentFolderIsSavedAsListed()
    {
        m_lister.inner.folders["/silent/"] = {{{"s1.jpg"}}, -1, 4000};
        Open("[Settings]\nNumDirs=2\nDir1=/silent\nDir2=/a\n");
        QTRY_COMPARE_WITH_TIMEOUT(DetachedThreadsRunning(), 0, 8000);
        vbtest::StderrCapture capture;
        QElapsedTimer timer;
        timer.start();
        Click("cmdOk");
        const qint64 took = timer.elapsed();
        const QString warnings = capture.Finish();
        QVERIFY2(took >= 1900 && took < 3500, qPrintable(QString::number(took)));
        QCOMPARE(FolderList, (QStringList{"/silent", "/a"}));
        QCOMPARE(PictureList.ToStringList(), (QStringList{"/a/a1.jpg", "/a/a2.gif"}));
        QCOMPARE(vbtest::StoredFolders(m_path), FolderList);
        QCOMPARE(Results(), QList<int>{QDialog::Accepted});
        QCOMPARE(vbtest::ErrorLines(warnings.toLocal8Bit()),
                 QStringList{"vellumbright: warning: folder \"/silent\" did not answer within 2 s"});
        // The listing that answers late is not left running into the next test.
        QTRY_COMPARE_WITH_TIMEOUT(DetachedThreadsRunning(), 0, 8000);
    }

    // OK on a tree that takes a while shows its progress in the dialog, and writes the index once
    // the walk is complete; Esc during the walk stops it: what was chosen is saved all the same,
    // the index is not written.
    void okShowsProgressAndCancels_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("to the end") << false;
        QTest::newRow("Esc during the walk") << true;
    }
    void okShowsProgressAndCancels()
    {
        QFETCH(bool, cancel);
        QDir(m_dir.filePath("cache")).removeRecursively();
        m_lister.inner.folders["/slow/"] = {{{"s1.jpg"}}, -1, 800};
        Open("[Settings]\nNumDirs=2\nDir1=/slow\nDir2=/a\n");
        QString shown;
        QTimer::singleShot(400, m_dialog.get(), [&] {
            const QLabel* progress = Control<QLabel>("lblProgress");
            shown = progress->isVisible() ? progress->text() : "(hidden)";
            if (cancel)
                QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
        });
        Click("cmdOk");
        QCOMPARE(shown, QString("Reading folders: 0 folders, 0 pictures"));
        QCOMPARE(vbtest::StoredFolders(m_path), (QStringList{"/slow", "/a"}));
        QCOMPARE(Results(), QList<int>{QDialog::Accepted});
        const std::optional<PathList> index = m_index.Load(FolderList, {});
        const QStringList none{"(none)"};
        const QStringList all{"/slow/s1.jpg", "/a/a1.jpg", "/a/a2.gif"};
        QCOMPARE(index ? index->ToStringList() : none, cancel ? none : all);
        QTRY_COMPARE_WITH_TIMEOUT(DetachedThreadsRunning(), 0, 8000);
    }

    // A failed save is not handled by the dialog: it goes to the uncaught-error report, after the
    // edits were applied, and the dialog does not close by itself. No thread to be had for the
    // wait on the settings lock fails the save so too.
    void failedSaveIsAnUncaughtError_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<bool>("noThreads");
        QTest::addColumn<QString>("error");
        QTest::newRow("stored count spoiled") << QByteArray("[Settings]\nNumDirs=many\nDir1=/a\n") << false
                                              << "^Type mismatch: setting NumDirs";
        QTest::newRow("no thread for the lock")
            << QByteArray("[Settings]\nNumDirs=1\nDir1=/a\n") << true
            << "^[^:]+: cannot write settings file .*/Lanternshade\\.ini: cannot lock it: cannot start "
               "the wait for it: .+";
    }
    void failedSaveIsAnUncaughtError()
    {
        QFETCH(QByteArray, stored);
        QFETCH(bool, noThreads);
        QFETCH(QString, error);
        Open("[Settings]\nNumDirs=1\nDir1=/a\nInterval=45\n");
        QVERIFY(vbtest::WriteFile(m_path, stored));
        Control<QLineEdit>("txtInterval")->setText("30");
        m_pickerAnswers = {"/c"};
        Click("cmdAdd");

        // A stack no memory can hold fails every thread start until the usual one is back.
        pthread_attr_t usual, huge;
        QCOMPARE(pthread_getattr_default_np(&usual), 0);
        pthread_attr_init(&huge);
        pthread_attr_setstacksize(&huge, size_t(1) << 46);
        if (noThreads)
            QCOMPARE(pthread_setattr_default_np(&huge), 0);
        Click("cmdOk");
        QCOMPARE(pthread_setattr_default_np(&usual), 0);
        pthread_attr_destroy(&huge);
        pthread_attr_destroy(&usual);
        QCOMPARE(m_errors.size(), 1);
        QVERIFY2(QRegularExpression(error).match(m_errors.first()).hasMatch(), qPrintable(m_errors.first()));
        QCOMPARE(IntervalSeconds, 30);
        QCOMPARE(FolderList, (QStringList{"/a", "/c"}));
        QCOMPARE(PictureList.ToStringList(), (QStringList{"/a/a1.jpg", "/a/a2.gif", "/c/c1.bmp"}));
        QCOMPARE(vbtest::ReadFile(m_path), stored);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QCOMPARE(Results(), QList<int>());
    }

    // "Options..." opens the modal "Slideshow Options" on the choices kept so far; its OK keeps
    // the new ones, its Cancel or Esc drops them; only the main dialog's OK applies and saves.
    void optionsKeptUntilOk_data()
    {
        QTest::addColumn<QString>("leaveOptions");
        QTest::addColumn<QString>("leaveMain");
        // FitLargePictures, Shuffle, OutlineFileNames, ShowDateTaken after
        QTest::addColumn<QList<int>>("options");
        QTest::newRow("OK, then OK") << "cmdOk"
                                     << "cmdOk" << QList<int>{-1, 0, 0, -1};
        QTest::newRow("Cancel, then OK") << "cmdCancel"
                                         << "cmdOk" << QList<int>{0, -1, 0, 0};
        QTest::newRow("Esc, then OK") << "Esc"
                                      << "cmdOk" << QList<int>{0, -1, 0, 0};
        QTest::newRow("OK, then Cancel") << "cmdOk"
                                         << "cmdCancel" << QList<int>{0, -1, 0, 0};
    }
    void optionsKeptUntilOk()
    {
        QFETCH(QString, leaveOptions);
        QFETCH(QString, leaveMain);
        QFETCH(QList<int>, options);
        Open("[Settings]\nNumDirs=1\nDir1=/a\nShuffle=True\n");
        const QByteArray file = vbtest::ReadFile(m_path);
        // Acts in the options dialog once it is open; false when it did not open.
        const auto inOptions = [this](const std::function<void(frmOptions&)>& act, bool byKey = false) {
            bool ran = false;
            QTimer poll;
            connect(&poll, &QTimer::timeout, [&] {
                auto* dialog = qobject_cast<frmOptions*>(QApplication::activeModalWidget());
                if (!dialog)
                    return;
                poll.stop();
                ran = true;
                act(*dialog);
                if (dialog->isVisible())
                    dialog->reject();
            });
            poll.start(10);
            if (byKey)
                QTest::keyClick(m_dialog.get(), Qt::Key_O, Qt::AltModifier); // the button's shortcut
            else
                Click("cmdOptions");
            return QTest::qWaitFor([&] { return ran; }, 5000);
        };
        const auto box = [](frmOptions& dialog, const char* name) {
            return dialog.findChild<QCheckBox*>(QLatin1String(name));
        };
        QVERIFY(inOptions([&](frmOptions& dialog) {
            QCOMPARE(dialog.windowTitle(), QStringLiteral("Slideshow Options"));
            QCOMPARE(box(dialog, "chkFitLargePictures")->text(),
                     QStringLiteral("Fit large pictures to the screen"));
            QCOMPARE(box(dialog, "chkShuffle")->text(),
                     QStringLiteral("Shuffle: show every picture once before repeating"));
            QCOMPARE(box(dialog, "chkOutlineFileNames")->text(), QStringLiteral("Outline file names"));
            QCOMPARE(box(dialog, "chkIncludeSubfolders")->text(), QStringLiteral("Include subfolders"));
            QCOMPARE(box(dialog, "chkAllPictureTypes")->text(),
                     QStringLiteral("All picture types (PNG, WebP, TIFF, HEIC, AVIF)"));
            QCOMPARE(box(dialog, "chkShowDateTaken")->text(), QStringLiteral("Show the date taken"));
            QCOMPARE(dialog.Chosen(), (frmOptions::Choices{false, true, false}));
            QTest::mouseClick(box(dialog, "chkFitLargePictures"), Qt::LeftButton);
            QTest::mouseClick(box(dialog, "chkShuffle"), Qt::LeftButton);
            // On its box: the row is as wide as the longest text, and a click beside the text misses.
            QTest::mouseClick(box(dialog, "chkShowDateTaken"), Qt::LeftButton, {}, QPoint(8, 8));
            if (leaveOptions == "Esc")
                QTest::keyClick(&dialog, Qt::Key_Escape);
            else
                QTest::mouseClick(dialog.findChild<QPushButton*>(leaveOptions), Qt::LeftButton);
            QVERIFY(!dialog.isVisible());
        }));
        // Opened again, from the keyboard, it shows what was kept; nothing is applied or saved yet.
        const bool kept = leaveOptions == "cmdOk";
        m_dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
        QVERIFY(inOptions(
            [&](frmOptions& dialog) {
                QCOMPARE(dialog.Chosen(), (frmOptions::Choices{kept, !kept, false, false, false, kept}));
            },
            true));
        QCOMPARE(Shuffle, qint16(-1));
        QCOMPARE(vbtest::ReadFile(m_path), file);

        Click(qPrintable(leaveMain));
        QCOMPARE((QList<int>{FitLargePictures, Shuffle, OutlineFileNames, ShowDateTaken}), options);
        if (leaveMain == "cmdCancel") {
            QCOMPARE(vbtest::ReadFile(m_path), file);
            return;
        }
        QCOMPARE(Stored("FitLargePictures"), kept ? std::optional<QString>("True") : std::nullopt);
        QCOMPARE(Stored("Shuffle"), QString(kept ? "False" : "True"));
        QCOMPARE(Stored("OutlineFileNames"), std::nullopt);
        QCOMPARE(Stored("ShowDateTaken"), kept ? std::optional<QString>("True") : std::nullopt);
    }

    void webLabelOpensItsText()
    {
        Open(QByteArray());
        QLabel* web = Control<QLabel>("lblWeb");
        const QString address = web->text();
        QVERIFY(address.startsWith("https://"));
        QTest::mouseClick(web, Qt::LeftButton);
        // Neither the right button nor a press that is released off the label is a click.
        QTest::mouseClick(web, Qt::RightButton);
        QTest::mousePress(web, Qt::LeftButton);
        QTest::mouseRelease(web, Qt::LeftButton, {}, QPoint(-5, -5));
        web->setText("https://example.org/other");
        QTest::mouseClick(web, Qt::LeftButton);
        QCOMPARE(m_opened, (QStringList{address, "https://example.org/other"}));
        QVERIFY(m_dialog->isVisible());
    }

    // Design places in pixels (twips / 15), fonts, and texts that are not cut off even where the
    // fallback face is wider than the design's.
    void controlPlaces_data()
    {
        QTest::addColumn<QRect>("place");
        QTest::addColumn<qreal>("points");
        QTest::addColumn<bool>("bold");
        const auto row = [](const char* name, QRect place, qreal points = 8.25, bool bold = false) {
            QTest::newRow(name) << place << points << bold;
        };
        row("chkShowFileNames", {168, 104, 121, 17});
        row("fraCopyright", {8, 8, 401, 89}, 12, true);
        row("Label1_3", {8, 40, 385, 17});
        row("txtInterval", {104, 104, 49, 19});
        // The idle watcher's rows under the interval move the list and the bottom row down by 48.
        row("cmdDelete", {96, 328, 73, 25});
        row("cmdAdd", {8, 328, 73, 25});
        row("FirstDirectories", {8, 184, 401, 134});
        row("cmdCancel", {336, 328, 73, 25});
        row("cmdOk", {256, 328, 73, 25});
        row("Label1_0", {8, 104, 89, 17});
        row("cmdOptions", {176, 328, 73, 25});
        row("lblStartAfter", {8, 128, 89, 17});
        row("txtStartAfter", {104, 128, 49, 19});
        row("lblMinutes", {160, 128, 169, 17});
        row("chkStartAutomatically", {8, 152, 169, 17});
        row("cmdPreview", {336, 124, 73, 25});
    }
    void controlPlaces()
    {
        QFETCH(QRect, place);
        QFETCH(qreal, points);
        QFETCH(bool, bold);
        Open(QByteArray());
        const QWidget* control = Control<QWidget>(QTest::currentDataTag());
        QCOMPARE(control->geometry(), place);
        QCOMPARE(control->font().family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(control->font().pointSizeF(), points);
        QCOMPARE(control->font().bold(), bold);
        if (const auto* label = qobject_cast<const QLabel*>(control))
            QVERIFY(QFontMetrics(label->font()).horizontalAdvance(label->text()) <= label->width());
        if (const auto* box = qobject_cast<const QCheckBox*>(control)) {
            QStyleOptionButton option;
            option.initFrom(box);
            option.text = box->text();
            const QRect room = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
            QVERIFY(QFontMetrics(box->font()).horizontalAdvance(box->text()) <= room.width());
        }
    }

    void window()
    {
        frmConfig& dialog = Open(QByteArray());
        QCOMPARE(dialog.size(), QSize(416, 360));
        QCOMPARE(dialog.minimumSize(), QSize(416, 360));
        QCOMPARE(dialog.maximumSize(), QSize(416, 360));
        QVERIFY(!(dialog.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(dialog.windowIcon().availableSizes(), QList<QSize>{QSize(64, 64)});

        // The web label fits its text and sits centred in the frame.
        const QLabel* web = Control<QLabel>("lblWeb");
        QCOMPARE(web->size(), QSize(QFontMetrics(web->font()).horizontalAdvance(web->text()),
                                    QFontMetrics(web->font()).height()));
        QVERIFY(qAbs(web->x() * 2 + web->width() - Control<QGroupBox>("fraCopyright")->width()) <= 1);

        // Centred on the primary screen by its outer size.
        const QPoint offset =
            dialog.frameGeometry().center() - QGuiApplication::primaryScreen()->geometry().center();
        QVERIFY2(qAbs(offset.x()) <= 1 && qAbs(offset.y()) <= 1,
                 qPrintable(QString("%1 pixels right, %2 down").arg(offset.x()).arg(offset.y())));
    }

    // Tab from OK visits the controls in design order and comes back to OK; Delete only while an
    // entry is selected.
    void tabOrder_data()
    {
        QTest::addColumn<bool>("selected");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("Delete disabled")
            << false << QStringList{"cmdCancel",     "FirstDirectories",      "cmdAdd",
                                    "txtInterval",   "chkShowFileNames",      "cmdOptions",
                                    "txtStartAfter", "chkStartAutomatically", "cmdPreview",
                                    "cmdOk"};
        QTest::newRow("entry selected") << true
                                        << QStringList{"cmdCancel",
                                                       "FirstDirectories",
                                                       "cmdAdd",
                                                       "cmdDelete",
                                                       "txtInterval",
                                                       "chkShowFileNames",
                                                       "cmdOptions",
                                                       "txtStartAfter",
                                                       "chkStartAutomatically",
                                                       "cmdPreview",
                                                       "cmdOk"};
    }
    void tabOrder()
    {
        QFETCH(bool, selected);
        QFETCH(QStringList, order);
        frmConfig& dialog = Open(FourFolders());
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        if (selected) {
            ClickEntry(2);
            Control<QWidget>("cmdOk")->setFocus();
        }
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("cmdOk"));
        QStringList visited;
        for (qsizetype i = 0; i < order.size(); ++i) {
            Key(Qt::Key_Tab);
            visited.append(QApplication::focusWidget()->objectName());
        }
        QCOMPARE(visited, order);
    }
};

QTEST_MAIN(tst_frmConfig)
#include "tst_frmconfig.moc"
