#pragma once

#include "cover/SharedPicker.h"
#include "picture/PictureLoader.h"
#include "platform/runtime/Clock.h"

#include <QDate>
#include <QImage>
#include <QSizeF>
#include <functional>
#include <optional>

namespace vb {

class Canvas;
class Clock;
class ImageCanvas;
class RandomSource;

// `tmrShowPicture_Timer`: the whole slideshow. Each run decides whether a new picture is due;
// if so it schedules the next change, picks a random entry of PictureList and shows its frame
// on the canvas, which the loader made by loading the picture into a `picHidden` holder and
// drawing it onto a black image of the canvas's size: at its own size and centred in full
// screen, reduced by the preview-to-screen ratio and centred in a preview. With nothing to show,
// or when the picture cannot be shown, it draws the red failure cross.
//
// It reads the module-wide RunMode, PictureList, IntervalSeconds and ShowFileNames, and reads and
// writes NextPictureTime. The options, off unless chosen: FitLargePictures shrinks a picture
// larger than the window to fit it (in a preview, larger than the screen, before the reduction);
// Shuffle picks from a shuffled order instead; OutlineFileNames prints the caption outlined;
// ShowDateTaken starts the caption with the date the photo was taken.
//
// The tick never reads or decodes a file itself: its loader makes each frame. Right after each
// change it picks the next picture and has the loader make it ready, so that at the due time the
// change only swaps in a finished image. When that image is not ready yet, the canvas keeps the
// picture it shows until the image arrives; one that has not arrived by the next due time is
// dropped, and that change goes ahead with its own pick. A pick made ready ahead shows at the
// next change even when PictureList has changed since, unless the list is empty by then.
//
// A pick from a list the picture index kept from an earlier run whose file is gone is the index's
// stale entry, not a picture the user chose: it leaves PictureList, and another is picked at once
// in its place, with no cross. One from a walk of this run gets the cross.
class SlideTick
{
public:
    // `screenSize`: `Screen.Width` and `Screen.Height`, the primary screen in twips; it is asked
    // only in a preview, when a picture is requested. `redraw` is called whenever a picture has
    // been drawn as it arrived from the loader rather than by Run itself. Each loaded picture may
    // take up to `decodeLimitMegabytes` to decode. Ticks of covers that show at the same time pick
    // through one `picker`, so that they do not show the same picture; without one, the tick
    // picks alone.
    SlideTick(const Clock& clock, RandomSource& random, ImageCanvas& canvas, PictureLoader& loader,
              std::function<QSizeF()> screenSize, std::function<void()> redraw, int decodeLimitMegabytes,
              SharedPicker* picker = nullptr);
    ~SlideTick();
    SlideTick(const SlideTick&) = delete;
    SlideTick& operator=(const SlideTick&) = delete;

    // True when the run was due (and so changed what the canvas shows, or will once the picture
    // is ready).
    bool Run();

    // The earliest time at which Run can be due: NextPictureTime, or now where a refilled list
    // would be due at once.
    DateTime DueAt() const;
    // `sooner` is called when a change becomes due earlier than DueAt said before.
    void WhenDueSooner(std::function<void()> sooner) { m_sooner = std::move(sooner); }

    // Whether the next change's picture is ready, so that it shows at its due time at once.
    bool NextReady() const { return m_ahead && m_ahead->ready; }

    // The failure cross: two lines DrawWidth 5, red, corner to corner, over what is there.
    static void DrawFailureCross(Canvas& canvas);

private:
    void PrintCaption(const QString& path, QDate dateTaken);

    // A pick whose picture the loader is making ready.
    struct Pending
    {
        quint64 id = 0;
        QString path;
        QSize canvasSize;
        qreal devicePixelRatio = 1.0;
        qreal devicePixelsPerPixel = 1.0;
        qint32 runMode = 0;
        bool ready = false;
        QImage image{};
        QDate dateTaken{};
        bool fromIndex = false;
    };
    bool Fits(const Pending& pending) const;
    Pending NewPick(const QString& path);
    void Request(quint64 id, QString path);
    void Change();
    bool Deliver(Frame frame);
    bool DropStale(const Pending& pick, const Frame& frame);
    void Draw(const QString& path, Frame frame);

    const Clock& m_clock;
    RandomSource& m_random;
    ImageCanvas& m_canvas;
    PictureLoader& m_loader;
    std::function<QSizeF()> m_screenSize;
    std::function<void()> m_redraw;
    std::function<void()> m_sooner;
    int m_decodeLimitMegabytes = 0;
    SharedPicker m_ownPicker;
    SharedPicker& m_picker;
    SharedPicker::Cover m_cover;

    quint64 m_lastId = 0;
    // The change that is due and waits for its picture.
    std::optional<Pending> m_awaited;
    // The next change, made ready ahead.
    std::optional<Pending> m_ahead;
    // Dropping stale entries emptied PictureList: the next tick that finds it filled again (the
    // walk's list has taken over) is due.
    bool m_awaitingList = false;
};

} // namespace vb
