#pragma once

#include "platform/x11/X11Windows.h"

#include <QSize>
#include <QString>

namespace vb {

// The covers of a run as start-up sees them: the one cover window of the design. The first call of
// any member loads the window (hidden), as touching a form does.
class CoverSetHandle
{
public:
    virtual ~CoverSetHandle() = default;
    // `Caption`: the window title.
    virtual void SetCaption(const QString& caption) = 0;
    // `Show` without arguments: modeless.
    virtual void Show() = 0;
    // `WindowState` = maximised: the whole primary screen.
    virtual void Maximise() = 0;
    // The rest of the preview sequence once the caption is set: become a child of `host`, then
    // appear at (0, 0) with `clientSize`, without taking the focus. `Show` is never called.
    virtual void EmbedInto(x11::WindowId host, QSize clientSize) = 0;
};

} // namespace vb
