#include "platform/wayland/WaylandPointer.h"

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>

namespace vb::wayland {

namespace {

class BlankOnEnter final : public QObject
{
public:
    explicit BlankOnEnter(std::function<bool()> hidden) : m_hidden(std::move(hidden))
    {
        // sway puts its own pointer back when an output is added, over the window the pointer
        // is in and without a new enter: the blank cursor is sent again then as well.
        connect(qGuiApp, &QGuiApplication::screenAdded, this, &BlankOnEnter::Resend);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Enter && watched->isWindowType())
            Resend();
        return false;
    }

    void Resend()
    {
        if (!m_hidden())
            return;
        QGuiApplication::changeOverrideCursor(QCursor(Qt::ArrowCursor));
        QGuiApplication::changeOverrideCursor(QCursor(Qt::BlankCursor));
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
