#include "platform/runtime/Conversions.h"

#include "platform/runtime/RuntimeError.h"

#include <cstdint>
#include <limits>
#include <optional>

namespace vb {

namespace {

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool IsDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

struct ParsedNumber
{
    bool negative = false;
    // Magnitude of the rounded value; saturates at Cap so that a long run of digits stays an
    // overflow instead of wrapping.
    std::uint64_t magnitude = 0;
    bool nonZero = false; // the exact value, before rounding, is not zero
};

constexpr std::uint64_t Cap = std::uint64_t(1) << 40;

// Parses the number grammar; nullopt when the text is no number at all.
std::optional<ParsedNumber> ParseNumber(const QString& text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && IsBlank(text[i]))
        ++i;
    ParsedNumber result;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        result.negative = text[i] == u'-';
        ++i;
    }
    int digits = 0;
    while (i < n && IsDigit(text[i])) {
        const int d = text[i].unicode() - u'0';
        result.magnitude = std::min(Cap, result.magnitude * 10 + std::uint64_t(d));
        result.nonZero = result.nonZero || d != 0;
        ++digits;
        ++i;
    }
    // Rounding needs the first fraction digit and whether anything non-zero follows it.
    int firstFraction = -1;
    bool restNonZero = false;
    if (i < n && text[i] == u'.') {
        ++i;
        while (i < n && IsDigit(text[i])) {
            const int d = text[i].unicode() - u'0';
            if (firstFraction < 0)
                firstFraction = d;
            else
                restNonZero = restNonZero || d != 0;
            result.nonZero = result.nonZero || d != 0;
            ++digits;
            ++i;
        }
    }
    while (i < n && IsBlank(text[i]))
        ++i;
    if (digits == 0 || i != n)
        return std::nullopt;

    const bool roundUp =
        firstFraction > 5 || (firstFraction == 5 && (restNonZero || result.magnitude % 2 == 1));
    if (roundUp)
        result.magnitude = std::min(Cap, result.magnitude + 1);
    return result;
}

QString Quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

template <typename Int>
Int TextToInt(const QString& text)
{
    const auto parsed = ParseNumber(text);
    if (!parsed)
        throw RuntimeError(ErrorCode::TypeMismatch, Quoted(text) + QStringLiteral(" is not a number"));
    const std::uint64_t limit = parsed->negative ? std::uint64_t(std::numeric_limits<Int>::max()) + 1
                                                 : std::uint64_t(std::numeric_limits<Int>::max());
    if (parsed->magnitude > limit)
        throw RuntimeError(ErrorCode::Overflow, Quoted(text) + QStringLiteral(" is out of range"));
    const auto value = std::int64_t(parsed->magnitude);
    return Int(parsed->negative ? -value : value);
}

} // namespace

qint16 TextToInt16(const QString& text)
{
    return TextToInt<qint16>(text);
}

qint32 TextToInt32(const QString& text)
{
    return TextToInt<qint32>(text);
}

bool TextToBool(const QString& text)
{
    const QString word = text.trimmed();
    if (word.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (word.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    const auto parsed = ParseNumber(text);
    if (!parsed)
        throw RuntimeError(ErrorCode::TypeMismatch,
                           Quoted(text) + QStringLiteral(" is neither True, False nor a number"));
    return parsed->nonZero;
}

QString IntToText(qint64 value)
{
    return QString::number(value);
}

QString BoolToText(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

} // namespace vb
