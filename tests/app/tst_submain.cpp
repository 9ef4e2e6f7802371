#include "TestSupport.h"
#include "app/ModeWindows.h"
#include "app/SubMain.h"
#include "platform/runtime/RandomSource.h"
#include "platform/runtime/RuntimeError.h"
#include "settings/SettingsStore.h"
#include "state/ModuleState.h"

#include <QTemporaryDir>
#include <QTest>

using namespace vb;

namespace {

// Every call that start-up makes on a window or a platform service, in order.
struct Journal
{
    QStringList calls;
};

class FakeCover final : public CoverSetHandle
{
public:
    explicit FakeCover(Journal& journal) : m_journal(journal) { m_journal.calls << "cover:load"; }
    void SetCaption(const QString& caption) override { m_journal.calls << "cover:caption " + caption; }
    void Show() override { m_journal.calls << "cover:show"; }
    void Maximise() override { m_journal.calls << "cover:maximise"; }
    void EmbedInto(x11::WindowId host, QSize size) override
    {
        m_journal.calls << QString("cover:embed %1 %2x%3").arg(host).arg(size.width()).arg(size.height());
    }

private:
    Journal& m_journal;
};

class FakeWindows final : public ModeWindows
{
public:
    explicit FakeWindows(Journal& journal) : m_journal(journal) {}
    void ShowConfig() override { m_journal.calls << "config:show"; }
    CoverSetHandle& Cover() override
    {
        if (!m_cover)
            m_cover = std::make_unique<FakeCover>(m_journal);
        return *m_cover;
    }

private:
    Journal& m_journal;
    std::unique_ptr<FakeCover> m_cover;
};

class FakeRandom final : public RandomSource
{
public:
    explicit FakeRandom(Journal& journal) : m_journal(journal) {}
    void Randomize() override { m_journal.calls << "randomize"; }
    double Rnd() override { return 0.5; }

private:
    Journal& m_journal;
};

} // namespace

class tst_SubMain : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    struct Run
    {
        Journal journal;
        FakeRandom random{journal};
        SettingsStore store;
        vbtest::FakeLister lister;
        FakeWindows windows{journal};
        StartupServices services;
        int cursor = 0;

        Run(const QString& path, bool prevInstance, x11::WindowId foundWindow, std::optional<QSize> hostSize)
            : store(path), services{random,
                                    store,
                                    lister,
                                    [this, prevInstance] {
                                        journal.calls << "prevInstance";
                                        return prevInstance;
                                    },
                                    [this, foundWindow](const QString& caption) {
                                        journal.calls << "find " + caption;
                                        return foundWindow;
                                    },
                                    [this, hostSize](x11::WindowId host) {
                                        journal.calls << QString("clientSize %1").arg(host);
                                        return hostSize;
                                    },
                                    [this](bool show) {
                                        journal.calls << (show ? "cursor:show" : "cursor:hide");
                                        return cursor += show ? 1 : -1;
                                    }}
        {
            lister.folders["/pics/"].entries = {{"a.jpg"}};
        }
    };

private slots:
    void init()
    {
        ResetModuleState();
        QFile::remove(m_dir.filePath("Lanternshade.ini"));
    }

    void modes_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("prevInstance");
        QTest::addColumn<uint>("foundWindow");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("ends");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QSize>("hostSize"); // invalid: no such window

        const auto row = [](const char* name, const char* command, bool prev, uint found, int mode, bool ends,
                            const QStringList& calls, QSize hostSize = QSize(152, 112)) {
            QTest::newRow(name) << command << prev << found << mode << ends << calls << hostSize;
        };
        const QStringList alone{"randomize",  "prevInstance",   "cover:load",
                                "cover:show", "cover:maximise", "cursor:hide"};
        row("full screen, alone", "/S", false, 0u, ScreenSaver, false, alone);
        row("no argument", "", false, 0u, ScreenSaver, false, alone);
        // A window of some other program with the caption does not matter while no other copy runs.
        row("alone, caption taken by others", "/s", false, 77u, ScreenSaver, false, alone);
        row("second copy marks itself", "/S", true, 0u, ScreenSaver, false,
            {"randomize", "prevInstance", "find Lanternshade/S", "cover:load", "cover:caption Lanternshade/S",
             "cover:show", "cover:maximise", "cursor:hide"});
        row("third copy ends", "/S", true, 42u, ScreenSaver, true,
            {"randomize", "prevInstance", "find Lanternshade/S"});
        row("configure", "/c", true, 42u, Configure, false, {"randomize", "config:show"});
        row("configure with handle", "/c:1234", false, 0u, Configure, false, {"randomize", "config:show"});
        row("preview", "/p 1234", true, 42u, Preview, false,
            {"randomize", "clientSize 1234", "cover:load", "cover:caption Preview",
             "cover:embed 1234 152x112"});
        row("preview 12 34", "/P 12 34", false, 0u, Preview, false,
            {"randomize", "clientSize 34", "cover:load", "cover:caption Preview", "cover:embed 34 152x112"});
        // A host id that names no window: the cover is embedded with a size of 0 by 0.
        row("preview of a missing host", "/p 99", false, 0u, Preview, false,
            {"randomize", "clientSize 99", "cover:load", "cover:caption Preview", "cover:embed 99 0x0"},
            QSize());
    }
    void modes()
    {
        QFETCH(QString, command);
        QFETCH(bool, prevInstance);
        QFETCH(uint, foundWindow);
        QFETCH(int, mode);
        QFETCH(bool, ends);
        QFETCH(QStringList, calls);
        QFETCH(QSize, hostSize);
        QVERIFY(vbtest::WriteFile(m_dir.filePath("Lanternshade.ini"),
                                  "[Settings]\nNumDirs=1\nDir1=/pics\nInterval=9\n"));
        Run run(m_dir.filePath("Lanternshade.ini"), prevInstance, foundWindow,
                hostSize.isValid() ? std::optional(hostSize) : std::nullopt);
        bool ended = false;
        try {
            SubMain(command, run.services, run.windows);
        } catch (const EndRequest&) {
            ended = true;
        }
        QCOMPARE(ended, ends);
        QCOMPARE(run.journal.calls, calls);
        QCOMPARE(RunMode, mode);
        // The settings and the catalogue are loaded in every mode, the dialog's included.
        QCOMPARE(FolderList, QStringList{"/pics"});
        QCOMPARE(PictureList.ToStringList(), QStringList{"/pics/a.jpg"});
        QCOMPARE(IntervalSeconds, 9);
    }

    // Errors come before any window: no window call and no pointer change.
    void errorsBeforeAnyWindow_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<ErrorCode>("code");
        QTest::newRow("/P alone") << "/P" << QByteArray() << ErrorCode::TypeMismatch;
        QTest::newRow("/P 12x") << "/P 12x" << QByteArray() << ErrorCode::TypeMismatch;
        QTest::newRow("/P overflow") << "/P 99999999999" << QByteArray() << ErrorCode::Overflow;
        QTest::newRow("bad NumDirs, full screen")
            << "/S" << QByteArray("NumDirs=abc") << ErrorCode::TypeMismatch;
        QTest::newRow("bad NumDirs, dialog") << "/C" << QByteArray("NumDirs=40000") << ErrorCode::Overflow;
        QTest::newRow("bad Interval, preview")
            << "/P 5" << QByteArray("Interval=x") << ErrorCode::TypeMismatch;
    }
    void errorsBeforeAnyWindow()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, settings);
        QFETCH(ErrorCode, code);
        QVERIFY(vbtest::WriteFile(m_dir.filePath("Lanternshade.ini"), "[Settings]\n" + settings + "\n"));
        Run run(m_dir.filePath("Lanternshade.ini"), false, 0, QSize(10, 10));
        try {
            SubMain(command, run.services, run.windows);
            QFAIL("no error");
        } catch (const RuntimeError& e) {
            QCOMPARE(e.code(), code);
        }
        for (const QString& call : run.journal.calls)
            QVERIFY2(!call.startsWith("cover:") && !call.startsWith("config:") && !call.startsWith("cursor:"),
                     qPrintable(call));
    }
};

QTEST_GUILESS_MAIN(tst_SubMain)
#include "tst_submain.moc"
