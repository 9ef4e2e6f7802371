#pragma once

#include "app/ModeWindows.h"

#include <memory>

namespace vb {

// The program's real windows behind start-up's ModeWindows.
class ApplicationWindows final : public ModeWindows
{
public:
    ApplicationWindows();
    ~ApplicationWindows() override;

    void ShowConfig() override;
    CoverWindowHandle& Cover() override;

private:
    std::unique_ptr<CoverWindowHandle> m_cover;
};

} // namespace vb
