#pragma once

#include <QStringList>

namespace vb {

// The lock-down of the process that reads and decodes pictures: decoders have a record of memory
// faults and the pictures come from shares and downloads, so once it has started, that process may
// only read below the chosen folders and the system's own, and may neither write files, reach the
// network nor start programs.
struct SandboxRules
{
    // Folders the process may read below (the chosen picture folders). Everything else the process
    // still needs to read (system libraries and plugins loaded lazily, /usr, /lib*, /etc, /proc/self,
    // /dev/null and /dev/urandom) is added by EnterSandbox itself.
    QStringList readableFolders;
    // The address space limit (RLIMIT_AS) in bytes; 0 leaves it as it is. Not applied in builds with
    // AddressSanitizer or ThreadSanitizer (their shadow memory needs terabytes of address space).
    qint64 addressSpaceBytes = 0;
};

// What EnterSandbox applied, for the helper's diagnostics and the tests.
struct SandboxApplied
{
    bool seccomp = false;
    int landlockAbi = 0; // 0: the kernel offers no Landlock
    bool addressSpaceLimited = false;
};

// Applies the rules to the whole process, for good. The system-call filter binds every thread;
// Landlock binds the calling thread and the threads started after it, so call it before the
// process starts threads of its own. Throws RuntimeError when the filter cannot be installed or
// Landlock, where the kernel offers it, cannot be applied. A folder that does not exist or cannot
// be opened is left out. In builds with AddressSanitizer, LeakSanitizer's check at exit needs ptrace
// and a clone that the filter refuses: a sandboxed process there ends through _exit, or runs with
// ASAN_OPTIONS=detect_leaks=0.
SandboxApplied EnterSandbox(const SandboxRules& rules);

} // namespace vb
