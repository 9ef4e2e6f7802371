#pragma once

namespace vb {

// The idle watcher, the program `vellumbright --idle` runs:
//   vellumbright-idle [--verbose] --saver PROGRAM
// Starts "PROGRAM /S" each time the session has been idle for StartAfterMinutes (or
// VELLUMBRIGHT_IDLE_SECONDS seconds, for tests) and nothing holds the saver off. Rereads the
// minutes on SIGHUP; ends on SIGTERM and SIGINT, putting the X server's screen-saver settings
// back. A second watcher for the same display ends at once with status 0; a session without any
// idle source ends it with status 1. Its own process name is "vellumbright-idle".
int RunIdleWatcher(int argc, char** argv);

} // namespace vb
