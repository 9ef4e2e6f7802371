#pragma once

#include <QStringList>
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
    qsizetype Next(const QStringList& list, RandomSource& random);

private:
    void Rebuild(const QStringList& list);

    // A shallow copy of the list the order belongs to. Holding it keeps that list's storage
    // alive, so a list built later never has the same address: comparing addresses tells
    // whether PictureList was replaced or edited since.
    QStringList m_list;
    // A permutation of 0 .. count - 1. The entries before m_position have been picked in this
    // round, in that order.
    std::vector<qsizetype> m_order;
    qsizetype m_position = 0;
    bool m_picked = false;
};

} // namespace vb
