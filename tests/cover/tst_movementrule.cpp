#include "cover/MovementRule.h"

#include <QList>
#include <QPoint>
#include <QPointF>
#include <QTest>

using vb::MovementRule;

class tst_MovementRule : public QObject
{
    Q_OBJECT

private slots:
    // Reports in twips, in order; `endsAt` is the report that ends the run (-1: none), after
    // which no more reports come; `remembered` is LastMouseX and LastMouseY at the end.
    void rule_data()
    {
        QTest::addColumn<QList<QPointF>>("reports");
        QTest::addColumn<int>("endsAt");
        QTest::addColumn<QPoint>("remembered");
        QTest::newRow("no report") << QList<QPointF>{} << -1 << QPoint(0, 0);
        QTest::newRow("first report only remembers")
            << QList<QPointF>{{9000, 7500}} << -1 << QPoint(9000, 7500);
        QTest::newRow("one pixel after the first report")
            << QList<QPointF>{{9000, 7500}, {9015, 7500}} << 1 << QPoint(9000, 7500);
        QTest::newRow("exactly 5 twips on x")
            << QList<QPointF>{{9000, 7500}, {9005, 7500}} << 1 << QPoint(9000, 7500);
        QTest::newRow("exactly 5 twips on y, upwards")
            << QList<QPointF>{{9000, 7500}, {9000, 7495}} << 1 << QPoint(9000, 7500);
        QTest::newRow("4.9 twips on both: remembered, rounded")
            << QList<QPointF>{{9000, 7500}, {9004.9, 7495.1}} << -1 << QPoint(9005, 7495);
        QTest::newRow("drift below the threshold is followed")
            << QList<QPointF>{{9000, 7500}, {9004, 7500}, {9008, 7500}, {9012, 7500}, {9016, 7503}} << -1
            << QPoint(9016, 7503);
        QTest::newRow("an exact half rounds to even")
            << QList<QPointF>{{9000, 7500}, {9002.5, 7500}, {9007.2, 7500}} << 2 << QPoint(9002, 7500);
        QTest::newRow("the same place again and again")
            << QList<QPointF>{{9000, 7500}, {9000, 7500}, {9000, 7500}} << -1 << QPoint(9000, 7500);
        QTest::newRow("a start at (0, 0) needs two moves")
            << QList<QPointF>{{0, 0}, {15, 0}, {30, 0}} << 2 << QPoint(15, 0);
        QTest::newRow("back to (0, 0) after the first report")
            << QList<QPointF>{{9000, 7500}, {0, 0}} << 1 << QPoint(9000, 7500);
        QTest::newRow("beyond 32767 twips: still")
            << QList<QPointF>{{40000, 35000}, {40001, 35000}, {40000, 34999}} << -1 << QPoint(40000, 34999);
        QTest::newRow("beyond 32767 twips: one pixel")
            << QList<QPointF>{{40000, 35000}, {40015, 35000}} << 1 << QPoint(40000, 35000);
        QTest::newRow("across 32767 twips")
            << QList<QPointF>{{32765, 100}, {32769, 100}, {32774, 100}} << 2 << QPoint(32769, 100);
        QTest::newRow("an 8K screen's far corner")
            << QList<QPointF>{{115185, 64785}, {115185, 64785}, {115170, 64785}} << 2
            << QPoint(115185, 64785);
    }
    void rule()
    {
        QFETCH(QList<QPointF>, reports);
        QFETCH(int, endsAt);
        QFETCH(QPoint, remembered);
        MovementRule rule;
        int ended = -1;
        for (int i = 0; i < reports.size() && ended < 0; ++i)
            if (rule.Report(float(reports[i].x()), float(reports[i].y())))
                ended = i;
        QCOMPARE(ended, endsAt);
        QCOMPARE(QPoint(rule.LastMouseX, rule.LastMouseY), remembered);
    }
};

QTEST_GUILESS_MAIN(tst_MovementRule)
#include "tst_movementrule.moc"
