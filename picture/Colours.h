#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace vb {

// What a picture's colours mean: an embedded ICC profile, or a HEIF/AVIF colour description
// (`nclx`: primaries and transfer by their ITU-T H.273 numbers). Neither: sRGB.
struct PictureColours
{
    QByteArray icc;
    int primaries = 2; // 2: unspecified
    int transfer = 2;

    // Whether the colours need converting to sRGB at all: a profile, or primaries or a transfer
    // other than sRGB's (BT.709's primaries, its or sRGB's curve, taken as the screens take them).
    bool Managed() const;
    // PQ (16) or HLG (18): light beyond a screen's white, which HeifDecoder tone-maps.
    bool HighDynamicRange() const { return transfer == 16 || transfer == 18; }
};

// An ICC profile of the colour description's primaries (D65 white, or DCI's for primaries 11) and
// transfer; empty for those it does not know. The HDR transfers give their primaries with a
// linear curve: the light after tone mapping.
QByteArray ProfileOf(int primaries, int transfer);

// Converts the pixels of `area` of `image` (Format_RGB32 or Format_ARGB32, alpha kept) from
// `from` to the screen's colours, perceptual intent: `screen`, the monitor's ICC profile, or sRGB
// when that is empty. The transform for a pair of profiles is made once and kept (a few of
// them). Pixels whose profile cannot be read are left as they are; false then.
bool ConvertColours(QImage& image, const QRect& area, const PictureColours& from, const QByteArray& screen);

// Converts an image's rows as ConvertColours does, on a thread of its own, while the thread that
// fills them goes on: each band is converted while the decoder works on the next, instead of in a
// pass over the whole frame after decoding, so that the conversion adds little more than its last
// band to a change.
class RowConverter
{
public:
    // Starts nothing when `from` to `screen` cannot be converted; Finish is false then.
    RowConverter(QImage& image, const PictureColours& from, const QByteArray& screen);
    RowConverter(const RowConverter&) = delete;
    RowConverter& operator=(const RowConverter&) = delete;
    // Waits for the rows already handed over.
    ~RowConverter();

    // The image's rows above `rows` are final.
    void Ready(int rows);
    // Waits until every row handed over is converted; true when a conversion ran.
    bool Finish();

private:
    // Blocks until rows beyond `done` are ready, or none will be; the rows ready then.
    int Wait(int done);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_ready = 0;
    bool m_finishing = false;
    std::thread m_thread;
};

// The ICC profile a JPEG carries in its APP2 "ICC_PROFILE" segments, put together in their
// order; empty when it has none or they do not add up. Reads the device from its start up to the
// first scan.
QByteArray JpegIccProfile(class QIODevice& device);

} // namespace vb
