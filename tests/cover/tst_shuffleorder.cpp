#include "AllocationCounter.h"
#include "Fakes.h"
#include "cover/SharedPicker.h"
#include "cover/ShuffleOrder.h"
#include "platform/runtime/RandomSource.h"

#include <QTest>
#include <algorithm>
#include <map>
#include <set>

using namespace vb;

namespace {

// `Rnd` walks through a fixed cycle of numbers, or comes from a seeded generator.
class CycleRandom final : public RandomSource
{
public:
    QList<double> cycle;
    StdRandomSource generator;
    qsizetype at = 0;
    void Randomize() override {}
    double Rnd() override { return cycle.isEmpty() ? generator.Rnd() : cycle[at++ % cycle.size()]; }
};

PathList Entries(int count)
{
    PathList list;
    for (int i = 0; i < count; ++i)
        list.Append(QString("/p/%1.jpg").arg(i));
    return list;
}

} // namespace

class tst_ShuffleOrder : public QObject
{
    Q_OBJECT

private slots:
    // Round after round, every entry exactly once per round, and never the same entry twice in a
    // row across a round's end, whatever the random numbers.
    void rounds_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<double>>("cycle"); // empty: a seeded generator
        const double belowOne = std::nextafter(1.0, 0.0);
        QTest::newRow("one entry") << 1 << QList<double>{0.5};
        QTest::newRow("two, always 0") << 2 << QList<double>{0.0};
        QTest::newRow("two, always just below 1") << 2 << QList<double>{belowOne};
        QTest::newRow("three, always 0") << 3 << QList<double>{0.0};
        QTest::newRow("five, always just below 1") << 5 << QList<double>{belowOne};
        QTest::newRow("seven, a cycle") << 7 << QList<double>{0.9, 0.1, 0.5, 0.0, belowOne};
        QTest::newRow("100, generator") << 100 << QList<double>{};
        QTest::newRow("a generator that breaks its promise") << 4 << QList<double>{1.0, -0.5, 2.0};
    }
    void rounds()
    {
        QFETCH(int, count);
        QFETCH(QList<double>, cycle);
        const PathList list = Entries(count);
        CycleRandom random;
        random.cycle = cycle;
        random.generator.Seed(12);
        ShuffleOrder order;
        qsizetype last = -1;
        for (int round = 0; round < 4; ++round) {
            std::set<qsizetype> seen;
            for (int pick = 0; pick < count; ++pick) {
                const qsizetype index = order.Next(list, random);
                QVERIFY(index >= 0 && index < count);
                QVERIFY2(seen.insert(index).second,
                         qPrintable(QString("round %1: %2 twice").arg(round).arg(index)));
                if (count > 1)
                    QVERIFY2(index != last,
                             qPrintable(QString("round %1: %2 twice in a row").arg(round).arg(index)));
                last = index;
            }
        }
        QCOMPARE(random.at, cycle.isEmpty() ? 0 : 4 * count);
    }

    // A list that is replaced (also by one of the same size, whose data may take the place the
    // old one's had), or appended to, starts a new order over its entries, also in the middle of
    // a round. A pick in the middle of a round allocates nothing.
    void newListStartsOver()
    {
        CycleRandom random;
        random.generator.Seed(7);
        ShuffleOrder order;
        PathList list = Entries(6);
        order.Next(list, random);
        const long before = vbtest::AllocationCount();
        for (int i = 0; i < 3; ++i)
            order.Next(list, random);
        QCOMPARE(vbtest::AllocationCount() - before, 0L);

        for (const QString change : {"shorter", "longer", "appended", "same size"}) {
            if (change == "appended")
                list.Append("/p/other.jpg");
            else
                list = Entries(change == "shorter" ? 4 : change == "longer" ? 9 : int(list.size()));
            std::set<qsizetype> seen;
            for (qsizetype i = 0; i < list.size(); ++i)
                seen.insert(order.Next(list, random));
            QVERIFY2(qsizetype(seen.size()) == list.size() && *seen.rbegin() == list.size() - 1,
                     qPrintable(change));
            order.Next(list, random); // into the next round
            order.Next(list, random);
        }
    }

    // Covers that pick through one picker, as their ticks do: each cover's first change alone,
    // then changes together, where each shows its pick from the last change. Wherever the list
    // allows, no two covers show the same picture, nor are about to; with fewer entries than
    // covers, every entry shows. With Shuffle every entry shows once per round across all
    // covers. `lone`: after each change the first cover changes alone, as at a resize.
    void sharedPicks_data()
    {
        QTest::addColumn<int>("covers");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("shuffle");
        QTest::addColumn<bool>("lone");
        const int rows[][3] = {{2, 1, 0}, {2, 2, 0},  {2, 5, 0}, {3, 2, 0}, {3, 3, 0},
                               {3, 4, 0}, {3, 10, 0}, {2, 2, 1}, {3, 3, 1}, {3, 7, 1}};
        for (const bool shuffle : {false, true})
            for (const auto& [covers, count, lone] : rows)
                QTest::addRow("%d covers, %d entries%s%s", covers, count, shuffle ? ", Shuffle" : "",
                              lone ? ", one alone" : "")
                    << covers << count << shuffle << bool(lone);
    }
    void sharedPicks()
    {
        QFETCH(int, covers);
        QFETCH(int, count);
        QFETCH(bool, shuffle);
        QFETCH(bool, lone);
        const PathList list = Entries(count);
        CycleRandom random;
        random.generator.Seed(uint64_t(covers * 100 + count));
        SharedPicker picker;
        QList<SharedPicker::Cover> ids;
        QStringList now(covers), ahead(covers);
        std::map<QString, int> shows;
        for (const QString& entry : list.ToStringList())
            shows[entry] = 0;
        const auto change = [&](int i, bool first) {
            now[i] = picker.Now(ids[i], first ? nullptr : &ahead[i], list, shuffle, random);
            ahead[i] = picker.Next(ids[i], list, shuffle, random);
            ++shows[now[i]];
        };
        const auto distinct = [&](const QStringList& shown) {
            return int(std::set<QString>(shown.begin(), shown.end()).size()) == std::min(covers, count);
        };
        for (int i = 0; i < covers; ++i) {
            ids.push_back(picker.Join());
            change(i, true);
        }
        for (int round = 0; round < 12; ++round) {
            const QStringList promised = ahead;
            picker.Together([&] {
                for (int i = 0; i < covers; ++i)
                    change(i, false);
            });
            const QString at = QString("change %1: %2").arg(round).arg(now.join(' '));
            QVERIFY2(distinct(now) && distinct(ahead), qPrintable(at));
            QVERIFY2(now == promised || count < covers, qPrintable(at));
            const auto [least, most] = std::minmax_element(
                shows.begin(), shows.end(), [](auto a, auto b) { return a.second < b.second; });
            // Covers that start one by one show the first picks out of turn for a change or two.
            QVERIFY2(!shuffle || lone || count < covers ||
                         most->second - least->second <= (round < 3 ? 2 : 1),
                     qPrintable(at));
            if (lone) {
                change(0, false);
                QVERIFY2(distinct(now) && distinct(ahead), qPrintable(at + " then one alone"));
            }
        }
    }
};

QTEST_GUILESS_MAIN(tst_ShuffleOrder)
#include "tst_shuffleorder.moc"
