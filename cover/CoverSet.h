#pragma once

#include "cover/CoverSetHandle.h"
#include "cover/SharedPicker.h"
#include "cover/frmCover.h"
#include "platform/runtime/Clock.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <vector>

class QScreen;

namespace vb {

class RandomSource;
class TerminationSignals;

namespace x11 {
class ForeignParent;
class HostWatch;
class WheelWatch;
} // namespace x11

// The covers of a run, which start-up drives as the one `frmCover`: one window, embedded into a
// preview host, or in a full-screen run one instance per monitor, as many as the system reports
// and following them as they come, go and change size.
//
// The covers of a full-screen run change pictures together, at the one NextPictureTime, each with
// its own pick at its own size: no two show the same picture where the list has enough of them. Input on any
// of them ends the run: every cover unloads, and the pointer shows again once. The single-instance caption
// goes on the primary monitor's cover.
class CoverSet final : public QObject, public CoverSetHandle
{
    Q_OBJECT

public:
    explicit CoverSet(RandomSource& random);
    CoverSet(RandomSource& random, const Clock& clock);
    ~CoverSet() override;

    void SetCaption(const QString& caption) override;
    // Full-screen runs only: a cover for every monitor. A SIGTERM or SIGINT from here on unloads
    // the covers (which shows the pointer again) and ends the run with status 0.
    void Show() override;
    // Each cover over the whole of its monitor; monitors are followed from here on.
    void Maximise() override;
    // Ends the run with status 0 once the host is gone; a host that names no window is never
    // touched, and the run ends at once. `clientSize` is in device pixels.
    void EmbedInto(x11::WindowId host, QSize clientSize) override;

    // The first cover: the primary monitor's in a full-screen run, the preview's.
    frmCover& Form() { return *m_covers.front().form; }
    std::vector<frmCover*> Forms() const;

private:
    struct Cover
    {
        QPointer<QScreen> screen;
        std::unique_ptr<frmCover> form;
    };

    std::unique_ptr<frmCover> MakeForm(std::function<QSizeF()> screenSize = {});
    frmCover& AddCover(QScreen* screen, std::function<QSizeF()> screenSize = {});
    // The cover's window is replaced by a new one, made on its monitor.
    void Replace(Cover& cover);
    Cover* CoverOn(const QScreen* screen);
    void ScreensChanged();
    void FollowScreens();
    void CaptionPrimary();
    void TickTogether();
    void CoverUnloaded();
    void EndRun();
    QSizeF HostScreenTwips();

    SystemClock m_systemClock;
    const Clock& m_clock;
    RandomSource& m_random;
    // Before the covers, whose ticks leave it as they go.
    SharedPicker m_picker;
    std::vector<Cover> m_covers;
    QString m_caption;
    bool m_fullScreen = false;
    bool m_ending = false;
    QTimer m_screensChanged;
    x11::WindowId m_host = 0;
    std::unique_ptr<TerminationSignals> m_signals;
    std::unique_ptr<x11::WheelWatch> m_wheel;
    std::unique_ptr<x11::ForeignParent> m_foreignParent;
    std::unique_ptr<x11::HostWatch> m_hostWatch;
};

} // namespace vb
