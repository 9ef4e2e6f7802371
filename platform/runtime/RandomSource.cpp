#include "platform/runtime/RandomSource.h"

#include <chrono>

namespace vb {

void StdRandomSource::Randomize()
{
    const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    m_engine.seed(std::uint64_t(now));
}

double StdRandomSource::Rnd()
{
    // The top 53 bits make a double that is exactly representable and strictly below 1
    // (std::generate_canonical may round up to 1.0).
    return double(m_engine() >> 11) * 0x1.0p-53;
}

} // namespace vb
