#pragma once

#include <QString>
#include <QtGlobal>

namespace vb {

class PictureHolder;

// One logical (device-independent) pixel is 15 twips.
inline constexpr double TwipsPerPixel = 15.0;

// A colour as the runtime holds it: red in the lowest byte, green in the next, blue in the third.
using RuntimeColour = qint32;
inline constexpr RuntimeColour RuntimeBlack = 0;
inline constexpr RuntimeColour RuntimeRed = 255;
inline constexpr RuntimeColour RuntimeWhite = 16777215;

// The drawing surface of the slide tick: the cover window's persistent image (`AutoRedraw`).
// Positions and sizes are in twips; `DrawWidth` is in pixels.
class Canvas
{
public:
    virtual ~Canvas() = default;

    // The inner size, in twips.
    virtual float ScaleWidth() const = 0;
    virtual float ScaleHeight() const = 0;

    // `Cls`: fills everything with the back colour and moves CurrentX and CurrentY to 0.
    virtual void Cls() = 0;

    // `PaintPicture picture, left, top`: the picture at its own size, one picture pixel to one
    // device pixel. What falls outside the canvas is cut off.
    virtual void PaintPicture(PictureHolder& picture, float left, float top) = 0;
    // `PaintPicture picture, left, top, width, height`: the whole picture scaled to the size.
    virtual void PaintPicture(PictureHolder& picture, float left, float top, float width, float height) = 0;

    virtual int DrawWidth() const = 0;
    virtual void SetDrawWidth(int pixels) = 0;
    // `Line (x1, y1)-(x2, y2), colour`: a plain line DrawWidth pixels wide.
    virtual void Line(float x1, float y1, float x2, float y2, RuntimeColour colour) = 0;

    virtual float CurrentX() const = 0;
    virtual float CurrentY() const = 0;
    virtual void SetCurrentX(float x) = 0;
    virtual void SetCurrentY(float y) = 0;
    // `Print text`: one line with its top-left corner at (CurrentX, CurrentY), in the canvas's
    // font and fore colour, on a transparent background; then CurrentX is 0 and CurrentY is
    // the start of the next line.
    virtual void Print(const QString& text) = 0;
    // OutlineFileNames: `Print`, but the text is drawn with a black outline one pixel wide around
    // it, so that it reads over any picture, and text wider than the room right of CurrentX is
    // shortened in the middle with "..." so that both its ends show.
    virtual void PrintOutlined(const QString& text) = 0;
};

} // namespace vb
