#pragma once

#include "platform/runtime/Clock.h"
#include "platform/runtime/RandomSource.h"

namespace vbtest {

// A clock that stands still until told, and counts how often it is read.
class FakeClock final : public vb::Clock
{
public:
    vb::DateTime now = vb::DateTime{} + std::chrono::hours(24 * 365 * 50);
    mutable int reads = 0;
    vb::DateTime Now() const override { return ++reads, now; }
};

// `Rnd` gives `next` every time; `calls` counts.
class FakeRandom final : public vb::RandomSource
{
public:
    double next = 0;
    int calls = 0;
    void Randomize() override {}
    double Rnd() override { return ++calls, next; }
};

} // namespace vbtest
