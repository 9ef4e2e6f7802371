#include "TestSupport.h"
#include "platform/files/FileNames.h"
#include "platform/runtime/RuntimeError.h"
#include "settings/SettingsStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace vb;

class tst_SettingsStore : public QObject
{
    Q_OBJECT

private slots:
    // Every text the program may write reads back unchanged, through the file.
    void valueRoundTrip_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("empty") << QString();
        QTest::newRow("plain path") << "/home/me/Pictures";
        QTest::newRow("spaces inside") << "/home/me/My Pictures";
        QTest::newRow("leading and trailing spaces") << "  /a b  ";
        QTest::newRow("comma") << "/pics/a, b,c";
        QTest::newRow("double quotes") << "/pics/\"quoted\"";
        QTest::newRow("leading quote") << "\"/pics";
        QTest::newRow("quotes both ends") << "\"/pics\"";
        QTest::newRow("equals") << "/pics/a=b==";
        QTest::newRow("semicolon") << "/pics/a;b";
        QTest::newRow("leading semicolon") << ";/pics";
        QTest::newRow("hash") << "#/pics#1";
        QTest::newRow("bracket") << "[Settings]";
        QTest::newRow("backslashes") << "C:\\Pics\\new\\";
        QTest::newRow("backslash before quote") << "\\\"";
        QTest::newRow("escape lookalike") << "/a\\nb\\x41";
        QTest::newRow("non-ascii") << QString::fromUtf8(
            "/home/jos\xc3\xa9/Bilder/\xe5\x86\x99\xe7\x9c\x9f \xf0\x9f\x93\xb7");
        QTest::newRow("newline") << "/pics/two\nlines";
        QTest::newRow("carriage return and tab") << "/a\rb\tc";
        QTest::newRow("control char") << QString("/a") + QChar(1) + "b";
        QTest::newRow("only blanks") << "   ";
        QTest::newRow("ends in no-break space") << QString::fromUtf8("/pics/a\xc2\xa0");
        QTest::newRow("ideographic spaces") << QString::fromUtf8("\xe3\x80\x80/pics\xe3\x80\x80");
        QTest::newRow("ends in next line") << QString::fromUtf8("/pics\xc2\x85");
        QTest::newRow("ends in line separator") << QString::fromUtf8("/pics\xe2\x80\xa8");
        QTest::newRow("name not in UTF-8") << DecodeFileName("/pics/caf\xe9 \xff");
    }
    void valueRoundTrip()
    {
        QFETCH(QString, value);
        QTemporaryDir dir;
        SettingsStore store(dir.filePath("Lanternshade.ini"));
        store.Update([&](IniDocument& doc) {
            doc.SetValue("Settings", "Dir1", value);
            doc.SetValue("Settings", "Dir2", "after");
        });
        const IniDocument doc = store.Read();
        QCOMPARE(doc.Value("Settings", "Dir1"), std::optional<QString>(value));
        QCOMPARE(doc.Value("Settings", "Dir2"), std::optional<QString>("after"));
    }

    // What a user writes by hand means what it says: raw text to the end of the line.
    void handWrittenValues_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("value");
        QTest::newRow("comma") << QByteArray("Dir1=/pics/a, b") << "/pics/a, b";
        QTest::newRow("backslashes raw") << QByteArray("Dir1=C:\\a\\new") << "C:\\a\\new";
        QTest::newRow("semicolon inside") << QByteArray("Dir1=/a;b") << "/a;b";
        QTest::newRow("blanks around") << QByteArray("  Dir1 =  /a  ") << "/a";
        QTest::newRow("quoted") << QByteArray("Dir1=\" /a \"") << " /a ";
        QTest::newRow("unbalanced quote") << QByteArray("Dir1=\"/a") << "\"/a";
        QTest::newRow("crlf") << QByteArray("Dir1=/a\r") << "/a";
        QTest::newRow("key case") << QByteArray("dir1=/a") << "/a";
        QTest::newRow("equals in value") << QByteArray("Dir1=a=b") << "a=b";
        QTest::newRow("no-break space kept")
            << QByteArray("Dir1=/a\xc2\xa0 ") << QString::fromUtf8("/a\xc2\xa0");
        QTest::newRow("latin-1") << QByteArray("Dir1=/caf\xe9") << DecodeFileName("/caf\xe9");
    }
    void handWrittenValues()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, value);
        const IniDocument doc = IniDocument::Parse("[Settings]\n" + line + "\n");
        QCOMPARE(doc.Value("Settings", "Dir1"), std::optional<QString>(value));
    }

    void lookupRules()
    {
        const IniDocument doc =
            IniDocument::Parse("NumDirs=9\n"
                               "[Other]\nNumDirs=8\n"
                               "[settings]\n; NumDirs=7\n# NumDirs=6\nNumDirs=1\nNumDirs=2\n"
                               "[Settings]\nInterval=30\n");
        // Of repeated keys the last counts; comments, other sections and keys outside any
        // section do not.
        QCOMPARE(doc.Value("Settings", "NumDirs"), std::optional<QString>("2"));
        QCOMPARE(doc.Value("Settings", "Interval"), std::optional<QString>("30"));
        QCOMPARE(doc.Value("Other", "NumDirs"), std::optional<QString>("8"));
        QCOMPARE(doc.Value("Settings", "Dir1"), std::nullopt);
    }

    void rewriteKeepsForeignContent()
    {
        // Lines in another encoding and CRLF endings come back byte for byte.
        const QByteArray before =
            "; written by hand, caf\xe9\n[Other]\nKey=value, with comma\xa0\r\n\n[Settings]\nNumDirs=2\r\n"
            "Foreign=keep me \xff\nDir1=/a\nDir2=/b\n";
        IniDocument doc = IniDocument::Parse(before);
        doc.SetValue("Settings", "NumDirs", "1");
        QVERIFY(doc.Remove("Settings", "Dir2"));
        QVERIFY(!doc.Remove("Settings", "Dir2"));
        doc.SetValue("Settings", "Interval", "90");
        QCOMPARE(doc.Serialize(),
                 QByteArray("; written by hand, caf\xe9\n[Other]\nKey=value, with comma\xa0\r\n\n[Settings]\n"
                            "NumDirs=1\r\nForeign=keep me \xff\nDir1=/a\nInterval=90\n"));
    }

    void setReplacesEveryCopy()
    {
        IniDocument doc = IniDocument::Parse("[Settings]\nDir1=/old1\nDir1=/old2\n");
        doc.SetValue("Settings", "Dir1", "/new");
        QCOMPARE(doc.Value("Settings", "Dir1"), std::optional<QString>("/new"));
        // Removing the key must not bring an older copy back.
        QVERIFY(doc.Remove("Settings", "Dir1"));
        QCOMPARE(doc.Value("Settings", "Dir1"), std::nullopt);
    }

    void newFileAndFolder()
    {
        QTemporaryDir dir;
        // The configuration folder itself may not exist yet on a first run.
        SettingsStore store(dir.filePath("nested/config/Lanternshade.ini"));
        QCOMPARE(store.Read().Value("Settings", "NumDirs"), std::nullopt);
        store.Update([](IniDocument& doc) { doc.SetValue("Settings", "NumDirs", "0"); });
        QCOMPARE(vbtest::ReadFile(store.filePath()), QByteArray("[Settings]\nNumDirs=0\n"));
        // Nothing but the file and its lock file is left in the folder: no temporary file.
        QCOMPARE(QDir(dir.filePath("nested/config")).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"Lanternshade.ini", "Lanternshade.ini.lock"}));
    }

    // A failing edit writes nothing: the file keeps its old content.
    void failedEditWritesNothing()
    {
        QTemporaryDir dir;
        SettingsStore store(dir.filePath("Lanternshade.ini"));
        QVERIFY(vbtest::WriteFile(store.filePath(), "[Settings]\nNumDirs=1\nDir1=/a\n"));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, store.Update([](IniDocument& doc) {
            doc.SetValue("Settings", "NumDirs", "0");
            throw RuntimeError(ErrorCode::Overflow, "test");
        }));
        QCOMPARE(vbtest::ReadFile(store.filePath()), QByteArray("[Settings]\nNumDirs=1\nDir1=/a\n"));
    }

    // No regular file in its place: a clear error naming the file, at once (a pipe or a device
    // would never end), and nothing replaces it.
    void unreadableFileIsAnError_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("why");
        QTest::newRow("folder") << "folder"
                                << "it is a folder";
        QTest::newRow("pipe") << "pipe"
                              << "it is not a regular file";
        QTest::newRow("link to a device") << "device"
                                          << "it is not a regular file";
    }
    void unreadableFileIsAnError()
    {
        QFETCH(QString, kind);
        QFETCH(QString, why);
        QTemporaryDir dir;
        SettingsStore store(dir.filePath("Lanternshade.ini"));
        const QByteArray path = QFile::encodeName(store.filePath());
        if (kind == "folder")
            QVERIFY(QDir().mkdir(store.filePath()));
        else if (kind == "pipe")
            QCOMPARE(mkfifo(path.constData(), 0600), 0);
        else
            QCOMPARE(symlink("/dev/zero", path.constData()), 0);
        try {
            store.Read();
            QFAIL("reading succeeded");
        } catch (const RuntimeError& e) {
            QCOMPARE(e.code(), ErrorCode::PathFileAccess);
            QVERIFY2(e.cause().contains("Lanternshade.ini: " + why), qPrintable(e.cause()));
        }
        QVERIFY_THROWS_EXCEPTION(RuntimeError, store.Update([](IniDocument&) {}));
        struct stat st;
        QCOMPARE(lstat(path.constData(), &st), 0);
        QVERIFY(!S_ISREG(st.st_mode));
    }

    // A link whose target does not exist yet: nothing stored; a save writes the target and keeps
    // the link.
    void danglingLink()
    {
        QTemporaryDir dir;
        SettingsStore store(dir.filePath("Lanternshade.ini"));
        QCOMPARE(symlink("target.ini", QFile::encodeName(store.filePath()).constData()), 0);
        QVERIFY_THROWS_NO_EXCEPTION(store.Read());
        QCOMPARE(store.Read().Value("Settings", "NumDirs"), std::nullopt);
        QVERIFY_THROWS_NO_EXCEPTION(
            store.Update([](IniDocument& doc) { doc.SetValue("Settings", "NumDirs", "0"); }));
        QVERIFY(QFileInfo(store.filePath()).isSymLink());
        QCOMPARE(vbtest::ReadFile(dir.filePath("target.ini")), QByteArray("[Settings]\nNumDirs=0\n"));
    }

    // A lock file that no live process holds does not stop a save, whatever it holds.
    void leftoverLockIsTakenOver_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty, left by a crash") << QByteArray();
        QTest::newRow("another host's") << QByteArray("4242\nvellumbright\nsome-other-host\n");
        QTest::newRow("a dead process's")
            << QByteArray("999999\nvellumbright\n") + QSysInfo::machineHostName().toUtf8();
    }
    void leftoverLockIsTakenOver()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        SettingsStore store(dir.filePath("Lanternshade.ini"));
        QVERIFY(vbtest::WriteFile(store.filePath() + ".lock", content));
        QElapsedTimer timer;
        timer.start();
        QVERIFY_THROWS_NO_EXCEPTION(
            store.Update([](IniDocument& doc) { doc.SetValue("Settings", "NumDirs", "0"); }));
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"Lanternshade.ini", "Lanternshade.ini.lock"}));
    }

    void displayPathAbbreviatesHome()
    {
        QCOMPARE(SettingsStore(QDir::homePath() + "/.config/Lanternshade.ini").displayPath(),
                 QString("~/.config/Lanternshade.ini"));
        QCOMPARE(SettingsStore("/etc/x.ini").displayPath(), QString("/etc/x.ini"));
    }

    void defaultPath()
    {
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", "/some/where");
        QCOMPARE(SettingsStore::DefaultFilePath(), QString("/some/where/Lanternshade.ini"));
        qputenv("XDG_CONFIG_HOME", "relative/path");
        QCOMPARE(SettingsStore::DefaultFilePath(), QDir::homePath() + "/.config/Lanternshade.ini");
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(SettingsStore::DefaultFilePath(), QDir::homePath() + "/.config/Lanternshade.ini");
        qputenv("XDG_CONFIG_HOME", saved);
    }
};

QTEST_GUILESS_MAIN(tst_SettingsStore)
#include "tst_settingsstore.moc"
