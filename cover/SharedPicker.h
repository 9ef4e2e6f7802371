#pragma once

#include "cover/ShuffleOrder.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace vb {

class RandomSource;

// The picks of the covers of one run: each cover's slide tick takes its pictures from here. At
// each change, when the list holds at least as many entries as there are covers, no two covers
// show the same picture. With Shuffle all covers share one order and each takes the next, so
// every entry shows once per round across all of them; a cover then also avoids showing its
// picture twice in a row where the round leaves another.
//
// A tick picks twice at a change: the picture it shows now (or it keeps the pick it made ahead at
// the last change) and the picture it makes ready for the next change. So a pick for now avoids
// what the other covers show at this change, and a pick ahead what they are about to show at the
// next. Covers whose ticks run inside Together change at once: one that has not run yet shows
// its pick ahead, and picks its next after the others. A tick outside it (a resize) changes one
// cover alone, while the others keep what they show.
//
// With a single cover the picks are exactly those of a tick of its own: one random number each,
// drawn as `Rnd` x count, or the next of the shuffled order.
class SharedPicker
{
public:
    using Cover = int;

    // A cover's place among the picker's covers, for as long as its tick lives.
    Cover Join();
    void Leave(Cover cover);

    // Runs `changes`, which runs the tick of every cover for one due time.
    void Together(const std::function<void()>& changes);

    // The picture `cover` shows at its change: `ahead`, its pick from the last change, unless
    // another cover shows that one at this change; else a new pick.
    QString Now(Cover cover, const QString* ahead, const PathList& list, bool shuffle, RandomSource& random);
    // The picture it shows at its next change, picked at this one to be made ready ahead.
    QString Next(Cover cover, const PathList& list, bool shuffle, RandomSource& random);
    // The list was empty at its change: it shows nothing, and has nothing ahead.
    void Forget(Cover cover);

private:
    // A path and where it stood in the list when last looked up, so that it is found again
    // without a search while the list stays as it is.
    struct Entry
    {
        QString path;
        qsizetype index = -1;
    };
    struct Slot
    {
        Cover cover = 0;
        Entry now;
        Entry next;
        quint64 change = 0;
    };

    Slot& SlotOf(Cover cover);
    // Whether another cover's tick still runs at this change, and so shows its pick ahead.
    bool StillToRun(const Slot& other) const;
    // What the other covers show at this change (`ahead` false) or the next (true), into m_firm.
    void Avoid(const Slot& self, const PathList& list, bool ahead);
    qsizetype Pick(const PathList& list, bool shuffle, RandomSource& random, Entry* own);
    static qsizetype IndexIn(const PathList& list, Entry& entry);

    std::vector<Slot> m_slots;
    Cover m_lastCover = 0;
    quint64 m_change = 0;
    bool m_together = false;
    ShuffleOrder m_shuffle;
    // The indices a pick leaves out; its capacity is kept, so that picks do not allocate.
    std::vector<qsizetype> m_firm;
};

} // namespace vb
