#include "cover/ShuffleOrder.h"

#include "platform/runtime/RandomSource.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace vb {

void ShuffleOrder::Rebuild(const PathList& list)
{
    m_identity = list.Identity();
    m_size = list.size();
    m_order.resize(size_t(list.size()));
    std::iota(m_order.begin(), m_order.end(), qsizetype(0));
    m_where.clear();
    // Room for what the covers of a run leave out, so that no pick allocates later.
    m_skip.reserve(16);
    m_owed.clear();
    m_owed.reserve(16);
    m_position = 0;
    m_picked = false;
}

void ShuffleOrder::Follow(const PathList& list)
{
    if (list.size() != m_size || list.Identity() != m_identity || size_t(list.size()) != m_order.size())
        Rebuild(list);
    if (m_position == list.size())
        m_position = 0;
}

qsizetype ShuffleOrder::Next(const PathList& list, RandomSource& random)
{
    const qsizetype count = list.size();
    if (count < 1)
        return 0;
    Follow(list);
    // At the start of a round the entry picked last lies at the end of the order; leaving the
    // last place out of the draw keeps it from coming twice in a row.
    const bool avoidLast = m_position == 0 && m_picked && count >= 2;
    m_skip.clear();
    return Take(random.Rnd(), count - m_position - (avoidLast ? 1 : 0));
}

qsizetype ShuffleOrder::Next(const PathList& list, RandomSource& random, std::span<const qsizetype> firm,
                             std::span<const qsizetype> soft)
{
    const qsizetype count = list.size();
    if (count < 1)
        return 0;
    Follow(list);
    // Where each entry stands, kept from the first pick of covers that share the order on.
    if (m_where.empty()) {
        m_where.resize(m_order.size());
        for (size_t place = 0; place < m_order.size(); ++place)
            m_where[size_t(m_order[place])] = qsizetype(place);
    }
    const double r = random.Rnd();

    // An entry that a round ended without goes to the first cover that may show it.
    const auto allowed = [&](qsizetype index) {
        return std::find(firm.begin(), firm.end(), index) == firm.end() &&
               std::find(soft.begin(), soft.end(), index) == soft.end();
    };
    const qsizetype owed = qsizetype(std::count_if(m_owed.begin(), m_owed.end(), allowed));
    if (owed > 0) {
        const qsizetype step = r >= 0 ? std::min(qsizetype(r * double(owed)), owed - 1) : 0;
        auto it = m_owed.begin();
        for (qsizetype seen = -1;; ++it)
            if (allowed(*it) && ++seen == step)
                break;
        m_last = *it;
        m_owed.erase(it);
        return m_last;
    }

    if (const qsizetype choices = Choices(m_position, firm, soft); choices > 0)
        return Take(r, choices);
    // What is left of the round shows on this cover already: the next round starts here, and
    // the rest is owed to the covers that pick after it. So the cover's monitor does not show
    // one picture on and on where the rounds and the changes do not line up.
    if (const qsizetype choices = m_position > 0 ? Choices(0, firm, soft) : 0; choices > 0) {
        for (qsizetype place = m_position; place < count; ++place)
            if (std::find(m_owed.begin(), m_owed.end(), m_order[size_t(place)]) == m_owed.end())
                m_owed.push_back(m_order[size_t(place)]);
        m_position = 0;
        return Take(r, choices);
    }
    for (const qsizetype from : {m_position, qsizetype(0)})
        if (const qsizetype choices = Choices(from, firm, {}); choices > 0) {
            m_position = from;
            return Take(r, choices);
        }
    m_position = 0;
    return Take(r, Choices(0, {}, {}));
}

qsizetype ShuffleOrder::Choices(qsizetype from, std::span<const qsizetype> firm,
                                std::span<const qsizetype> soft)
{
    m_skip.clear();
    for (const auto& part : {firm, soft})
        for (const qsizetype index : part) {
            // Only entries not picked yet in the round take part in the draw.
            if (index < 0 || size_t(index) >= m_where.size() || m_where[size_t(index)] < from)
                continue;
            const qsizetype place = m_where[size_t(index)];
            const auto at = std::lower_bound(m_skip.begin(), m_skip.end(), place);
            if (at == m_skip.end() || *at != place)
                m_skip.insert(at, place);
        }
    return qsizetype(m_order.size()) - from - qsizetype(m_skip.size());
}

qsizetype ShuffleOrder::Take(double r, qsizetype choices)
{
    // `Rnd` promises r < 1; the bounds only guard against a generator that breaks it.
    const qsizetype step = r >= 0 ? std::min(qsizetype(r * double(choices)), choices - 1) : 0;
    // The step-th place from here that is not left out.
    qsizetype place = m_position + step;
    for (const qsizetype skipped : m_skip)
        if (skipped <= place)
            ++place;
    std::swap(m_order[size_t(m_position)], m_order[size_t(place)]);
    if (!m_where.empty()) {
        m_where[size_t(m_order[size_t(m_position)])] = m_position;
        m_where[size_t(m_order[size_t(place)])] = place;
    }
    m_picked = true;
    m_last = m_order[size_t(m_position++)];
    return m_last;
}

} // namespace vb
