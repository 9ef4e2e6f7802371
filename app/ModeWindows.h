#pragma once

#include "cover/CoverSetHandle.h"

namespace vb {

// The windows that start-up opens, one per run mode.
class ModeWindows
{
public:
    virtual ~ModeWindows() = default;
    // `frmConfig.Show`: modeless, without an owner window.
    virtual void ShowConfig() = 0;
    // `frmCover`, loaded on first use.
    virtual CoverSetHandle& Cover() = 0;
};

} // namespace vb
