#pragma once

#include <QString>

namespace vb {

class RuntimeError;

// The runtime's report of an error that nothing caught: one line,
// "vellumbright: <error>: <cause>".
QString FormatErrorReport(const RuntimeError& error);

// Writes the report to standard error.
void WriteErrorReport(const RuntimeError& error);

// A line "vellumbright: warning: <text>" on standard error, for trouble the program carries on
// after.
void WriteWarning(const QString& text);

} // namespace vb
