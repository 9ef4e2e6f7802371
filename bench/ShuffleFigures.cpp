// Shuffle: what a pick costs from a list of 1,000,000 entries. The order is built in one pass when
// the list is new; every pick after that, across rounds, is one step that allocates nothing.
#include "AllocationCounter.h"
#include "InlineLoader.h"
#include "Measure.h"
#include "cover/ShuffleOrder.h"
#include "cover/SlideTick.h"
#include "picture/ImageCanvas.h"
#include "picture/PictureHolder.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/RandomSource.h"
#include "state/ModuleState.h"

#include <QLocale>
#include <cmath>
#include <functional>

namespace vbbench {

void ShuffleFigures(const Context& context, std::vector<Row>& rows)
{
    constexpr qsizetype Entries = 1000000;
    constexpr qsizetype Picks = 2 * Entries; // two whole rounds
    const QString entries = QLocale::c().toString(Entries);
    vb::PathList list;
    const quint32 folder = list.AddFolder(QStringLiteral("/pictures/"));
    for (qsizetype i = 0; i < Entries; ++i)
        list.Append(folder, "photo.jpg");
    vb::StdRandomSource random;
    random.Seed(1);

    std::vector<double> first, shuffled, plain;
    long allocations = 0;
    qsizetype sink = 0;
    for (int i = 0; i < context.repetitions; ++i) {
        vb::ShuffleOrder order;
        first.push_back(Seconds([&] { sink += order.Next(list, random); }));
        // Made before counting: a std::function may allocate for what it captures.
        const std::function<void()> picks = [&] {
            for (qsizetype pick = 0; pick < Picks; ++pick)
                sink += order.Next(list, random);
        };
        const long before = vbtest::AllocationCount();
        const double seconds = Seconds(picks);
        allocations += vbtest::AllocationCount() - before;
        shuffled.push_back(seconds / double(Picks));
        // Today's pick: a random number scaled to the list.
        plain.push_back(Seconds([&] {
                            for (qsizetype pick = 0; pick < Picks; ++pick)
                                sink += qsizetype(std::floor(random.Rnd() * double(list.size())));
                        }) /
                        double(Picks));
    }
    if (sink == -1)
        std::printf("%lld\n", static_cast<long long>(sink)); // keeps the picks from being optimised away

    // A tick that is not due never reaches the pick, with Shuffle on as off.
    vb::SystemClock clock;
    vb::ImageCanvas canvas;
    vb::InlineLoader loader;
    vb::SlideTick tick(
        clock, random, canvas, loader, [] { return QSizeF(1920 * 15.0, 1080 * 15.0); }, nullptr,
        vb::PictureHolder::DefaultDecodeLimitMegabytes);
    canvas.Resize(QSize(64, 64), 1.0);
    vb::RunMode = vb::ScreenSaver;
    vb::Shuffle = -1;
    vb::IntervalSeconds = 3600;
    vb::PictureList = list;
    vb::NextPictureTime = vb::DateTime{};
    tick.Run(); // due: builds the order and picks twice; the picture does not exist and gets the cross
    constexpr int Ticks = 100000;
    const long beforeTicks = vbtest::AllocationCount();
    for (int i = 0; i < Ticks; ++i)
        tick.Run();
    const long tickAllocations = vbtest::AllocationCount() - beforeTicks;
    if (vb::NextPictureTime <= clock.Now())
        std::fprintf(stderr, "the ticks became due; the not-due row is not what it says\n");
    vb::Shuffle = 0;
    vb::PictureList = vb::PathList();

    rows.push_back(
        Row{QStringLiteral("Shuffle: first pick from %1 entries, which builds the order").arg(entries),
            Median(first) * 1000, 0, QStringLiteral("ms"), QString(), 0});
    rows.push_back(
        Row{QStringLiteral("Shuffle: a pick from %1 entries, over two rounds (vs today's random pick)")
                .arg(entries),
            Median(shuffled) * 1e9, Median(plain) * 1e9, QStringLiteral("ns"), QString(), 0});
    rows.push_back(Row{QStringLiteral("Shuffle: allocations in %1 picks from %2 entries, after the first")
                           .arg(QLocale::c().toString(Picks * context.repetitions), entries),
                       double(allocations), 0, QString(), QStringLiteral("0"), 0, 0.0});
    rows.push_back(Row{QStringLiteral("Shuffle: a not-due tick, %1 entries: allocations in %2 ticks")
                           .arg(entries, QLocale::c().toString(Ticks)),
                       double(tickAllocations), 0, QString(), QStringLiteral("0"), 0, 0.0});
}

} // namespace vbbench
