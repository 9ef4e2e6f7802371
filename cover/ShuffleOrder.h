#pragma once

#include "state/PathList.h"

#include <span>
#include <vector>

namespace vb {

class RandomSource;

// Shuffle: every entry of a list is picked once, in random order, before any is picked again.
// A new round gets a new order, which does not start with the entry picked last (with two or
// more entries). The order is rebuilt when the list is another one than at the last pick.
//
// The order is shuffled as it is used, one step per pick (Fisher-Yates, drawn from the entries
// not yet picked in the round), so a pick costs the same at any list length and allocates
// nothing; only a new list costs one pass over it.
class ShuffleOrder
{
public:
    // The 0-based index of the next entry of `list`, which holds at least one entry. Takes one
    // number from `random` per pick.
    qsizetype Next(const PathList& list, RandomSource& random);

    // The same for covers that share one order, where what to leave out is the caller's: an entry
    // of `firm` (indices into `list`: what the other covers show) never while another entry is
    // left; an entry of `soft` (what this cover shows) not while another is left besides. Where
    // the rest of a round is all left out, the next round starts at once and the rest goes to the
    // next picks that may take it, so that every entry still comes once per round. Nothing else
    // keeps a new round from starting with the entry picked last.
    qsizetype Next(const PathList& list, RandomSource& random, std::span<const qsizetype> firm,
                   std::span<const qsizetype> soft);

private:
    void Rebuild(const PathList& list);
    // Rebuilds the order for a list that is another one, and starts a new round after a whole one.
    void Follow(const PathList& list);
    // How many entries the draw has from place `from` on, leaving out `firm` and `soft`; their
    // places go into m_skip.
    qsizetype Choices(qsizetype from, std::span<const qsizetype> firm, std::span<const qsizetype> soft);
    qsizetype Take(double r, qsizetype choices);

    // The identity and size of the list the order belongs to, which tell whether PictureList was
    // replaced or edited since. Only those: a copy held here would make the next entries that
    // join PictureList copy the whole list.
    quint64 m_identity = 0;
    qsizetype m_size = 0;
    // A permutation of 0 .. count - 1. The entries before m_position have been picked in this
    // round, in that order. m_where is its inverse, where each entry stands in it, kept only for
    // covers that share the order (a single cover's pick stays one step).
    std::vector<qsizetype> m_order;
    std::vector<qsizetype> m_where;
    qsizetype m_position = 0;
    qsizetype m_last = 0;
    bool m_picked = false;
    // Places in the order left out of the present draw, ascending; its capacity is kept.
    std::vector<qsizetype> m_skip;
    // Entries a round ended without, because they showed on the cover that was to pick them.
    std::vector<qsizetype> m_owed;
};

} // namespace vb
