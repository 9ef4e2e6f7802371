#include "cover/SlideTick.h"

#include "picture/ImageCanvas.h"
#include "platform/files/FileNames.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/RandomSource.h"
#include "state/ModuleState.h"

#include <QLocale>
#include <exception>
#include <utility>

namespace vb {

namespace {

constexpr int CrossDrawWidth = 5;

} // namespace

SlideTick::SlideTick(const Clock& clock, RandomSource& random, ImageCanvas& canvas, PictureLoader& loader,
                     std::function<QSizeF()> screenSize, std::function<void()> redraw,
                     int decodeLimitMegabytes, SharedPicker* picker)
    : m_clock(clock), m_random(random), m_canvas(canvas), m_loader(loader),
      m_screenSize(std::move(screenSize)), m_redraw(std::move(redraw)),
      m_decodeLimitMegabytes(decodeLimitMegabytes), m_picker(picker ? *picker : m_ownPicker),
      m_cover(m_picker.Join())
{
    m_loader.SetReceiver([this](Frame frame) {
        if (Deliver(std::move(frame)) && m_redraw)
            m_redraw();
    });
}

SlideTick::~SlideTick()
{
    m_picker.Leave(m_cover);
}

void SlideTick::DrawFailureCross(Canvas& canvas)
{
    canvas.SetDrawWidth(CrossDrawWidth);
    canvas.Line(0, 0, canvas.ScaleWidth(), canvas.ScaleHeight(), RuntimeRed);
    canvas.Line(canvas.ScaleWidth(), 0, 0, canvas.ScaleHeight(), RuntimeRed);
}

bool SlideTick::Run()
{
    // Runs every 750 ms: a tick that is not due only reads the clock.
    if (m_clock.Now() < NextPictureTime && !(m_awaitingList && !PictureList.isEmpty()))
        return false;
    m_awaitingList = false;

    // Scheduled before anything can fail, so that an empty list or a bad picture waits for the
    // next interval like any other.
    NextPictureTime = DateAddSeconds(m_clock.Now(), IntervalSeconds);

    Change();
    return true;
}

DateTime SlideTick::DueAt() const
{
    return m_awaitingList ? m_clock.Now() : NextPictureTime;
}

void SlideTick::PrintCaption(const QString& path, QDate dateTaken)
{
    // The date the photo was taken, in the user's short format, then the path of the picture
    // shown, exactly as stored; never in the miniature.
    if (RunMode == Preview)
        return;
    QString shown;
    if (ShowDateTaken != 0 && dateTaken.isValid())
        shown = QLocale::system().toString(dateTaken, QLocale::ShortFormat);
    if (ShowFileNames != 0)
        shown = shown.isEmpty() ? DisplayFileName(path) : shown + u' ' + DisplayFileName(path);
    if (shown.isEmpty())
        return;
    m_canvas.SetCurrentX(0);
    m_canvas.SetCurrentY(0);
    if (OutlineFileNames != 0)
        m_canvas.PrintOutlined(shown);
    else
        m_canvas.Print(shown);
}

bool SlideTick::Fits(const Pending& pending) const
{
    return pending.canvasSize == m_canvas.LogicalSize() &&
           pending.devicePixelRatio == m_canvas.DevicePixelRatio() &&
           pending.devicePixelsPerPixel == m_canvas.DevicePixelsPerPixel() && pending.runMode == RunMode;
}

SlideTick::Pending SlideTick::NewPick(const QString& path)
{
    return Pending{++m_lastId,
                   path,
                   m_canvas.LogicalSize(),
                   m_canvas.DevicePixelRatio(),
                   m_canvas.DevicePixelsPerPixel(),
                   RunMode,
                   false,
                   QImage(),
                   QDate(),
                   PictureList.FromIndex()};
}

void SlideTick::Request(quint64 id, QString path)
{
    // The loader may answer before it returns, so the pick is already in place.
    m_loader.Request(FrameRequest{id, std::move(path), m_canvas.WithoutImage(), RunMode == Preview,
                                  RunMode == Preview ? m_screenSize() : QSizeF(), m_decodeLimitMegabytes,
                                  FitLargePictures != 0, ShowDateTaken != 0 && RunMode != Preview});
}

void SlideTick::Change()
{
    // A picture that has not arrived by now is not shown any more: this change goes ahead.
    m_awaited.reset();

    if (PictureList.size() < 1) {
        m_ahead.reset();
        m_picker.Forget(m_cover);
        // On a cleared window: over what was there, the cross of an earlier, smaller size would
        // stay in a corner.
        m_canvas.Cls();
        DrawFailureCross(m_canvas);
        return;
    }

    // The pick made at the last change, made again at the canvas's new size where it changed;
    // a new one where another cover shows it at this change.
    std::optional<Pending> pick = std::exchange(m_ahead, std::nullopt);
    const QString path =
        m_picker.Now(m_cover, pick ? &pick->path : nullptr, PictureList, Shuffle != 0, m_random);
    if (pick && pick->path != path)
        pick.reset();
    if (pick && pick->ready && Fits(*pick)) {
        Draw(path, Frame{pick->id, std::move(pick->image), pick->dateTaken});
    } else if (pick && Fits(*pick)) {
        m_awaited = std::move(pick);
    } else {
        m_awaited = NewPick(path);
        Request(m_awaited->id, path);
    }

    // The next change, made ready while this picture shows.
    m_ahead = NewPick(m_picker.Next(m_cover, PictureList, Shuffle != 0, m_random));
    Request(m_ahead->id, m_ahead->path);
}

bool SlideTick::DropStale(const Pending& pick, const Frame& frame)
{
    if (!frame.missing || !pick.fromIndex)
        return false;
    if (const qsizetype index = PictureList.IndexOf(pick.path); index >= 0)
        PictureList.RemoveAt(index);
    m_awaitingList = PictureList.isEmpty();
    if (m_awaitingList && m_sooner)
        m_sooner();
    return true;
}

bool SlideTick::Deliver(Frame frame)
{
    if (m_awaited && m_awaited->id == frame.id && DropStale(*m_awaited, frame)) {
        // The change goes ahead at once with another pick, as if due now.
        Change();
        return true;
    }
    if (m_ahead && m_ahead->id == frame.id && DropStale(*m_ahead, frame)) {
        m_ahead.reset();
        if (!PictureList.isEmpty()) {
            m_ahead = NewPick(m_picker.Next(m_cover, PictureList, Shuffle != 0, m_random));
            Request(m_ahead->id, m_ahead->path);
        }
        return false;
    }
    if (m_awaited && m_awaited->id == frame.id) {
        const QString path = std::exchange(m_awaited, std::nullopt)->path;
        Draw(path, std::move(frame));
        return true;
    }
    if (m_ahead && m_ahead->id == frame.id) {
        m_ahead->ready = true;
        m_ahead->image = std::move(frame.image);
        m_ahead->dateTaken = frame.dateTaken;
    }
    return false;
}

void SlideTick::Draw(const QString& path, Frame frame)
{
    // Clearing and drawing in one step: the old picture stays until the new one replaces it.
    if (frame.image.isNull()) {
        m_canvas.Cls();
        DrawFailureCross(m_canvas);
        return;
    }
    m_canvas.ShowFrame(std::move(frame.image));
    try {
        PrintCaption(path, frame.dateTaken);
    } catch (const std::exception&) {
        DrawFailureCross(m_canvas);
    }
}

} // namespace vb
