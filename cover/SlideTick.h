#pragma once

#include <QSizeF>
#include <functional>

namespace vb {

class Canvas;
class Clock;
class PictureHolder;
class RandomSource;

// `tmrShowPicture_Timer`: the whole slideshow. Each run decides whether a new picture is due;
// if so it schedules the next change, picks a random entry of PictureList, loads it into
// `picHidden` and draws it onto the canvas: at its own size and centred in full screen, reduced
// by the preview-to-screen ratio and centred in a preview. With nothing to show, or when the
// picture cannot be shown, it draws the red failure cross.
//
// It reads the module-wide RunMode, PictureList, IntervalSeconds and ShowFileNames, and reads and
// writes NextPictureTime.
class SlideTick
{
public:
    // `screenSize`: `Screen.Width` and `Screen.Height`, the primary screen in twips; it is asked
    // only in a preview, after the due test.
    SlideTick(const Clock& clock, RandomSource& random, Canvas& canvas, PictureHolder& picHidden,
              std::function<QSizeF()> screenSize);

    // True when the run was due (and so changed what the canvas shows).
    bool Run();

    // The failure cross: two lines DrawWidth 5, red, corner to corner, over what is there.
    static void DrawFailureCross(Canvas& canvas);

private:
    const Clock& m_clock;
    RandomSource& m_random;
    Canvas& m_canvas;
    PictureHolder& picHidden;
    std::function<QSizeF()> m_screenSize;
};

} // namespace vb
