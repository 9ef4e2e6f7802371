#include "app/CommandLine.h"

#include "platform/runtime/Conversions.h"
#include "platform/runtime/RuntimeError.h"
#include "state/ModuleState.h"

namespace vb {

namespace {

// `Trim` removes spaces only; a tab is part of the text.
QString TrimSpaces(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

QString CommandText(const QStringList& arguments)
{
    return arguments.join(u' ');
}

QString NormaliseCommand(const QString& commandText)
{
    return TrimSpaces(commandText).toUpper();
}

qint32 ClassifyCommand(const QString& normalisedText)
{
    const QString key = normalisedText.left(2);
    if (key == QLatin1String("/C"))
        return Configure;
    if (key.isEmpty())
        return ScreenSaver;
    if (key == QLatin1String("/S"))
        return ScreenSaver;
    if (key == QLatin1String("/P"))
        return Preview;
    return ScreenSaver;
}

qint32 ParsePreviewWindow(QString text)
{
    text = TrimSpaces(text);
    qsizetype n = text.size();
    while (n >= 1 && text[n - 1] >= u'0' && text[n - 1] <= u'9')
        --n;
    const QString digits = text.mid(n);
    if (digits.isEmpty())
        throw RuntimeError(ErrorCode::TypeMismatch,
                           QStringLiteral("the command line \"%1\" does not end in a window id").arg(text));
    try {
        return TextToInt32(digits);
    } catch (const RuntimeError& e) {
        throw e.withCause(
            QStringLiteral("the window id %1 on the command line \"%2\" is out of range").arg(digits, text));
    }
}

} // namespace vb
