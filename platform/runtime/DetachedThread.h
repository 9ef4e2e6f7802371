#pragma once

#include <functional>

namespace vb {

// Work that may block in the kernel for as long as a file system likes (a network share that
// stopped answering, a disk that hangs) runs on a thread of its own that nobody ever joins, so
// that neither the window thread nor the end of the process waits for it.
//
// How such a thread runs beside the thread that starts it.
enum class DetachedPriority {
    // Ten nice steps below, batch-scheduled: the program's own work that nobody waits for now.
    Background,
    // At the same nice, batch-scheduled: for a process that has no window of its own, whose
    // work a window waits for.
    Batch,
};

// Runs `work` on such a thread. `work` must catch what it throws.
void StartDetachedThread(std::function<void()> work,
                         DetachedPriority priority = DetachedPriority::Background);

// Lowers the calling detached thread further, below the picture decodes: for work that nobody
// waits for, such as walking the folders again while the show already runs.
void LowerThisThreadPriority();
// How many of those threads have not finished yet.
int DetachedThreadsRunning();

// Ends the process with `status` without running destructors, which could pull what a detached
// thread still uses from under it; a thread blocked in the kernel does not hold this up. Standard
// output and error are flushed first.
[[noreturn]] void EndProcessNow(int status);

} // namespace vb
