#include "cover/frmCover.h"

#include "platform/display/CursorCounter.h"
#include "platform/display/DisplayServer.h"
#include "platform/display/FullScreen.h"
#include "platform/display/OutputScale.h"
#include "platform/display/UncaughtError.h"
#include "platform/display/WindowTitle.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/RuntimeError.h"
#include "state/ModuleState.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWheelEvent>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <climits>

namespace vb {

namespace {

// The window's design: client area 3480 by 2910 twips.
constexpr QSize DesignSize(3480 / 15, 2910 / 15);

QFont CoverFont()
{
    // Where "MS Sans Serif" is not installed the style hint picks the system's sans-serif.
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(13.5);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

int ShiftState(Qt::KeyboardModifiers modifiers)
{
    return (modifiers.testFlag(Qt::ShiftModifier) ? 1 : 0) |
           (modifiers.testFlag(Qt::ControlModifier) ? 2 : 0) | (modifiers.testFlag(Qt::AltModifier) ? 4 : 0);
}

int ButtonCode(Qt::MouseButtons buttons)
{
    return (buttons.testFlag(Qt::LeftButton) ? 1 : 0) | (buttons.testFlag(Qt::RightButton) ? 2 : 0) |
           (buttons.testFlag(Qt::MiddleButton) ? 4 : 0);
}

float Twips(qreal logicalPixels)
{
    return float(logicalPixels * TwipsPerPixel);
}

} // namespace

frmCover::frmCover(const Clock& clock, RandomSource& random, std::function<QSizeF()> screenSize,
                   SharedPicker* picker, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), m_clock(clock), m_loader(MakePictureLoader()),
      m_tick(
          clock, random, m_canvas, *m_loader,
          screenSize ? std::move(screenSize) : [this] { return ScreenSizeTwips(screen()); },
          [this] { update(); }, PictureHolder::DefaultDecodeLimitMegabytes, picker)
{
    setWindowTitle(QString());
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    resize(DesignSize);

    m_canvas.SetBackColor(RuntimeBlack);
    m_canvas.SetForeColor(RuntimeWhite);
    m_canvas.SetFont(CoverFont());

    // A timer that sleeps past many ticks must not wake early, which a coarse one may do.
    if (m_clock.RunsWithTimers())
        tmrShowPicture.setTimerType(Qt::PreciseTimer);
    connect(&tmrShowPicture, &QTimer::timeout, this, [this] {
        if (m_timerEvent)
            m_timerEvent();
        else
            tmrShowPicture_Timer();
        PlanNextTick();
    });
    m_tick.WhenDueSooner([this] { PlanNextTick(); });
    StartTimer();

    m_grabRetry.setInterval(100);
    connect(&m_grabRetry, &QTimer::timeout, this, &frmCover::TryGrabKeyboard);
}

frmCover::~frmCover() = default;

QSizeF frmCover::ScreenSizeTwips(const QScreen* screen)
{
    const QSize size = screen ? screen->size() : QSize();
    return QSizeF(size.width() * TwipsPerPixel, size.height() * TwipsPerPixel);
}

void frmCover::Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    close();
    // A window that was never shown may not get a close event everywhere; the unload still
    // happens, once.
    if (!m_unloadRaised) {
        m_unloadRaised = true;
        Form_Unload();
        emit unloaded();
    }
}

void frmCover::KeepTimer(bool running)
{
    if (m_unloaded || running == tmrShowPicture.isActive())
        return;
    if (running)
        StartTimer();
    else
        tmrShowPicture.stop();
}

void frmCover::StartTimer()
{
    tmrShowPicture.start(TimerIntervalMs);
    m_sinceTimerStart.start();
}

void frmCover::PlanNextTick()
{
    if (!m_clock.RunsWithTimers() || !tmrShowPicture.isActive())
        return;
    using namespace std::chrono;
    const qint64 untilDue = std::max<qint64>(0, ceil<milliseconds>(m_tick.DueAt() - m_clock.Now()).count());
    const qint64 elapsed = m_sinceTimerStart.elapsed();
    // The first tick after now that is not before the due time; a clock that was set back or
    // slewed only makes that tick find nothing due, and the plan is made again from there.
    const qint64 tick =
        std::max(elapsed / TimerIntervalMs + 1, (elapsed + untilDue + TimerIntervalMs - 1) / TimerIntervalMs);
    tmrShowPicture.start(int(std::min<qint64>(tick * TimerIntervalMs - elapsed, INT_MAX)));
    if (untilDue > TimerIntervalMs)
        m_dueAlarm.Set(m_tick.DueAt());
    else
        m_dueAlarm.Cancel();
}

void frmCover::Dismiss()
{
    m_restoresPointer = false;
    Unload();
}

void frmCover::closeEvent(QCloseEvent* event)
{
    m_unloaded = true;
    if (!m_unloadRaised) {
        m_unloadRaised = true;
        Form_Unload();
        emit unloaded();
    }
    event->accept();
}

void frmCover::Form_Unload()
{
    tmrShowPicture.stop();
    m_grabRetry.stop();
    if (RunMode == ScreenSaver && m_restoresPointer)
        ShowCursor(true);
}

void frmCover::EndRunOnInput()
{
    if (RunMode == ScreenSaver)
        Unload();
}

void frmCover::Form_Click()
{
    EndRunOnInput();
}

void frmCover::Form_DblClick()
{
    EndRunOnInput();
}

void frmCover::Form_KeyDown(int, int)
{
    EndRunOnInput();
}

void frmCover::Form_KeyPress(int)
{
    EndRunOnInput();
}

void frmCover::Form_MouseDown(int, int, float, float)
{
    EndRunOnInput();
}

void frmCover::Form_MouseMove(int, int, float X, float Y)
{
    if (RunMode != ScreenSaver)
        return;
    if (m_movement.Report(X, Y))
        Unload();
}

void frmCover::Form_Resize()
{
    // `AutoRedraw = True`: from here on all drawing goes to the persistent image.
    m_canvas.Resize(size(), devicePixelRatioF(), DeviceSize(*this), DevicePixelsPerBufferPixel(*this));
    m_canvas.SetLogicalDpi(logicalDpiY());
    m_canvas.SetScreenProfile(MonitorColourProfile(*this));
    NextPictureTime = m_clock.Now();
    tmrShowPicture_Timer();
    PlanNextTick();
}

void frmCover::FollowScale()
{
    if (m_unloaded || !isVisible())
        return;
    if (devicePixelRatioF() != m_canvas.DevicePixelRatio() ||
        DevicePixelsPerBufferPixel(*this) != m_canvas.DevicePixelsPerPixel())
        Form_Resize();
}

void frmCover::tmrShowPicture_Timer()
{
    try {
        if (m_tick.Run())
            update();
    } catch (const RuntimeError& error) {
        EndWithUncaughtError(error, false);
    }
}

void frmCover::showEvent(QShowEvent* event)
{
    // The designed caption is empty, and Qt would show the application's name in its place.
    if (windowTitle().isEmpty())
        ClearTitle(this);
    QWidget::showEvent(event);
}

void frmCover::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QImage& image = m_canvas.Image();
    const qreal ratio = m_canvas.DevicePixelRatio();
    const QRectF drawn(0, 0, image.width() / ratio, image.height() / ratio);
    if (!image.isNull())
        painter.drawImage(drawn, image);
    // Only between a size change and its resize event can the window be larger than the image.
    const QRegion rest = QRegion(rect()) - QRegion(drawn.toAlignedRect());
    for (const QRect& r : rest)
        painter.fillRect(r, Qt::black);
}

void frmCover::resizeEvent(QResizeEvent*)
{
    Form_Resize();
}

void frmCover::keyPressEvent(QKeyEvent* event)
{
    Form_KeyDown(event->key(), ShiftState(event->modifiers()));
    if (!m_unloaded && !event->text().isEmpty())
        Form_KeyPress(event->text().at(0).unicode());
}

void frmCover::mousePressEvent(QMouseEvent* event)
{
    m_buttonPressed = true;
    Form_MouseDown(ButtonCode(event->button()), ShiftState(event->modifiers()), Twips(event->position().x()),
                   Twips(event->position().y()));
}

void frmCover::mouseReleaseEvent(QMouseEvent* event)
{
    // A click is a button pressed and released over the window.
    const bool click = m_buttonPressed && rect().contains(event->position().toPoint());
    m_buttonPressed = false;
    if (click && !m_unloaded)
        Form_Click();
}

void frmCover::mouseDoubleClickEvent(QMouseEvent*)
{
    if (!m_unloaded)
        Form_DblClick();
}

void frmCover::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_unloaded)
        Form_MouseMove(ButtonCode(event->buttons()), ShiftState(event->modifiers()),
                       Twips(event->position().x()), Twips(event->position().y()));
}

void frmCover::wheelEvent(QWheelEvent* event)
{
    // The X server reports a wheel turn as a press of buttons 4 to 7; the runtime's button codes
    // name none of them.
    if (!m_unloaded)
        Form_MouseDown(0, ShiftState(event->modifiers()), Twips(event->position().x()),
                       Twips(event->position().y()));
}

void frmCover::GrabKeyboardWhenViewable()
{
    if (!KeyboardGrabNeeded())
        return;
    TryGrabKeyboard();
    if (!m_keyboardGrabbed)
        m_grabRetry.start();
}

void frmCover::TryGrabKeyboard()
{
    if (m_unloaded || m_keyboardGrabbed) {
        m_grabRetry.stop();
        return;
    }
    if (!isVisible() || !windowHandle())
        return;
    activateWindow();
    m_keyboardGrabbed = windowHandle()->setKeyboardGrabEnabled(true);
    if (m_keyboardGrabbed)
        m_grabRetry.stop();
}

} // namespace vb
