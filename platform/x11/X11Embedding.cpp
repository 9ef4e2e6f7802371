#include "platform/x11/X11Embedding.h"

#include "platform/x11/X11DevicePixels.h"

#include <QWidget>
#include <QWindow>

namespace vb::x11 {

std::unique_ptr<ForeignParent> ForeignParent::Embed(QWidget* child, WindowId host)
{
    if (!Available() || !child)
        return nullptr;
    std::unique_ptr<QWindow> foreign(QWindow::fromWinId(WId(host)));
    if (!foreign)
        return nullptr;
    child->winId(); // the native window must exist before it can be reparented
    QWindow* handle = child->windowHandle();
    if (!handle)
        return nullptr;
    handle->setParent(foreign.get());

    std::unique_ptr<ForeignParent> parent(new ForeignParent);
    parent->m_child = child;
    parent->m_foreign = std::move(foreign);
    parent->m_host = host;
    return parent;
}

ForeignParent::~ForeignParent()
{
    if (m_child && m_child->windowHandle() && m_child->windowHandle()->parent() == m_foreign.get()) {
        m_child->hide();
        m_child->windowHandle()->setParent(nullptr);
    }
}

void PlaceAndShowWithoutActivating(QWidget* widget, QSize size)
{
    // The logical size that Qt takes back from the device size, so that our placing below brings
    // no second resize.
    const QSize logical = (QSizeF(size) / widget->devicePixelRatioF()).toSize();
    widget->setAttribute(Qt::WA_ShowWithoutActivating);
    widget->setGeometry(QRect(QPoint(0, 0), logical));
    PlaceOnDevicePixels(WindowId(widget->winId()), QRect(QPoint(0, 0), size));
    widget->show();
}

} // namespace vb::x11
