#include "TestSupport.h"
#include "platform/runtime/RuntimeError.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "state/ModuleState.h"

#include <QTemporaryDir>
#include <QTest>

using namespace vb;
using vbtest::FakeLister;

class tst_Settings : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;

    void Store(const QByteArray& content) { QVERIFY(vbtest::WriteFile(m_path, content)); }
    IniDocument Stored() const { return SettingsStore(m_path).Read(); }
    std::optional<QString> StoredValue(const QString& key) const { return Stored().Value("Settings", key); }

    static FakeLister Pictures()
    {
        FakeLister lister;
        lister.folders["/a/"].entries = {{"1.jpg"}, {"2.gif"}};
        lister.folders["/c/"].entries = {{"3.bmp"}};
        return lister;
    }

private slots:
    void init()
    {
        ResetModuleState();
        // No pictures folder for a first run to find.
        qputenv("HOME", QFile::encodeName(m_dir.filePath("home")));
        qunsetenv("XDG_CONFIG_HOME");
        m_path = m_dir.filePath("Lanternshade.ini");
        QFile::remove(m_path);
    }

    // What loading makes of the stored settings, on top of stale lists; loading writes nothing.
    void load_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QStringList>("pictures");
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("show");
        QTest::newRow("empty store gives defaults")
            << QByteArray() << QStringList() << QStringList() << 60 << 0;
        QTest::newRow("skips gaps and stops at the count")
            << QByteArray("[Settings]\nNumDirs=3\nDir1=/a\nDir2=\nDir3=/c\nDir4=/never-read\nInterval=15\n"
                          "ShowFileNames=True\n")
            << QStringList{"/a", "/c"} << QStringList{"/a/1.jpg", "/a/2.gif", "/c/3.bmp"} << 15 << -1;
        QTest::newRow("duplicate folders count twice")
            << QByteArray("[Settings]\nNumDirs=2\nDir1=/a\nDir2=/a/\n") << QStringList{"/a", "/a/"}
            << QStringList{"/a/1.jpg", "/a/2.gif", "/a/1.jpg", "/a/2.gif"} << 60 << 0;
        QTest::newRow("count of zero reads no folder")
            << QByteArray("[Settings]\nNumDirs=0\nDir1=/a\n") << QStringList() << QStringList() << 60 << 0;
        QTest::newRow("negative count reads no folder")
            << QByteArray("[Settings]\nNumDirs=-3\nDir1=/a\n") << QStringList() << QStringList() << 60 << 0;
        const auto values = [](const char* name, const QByteArray& interval, const QByteArray& show, int i,
                               int s) {
            QTest::newRow(name) << "[Settings]\nInterval=" + interval + "\nShowFileNames=" + show + "\n"
                                << QStringList() << QStringList() << i << s;
        };
        values("true lower", "60", "true", 60, -1);
        values("TRUE upper", "60", "TRUE", 60, -1);
        values("-1", "60", "-1", 60, -1);
        values("0", "60", "0", 60, 0);
        values("interval 0", "0", "False", 0, 0);
        values("interval -5", "-5", "False", -5, 0);
        values("interval blanks and fraction", " 2.5 ", "False", 2, 0);
    }
    void load()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, folders);
        QFETCH(QStringList, pictures);
        QFETCH(int, interval);
        QFETCH(int, show);
        if (!content.isEmpty())
            Store(content);
        FolderList = {"/stale"};
        PictureList = {"/stale/x.jpg"};
        const FakeLister lister = Pictures();
        LoadSettings(SettingsStore(m_path), lister);
        QCOMPARE(FolderList, folders);
        QCOMPARE(PictureList.ToStringList(), pictures);
        // Each folder listed once; the walks run at once, so in no set order.
        QStringList listed, asked = lister.asked;
        for (const QString& folder : folders)
            listed.append(folder.endsWith('/') ? folder : folder + '/');
        listed.sort();
        asked.sort();
        QCOMPARE(asked, listed);
        QCOMPARE(IntervalSeconds, interval);
        QCOMPARE(int(ShowFileNames), show);
        QCOMPARE(vbtest::ReadFile(m_path), content);
        QCOMPARE(QFile::exists(m_path), !content.isEmpty());
    }

    // A stored text that does not convert is fatal; the error names the key, the text and the file.
    void badStoredValue_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<ErrorCode>("code");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("listsBuilt");
        QTest::newRow("NumDirs abc") << QByteArray("NumDirs=abc") << ErrorCode::TypeMismatch << "NumDirs"
                                     << "abc" << false;
        QTest::newRow("NumDirs 40000") << QByteArray("NumDirs=40000") << ErrorCode::Overflow << "NumDirs"
                                       << "40000" << false;
        QTest::newRow("NumDirs empty") << QByteArray("NumDirs=") << ErrorCode::TypeMismatch << "NumDirs"
                                       << "" << false;
        QTest::newRow("Interval huge")
            << QByteArray("NumDirs=1\nDir1=/a\nInterval=99999999999") << ErrorCode::Overflow << "Interval"
            << "99999999999" << true;
        QTest::newRow("Interval words")
            << QByteArray("NumDirs=1\nDir1=/a\nInterval=a minute") << ErrorCode::TypeMismatch << "Interval"
            << "a minute" << true;
        QTest::newRow("ShowFileNames yes") << QByteArray("NumDirs=1\nDir1=/a\nShowFileNames=yes")
                                           << ErrorCode::TypeMismatch << "ShowFileNames"
                                           << "yes" << true;
        QTest::newRow("FitLargePictures on") << QByteArray("NumDirs=1\nDir1=/a\nFitLargePictures=on")
                                             << ErrorCode::TypeMismatch << "FitLargePictures"
                                             << "on" << true;
        QTest::newRow("Shuffle empty")
            << QByteArray("NumDirs=1\nDir1=/a\nShuffle=") << ErrorCode::TypeMismatch << "Shuffle"
            << "" << true;
        QTest::newRow("OutlineFileNames Tru") << QByteArray("NumDirs=1\nDir1=/a\nOutlineFileNames=Tru")
                                              << ErrorCode::TypeMismatch << "OutlineFileNames"
                                              << "Tru" << true;
        // It steers the catalogue, so it is read before the lists are built.
        QTest::newRow("AllPictureTypes yes") << QByteArray("NumDirs=1\nDir1=/a\nAllPictureTypes=yes")
                                             << ErrorCode::TypeMismatch << "AllPictureTypes"
                                             << "yes" << false;
        QTest::newRow("ShowDateTaken yes") << QByteArray("NumDirs=1\nDir1=/a\nShowDateTaken=yes")
                                           << ErrorCode::TypeMismatch << "ShowDateTaken"
                                           << "yes" << true;
    }
    void badStoredValue()
    {
        QFETCH(QByteArray, content);
        QFETCH(ErrorCode, code);
        QFETCH(QString, key);
        QFETCH(QString, text);
        QFETCH(bool, listsBuilt);
        Store("[Settings]\n" + content + "\n");
        FolderList = {"/before"};
        try {
            LoadSettings(SettingsStore(m_path), Pictures());
            QFAIL("no error");
        } catch (const RuntimeError& e) {
            QCOMPARE(e.code(), code);
            const QString expected =
                QString("setting %1 holds \"%2\" (%3)").arg(key, text, SettingsStore(m_path).displayPath());
            QCOMPARE(e.cause(), expected);
        }
        QCOMPARE(FolderList, listsBuilt ? QStringList{"/a"} : QStringList{"/before"});
    }

    // A folder that cannot be listed costs one warning, not the start-up.
    void unlistableFolderWarnsAndGoesOn()
    {
        Store("[Settings]\nNumDirs=3\nDir1=/a\nDir2=/broken\nDir3=/c\n");
        FakeLister lister = Pictures();
        lister.folders["/broken/"].entries = {{"x.bmp"}, {"y.jpg"}, {"z.bmp"}};
        lister.folders["/broken/"].failAfter = 2;
        vbtest::StderrCapture capture;
        LoadSettings(SettingsStore(m_path), lister);
        const QStringList lines = capture.Finish().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].startsWith("vellumbright: warning: ") && lines[0].contains("/broken") &&
                     lines[0].contains("Dir2"),
                 qPrintable(lines[0]));
        QCOMPARE(FolderList, (QStringList{"/a", "/broken", "/c"}));
        // Of the broken folder, what the "*.bmp" pass saw before the failure.
        QCOMPARE(PictureList.ToStringList(),
                 (QStringList{"/a/1.jpg", "/a/2.gif", "/broken/x.bmp", "/c/3.bmp"}));
    }

    void unreadableStoreIsFatal()
    {
        QVERIFY(QDir().mkpath(m_path));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, LoadSettings(SettingsStore(m_path), FakeLister()));
        QDir(m_path).removeRecursively();
    }

    // A save writes the folders, the interval and ShowFileNames over the stored ones: it deletes
    // the Dir keys past the new count, also when the count shrinks to nothing, and leaves those
    // past the old count alone; a gap in the stored folders is closed by loading and saving; a
    // Dir key below the stored count that someone removed by hand is no error to delete. A stored
    // count that does not convert fails the save before anything is written.
    void save_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<bool>("loadFirst"); // else the state below
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("show");
        QTest::addColumn<QByteArray>("after"); // the file; as before where the save fails
        QTest::newRow("shrinks")
            << QByteArray("[Settings]\nNumDirs=5\nDir1=/1\nDir2=/2\nDir3=/3\nDir4=/4\nDir5=/5\nInterval=60\n"
                          "ShowFileNames=False\n")
            << false << QStringList{"/x", "/y"} << 90 << -1
            << QByteArray("[Settings]\nNumDirs=2\nDir1=/x\nDir2=/y\nInterval=90\nShowFileNames=True\n");
        QTest::newRow("grows without deleting")
            << QByteArray("[Settings]\nNumDirs=2\nDir1=/1\nDir2=/2\nDir7=/left alone\n") << false
            << QStringList{"/a", "/b", "/c", "/d", "/e"} << 60 << 0
            << QByteArray(
                   "[Settings]\nNumDirs=5\nDir1=/a\nDir2=/b\nDir7=/left alone\nDir3=/c\nDir4=/d\nDir5=/e\n"
                   "Interval=60\nShowFileNames=False\n");
        QTest::newRow("gap closed") << QByteArray("[Settings]\nNumDirs=3\nDir1=/a\nDir3=/c\n") << true
                                    << QStringList() << 0 << 0
                                    << QByteArray("[Settings]\nNumDirs=2\nDir1=/a\nDir2=/c\nInterval=60\n"
                                                  "ShowFileNames=False\n");
        QTest::newRow("zero folders")
            << QByteArray("[Settings]\nNumDirs=2\nDir1=/a\nDir2=/b\n") << false << QStringList() << 0 << 0
            << QByteArray("[Settings]\nNumDirs=0\nInterval=0\nShowFileNames=False\n");
        QTest::newRow("missing key below the old count")
            << QByteArray("[Settings]\nNumDirs=4\nDir1=/a\nDir2=/b\nDir4=/d\n") << false << QStringList{"/a"}
            << 0 << 0 << QByteArray("[Settings]\nNumDirs=1\nDir1=/a\nInterval=0\nShowFileNames=False\n");
        QTest::newRow("bad count fails before writing")
            << QByteArray("[Settings]\nNumDirs=abc\nDir1=/a\n") << false << QStringList{"/x"} << 0 << 0
            << QByteArray("[Settings]\nNumDirs=abc\nDir1=/a\n");
    }
    void save()
    {
        QFETCH(QByteArray, before);
        QFETCH(bool, loadFirst);
        QFETCH(QStringList, folders);
        QFETCH(int, interval);
        QFETCH(int, show);
        QFETCH(QByteArray, after);
        Store(before);
        if (loadFirst) {
            LoadSettings(SettingsStore(m_path), Pictures());
        } else {
            FolderList = folders;
            IntervalSeconds = interval;
            ShowFileNames = qint16(show);
        }
        SettingsStore store(m_path);
        try {
            SaveSettings(store);
            QVERIFY(after != before);
        } catch (const RuntimeError& e) {
            QCOMPARE(e.code(), ErrorCode::TypeMismatch);
            QVERIFY(e.cause().contains("NumDirs"));
            QCOMPARE(after, before);
        }
        QCOMPARE(vbtest::ReadFile(m_path), after);
    }

    // The options: absent is False and a save leaves an option that was never on absent; one that
    // is on is stored "True" after ShowFileNames, and turned off again, "False". The idle
    // watcher's two likewise, its minutes 10 when absent or out of 1 to 240.
    void optionsRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("stored");
        // FitLargePictures, Shuffle, OutlineFileNames, IncludeSubfolders, AllPictureTypes, ShowDateTaken,
        // StartAutomatically, StartAfterMinutes
        QTest::addColumn<QList<int>>("loaded");
        QTest::addColumn<QList<int>>("saved");
        QTest::addColumn<QByteArray>("file");
        const QByteArray head = "[Settings]\nNumDirs=0\nInterval=60\nShowFileNames=False\n";
        const QList<int> off{0, 0, 0, 0, 0, 0, 0, 10};
        QTest::newRow("absent, saved off") << QByteArray() << off << off << head;
        QTest::newRow("absent, saved on")
            << QByteArray() << off << QList<int>{-1, 0, -1, 0, -1, -1, 0, 10}
            << head +
                   "FitLargePictures=True\nOutlineFileNames=True\nAllPictureTypes=True\nShowDateTaken=True\n";
        QTest::newRow("stored, turned off")
            << QByteArray("FitLargePictures=true\nShuffle=-1\nOutlineFileNames=1\nIncludeSubfolders=TRUE\n")
            << QList<int>{-1, -1, -1, -1, 0, 0, 0, 10} << QList<int>{0, -1, 0, 0, 0, 0, 0, 10}
            << QByteArray("[Settings]\nFitLargePictures=False\nShuffle=True\nOutlineFileNames=False\n"
                          "IncludeSubfolders=False\nNumDirs=0\nInterval=60\nShowFileNames=False\n");
        QTest::newRow("stored False, saved off")
            << QByteArray("Shuffle=False\n") << off << off
            << QByteArray("[Settings]\nShuffle=False\nNumDirs=0\nInterval=60\nShowFileNames=False\n");
        QTest::newRow("idle watcher chosen") << QByteArray() << off << QList<int>{0, 0, 0, 0, 0, 0, -1, 240}
                                             << head + "StartAfterMinutes=240\nStartAutomatically=True\n";
        for (const char* minutes : {"0", "241", "ten", ""})
            QTest::addRow("minutes \"%s\" are 10", minutes)
                << "StartAfterMinutes=" + QByteArray(minutes) + "\nStartAutomatically=perhaps\n"
                << off << off
                << "[Settings]\nStartAfterMinutes=10\nStartAutomatically=False\n" + head.mid(11);
    }
    void optionsRoundTrip()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QList<int>, loaded);
        QFETCH(QList<int>, saved);
        QFETCH(QByteArray, file);
        if (!stored.isEmpty())
            Store("[Settings]\n" + stored);
        LoadSettings(SettingsStore(m_path), FakeLister());
        qint16* const options[] = {&FitLargePictures,  &Shuffle,         &OutlineFileNames,
                                   &IncludeSubfolders, &AllPictureTypes, &ShowDateTaken};
        const auto values = [&options] {
            QList<int> list;
            for (const qint16* option : options)
                list.append(*option);
            return list << StartAutomatically << StartAfterMinutes;
        };
        QCOMPARE(values(), loaded);
        for (size_t i = 0; i < std::size(options); ++i)
            *options[i] = qint16(saved[qsizetype(i)]);
        StartAutomatically = qint16(saved[6]);
        StartAfterMinutes = saved[7];
        SettingsStore store(m_path);
        SaveSettings(store);
        QCOMPARE(vbtest::ReadFile(m_path), file);
        ResetModuleState();
        LoadSettings(SettingsStore(m_path), FakeLister());
        QCOMPARE(values(), saved);
    }

    void oddFolderNamesRoundTrip_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("spaces") << "/home/me/My Pictures";
        QTest::newRow("edge spaces") << " /lead and trail ";
        QTest::newRow("comma") << "/pics/a,b, c";
        QTest::newRow("quotes") << "/pics/\"best\" of";
        QTest::newRow("equals") << "/pics/a=b";
        QTest::newRow("semicolon") << "/pics;old";
        QTest::newRow("hash") << "#pics";
        QTest::newRow("bracket") << "[Settings]";
        QTest::newRow("backslashes") << "C:\\Share\\Vellumbright\\";
        QTest::newRow("non-ascii") << QString::fromUtf8("/home/zo\xc3\xab/\xe5\x86\x99\xe7\x9c\x9f");
        QTest::newRow("newline") << "/a\nb";
    }
    void oddFolderNamesRoundTrip()
    {
        QFETCH(QString, folder);
        FolderList = {folder, "/after"};
        IntervalSeconds = -7;
        ShowFileNames = -1;
        SettingsStore store(m_path);
        SaveSettings(store);
        ResetModuleState();
        LoadSettings(SettingsStore(m_path), FakeLister());
        QCOMPARE(FolderList, (QStringList{folder, "/after"}));
        QCOMPARE(IntervalSeconds, -7);
        QCOMPARE(ShowFileNames, qint16(-1));
    }

    void tooManyFoldersForTheStore()
    {
        FolderList = QStringList(32767, "/a");
        SettingsStore store(m_path);
        QVERIFY_THROWS_EXCEPTION(RuntimeError, SaveSettings(store));
        QVERIFY(!QFile::exists(m_path));
        FolderList = QStringList(32766, "/a");
        SaveSettings(store);
        QCOMPARE(StoredValue("NumDirs"), std::optional<QString>("32766"));
        LoadSettings(SettingsStore(m_path), FakeLister());
        QCOMPARE(FolderList.size(), 32766);
    }
};

QTEST_GUILESS_MAIN(tst_Settings)
#include "tst_settings.moc"
