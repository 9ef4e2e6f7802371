#include "cover/SlideTick.h"

#include "picture/ImageCanvas.h"
#include "platform/files/FileNames.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/RandomSource.h"
#include "state/ModuleState.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

namespace vb {

namespace {

constexpr int CrossDrawWidth = 5;

// A 0-based index, uniform over the whole list however long it is (a 16-bit index would leave
// everything past entry 32767 out). `Rnd` promises r < 1, which keeps r x count below count;
// the clamp only guards against a generator that breaks that promise.
qsizetype PickIndex(double r, qsizetype count)
{
    const double index = std::floor(r * double(count));
    if (!(index >= 0))
        return 0;
    return std::min(qsizetype(index), count - 1);
}

} // namespace

SlideTick::SlideTick(const Clock& clock, RandomSource& random, ImageCanvas& canvas, PictureLoader& loader,
                     std::function<QSizeF()> screenSize, std::function<void()> redraw,
                     int decodeLimitMegabytes)
    : m_clock(clock), m_random(random), m_canvas(canvas), m_loader(loader),
      m_screenSize(std::move(screenSize)), m_redraw(std::move(redraw)),
      m_decodeLimitMegabytes(decodeLimitMegabytes)
{
    m_loader.SetReceiver([this](Frame frame) {
        if (Deliver(std::move(frame)) && m_redraw)
            m_redraw();
    });
}

void SlideTick::DrawFailureCross(Canvas& canvas)
{
    canvas.SetDrawWidth(CrossDrawWidth);
    canvas.Line(0, 0, canvas.ScaleWidth(), canvas.ScaleHeight(), RuntimeRed);
    canvas.Line(canvas.ScaleWidth(), 0, 0, canvas.ScaleHeight(), RuntimeRed);
}

QString SlideTick::PickPath()
{
    const qsizetype index =
        Shuffle != 0 ? m_shuffle.Next(PictureList, m_random) : PickIndex(m_random.Rnd(), PictureList.size());
    return PictureList.at(index);
}

bool SlideTick::Run()
{
    // Runs every 750 ms: a tick that is not due only reads the clock.
    if (m_clock.Now() < NextPictureTime)
        return false;

    // Scheduled before anything can fail, so that an empty list or a bad picture waits for the
    // next interval like any other.
    NextPictureTime = DateAddSeconds(m_clock.Now(), IntervalSeconds);

    Change();
    return true;
}

void SlideTick::PrintCaption(const QString& path)
{
    // The path of the picture shown, exactly as stored; never in the miniature.
    if (RunMode == Preview || ShowFileNames == 0)
        return;
    m_canvas.SetCurrentX(0);
    m_canvas.SetCurrentY(0);
    const QString shown = DisplayFileName(path);
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
                   RunMode};
}

void SlideTick::Request(quint64 id, QString path)
{
    // The loader may answer before it returns, so the pick is already in place.
    m_loader.Request(FrameRequest{id, std::move(path), m_canvas.WithoutImage(), RunMode == Preview,
                                  RunMode == Preview ? m_screenSize() : QSizeF(), m_decodeLimitMegabytes,
                                  FitLargePictures != 0});
}

void SlideTick::Change()
{
    // A picture that has not arrived by now is not shown any more: this change goes ahead.
    m_awaited.reset();

    if (PictureList.size() < 1) {
        m_ahead.reset();
        DrawFailureCross(m_canvas);
        return;
    }

    // The pick made at the last change, made again at the canvas's new size where it changed.
    std::optional<Pending> pick = std::exchange(m_ahead, std::nullopt);
    const QString path = pick ? pick->path : PickPath();
    if (pick && pick->ready && Fits(*pick)) {
        Draw(path, std::move(pick->image));
    } else if (pick && Fits(*pick)) {
        m_awaited = std::move(pick);
    } else {
        m_awaited = NewPick(path);
        Request(m_awaited->id, path);
    }

    // The next change, made ready while this picture shows.
    m_ahead = NewPick(PickPath());
    Request(m_ahead->id, m_ahead->path);
}

bool SlideTick::Deliver(Frame frame)
{
    if (m_awaited && m_awaited->id == frame.id) {
        const QString path = std::exchange(m_awaited, std::nullopt)->path;
        Draw(path, std::move(frame.image));
        return true;
    }
    if (m_ahead && m_ahead->id == frame.id) {
        m_ahead->ready = true;
        m_ahead->image = std::move(frame.image);
    }
    return false;
}

void SlideTick::Draw(const QString& path, QImage frame)
{
    // Clearing and drawing in one step: the old picture stays until the new one replaces it.
    if (frame.isNull()) {
        m_canvas.Cls();
        DrawFailureCross(m_canvas);
        return;
    }
    m_canvas.ShowFrame(std::move(frame));
    try {
        PrintCaption(path);
    } catch (const std::exception&) {
        DrawFailureCross(m_canvas);
    }
}

} // namespace vb
