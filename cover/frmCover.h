#pragma once

#include "cover/MovementRule.h"
#include "cover/SlideTick.h"
#include "picture/ImageCanvas.h"
#include "picture/PictureHolder.h"
#include "picture/PictureLoader.h"
#include "platform/runtime/WallClockAlarm.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <functional>

class QScreen;

namespace vb {

class Clock;
class RandomSource;

// The cover window: borderless and black, the slideshow drawn into its persistent image.
//
// In a full-screen run (RunMode ScreenSaver) any key, mouse button, click or pointer movement
// unloads it, and unloading shows the pointer again; in other run modes input does nothing.
// Every size change starts a new picture at once (it shows as soon as it is decoded);
// `tmrShowPicture` runs the slide tick every 750 ms from the moment the window is loaded. On the
// system's clock the timer skips the ticks that could only find nothing due: it sleeps until the
// first tick of the same 750 ms grid at which a change can be due.
class frmCover final : public QWidget
{
    Q_OBJECT

public:
    static constexpr int TimerIntervalMs = 750;

    // Loads the window, hidden. `screenSize` gives `Screen.Width` and `Screen.Height` in twips;
    // without it they are those of the monitor the window is on. Covers shown at the same time
    // pick their pictures through one `picker`.
    frmCover(const Clock& clock, RandomSource& random, std::function<QSizeF()> screenSize = {},
             SharedPicker* picker = nullptr, QWidget* parent = nullptr);
    ~frmCover() override;

    // `Screen.Width` and `Screen.Height` of a monitor: its logical size in twips.
    static QSizeF ScreenSizeTwips(const QScreen* screen);

    // `Unload`: raises Form_Unload, stops the timer and closes the window. Once only.
    void Unload();
    bool IsUnloaded() const { return m_unloaded; }
    // Unloads a cover whose run goes on elsewhere, or that another cover has already ended: the
    // pointer is left as it is.
    void Dismiss();

    // The timer's event. Alone, a cover runs its own slide tick; covers that change together run
    // `event` instead, which runs the tick of each of them.
    void SetTimerEvent(std::function<void()> event) { m_timerEvent = std::move(event); }
    // Starts or stops the timer of a cover that is not unloaded: of covers that change together
    // only one needs to wake the process.
    void KeepTimer(bool running);

    // For a full-screen run: takes the keyboard as soon as the window can have it, so that keys
    // reach the window also where no window manager gives it the focus.
    void GrabKeyboardWhenViewable();
    bool HasKeyboardGrab() const { return m_keyboardGrabbed; }

    // Where the window's drawing scale changed without a size change (another monitor's scale,
    // or the compositor's reduction of the drawing), the resize steps run as for a new size.
    void FollowScale();

    const ImageCanvas& Canvas() const { return m_canvas; }
    const MovementRule& Movement() const { return m_movement; }
    const QTimer& Timer() const { return tmrShowPicture; }

    // The window's event handlers.
    void Form_Click();
    void Form_DblClick();
    void Form_KeyDown(int KeyCode, int Shift);
    void Form_KeyPress(int KeyAscii);
    void Form_MouseDown(int Button, int Shift, float X, float Y);
    void Form_MouseMove(int Button, int Shift, float X, float Y);
    void Form_Resize();
    void Form_Unload();
    void tmrShowPicture_Timer();

signals:
    // After Form_Unload, however the window was closed.
    void unloaded();

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void EndRunOnInput();
    void TryGrabKeyboard();
    void StartTimer();
    void PlanNextTick();

    const Clock& m_clock;
    ImageCanvas m_canvas;
    // Reads and decodes the pictures (the window's `picHidden` is in the loading helper, or on the
    // loader's threads), so that a file that takes long, or hangs, never holds up the window.
    std::unique_ptr<PictureLoader> m_loader;
    QTimer tmrShowPicture;
    // Started with the timer: its ticks fall on whole multiples of the interval from here.
    QElapsedTimer m_sinceTimerStart;
    // Set while the timer sleeps past many ticks: a suspend or a clock set forward brings the
    // change due on the next tick, not when the sleeping timer's monotonic wait runs out.
    WallClockAlarm m_dueAlarm{[this] {
        PlanNextTick();
    }};
    MovementRule m_movement;
    SlideTick m_tick;
    QTimer m_grabRetry;
    std::function<void()> m_timerEvent;
    bool m_unloaded = false;
    bool m_unloadRaised = false;
    bool m_buttonPressed = false;
    bool m_keyboardGrabbed = false;
    bool m_restoresPointer = true;
};

} // namespace vb
