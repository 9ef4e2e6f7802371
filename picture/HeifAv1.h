#pragma once

#include <QtGlobal>

namespace vb {

// The AV1 decoder libheif uses for AVIF pictures in this program: dav1d, as libheif's own decoder
// drives it, but without frame threading. A still picture is one frame, so frame threads have
// nothing to overlap; yet dav1d, left to choose, runs two or more frame contexts and keeps the
// coefficients of the whole frame beside it (about 30 MB for 12 megapixels, more with more
// cores). Tiles and filters still run on dav1d's threads.
//
// Registered with libheif once, ahead of its own AV1 decoders; heif_init must have run.
void RegisterHeifAv1Decoder();

// While one lives, an AV1 frame decoded on this thread may have at most `pixels` pixels (at least
// a floor that lets a grid's tiles through): dav1d refuses a larger frame before it allocates
// for it, so a file whose header understates its size cannot make it allocate more.
class HeifAv1FrameLimit
{
public:
    explicit HeifAv1FrameLimit(qint64 pixels);
    ~HeifAv1FrameLimit();
    HeifAv1FrameLimit(const HeifAv1FrameLimit&) = delete;
    HeifAv1FrameLimit& operator=(const HeifAv1FrameLimit&) = delete;

private:
    qint64 m_previous;
};

} // namespace vb
