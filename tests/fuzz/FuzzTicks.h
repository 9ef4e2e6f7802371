#pragma once

// What the picture fuzzers share: the slide tick, due at every run, showing one file through the
// loader that answers at once, in full screen and in a preview.
#include "InlineLoader.h"
#include "cover/SlideTick.h"
#include "picture/ImageCanvas.h"
#include "picture/PictureHolder.h"
#include "platform/runtime/Clock.h"
#include "platform/runtime/RandomSource.h"
#include "state/ModuleState.h"

#include <QFile>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <cstdlib>

namespace vbfuzz {

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
inline const QSizeF ScreenTwips(640 * 15.0, 480 * 15.0);

// A small limit makes oversized pictures fail fast.
constexpr int DecodeLimitMegabytes = 16;

inline void Check(bool condition)
{
    if (!condition)
        std::abort();
}

inline void StartOnce(const char* program)
{
    static int argc = 1;
    static char* argv[] = {const_cast<char*>(program), nullptr};
    static QGuiApplication* app = nullptr;
    if (app)
        return;
    app = new QGuiApplication(argc, argv);
    vb::PictureHolder::SetQtDecodeLimit(DecodeLimitMegabytes);
    // The decoders' complaints are expected; the program keeps them quiet too.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*.warning=false"));
}

inline void WriteInput(const QString& path, const uint8_t* data, size_t size)
{
    QFile file(path);
    Check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    Check(file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
}

// The file through the tick in full screen and in a preview, with the date taken in the caption
// (the path is left out: drawing its text is no decoder's work); each due run
// decodes it twice: for its own change and as the next change's pick. Either way the tick ends
// normally, with the picture or the failure cross.
inline void ShowThroughTheTick(const QString& path)
{
    HourlyClock clock;
    FixedRandom random;
    for (const int mode : {vb::ScreenSaver, vb::Preview}) {
        vb::ResetModuleState();
        vb::RunMode = mode;
        vb::ShowDateTaken = -1;
        vb::PictureList = {path};
        vb::ImageCanvas canvas;
        canvas.Resize(mode == vb::Preview ? QSize(64, 48) : QSize(160, 120), 1.0);
        vb::InlineLoader loader;
        vb::SlideTick tick(
            clock, random, canvas, loader, [] { return ScreenTwips; }, nullptr, DecodeLimitMegabytes);
        Check(tick.Run());
    }
}

} // namespace vbfuzz
