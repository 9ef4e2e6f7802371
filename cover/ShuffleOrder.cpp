#include "cover/ShuffleOrder.h"

#include "platform/runtime/RandomSource.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace vb {

void ShuffleOrder::Rebuild(const QStringList& list)
{
    m_list = list;
    m_order.resize(size_t(list.size()));
    std::iota(m_order.begin(), m_order.end(), qsizetype(0));
    m_position = 0;
    m_picked = false;
}

qsizetype ShuffleOrder::Next(const QStringList& list, RandomSource& random)
{
    const qsizetype count = list.size();
    if (count < 1)
        return 0;
    if (count != m_list.size() || list.constData() != m_list.constData() || size_t(count) != m_order.size())
        Rebuild(list);
    if (m_position == count)
        m_position = 0;

    // At the start of a round the entry picked last lies at the end of the order; leaving the
    // last place out of the draw keeps it from coming twice in a row.
    const bool avoidLast = m_position == 0 && m_picked && count >= 2;
    const qsizetype choices = count - m_position - (avoidLast ? 1 : 0);
    const double r = random.Rnd();
    // `Rnd` promises r < 1; the bounds only guard against a generator that breaks it.
    const qsizetype step = r >= 0 ? std::min(qsizetype(r * double(choices)), choices - 1) : 0;
    std::swap(m_order[size_t(m_position)], m_order[size_t(m_position + step)]);
    m_picked = true;
    return m_order[size_t(m_position++)];
}

} // namespace vb
