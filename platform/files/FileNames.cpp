#include "platform/files/FileNames.h"

namespace vb {

namespace {

constexpr char16_t EscapeBase = 0xDC00;

// A stand-in for a byte: a low surrogate in that range that is not the second half of a pair.
bool IsEscape(QStringView text, qsizetype i)
{
    const char16_t c = text[i].unicode();
    return c >= 0xDC80 && c <= 0xDCFF && (i == 0 || !text[i - 1].isHighSurrogate());
}

bool HasEscape(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (IsEscape(text, i))
            return true;
    }
    return false;
}

// The length of the valid UTF-8 sequence at `at`, or 0 when none starts there (a stray
// continuation byte, an overlong form, an encoded surrogate, beyond U+10FFFF, cut short).
qsizetype ValidSequence(QByteArrayView bytes, qsizetype at, char32_t* code)
{
    const auto byte = [&](qsizetype i) {
        return uchar(bytes[i]);
    };
    const uchar lead = byte(at);
    qsizetype length = 0;
    char32_t value = 0;
    char32_t lowest = 0;
    if (lead < 0x80) {
        *code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F, lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F, lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07, lowest = 0x10000;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    for (qsizetype i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    if (value < lowest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *code = value;
    return length;
}

} // namespace

QString DecodeFileName(QByteArrayView bytes)
{
    // Almost every name is valid UTF-8: Qt's fast decoder does it, and only a result that holds
    // a replacement character needs a second, careful look.
    QString text = QString::fromUtf8(bytes);
    if (!text.contains(QChar::ReplacementCharacter))
        return text;
    text.clear();
    text.reserve(bytes.size());
    for (qsizetype at = 0; at < bytes.size();) {
        char32_t code = 0;
        const qsizetype length = ValidSequence(bytes, at, &code);
        if (length == 0) {
            text += QChar(char16_t(EscapeBase + uchar(bytes[at])));
            ++at;
            continue;
        }
        text += QString::fromUcs4(&code, 1);
        at += length;
    }
    return text;
}

QByteArray EncodeFileName(QStringView text)
{
    if (!HasEscape(text))
        return text.toUtf8();
    QByteArray bytes;
    bytes.reserve(text.size() * 3);
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!IsEscape(text, i))
            continue;
        bytes += text.mid(from, i - from).toUtf8();
        bytes += char(text[i].unicode() - EscapeBase);
        from = i + 1;
    }
    bytes += text.mid(from).toUtf8();
    return bytes;
}

QString DisplayFileName(QString text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (IsEscape(text, i))
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

} // namespace vb
