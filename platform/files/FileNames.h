#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace vb {

// File names and file contents are bytes; the program's texts are QStrings. These two functions
// convert between them without losing anything: valid UTF-8 becomes its characters, and every
// byte that is not part of valid UTF-8 becomes a lone low surrogate U+DC80..U+DCFF, which turns
// back into the same byte. So a name listed from a folder in another encoding (an old archive's
// "caf\xe9.jpg") opens again, and a line of a file in Latin-1 is written back as it was read.
//
// Every place that turns a path into bytes for the system, or bytes from the system into a
// path, goes through these.
QString DecodeFileName(QByteArrayView bytes);
QByteArray EncodeFileName(QStringView text);

// The text as shown to a person: the stand-ins for undecodable bytes become U+FFFD.
QString DisplayFileName(QString text);

} // namespace vb
