#pragma once

#include "picture/ImageCanvas.h"

#include <QDate>
#include <QImage>
#include <QSizeF>
#include <QString>
#include <functional>
#include <memory>

namespace vb {

// What one picture change needs made ready: the picture at `path` placed on a black image of the
// canvas's size, as the slide tick places it.
struct FrameRequest
{
    quint64 id = 0;
    QString path;
    // The canvas's size, device-pixel ratio and settings, without its image.
    ImageCanvas canvas;
    // A preview reduces the picture by the ratio of the canvas to the screen.
    bool preview = false;
    // `Screen.Width` and `Screen.Height` in twips; used only in a preview.
    QSizeF screen;
    int decodeLimitMegabytes = 0;
    // FitLargePictures, read on the window thread.
    bool fitLargePictures = false;
    // ShowDateTaken in full screen: the frame also brings the date the photo was taken, which is
    // read from the file with the picture, away from the window.
    bool readDateTaken = false;
};

struct Frame
{
    quint64 id = 0;
    // Null when the picture cannot be shown.
    QImage image;
    // EXIF's DateTimeOriginal, when asked for and the picture has it.
    QDate dateTaken{};
    // The image is null because there was no file at the path (rather than one that could not be
    // shown).
    bool missing = false;
};

// Makes frames ready for the slide tick. Requests may be answered at once or later, on the
// window thread; a request may also never be answered (its file stalls, or a newer request for
// the same folder took its place), and the tick does not wait for one.
class PictureLoader
{
public:
    using Receiver = std::function<void(Frame)>;

    virtual ~PictureLoader() = default;
    virtual void SetReceiver(Receiver receiver) = 0;
    virtual void Request(FrameRequest request) = 0;
};

// The loader a cover gets, from the maker chosen before the first cover: the program's makes its
// loading helper's, the tests' one of the test support library. Without a maker it throws
// std::logic_error.
std::unique_ptr<PictureLoader> MakePictureLoader();
void SetPictureLoaderMaker(std::function<std::unique_ptr<PictureLoader>()> maker);

} // namespace vb
