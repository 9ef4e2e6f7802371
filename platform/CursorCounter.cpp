#include "platform/CursorCounter.h"

#include "platform/DisplayServer.h"

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>

namespace vb {

namespace {

int g_count = 0;

// Qt's Wayland plugin hides the pointer over a window only when the cursor changes while the
// pointer is inside it: a blank cursor set before the pointer entered stays unsent, and the
// compositor goes on drawing the pointer it had. So each time the pointer enters one of the
// program's windows while the count is below zero, the blank cursor is set anew.
class BlankOnEnter final : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Enter && watched->isWindowType() && g_count < 0) {
            QGuiApplication::changeOverrideCursor(QCursor(Qt::ArrowCursor));
            QGuiApplication::changeOverrideCursor(QCursor(Qt::BlankCursor));
        }
        return false;
    }
};

} // namespace

int ShowCursor(bool show)
{
    const int before = g_count;
    g_count += show ? 1 : -1;
    if (qGuiApp) {
        if (before >= 0 && g_count < 0) {
            QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
            static BlankOnEnter* blankOnEnter = nullptr;
            if (!blankOnEnter && CurrentDisplayServer() == DisplayServer::Wayland) {
                blankOnEnter = new BlankOnEnter;
                blankOnEnter->setParent(qGuiApp);
                qGuiApp->installEventFilter(blankOnEnter);
            }
        } else if (before < 0 && g_count >= 0)
            QGuiApplication::restoreOverrideCursor();
    }
    return g_count;
}

int CursorDisplayCount()
{
    return g_count;
}

} // namespace vb
