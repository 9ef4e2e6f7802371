#include "platform/display/CursorCounter.h"

#include <QCursor>
#include <QGuiApplication>
#include <QTest>

using namespace vb;

class tst_CursorCounter : public QObject
{
    Q_OBJECT

    static bool Blank()
    {
        return QGuiApplication::overrideCursor() &&
               QGuiApplication::overrideCursor()->shape() == Qt::BlankCursor;
    }

private slots:
    // The pointer is blank exactly while the count is below zero, as with the Windows counter.
    void counts_data()
    {
        QTest::addColumn<QString>("calls"); // h = hide, s = show
        QTest::addColumn<QList<int>>("counts");
        QTest::addColumn<QList<bool>>("blank");
        QTest::newRow("hide, show") << "hs" << QList<int>{-1, 0} << QList<bool>{true, false};
        QTest::newRow("show first") << "shs" << QList<int>{1, 0, 1} << QList<bool>{false, false, false};
        QTest::newRow("hide twice") << "hhss" << QList<int>{-1, -2, -1, 0}
                                    << QList<bool>{true, true, true, false};
        QTest::newRow("empty") << "" << QList<int>{} << QList<bool>{};
    }
    void counts()
    {
        QFETCH(QString, calls);
        QFETCH(QList<int>, counts);
        QFETCH(QList<bool>, blank);
        const int base = CursorDisplayCount();
        QCOMPARE(base, 0);
        for (qsizetype i = 0; i < calls.size(); ++i) {
            QCOMPARE(ShowCursor(calls[i] == u's') - base, counts[i]);
            QCOMPARE(Blank(), blank[i]);
        }
        while (CursorDisplayCount() > 0)
            ShowCursor(false);
        while (CursorDisplayCount() < 0)
            ShowCursor(true);
        QVERIFY(!QGuiApplication::overrideCursor());
    }
};

QTEST_MAIN(tst_CursorCounter)
#include "tst_cursorcounter.moc"
