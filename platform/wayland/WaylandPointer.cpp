#include "platform/wayland/WaylandPointer.h"

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>

namespace vb::wayland {

namespace {

class BlankOnEnter final : public QObject
{
public:
    explicit BlankOnEnter(std::function<bool()> hidden) : m_hidden(std::move(hidden)) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Enter && watched->isWindowType() && m_hidden()) {
            QGuiApplication::changeOverrideCursor(QCursor(Qt::ArrowCursor));
            QGuiApplication::changeOverrideCursor(QCursor(Qt::BlankCursor));
        }
        return false;
    }

private:
    std::function<bool()> m_hidden;
};

} // namespace

void ResendBlankCursorOnEnter(std::function<bool()> hidden)
{
    static BlankOnEnter* blankOnEnter = nullptr;
    if (blankOnEnter || !qGuiApp)
        return;
    blankOnEnter = new BlankOnEnter(std::move(hidden));
    blankOnEnter->setParent(qGuiApp);
    qGuiApp->installEventFilter(blankOnEnter);
}

} // namespace vb::wayland
