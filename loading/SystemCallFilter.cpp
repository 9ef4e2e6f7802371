#include "loading/SystemCallFilter.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/prctl.h>
#include <memory>
#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

// The sanitizers' runtimes make calls of their own (reading their options and the process's maps,
// naming their threads, their reports): allowed in those builds only.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VB_SANITIZER_RUNTIME 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define VB_SANITIZER_RUNTIME 1
#endif
#endif

namespace vb::sandbox {
namespace {

// Everything the helper's work needs, whatever its arguments; every other call fails with EPERM.
constexpr const char* kAllowed[] = {
    // Reading pictures and folders, and the libraries and plugins loaded lazily (dlopen: open,
    // map, protect). Opening is allowed below for reading only.
    "read",
    "pread64",
    "readv",
    "preadv",
    "preadv2",
    "close",
    "close_range",
    "lseek",
    "fstat",
    "stat",
    "lstat",
    "newfstatat",
    "statx",
    "fstatfs",
    "statfs",
    "getdents",
    "getdents64",
    "access",
    "faccessat",
    "faccessat2",
    "readlink",
    "readlinkat",
    "getcwd",
    "dup",
    "dup2",
    "dup3",
    "fadvise64",
    "readahead",
    // Memory: the heap, the decoders' buffers, the frames' memfds.
    "brk",
    "mmap",
    "munmap",
    "mprotect",
    "mremap",
    "madvise",
    "mincore",
    "memfd_create",
    "ftruncate",
    // Threads (libheif's and libde265's workers, dav1d's, the listings') and their waits.
    "futex",
    "futex_waitv",
    "set_robust_list",
    "get_robust_list",
    "rseq",
    "set_tid_address",
    "gettid",
    "getpid",
    "getppid",
    "sched_yield",
    "membarrier",
    // The wakeup of an event loop, which Qt and GLib make for each thread that runs one (Qt's
    // TIFF reader brings one up): a counter inside the process, reaching nothing outside it.
    "eventfd2",
    "rt_sigaction",
    "rt_sigprocmask",
    "rt_sigreturn",
    "sigaltstack",
    "rt_sigtimedwait",
    "restart_syscall",
    "nanosleep",
    "clock_nanosleep",
    "exit",
    "exit_group",
    // Clocks, the process's own facts, the random source Qt seeds its hashes from.
    "clock_gettime",
    "clock_getres",
    "gettimeofday",
    "time",
    "getrandom",
    "uname",
    "getuid",
    "geteuid",
    "getgid",
    "getegid",
    "getresuid",
    "getresgid",
    "sysinfo",
    "getrusage",
    "times",
    "sched_getparam",
    "sched_getscheduler",
    // The socket to the program, standard error (a pipe), the frames.
    "write",
    "writev",
    "pwrite64",
    "sendmsg",
    "recvmsg",
    "sendto",
    "recvfrom",
    "poll",
    "ppoll",
#ifdef VB_SANITIZER_RUNTIME
    "prctl",
    "getrlimit",
    "setrlimit",
    "prlimit64",
    "ioctl",
    "pipe",
    "pipe2",
    "sched_getaffinity",
    "getpriority",
    "setpriority",
    "tgkill",
    "kill",
    "tkill",
    "sched_setscheduler",
    "sched_setaffinity",
    "open",
    "openat",
    "fcntl",
    "msync",
    "wait4",
    "waitid",
#endif
};

void Add(scmp_filter_ctx filter, const char* name, uint32_t action,
         std::initializer_list<scmp_arg_cmp> args = {})
{
    const int number = seccomp_syscall_resolve_name(name);
    // A call this system does not know: nothing to allow or refuse.
    if (number == __NR_SCMP_ERROR)
        return;
    if (const int rc = seccomp_rule_add_array(filter, action, number, unsigned(args.size()), std::data(args));
        rc < 0 && rc != -EEXIST)
        throw SandboxError(name, -rc);
}

} // namespace

void InstallSystemCallFilter()
{
    const std::unique_ptr<void, decltype(&seccomp_release)> filter(seccomp_init(SCMP_ACT_ERRNO(EPERM)),
                                                                   &seccomp_release);
    if (!filter)
        throw SandboxError("seccomp_init", ENOMEM);
    // Every thread, also those a library started already, gets the filter.
    if (const int rc = seccomp_attr_set(filter.get(), SCMP_FLTATR_CTL_TSYNC, 1); rc < 0)
        throw SandboxError("seccomp_attr_set", -rc);
    scmp_filter_ctx const f = filter.get();
    const auto allow = [f](const char* name, std::initializer_list<scmp_arg_cmp> args = {}) {
        Add(f, name, SCMP_ACT_ALLOW, args);
    };
    for (const char* name : kAllowed)
        allow(name);
    // Threads only: no new process, no new namespace.
    allow("clone", {SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD)});
#ifndef VB_SANITIZER_RUNTIME
    const auto self = scmp_datum_t(getpid());
    // Opening for reading, no more; whether that file may be read at all is Landlock's to say.
    const auto writes = scmp_datum_t(O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND);
    allow("open", {SCMP_A1(SCMP_CMP_MASKED_EQ, writes, 0)});
    allow("openat", {SCMP_A2(SCMP_CMP_MASKED_EQ, writes, 0)});
    // Signals to itself only (abort, a thread's cancel), never to another process.
    allow("kill", {SCMP_A0(SCMP_CMP_EQ, self)});
    allow("tgkill", {SCMP_A0(SCMP_CMP_EQ, self)});
    // Its own threads' priority and processors (who or pid 0: the calling thread).
    allow("getpriority", {SCMP_A0(SCMP_CMP_EQ, PRIO_PROCESS), SCMP_A1(SCMP_CMP_EQ, 0)});
    allow("setpriority", {SCMP_A0(SCMP_CMP_EQ, PRIO_PROCESS), SCMP_A1(SCMP_CMP_EQ, 0)});
    allow("sched_setscheduler", {SCMP_A0(SCMP_CMP_EQ, 0)});
    allow("sched_getaffinity", {SCMP_A0(SCMP_CMP_EQ, 0)});
    allow("sched_setaffinity", {SCMP_A0(SCMP_CMP_EQ, 0)});
    allow("getrlimit");
    allow("prlimit64", {SCMP_A0(SCMP_CMP_EQ, 0)});
    // Descriptor flags and the frames' seals; no locks (F_SETLK would lock any file it can read).
    for (const int command :
         {F_GETFD, F_SETFD, F_GETFL, F_SETFL, F_DUPFD, F_DUPFD_CLOEXEC, F_ADD_SEALS, F_GET_SEALS})
        allow("fcntl", {SCMP_A1(SCMP_CMP_EQ, scmp_datum_t(command))});
    // Naming its threads, as libraries do; nothing else of prctl.
    for (const int option : {PR_SET_NAME, PR_GET_NAME})
        allow("prctl", {SCMP_A0(SCMP_CMP_EQ, scmp_datum_t(option))});
    // The only request a reader needs; none on a terminal (TIOCSTI types into it).
    allow("ioctl", {SCMP_A1(SCMP_CMP_EQ, FIONREAD)});
#endif
    // The filter cannot read openat2's flags nor clone3's, which lie in memory: ENOSYS sends glibc
    // back to openat and clone, whose flags it can read.
    for (const char* name : {"openat2", "clone3"})
        Add(f, name, SCMP_ACT_ERRNO(ENOSYS));
    if (const int rc = seccomp_load(f); rc < 0)
        throw SandboxError("seccomp_load", -rc);
}

} // namespace vb::sandbox
