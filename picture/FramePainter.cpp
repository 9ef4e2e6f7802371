#include "picture/FramePainter.h"

#include "picture/Canvas.h"
#include "picture/FitPlacement.h"
#include "picture/ImageCanvas.h"
#include "picture/PictureHolder.h"
#include "platform/runtime/RuntimeError.h"

#include <exception>

namespace vb {

namespace {

// Places the picture loaded into `picture` on `canvas`, which is already clear. `screen` is the
// screen's size in twips, used only in a preview. Throws RuntimeError when the picture cannot be
// shown.
void PaintPicture(Canvas& canvas, PictureHolder& picture, bool preview, bool fit, QSizeF screen)
{
    const float coverWidth = canvas.ScaleWidth();
    const float coverHeight = canvas.ScaleHeight();
    float pictureWidth = picture.ScaleWidth();
    float pictureHeight = picture.ScaleHeight();
    picture.SetReduceInSteps(fit);

    if (preview) {
        // The miniature shows the picture as the full screen would, reduced by the factor by
        // which the preview is smaller than the screen: the smaller of the two ratios, the
        // height's at a tie. It is not fitted to the preview.
        const float screenWidth = float(screen.width());
        const float screenHeight = float(screen.height());
        // Fitted to the screen first, so that the miniature still shows what the screen would.
        if (fit)
            ShrinkToFit(pictureWidth, pictureHeight, screenWidth, screenHeight);
        const float ratioWidth = coverWidth / screenWidth;
        const float ratioHeight = coverHeight / screenHeight;
        const float scale = ratioHeight > ratioWidth ? coverWidth / screenWidth : coverHeight / screenHeight;
        const float scaledWidth = pictureWidth * scale;
        const float scaledHeight = pictureHeight * scale;
        const float left = (coverWidth - scaledWidth) / 2.0f;
        const float top = (coverHeight - scaledHeight) / 2.0f;
        canvas.PaintPicture(picture, left, top, scaledWidth, scaledHeight);
        return;
    }

    // Full screen: own size, centred; a larger picture is cut off at the edges, never shrunk,
    // unless FitLargePictures shrinks it to fit.
    const bool shrunk = fit && ShrinkToFit(pictureWidth, pictureHeight, coverWidth, coverHeight);
    const float left = (coverWidth - pictureWidth) / 2.0f;
    const float top = (coverHeight - pictureHeight) / 2.0f;
    if (shrunk)
        canvas.PaintPicture(picture, left, top, pictureWidth, pictureHeight);
    else
        canvas.PaintPicture(picture, left, top);
}

} // namespace

Frame RenderFrame(FrameRequest request, const ImageCanvas::ImageMaker& makeImage)
{
    Frame frame{request.id, QImage(), QDate()};
    try {
        ImageCanvas& canvas = request.canvas;
        PictureHolder picture(request.decodeLimitMegabytes);
        // Its size in twips is its size in the monitor's device pixels.
        picture.SetDevicePixelRatio(canvas.DevicePixelRatio() * canvas.DevicePixelsPerPixel());
        picture.SetReadDateTaken(request.readDateTaken);
        picture.SetScreenProfile(canvas.ScreenProfile());
        // Loaded before the frame's image is made: a picture decoded whole at loading is, and
        // what its decoder holds on the way is gone before the image takes its memory.
        picture.Load(request.path);
        canvas.Resize(canvas.LogicalSize(), canvas.DevicePixelRatio(), canvas.DeviceSize(),
                      canvas.DevicePixelsPerPixel(), makeImage);
        PaintPicture(canvas, picture, request.preview, request.fitLargePictures, request.screen);
        frame.image = canvas.Image();
        frame.dateTaken = picture.DateTaken();
    } catch (const RuntimeError& error) {
        frame.missing = error.code() == ErrorCode::FileNotFound;
    } catch (const std::exception&) {
        // Out of memory: a picture that cannot be shown.
    }
    return frame;
}

} // namespace vb
