#include "TestSupport.h"
#include "platform/RuntimeError.h"
#include "platform/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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
        const QByteArray before =
            "; written by hand\n[Other]\nKey=value, with comma\n\n[Settings]\nNumDirs=2\n"
            "Foreign=keep me\nDir1=/a\nDir2=/b\n";
        IniDocument doc = IniDocument::Parse(before);
        doc.SetValue("Settings", "NumDirs", "1");
        QVERIFY(doc.Remove("Settings", "Dir2"));
        QVERIFY(!doc.Remove("Settings", "Dir2"));
        doc.SetValue("Settings", "Interval", "90");
        QCOMPARE(doc.Serialize(),
                 QByteArray("; written by hand\n[Other]\nKey=value, with comma\n\n[Settings]\n"
                            "NumDirs=1\nForeign=keep me\nDir1=/a\nInterval=90\n"));
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
        // Nothing but the file itself is left in the folder: no temporary file, no lock.
        QCOMPARE(QDir(dir.filePath("nested/config")).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"Lanternshade.ini"});
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

    void unreadableFileIsAnError()
    {
        QTemporaryDir dir;
        SettingsStore store(dir.filePath("Lanternshade.ini"));
        QVERIFY(QDir().mkdir(store.filePath()));
        try {
            store.Read();
            QFAIL("reading a folder succeeded");
        } catch (const RuntimeError& e) {
            QCOMPARE(e.code(), ErrorCode::PathFileAccess);
            QVERIFY2(e.cause().contains("Lanternshade.ini"), qPrintable(e.cause()));
        }
        QVERIFY_THROWS_EXCEPTION(RuntimeError, store.Update([](IniDocument&) {}));
        QVERIFY(QFileInfo(store.filePath()).isDir());
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
