#pragma once

#include "app/ModeWindows.h"

#include <memory>

namespace vb {

class RandomSource;

// The program's real windows behind start-up's ModeWindows.
class ApplicationWindows final : public ModeWindows
{
public:
    // `random`: the generator start-up seeds, which the slideshow picks with.
    explicit ApplicationWindows(RandomSource& random);
    ~ApplicationWindows() override;

    void ShowConfig() override;
    CoverWindowHandle& Cover() override;

private:
    RandomSource& m_random;
    std::unique_ptr<CoverWindowHandle> m_cover;
};

} // namespace vb
