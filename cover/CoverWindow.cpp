#include "cover/CoverWindow.h"

#include "cover/Canvas.h"
#include "platform/TerminationSignals.h"
#include "platform/X11Embedding.h"
#include "platform/X11HostWatch.h"
#include "platform/X11Windows.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QScreen>

namespace vb {

CoverWindow::CoverWindow(RandomSource& random) : m_form(m_clock, random, &CoverWindow::ScreenSizeTwips)
{
    // A picture that cannot be shown gets the failure cross and nothing else; Qt's decoders
    // would also warn on standard error. QT_LOGGING_RULES still turns them back on.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*.warning=false"));
}

CoverWindow::~CoverWindow()
{
    m_hostWatch.reset();
    m_foreignParent.reset();
}

QSizeF CoverWindow::ScreenSizeTwips()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize size = screen ? screen->size() : QSize();
    return QSizeF(size.width() * TwipsPerPixel, size.height() * TwipsPerPixel);
}

void CoverWindow::SetCaption(const QString& caption)
{
    m_form.setWindowTitle(caption);
}

void CoverWindow::Show()
{
    if (!m_signals) {
        m_signals = std::make_unique<TerminationSignals>();
        connect(m_signals.get(), &TerminationSignals::received, this, &CoverWindow::EndRun);
    }
    // Above every other window, also the panels a window manager keeps on top.
    m_form.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    m_form.show();
}

void CoverWindow::Maximise()
{
    // The full-screen state is what a window manager honours; without one the window would
    // keep its size, so the geometry is set as well.
    QScreen* screen = QGuiApplication::primaryScreen();
    m_form.setWindowState(m_form.windowState() | Qt::WindowFullScreen);
    if (screen)
        m_form.setGeometry(screen->geometry());
    m_form.GrabKeyboardWhenViewable();
}

void CoverWindow::EmbedInto(x11::WindowId host, QSize clientSize)
{
    m_form.winId();
    m_hostWatch = std::make_unique<x11::HostWatch>(host, x11::WindowId(m_form.winId()));
    connect(m_hostWatch.get(), &x11::HostWatch::hostGone, this, [] {
        // Qt ignores quit() once our window has a foreign parent; exit() is heard.
        QCoreApplication::exit(0);
    });
    if (!x11::QueryWindow(host))
        return;
    m_foreignParent = x11::ForeignParent::Embed(&m_form, host);
    if (!m_foreignParent)
        return;
    x11::PlaceAndShowWithoutActivating(&m_form, QRect(QPoint(0, 0), clientSize));
}

void CoverWindow::EndRun()
{
    m_form.Unload();
    QCoreApplication::exit(0);
}

} // namespace vb
