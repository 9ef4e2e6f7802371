// Any text through the conversions: a result or the runtime's error, never anything else, and
// results that agree with each other.
#include "app/CommandLine.h"
#include "platform/runtime/Conversions.h"
#include "platform/runtime/RuntimeError.h"

#include <QString>
#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

template <typename F>
auto Try(F f) -> std::optional<decltype(f())>
{
    try {
        return f();
    } catch (const vb::RuntimeError&) {
        return std::nullopt;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));

    const auto i16 = Try([&] { return vb::TextToInt16(text); });
    const auto i32 = Try([&] { return vb::TextToInt32(text); });
    const auto b = Try([&] { return vb::TextToBool(text); });
    // A number that fits 16 bits fits 32 and has the same value.
    if (i16)
        Check(i32 && *i32 == *i16);
    // The written text of a value reads back as that value.
    if (i32)
        Check(vb::TextToInt32(vb::IntToText(*i32)) == *i32);
    // Every number is also a boolean: zero is false.
    if (i32 && *i32 != 0)
        Check(b && *b);
    if (b)
        Check(vb::TextToBool(vb::BoolToText(*b)) == *b);

    const QString normalised = vb::NormaliseCommand(text);
    const qint32 mode = vb::ClassifyCommand(normalised);
    Check(mode >= 0 && mode <= 2);
    const auto host = Try([&] { return vb::ParsePreviewWindow(normalised); });
    if (host)
        Check(*host >= 0);
    return 0;
}
