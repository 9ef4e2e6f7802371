#include "platform/display/DisplaySession.h"

#include "platform/files/InstanceRegistry.h"
#include "platform/x11/X11ConnectionWatch.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

namespace vb {

DisplaySession::DisplaySession(InstanceRegistry& registry, QString mode, QObject* parent)
    : QObject(parent), m_registry(registry), m_mode(std::move(mode)), m_server(CurrentDisplayServer())
{
    if (m_server == DisplayServer::X11)
        m_connectionWatch = std::make_unique<x11::ConnectionWatch>();
    m_registry.Record(m_mode, {});
    QCoreApplication::instance()->installEventFilter(this);
}

DisplaySession::~DisplaySession() = default;

bool DisplaySession::FindWindow(const QString& caption) const
{
    if (m_server == DisplayServer::Wayland)
        return m_registry.FindCaption(caption) != 0;
    return x11::FindTopLevelWindow(caption) != 0;
}

std::optional<QSize> DisplaySession::ClientSize(x11::WindowId window) const
{
    if (m_server == DisplayServer::Wayland)
        return std::nullopt;
    return x11::ClientSize(window);
}

bool DisplaySession::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::WindowTitleChange && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->isWindow()) {
            if (!m_captions.contains(widget))
                connect(widget, &QObject::destroyed, this, [this](QObject* gone) {
                    m_captions.remove(gone);
                    RecordCaptions();
                });
            m_captions.insert(widget, widget->windowTitle());
            RecordCaptions();
        }
    }
    return QObject::eventFilter(watched, event);
}

void DisplaySession::RecordCaptions()
{
    QStringList captions;
    for (const QString& caption : std::as_const(m_captions))
        if (!caption.isEmpty())
            captions.append(caption);
    m_registry.Record(m_mode, captions);
}

} // namespace vb
