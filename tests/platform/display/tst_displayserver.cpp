#include "platform/display/DisplayServer.h"
#include "platform/runtime/RuntimeError.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace vb;

// The display choice made before the application exists, from the environment and the run
// mode's need. No server is reachable here, so each choice of a server shows in the error of its
// connection check.
class tst_DisplayServer : public QObject
{
    Q_OBJECT

private slots:
    void choose_data()
    {
        QTest::addColumn<QByteArray>("platform");
        QTest::addColumn<QByteArray>("wayland");
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<bool>("preview");
        QTest::addColumn<QByteArray>("chosen");
        QTest::addColumn<QString>("error"); // the start of the cause; empty: no error

        const QByteArray w = "vb-no-such-wayland";
        const QByteArray x = ":987";
        const QString noCompositor = "cannot connect to the Wayland compositor \"vb-no-such-wayland\"";
        const QString noX = "cannot connect to the X server \":987\"";
        const QString noDisplay = "the preview draws into an X11 window, and DISPLAY is not set";
        QTest::newRow("X11 session") << QByteArray() << QByteArray() << x << false << QByteArray("xcb")
                                     << noX;
        QTest::newRow("Wayland session")
            << QByteArray() << w << x << false << QByteArray("wayland") << noCompositor;
        QTest::newRow("Wayland, preview: Xwayland")
            << QByteArray() << w << x << true << QByteArray("xcb") << noX;
        QTest::newRow("Wayland, preview, no DISPLAY")
            << QByteArray() << w << QByteArray() << true << QByteArray() << noDisplay;
        QTest::newRow("forced wayland, preview")
            << QByteArray("wayland") << QByteArray() << x << true << QByteArray("xcb") << noX;
        QTest::newRow("forced xcb in Wayland")
            << QByteArray("xcb") << w << x << false << QByteArray("xcb") << noX;
        QTest::newRow("offscreen") << QByteArray("offscreen") << w << QByteArray() << false
                                   << QByteArray("offscreen") << QString();
        QTest::newRow("offscreen, preview")
            << QByteArray("offscreen") << w << QByteArray() << true << QByteArray("offscreen") << QString();
    }
    void choose()
    {
        QFETCH(QByteArray, platform);
        QFETCH(QByteArray, wayland);
        QFETCH(QByteArray, display);
        QFETCH(bool, preview);
        QFETCH(QByteArray, chosen);
        QFETCH(QString, error);
        const auto set = [](const char* name, const QByteArray& value) {
            value.isEmpty() ? qunsetenv(name) : qputenv(name, value);
        };
        set("QT_QPA_PLATFORM", platform);
        set("WAYLAND_DISPLAY", wayland);
        set("DISPLAY", display);
        QString cause;
        try {
            ChooseDisplayServer(preview ? DisplayNeed::ForeignX11Window : DisplayNeed::OwnWindows);
        } catch (const RuntimeError& e) {
            QCOMPARE(e.code(), ErrorCode::DeviceIO);
            cause = e.cause();
        }
        QVERIFY2(error.isEmpty() ? cause.isEmpty() : cause.startsWith(error), qPrintable(cause));
        if (!chosen.isEmpty())
            QCOMPARE(qgetenv("QT_QPA_PLATFORM"), chosen);
    }

    // Without a session bus to be found, none is started: libdbus is told there is none.
    void sessionBus_data()
    {
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<bool>("busSocket"); // $XDG_RUNTIME_DIR/bus exists
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("address given") << QByteArray("unix:path=/x") << false << QByteArray("unix:path=/x");
        QTest::newRow("the runtime folder's bus") << QByteArray() << true << QByteArray();
        QTest::newRow("no bus anywhere") << QByteArray() << false << QByteArray("disabled:");
    }
    void sessionBus()
    {
        QFETCH(QByteArray, address);
        QFETCH(bool, busSocket);
        QFETCH(QByteArray, expected);
        QTemporaryDir runtime;
        QVERIFY(!busSocket || QFile(runtime.filePath("bus")).open(QIODevice::WriteOnly));
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        address.isEmpty() ? qunsetenv("DBUS_SESSION_BUS_ADDRESS")
                          : qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        qputenv("QT_QPA_PLATFORM", "offscreen");
        ChooseDisplayServer(DisplayNeed::OwnWindows);
        QCOMPARE(qgetenv("DBUS_SESSION_BUS_ADDRESS"), expected);
    }
};

QTEST_GUILESS_MAIN(tst_DisplayServer)
#include "tst_displayserver.moc"
