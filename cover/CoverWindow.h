#pragma once

#include "app/ModeWindows.h"
#include "cover/frmCover.h"
#include "platform/Clock.h"

#include <QObject>
#include <memory>

namespace vb {

class RandomSource;
class TerminationSignals;

namespace x11 {
class ForeignParent;
class HostWatch;
} // namespace x11

// `frmCover` as start-up drives it: loaded with this object, shown full screen over the primary
// screen, or embedded into a preview host.
class CoverWindow final : public QObject, public CoverWindowHandle
{
    Q_OBJECT

public:
    explicit CoverWindow(RandomSource& random);
    ~CoverWindow() override;

    void SetCaption(const QString& caption) override;
    // Full-screen runs only: a SIGTERM or SIGINT from here on unloads the window (which shows the
    // pointer again) and ends the run with status 0.
    void Show() override;
    void Maximise() override;
    // Ends the run with status 0 once the host is gone; a host that names no window is never
    // touched, and the run ends at once.
    void EmbedInto(x11::WindowId host, QSize clientSize) override;

    frmCover& Form() { return m_form; }

    // `Screen.Width` and `Screen.Height`: the primary screen's logical size in twips.
    static QSizeF ScreenSizeTwips();

private:
    void EndRun();

    SystemClock m_clock;
    frmCover m_form;
    std::unique_ptr<TerminationSignals> m_signals;
    std::unique_ptr<x11::ForeignParent> m_foreignParent;
    std::unique_ptr<x11::HostWatch> m_hostWatch;
};

} // namespace vb
