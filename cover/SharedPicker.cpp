#include "cover/SharedPicker.h"

#include "platform/runtime/RandomSource.h"

#include <algorithm>
#include <cmath>

namespace vb {

namespace {

// A 0-based index, uniform over the whole list however long it is (a 16-bit index would leave
// everything past entry 32767 out). `Rnd` promises r < 1, which keeps r x count below count;
// the clamp only guards against a generator that breaks that promise.
qsizetype PickIndex(double r, qsizetype count)
{
    const double index = std::floor(r * double(count));
    if (!(index >= 0))
        return 0;
    return std::min(qsizetype(index), count - 1);
}

} // namespace

SharedPicker::Cover SharedPicker::Join()
{
    m_slots.push_back(Slot{++m_lastCover, {}, {}, 0});
    m_firm.reserve(m_slots.size() + 1);
    return m_lastCover;
}

void SharedPicker::Leave(Cover cover)
{
    std::erase_if(m_slots, [cover](const Slot& slot) { return slot.cover == cover; });
}

SharedPicker::Slot& SharedPicker::SlotOf(Cover cover)
{
    return *std::find_if(m_slots.begin(), m_slots.end(),
                         [cover](const Slot& slot) { return slot.cover == cover; });
}

void SharedPicker::Together(const std::function<void()>& changes)
{
    struct Ending
    {
        bool& together;
        ~Ending() { together = false; }
    } ending{m_together};
    ++m_change;
    m_together = true;
    changes();
}

bool SharedPicker::StillToRun(const Slot& other) const
{
    return m_together && other.change != m_change;
}

qsizetype SharedPicker::IndexIn(const PathList& list, Entry& entry)
{
    if (entry.path.isEmpty())
        return -1;
    // A list built since holds the entry elsewhere, or not at all.
    if (entry.index < 0 || entry.index >= list.size() || list.at(entry.index) != entry.path)
        entry.index = list.IndexOf(entry.path);
    return entry.index;
}

void SharedPicker::Avoid(const Slot& self, const PathList& list, bool ahead)
{
    m_firm.clear();
    for (Slot& other : m_slots) {
        if (&other == &self)
            continue;
        // One still to run shows its pick ahead now, and picks its next after this one.
        Entry* shown = ahead ? (StillToRun(other) ? nullptr : &other.next)
                             : (StillToRun(other) ? &other.next : &other.now);
        const qsizetype index = shown ? IndexIn(list, *shown) : -1;
        if (index >= 0)
            m_firm.push_back(index);
    }
}

qsizetype SharedPicker::Pick(const PathList& list, bool shuffle, RandomSource& random, Entry* own)
{
    const qsizetype count = list.size();
    if (m_slots.size() < 2)
        return shuffle ? m_shuffle.Next(list, random) : PickIndex(random.Rnd(), count);
    if (shuffle) {
        // Not the picture the cover shows now, where the round leaves another.
        const qsizetype soft[] = {own ? IndexIn(list, *own) : -1};
        return m_shuffle.Next(list, random, m_firm,
                              soft[0] >= 0 ? std::span<const qsizetype>(soft) : std::span<const qsizetype>());
    }
    // One number, uniform over the entries no other cover shows; all of them when there are none.
    std::sort(m_firm.begin(), m_firm.end());
    m_firm.erase(std::unique(m_firm.begin(), m_firm.end()), m_firm.end());
    const qsizetype choices = count - qsizetype(m_firm.size());
    if (choices < 1)
        return PickIndex(random.Rnd(), count);
    qsizetype index = PickIndex(random.Rnd(), choices);
    for (const qsizetype skipped : m_firm)
        if (skipped <= index)
            ++index;
    return index;
}

QString SharedPicker::Now(Cover cover, const QString* ahead, const PathList& list, bool shuffle,
                          RandomSource& random)
{
    Slot& self = SlotOf(cover);
    self.change = m_together ? m_change : ++m_change;
    const bool keep =
        ahead && std::none_of(m_slots.begin(), m_slots.end(), [&](const Slot& other) {
            return &other != &self && (StillToRun(other) ? other.next : other.now).path == *ahead;
        });
    if (keep) {
        self.now = Entry{*ahead, self.next.path == *ahead ? self.next.index : -1};
    } else {
        Avoid(self, list, false);
        const qsizetype index = Pick(list, shuffle, random, nullptr);
        self.now = Entry{list.at(index), index};
    }
    return self.now.path;
}

QString SharedPicker::Next(Cover cover, const PathList& list, bool shuffle, RandomSource& random)
{
    Slot& self = SlotOf(cover);
    Avoid(self, list, true);
    const qsizetype index = Pick(list, shuffle, random, &self.now);
    self.next = Entry{list.at(index), index};
    return self.next.path;
}

void SharedPicker::Forget(Cover cover)
{
    Slot& self = SlotOf(cover);
    self.change = m_together ? m_change : ++m_change;
    self.now = Entry{};
    self.next = Entry{};
}

} // namespace vb
