#pragma once

namespace vb {

class RuntimeError;

// The runtime's report of an error nothing caught: the line on standard error and, for a user of
// the configuration dialog, who does not read standard error, the same text in a message box.
void ReportUncaughtError(const RuntimeError& error, bool withMessageBox);

// For an error inside the event loop, where it cannot travel back to main(): reports it, closes
// every window and ends the process with status 1.
[[noreturn]] void EndWithUncaughtError(const RuntimeError& error, bool withMessageBox);

} // namespace vb
