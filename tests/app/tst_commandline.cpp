#include "app/CommandLine.h"
#include "platform/runtime/RuntimeError.h"
#include "state/ModuleState.h"

#include <QTest>

using namespace vb;

class tst_CommandLine : public QObject
{
    Q_OBJECT

private slots:
    void classify_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("mode");
        QTest::newRow("no argument") << QStringList() << int(ScreenSaver);
        QTest::newRow("empty argument") << QStringList{""} << int(ScreenSaver);
        QTest::newRow("/s") << QStringList{"/s"} << int(ScreenSaver);
        QTest::newRow("/S") << QStringList{"/S"} << int(ScreenSaver);
        QTest::newRow("/S with spaces") << QStringList{"  /S  "} << int(ScreenSaver);
        QTest::newRow("/X") << QStringList{"/X"} << int(ScreenSaver);
        QTest::newRow("-s") << QStringList{"-s"} << int(ScreenSaver);
        QTest::newRow("lone slash") << QStringList{"/"} << int(ScreenSaver);
        QTest::newRow("-c is not /c") << QStringList{"-c"} << int(ScreenSaver);
        QTest::newRow("tab before /c") << QStringList{"\t/c"} << int(ScreenSaver);
        QTest::newRow("/c") << QStringList{"/c"} << int(Configure);
        QTest::newRow("/C") << QStringList{"/C"} << int(Configure);
        QTest::newRow("/c:1234") << QStringList{"/c:1234"} << int(Configure);
        QTest::newRow("/c 1234 as two") << QStringList{"/c", "1234"} << int(Configure);
        QTest::newRow("/config") << QStringList{"/config"} << int(Configure);
        QTest::newRow("/p 1234") << QStringList{"/p", "1234"} << int(Preview);
        QTest::newRow("/P:12") << QStringList{"/P:12"} << int(Preview);
        QTest::newRow("/p alone") << QStringList{"/p"} << int(Preview);
        QTest::newRow("/ s split") << QStringList{"/", "s"} << int(ScreenSaver);
        QTest::newRow("/ c split") << QStringList{"/", "c"} << int(ScreenSaver);
    }
    void classify()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, mode);
        QCOMPARE(ClassifyCommand(NormaliseCommand(CommandText(arguments))), mode);
    }

    void normalise()
    {
        QCOMPARE(CommandText({"/p", "1234"}), QString("/p 1234"));
        QCOMPARE(NormaliseCommand("  /p 1234  "), QString("/P 1234"));
        QCOMPARE(NormaliseCommand("\t/c\t"), QString("\t/C\t"));
        QCOMPARE(NormaliseCommand(QString::fromUtf8("/c \xc3\xa4")), QString::fromUtf8("/C \xc3\x84"));
    }

    void parsePreviewWindow_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("outcome"); // 0 value, 1 type mismatch, 2 overflow
        QTest::addColumn<qint32>("host");
        QTest::newRow("/P 1234") << "/P 1234" << 0 << 1234;
        QTest::newRow("/P:0012") << "/P:0012" << 0 << 12;
        QTest::newRow("/P 12 34") << "/P 12 34" << 0 << 34;
        QTest::newRow("trailing spaces") << "/P 1234   " << 0 << 1234;
        QTest::newRow("/P0") << "/P0" << 0 << 0;
        QTest::newRow("x11 id") << "/P 23068679" << 0 << 23068679;
        QTest::newRow("int32 max") << "/P 2147483647" << 0 << 2147483647;
        QTest::newRow("many zeros") << "/P " + QString(100, u'0') + "7" << 0 << 7;
        QTest::newRow("minus is not a sign") << "/P -5" << 0 << 5;
        QTest::newRow("/P alone") << "/P" << 1 << 0;
        QTest::newRow("/P 12x") << "/P 12X" << 1 << 0;
        QTest::newRow("empty") << "" << 1 << 0;
        QTest::newRow("trailing tab") << "/P 12\t" << 1 << 0;
        QTest::newRow("overflow") << "/P 99999999999" << 2 << 0;
        QTest::newRow("int32 max+1") << "/P 2147483648" << 2 << 0;
    }
    void parsePreviewWindow()
    {
        QFETCH(QString, text);
        QFETCH(int, outcome);
        QFETCH(qint32, host);
        try {
            QCOMPARE(ParsePreviewWindow(text), host);
            QCOMPARE(outcome, 0);
        } catch (const RuntimeError& e) {
            QVERIFY2(outcome != 0, qPrintable(e.cause()));
            QCOMPARE(e.code(), outcome == 1 ? ErrorCode::TypeMismatch : ErrorCode::Overflow);
        }
    }
};

QTEST_APPLESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
