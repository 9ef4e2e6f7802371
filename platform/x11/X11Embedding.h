#pragma once

#include "platform/x11/X11Windows.h"

#include <QPointer>
#include <QRect>
#include <memory>

class QWidget;
class QWindow;

namespace vb::x11 {

// A window of another program made the parent of one of ours (`SetParent` with `WS_CHILD`).
//
// Qt stands for the foreign window by a QWindow that must outlive the child it holds: deleting
// it would take our window with it. This object keeps it, and on destruction first hands the
// child back to the root window.
class ForeignParent
{
public:
    // Makes `child`, a top-level widget, a child window of `host`. Returns null when there is no
    // X connection or Qt cannot wrap the id. The child keeps its visibility; it is not shown.
    static std::unique_ptr<ForeignParent> Embed(QWidget* child, WindowId host);
    ~ForeignParent();

    WindowId host() const { return m_host; }

private:
    ForeignParent() = default;
    QPointer<QWidget> m_child;
    std::unique_ptr<QWindow> m_foreign;
    WindowId m_host = 0;
};

// `SetWindowPos` with SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW: places the widget at (0, 0)
// of its parent with `size`, in device pixels as the X server gives a window's size, and maps it
// without giving it the focus. At any scale factor its native window has exactly that size.
void PlaceAndShowWithoutActivating(QWidget* widget, QSize size);

} // namespace vb::x11
