#include "platform/runtime/ErrorReport.h"

#include "platform/runtime/RuntimeError.h"

#include <cstdio>

namespace vb {

namespace {

void WriteLine(const QString& text)
{
    // A folder name may hold a line break; the report stays one line all the same.
    QString line;
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            line += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            line += c;
    }
    // One write of the whole line, so that lines of several processes do not interleave.
    const QByteArray bytes = (line + u'\n').toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

} // namespace

QString FormatErrorReport(const RuntimeError& error)
{
    return QStringLiteral("vellumbright: %1: %2").arg(error.errorText(), error.cause());
}

void WriteErrorReport(const RuntimeError& error)
{
    WriteLine(FormatErrorReport(error));
}

void WriteWarning(const QString& text)
{
    WriteLine(QStringLiteral("vellumbright: warning: ") + text);
}

} // namespace vb
