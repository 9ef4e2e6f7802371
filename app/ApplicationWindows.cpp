#include "app/ApplicationWindows.h"

#include "platform/RuntimeError.h"

namespace vb {

ApplicationWindows::ApplicationWindows() = default;
ApplicationWindows::~ApplicationWindows() = default;

void ApplicationWindows::ShowConfig()
{
    throw RuntimeError(ErrorCode::PathFileAccess,
                       QStringLiteral("the configuration dialog is not part of this build"));
}

CoverWindowHandle& ApplicationWindows::Cover()
{
    throw RuntimeError(ErrorCode::PathFileAccess,
                       QStringLiteral("the cover window is not part of this build"));
}

} // namespace vb
