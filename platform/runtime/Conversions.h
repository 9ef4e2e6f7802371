#pragma once

#include <QString>
#include <QtGlobal>

namespace vb {

// Text to number and back, the same everywhere the program reads a number a user may have
// typed: the settings file, the interval box, the command line.
//
// A number is optional blanks, an optional sign, decimal digits with an optional fraction,
// optional blanks. The fraction is rounded to the nearest integer, an exact half to the even
// neighbour (2.5 gives 2, 3.5 gives 4, -2.5 gives -2). Text of any other shape throws a
// RuntimeError TypeMismatch, a number outside the target type an Overflow. The cause of the
// error quotes the text; callers that know more replace it.
qint16 TextToInt16(const QString& text);
qint32 TextToInt32(const QString& text);

// "True" and "False" in any letter case, or a number as above (0 is false, any other number
// true, fractions included: "0.4" is true). Anything else throws TypeMismatch.
bool TextToBool(const QString& text);

// The text forms that the settings store holds: plain decimal, "True"/"False".
QString IntToText(qint64 value);
QString BoolToText(bool value);

} // namespace vb
