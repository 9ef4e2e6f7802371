#include "app/ApplicationWindows.h"

#include "cover/CoverWindow.h"
#include "platform/RuntimeError.h"

namespace vb {

ApplicationWindows::ApplicationWindows(RandomSource& random) : m_random(random) {}
ApplicationWindows::~ApplicationWindows() = default;

void ApplicationWindows::ShowConfig()
{
    throw RuntimeError(ErrorCode::PathFileAccess,
                       QStringLiteral("the configuration dialog is not part of this build"));
}

CoverWindowHandle& ApplicationWindows::Cover()
{
    if (!m_cover)
        m_cover = std::make_unique<CoverWindow>(m_random);
    return *m_cover;
}

} // namespace vb
