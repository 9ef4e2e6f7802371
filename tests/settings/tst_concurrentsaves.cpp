#include "ProgramRun.h"
#include "TestSupport.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "state/ModuleState.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <cstring>

using namespace vb;

namespace {

constexpr int Saves = 200;

// Child mode: save `Saves` times, alternating between two folder lists of its own whose sizes
// differ, so that every save both grows and shrinks the stored list.
int Saver(const char* path, const char* tag)
{
    SettingsStore store(QString::fromLocal8Bit(path));
    const QString name = QString::fromLocal8Bit(tag);
    for (int i = 0; i < Saves; ++i) {
        const int count = (i % 2 == 0) ? 3 + name.size() : 11 - name.size();
        FolderList = QStringList();
        for (int k = 1; k <= count; ++k)
            FolderList.append(QString("/%1/folder %2, \"of\" %3").arg(name).arg(k).arg(count));
        IntervalSeconds = i;
        ShowFileNames = i % 2 ? -1 : 0;
        try {
            SaveSettings(store);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "save failed: %s\n", e.what());
            return 1;
        }
    }
    return 0;
}

// Child mode: `Saves` times, read the counter, add one and write it back, in one update.
int Counter(const char* path)
{
    SettingsStore store(QString::fromLocal8Bit(path));
    try {
        for (int i = 0; i < Saves; ++i) {
            store.Update([](IniDocument& doc) {
                const int count = doc.Value("Settings", "Count").value_or("0").toInt();
                doc.SetValue("Settings", "Count", QString::number(count + 1));
            });
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "update failed: %s\n", e.what());
        return 1;
    }
    return 0;
}

// What a reader may see: NumDirs = n, exactly the keys Dir1..Dirn, all written by one save;
// `writer` tells whose.
QString Inconsistency(const IniDocument& doc, QString* writer)
{
    const auto numDirs = doc.Value("Settings", "NumDirs");
    if (!numDirs)
        return "no NumDirs";
    bool ok = false;
    const int n = numDirs->toInt(&ok);
    if (!ok)
        return "NumDirs is " + *numDirs;
    const QRegularExpression pattern("^/(\\w+)/folder (\\d+), \"of\" (\\d+)$");
    writer->clear();
    for (int k = 1; k <= n + 12; ++k) {
        const auto dir = doc.Value("Settings", QString("Dir%1").arg(k));
        if (k > n) {
            if (dir)
                return QString("Dir%1 present with NumDirs %2").arg(k).arg(n);
            continue;
        }
        if (!dir)
            return QString("Dir%1 missing with NumDirs %2").arg(k).arg(n);
        const auto match = pattern.match(*dir);
        if (!match.hasMatch() || match.captured(2).toInt() != k || match.captured(3).toInt() != n)
            return QString("Dir%1 is \"%2\" with NumDirs %3").arg(k).arg(*dir).arg(n);
        if (!writer->isEmpty() && match.captured(1) != *writer)
            return "folders of two savers mixed";
        *writer = match.captured(1);
    }
    if (!doc.Value("Settings", "Interval") || !doc.Value("Settings", "ShowFileNames"))
        return "Interval or ShowFileNames missing";
    return QString();
}

} // namespace

class tst_ConcurrentSaves : public QObject
{
    Q_OBJECT

private slots:
    void twoProcessesSaveWhileOneReads()
    {
        // A complete file from the start, so that every read below must find one.
        vbtest::ProgramRun a(
            "[Settings]\nNumDirs=1\nDir1=/start/folder 1, \"of\" 1\nInterval=0\nShowFileNames=False\n");
        a.SetProgram(QCoreApplication::applicationFilePath());
        vbtest::ProgramRun b(a);
        const QString path = a.SettingsFile();
        QVERIFY(a.Start({"--saver", path, "ab"}) && b.Start({"--saver", path, "wxyz"}));

        int reads = 0;
        QSet<QString> writers;
        const SettingsStore store(path);
        QString writer;
        while (a.Running() || b.Running()) {
            const IniDocument doc = store.Read();
            ++reads;
            const QString problem = Inconsistency(doc, &writer);
            QVERIFY2(problem.isEmpty(), qPrintable(problem + "\n" + doc.Serialize()));
            writers.insert(writer);
        }
        QCOMPARE(a.Check(0), QString());
        QCOMPARE(b.Check(0), QString());
        const QString problem = Inconsistency(store.Read(), &writer);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        qInfo("%d reads during %d saves", reads, 2 * Saves);
        // The reads fell between the saves of both, not only before or after them.
        QVERIFY(writers.contains("ab") && writers.contains("wxyz"));
        // No temporary file is left behind; the empty lock file stays.
        QCOMPARE(QDir(a.ConfigFolder()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"Lanternshade.ini", "Lanternshade.ini.lock"}));
    }

    // An update reads, edits and replaces the file as one step: of two processes that update it
    // at the same time, neither overwrites what the other has just written.
    void updatesAreNotLost()
    {
        vbtest::ProgramRun a;
        a.SetProgram(QCoreApplication::applicationFilePath());
        vbtest::ProgramRun b(a);
        QVERIFY(a.Start({"--counter", a.SettingsFile()}) && b.Start({"--counter", a.SettingsFile()}));
        a.Finish(60000);
        b.Finish(60000);
        QCOMPARE(a.Check(0), QString());
        QCOMPARE(b.Check(0), QString());
        QCOMPARE(SettingsStore(a.SettingsFile()).Read().Value("Settings", "Count"),
                 QString::number(2 * Saves));
    }
};

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--saver") == 0)
        return Saver(argv[2], argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "--counter") == 0)
        return Counter(argv[2]);
    QCoreApplication app(argc, argv);
    tst_ConcurrentSaves test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_concurrentsaves.moc"
