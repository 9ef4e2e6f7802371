#pragma once

#include <QStringList>

namespace vb {

// The lock-down of the process that reads and decodes pictures: decoders have a record of memory
// faults and the pictures come from shares and downloads, so once it has started, that process may
// only read below the chosen folders and the system's own, and may neither write files, reach the
// network nor start programs.
struct SandboxRules
{
    // Folders the process may read below (the chosen picture folders and the folders links in them
    // lead to). Everything else the process still needs to read (libraries and plugins loaded
    // lazily under /usr and /lib*, the loader's cache and the time zone in /etc, /proc/self, the
    // processor count, /dev/null and /dev/urandom) is added by EnterSandbox itself; nothing else
    // of the home folder.
    QStringList readableFolders;
    // The address space limit (RLIMIT_AS) in bytes; 0 leaves it as it is. Not applied in builds with
    // AddressSanitizer or ThreadSanitizer (their shadow memory needs terabytes of address space).
    qint64 addressSpaceBytes = 0;
    // The largest file the process may make or grow (RLIMIT_FSIZE), memfds included, which the
    // address space limit does not count until they are mapped; 0 leaves it. Growing past it
    // fails with EFBIG (SIGXFSZ is ignored).
    qint64 fileSizeBytes = 0;
    // The descriptors it may hold at once (RLIMIT_NOFILE), and so the memfds; 0 leaves it.
    int openFiles = 0;
    // Tests only: Landlock used as a kernel of this ABI would offer it at most (0: as none), and
    // the system-call filter left out, to see what each protection alone holds.
    int landlockAbiAtMost = -1;
    bool systemCallFilter = true;
};

// What EnterSandbox applied, for the helper's diagnostics and the tests.
struct SandboxApplied
{
    bool seccomp = false;
    int landlockAbi = 0; // 0: the kernel offers no Landlock
    bool addressSpaceLimited = false;
    bool fileSizeLimited = false;
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
