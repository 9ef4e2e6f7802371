#pragma once

#include <functional>

namespace vb {

// Runs `work` later on the application's thread, in its event loop; nothing when there is no
// application object. Whatever `work` holds is handed over through a queue under a lock of ours,
// and the thread that posts keeps no part of it: so the hand-over is one that ThreadSanitizer sees
// (Qt's own event queue it does not), and what `work` owns is freed on the application's thread.
void PostToMainThread(std::function<void()> work);

} // namespace vb
