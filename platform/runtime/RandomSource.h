#pragma once

#include <cstdint>
#include <random>

namespace vb {

class RandomSource
{
public:
    virtual ~RandomSource() = default;
    // `Randomize` without an argument: seeds the generator from the clock.
    virtual void Randomize() = 0;
    // `Rnd`: the next number, uniform over [0, 1).
    virtual double Rnd() = 0;
};

class StdRandomSource final : public RandomSource
{
public:
    void Randomize() override;
    void Seed(std::uint64_t seed) { m_engine.seed(seed); }
    double Rnd() override;

private:
    std::mt19937_64 m_engine;
};

} // namespace vb
