#include "cover/CoverSet.h"

#include "picture/Canvas.h"
#include "platform/display/FullScreen.h"
#include "platform/runtime/TerminationSignals.h"
#include "platform/x11/X11Embedding.h"
#include "platform/x11/X11HostWatch.h"
#include "platform/x11/X11WheelWatch.h"
#include "platform/x11/X11Windows.h"
#include "state/ModuleState.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QScreen>
#include <algorithm>

namespace vb {

CoverSet::CoverSet(RandomSource& random) : CoverSet(random, m_systemClock) {}

CoverSet::CoverSet(RandomSource& random, const Clock& clock) : m_clock(clock), m_random(random)
{
    // A picture that cannot be shown gets the failure cross and nothing else; Qt's decoders
    // would also warn on standard error. QT_LOGGING_RULES still turns them back on.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*.warning=false"));

    // Monitors that come and go arrive as several reports in a row; they are followed once all
    // have come in.
    m_screensChanged.setSingleShot(true);
    m_screensChanged.setInterval(0);
    connect(&m_screensChanged, &QTimer::timeout, this, &CoverSet::FollowScreens);

    // The window start-up loads first. In a preview its `Screen.Width` and `Screen.Height` are
    // those of the monitor that shows the host.
    AddCover(CoveringScreen(QGuiApplication::primaryScreen()),
             [this] { return m_host != 0 ? HostScreenTwips() : frmCover::ScreenSizeTwips(Form().screen()); });
}

CoverSet::~CoverSet()
{
    m_hostWatch.reset();
    m_foreignParent.reset();
}

std::vector<frmCover*> CoverSet::Forms() const
{
    std::vector<frmCover*> forms;
    for (const Cover& cover : m_covers)
        forms.push_back(cover.form.get());
    return forms;
}

std::unique_ptr<frmCover> CoverSet::MakeForm(std::function<QSizeF()> screenSize)
{
    auto form = std::make_unique<frmCover>(m_clock, m_random, std::move(screenSize), &m_picker);
    // One timer drives the change of all, the first cover's: with no interval every tick is due,
    // and the timers of the others would each change every cover once more within the tick.
    form->SetTimerEvent([this, cover = form.get()] {
        if (m_covers.front().form.get() == cover)
            TickTogether();
    });
    connect(form.get(), &frmCover::unloaded, this, &CoverSet::CoverUnloaded);
    return form;
}

frmCover& CoverSet::AddCover(QScreen* screen, std::function<QSizeF()> screenSize)
{
    m_covers.push_back(Cover{screen, MakeForm(std::move(screenSize))});
    return *m_covers.back().form;
}

void CoverSet::Replace(Cover& cover)
{
    std::unique_ptr<frmCover> old = std::exchange(cover.form, nullptr);
    old->disconnect(this);
    cover.form = MakeForm();
    cover.form->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    old->Dismiss();
}

CoverSet::Cover* CoverSet::CoverOn(const QScreen* screen)
{
    const auto it = std::find_if(m_covers.begin(), m_covers.end(),
                                 [screen](const Cover& cover) { return cover.screen == screen; });
    return it == m_covers.end() ? nullptr : &*it;
}

void CoverSet::SetCaption(const QString& caption)
{
    m_caption = caption;
    Form().setWindowTitle(caption);
}

void CoverSet::CaptionPrimary()
{
    for (Cover& cover : m_covers) {
        const QString title =
            cover.screen == CoveringScreen(QGuiApplication::primaryScreen()) ? m_caption : QString();
        if (cover.form->windowTitle() != title)
            cover.form->setWindowTitle(title);
    }
}

void CoverSet::Show()
{
    if (!m_signals) {
        m_signals = std::make_unique<TerminationSignals>();
        connect(m_signals.get(), &TerminationSignals::received, this, &CoverSet::EndRun);
        // A wheel turn is a button press like any other.
        m_wheel = std::make_unique<x11::WheelWatch>();
        connect(m_wheel.get(), &x11::WheelWatch::turned, this, [this] { Form().Form_MouseDown(0, 0, 0, 0); });
    }
    for (QScreen* screen : ScreensToCover())
        if (!CoverOn(screen))
            AddCover(screen);
    for (Cover& cover : m_covers) {
        // Above every other window, also the panels a window manager keeps on top.
        cover.form->setWindowFlag(Qt::WindowStaysOnTopHint, true);
        if (cover.screen) {
            // The native window is made on the screen under the window's position, and takes
            // that monitor's scale (on Wayland it keeps it: see ShowFullScreen).
            cover.form->setScreen(cover.screen);
            cover.form->move(cover.screen->geometry().topLeft());
        }
        cover.form->show();
    }
}

void CoverSet::Maximise()
{
    if (!m_fullScreen) {
        m_fullScreen = true;
        connect(qGuiApp, &QGuiApplication::screenAdded, this, &CoverSet::ScreensChanged);
        connect(qGuiApp, &QGuiApplication::screenRemoved, this, &CoverSet::ScreensChanged);
        connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, &CoverSet::ScreensChanged);
    }
    FollowScreens();
}

void CoverSet::ScreensChanged()
{
    m_screensChanged.start();
}

// One cover per monitor, each over the whole of it (a monitor inside another shares that one's
// cover); the caption on the primary monitor's cover, and the keyboard with one of them.
void CoverSet::FollowScreens()
{
    if (m_ending)
        return;
    const QList<QScreen*> screens = ScreensToCover();
    for (auto it = m_covers.begin(); it != m_covers.end();) {
        if (it->screen && screens.contains(it->screen)) {
            ++it;
        } else if (m_covers.size() > 1) {
            // The monitor went: so does its cover, and the run goes on on the others.
            it->form->disconnect(this);
            it->form->Dismiss();
            it = m_covers.erase(it);
        } else {
            // Never no cover at all: the last one moves to whatever monitor there is.
            it->screen = CoveringScreen(QGuiApplication::primaryScreen());
            ++it;
        }
    }
    for (QScreen* screen : screens)
        if (!CoverOn(screen))
            AddCover(screen).setWindowFlag(Qt::WindowStaysOnTopHint, true);

    // A monitor inside another that moves out of it gets a cover again.
    for (QScreen* screen : QGuiApplication::screens())
        connect(screen, &QScreen::geometryChanged, this, &CoverSet::ScreensChanged, Qt::UniqueConnection);
    bool keyboard = false;
    for (Cover& cover : m_covers) {
        if (!cover.screen)
            continue;
        // A monitor whose scale the cover cannot follow gets a new cover, with a new picture.
        if (NeedsNewWindow(*cover.form, *cover.screen))
            Replace(cover);
        // A resolution change resizes the cover, and the resize steps draw a new picture; so does a
        // change of the monitor's scale.
        ShowFullScreen(*cover.form, *cover.screen);
        cover.form->FollowScale();
        keyboard = keyboard || cover.form->HasKeyboardGrab();
    }
    // The first cover's timer changes all of them; the others' would only wake the process.
    for (size_t i = 0; i < m_covers.size(); ++i)
        m_covers[i].form->KeepTimer(i == 0);
    CaptionPrimary();
    if (!keyboard) {
        Cover* primary = CoverOn(CoveringScreen(QGuiApplication::primaryScreen()));
        (primary ? primary->form : m_covers.front().form)->GrabKeyboardWhenViewable();
    }
}

// The first cover's timer runs this. Once the one due time has come, every cover runs its slide
// tick against it: each schedules the next change and shows its own pick, so all change together.
void CoverSet::TickTogether()
{
    const DateTime due = NextPictureTime;
    if (m_clock.Now() < due)
        return;
    m_picker.Together([this, due] {
        for (Cover& cover : m_covers) {
            if (cover.form->IsUnloaded())
                continue;
            NextPictureTime = due;
            cover.form->tmrShowPicture_Timer();
        }
    });
}

// Input on one cover unloaded it, and it showed the pointer again: the others go without.
void CoverSet::CoverUnloaded()
{
    if (RunMode != ScreenSaver || m_ending)
        return;
    m_ending = true;
    m_screensChanged.stop();
    for (Cover& cover : m_covers)
        cover.form->Dismiss();
}

void CoverSet::EndRun()
{
    if (!m_ending)
        Form().Unload();
    CoverUnloaded();
    QCoreApplication::exit(0);
}

QSizeF CoverSet::HostScreenTwips()
{
    // The host against the monitor that shows it, both in device pixels: here in the window's
    // logical unit, like its own size.
    const QScreen* screen = x11::ScreenShowing(m_host);
    if (!screen)
        return QSizeF();
    const qreal scale = screen->devicePixelRatio() / Form().devicePixelRatioF();
    return QSizeF(screen->size()) * scale * TwipsPerPixel;
}

void CoverSet::EmbedInto(x11::WindowId host, QSize clientSize)
{
    frmCover& form = Form();
    m_host = host;
    form.winId();
    m_hostWatch = std::make_unique<x11::HostWatch>(host, x11::WindowId(form.winId()));
    connect(m_hostWatch.get(), &x11::HostWatch::hostGone, this, [] {
        // Qt ignores quit() once our window has a foreign parent; exit() is heard.
        QCoreApplication::exit(0);
    });
    if (!x11::QueryWindow(host))
        return;
    m_foreignParent = x11::ForeignParent::Embed(&form, host);
    if (!m_foreignParent)
        return;
    x11::PlaceAndShowWithoutActivating(&form, clientSize);
    // A resized host gets a resized window, and with it the resize steps' new picture.
    connect(m_hostWatch.get(), &x11::HostWatch::hostResized, this,
            [&form](QSize size) { x11::PlaceAndShowWithoutActivating(&form, size); });
}

} // namespace vb
