#include "cover/SlideTick.h"

#include "app/ModuleState.h"
#include "cover/Canvas.h"
#include "cover/PictureHolder.h"
#include "platform/Clock.h"
#include "platform/RandomSource.h"
#include "platform/RuntimeError.h"

#include <algorithm>
#include <cmath>
#include <exception>

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

SlideTick::SlideTick(const Clock& clock, RandomSource& random, Canvas& canvas, PictureHolder& picHidden,
                     std::function<QSizeF()> screenSize)
    : m_clock(clock), m_random(random), m_canvas(canvas), picHidden(picHidden),
      m_screenSize(std::move(screenSize))
{
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
    if (m_clock.Now() < NextPictureTime)
        return false;

    // Scheduled before anything can fail, so that an empty list or a bad picture waits for the
    // next interval like any other.
    NextPictureTime = DateAddSeconds(m_clock.Now(), IntervalSeconds);

    if (PictureList.size() < 1) {
        DrawFailureCross(m_canvas);
        return true;
    }

    const qsizetype index = PickIndex(m_random.Rnd(), PictureList.size());
    const QString& path = PictureList.at(index);

    m_canvas.Cls();

    try {
        picHidden.Load(path);
        const float coverWidth = m_canvas.ScaleWidth();
        const float coverHeight = m_canvas.ScaleHeight();
        const float pictureWidth = picHidden.ScaleWidth();
        const float pictureHeight = picHidden.ScaleHeight();

        if (RunMode == Preview) {
            // The miniature shows the picture as the full screen would, reduced by the factor
            // by which the preview is smaller than the screen: the smaller of the two ratios,
            // the height's at a tie. It is not fitted to the preview.
            const QSizeF screen = m_screenSize();
            const float screenWidth = float(screen.width());
            const float screenHeight = float(screen.height());
            const float ratioWidth = coverWidth / screenWidth;
            const float ratioHeight = coverHeight / screenHeight;
            const float scale =
                ratioHeight > ratioWidth ? coverWidth / screenWidth : coverHeight / screenHeight;
            const float scaledWidth = pictureWidth * scale;
            const float scaledHeight = pictureHeight * scale;
            const float left = (coverWidth - scaledWidth) / 2.0f;
            const float top = (coverHeight - scaledHeight) / 2.0f;
            m_canvas.PaintPicture(picHidden, left, top, scaledWidth, scaledHeight);
            return true;
        }

        // Full screen: own size, centred; a larger picture is cut off at the edges, never shrunk.
        const float left = (coverWidth - pictureWidth) / 2.0f;
        const float top = (coverHeight - pictureHeight) / 2.0f;
        m_canvas.PaintPicture(picHidden, left, top);

        if (ShowFileNames != 0) {
            m_canvas.SetCurrentX(0);
            m_canvas.SetCurrentY(0);
            m_canvas.Print(path);
        }
    } catch (const RuntimeError&) {
        DrawFailureCross(m_canvas);
    } catch (const std::exception&) {
        // Out of memory while decoding or drawing counts as a picture that cannot be shown.
        DrawFailureCross(m_canvas);
    }
    return true;
}

} // namespace vb
