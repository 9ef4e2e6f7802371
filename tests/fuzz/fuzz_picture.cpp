// Any bytes as a picture file in the slideshow: made into a frame by the slide tick's loader and
// shown on an image canvas, in full screen and in a preview. Either way the tick ends normally,
// with the picture or the failure cross. The loader answers at once, so each due run decodes the
// file twice: for its own change and as the next change's pick.
#include "cover/SlideTick.h"
#include "picture/ImageCanvas.h"
#include "picture/InlineLoader.h"
#include "picture/PictureHeaders.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/RandomSource.h"
#include "state/ModuleState.h"

#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

namespace {

// Every run of the tick is due: the clock moves an hour at each reading.
class HourlyClock final : public vb::Clock
{
public:
    vb::DateTime Now() const override { return m_now += std::chrono::hours(1); }

private:
    mutable vb::DateTime m_now = vb::DateTime{} + std::chrono::hours(24 * 365 * 50);
};

class FixedRandom final : public vb::RandomSource
{
public:
    void Randomize() override {}
    double Rnd() override { return 0.5; }
};

// The screen the preview is a miniature of; small, so that the fuzzer's time goes to the
// decoders.
const QSizeF ScreenTwips(640 * 15.0, 480 * 15.0);

// A small limit makes oversized pictures fail fast.
constexpr int DecodeLimitMegabytes = 16;

// A JPEG decoded row by row takes time in proportion to the size its header declares, even when
// little of it shows; beyond this many pixels the fuzzer would only find its own timeout.
constexpr qint64 MaxRowByRowPixels = qint64(1) << 24;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void StartOnce()
{
    static int argc = 1;
    static char name[] = "fuzz_picture";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = nullptr;
    if (app)
        return;
    app = new QGuiApplication(argc, argv);
    // The decoders' complaints are expected; the program keeps them quiet too.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*.warning=false"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    StartOnce();
    static QTemporaryDir dir;
    // The name's extension is only a hint to Qt; each input gets one of the four the catalogue
    // collects.
    const char* const extensions[] = {"bmp", "jpg", "jpeg", "gif"};
    const QString path = dir.filePath(QStringLiteral("picture.") + extensions[size % 4]);
    {
        QFile file(path);
        Check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        Check(file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
    }
    {
        QFile file(path);
        Check(file.open(QIODevice::ReadOnly));
        const vb::PictureHeaderFacts facts = vb::ReadPictureHeaderFacts(file);
        const QSize declared = QImageReader(path).size();
        if (facts.jpeg && facts.jpegWholeImageBytes == 0 &&
            qint64(std::abs(declared.width())) * std::abs(declared.height()) > MaxRowByRowPixels)
            return 0;
    }

    HourlyClock clock;
    FixedRandom random;
    for (const int mode : {vb::ScreenSaver, vb::Preview}) {
        vb::ResetModuleState();
        vb::RunMode = mode;
        vb::PictureList = {path};
        vb::ImageCanvas canvas;
        canvas.Resize(mode == vb::Preview ? QSize(64, 48) : QSize(160, 120), 1.0);
        vb::InlineLoader loader;
        vb::SlideTick tick(
            clock, random, canvas, loader, [] { return ScreenTwips; }, nullptr, DecodeLimitMegabytes);
        Check(tick.Run());
    }
    return 0;
}
