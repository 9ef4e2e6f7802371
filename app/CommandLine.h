#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace vb {

// The command text: the program's arguments joined by single spaces.
QString CommandText(const QStringList& arguments);

// Leading and trailing spaces removed (`Trim`), then upper-cased (`UCase`).
QString NormaliseCommand(const QString& commandText);

// The run mode of a normalised command text, from its first two characters: "/C" Configure,
// "/P" Preview, anything else (nothing at all included) ScreenSaver.
qint32 ClassifyCommand(const QString& normalisedText);

// `ParsePreviewWindow`: the run of decimal digits that ends the text, as a 32-bit integer.
// "/P 1234" gives 1234, "/P:0012" 12, "/P 12 34" 34. Throws RuntimeError TypeMismatch when the
// text does not end in a digit, Overflow when the number passes 2147483647.
qint32 ParsePreviewWindow(QString text);

} // namespace vb
