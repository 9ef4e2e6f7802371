#include "loading/SystemCallFilter.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sched.h>
#include <seccomp.h>

namespace vb::sandbox {
namespace {

// Calls that make, change or remove files, reach the network, start programs or write into other
// processes. The socket to the saver is inherited open: sendmsg and recvmsg on it stay, as do
// write() (standard error, the socket) and memfd_create, ftruncate, mmap and fcntl's seals, with
// which the pictures are handed back.
constexpr const char* kRefused[] = {
    "socket", "socketpair", "connect", "bind", "listen", "accept", "accept4", "execve", "execveat", "fork",
    "vfork", "ptrace", "process_vm_writev", "creat", "mkdir", "mkdirat", "unlink", "unlinkat", "rmdir",
    "rename", "renameat", "renameat2", "link", "linkat", "symlink", "symlinkat", "mknod", "mknodat",
    "truncate", "chmod", "fchmod", "fchmodat", "fchmodat2", "chown", "fchown", "fchownat", "lchown", "utime",
    "utimes", "utimensat", "futimesat", "setxattr", "lsetxattr", "fsetxattr", "setxattrat", "removexattr",
    "lremovexattr", "fremovexattr", "removexattrat",
    // io_uring opens files and sockets from the kernel's own workers, out of the filter's sight.
    "io_uring_setup", "io_uring_enter", "io_uring_register"};

// Calls newer than the libseccomp Debian ships go by their number, the same on x86-64 and arm64.
int SyscallNumber(const char* name)
{
    const int number = seccomp_syscall_resolve_name(name);
#if defined(__x86_64__) || defined(__aarch64__)
    static constexpr std::pair<const char*, int> kNewer[] = {
        {"fchmodat2", 452}, {"setxattrat", 463}, {"removexattrat", 466}};
    for (const auto& [newer, newerNumber] : kNewer) {
        if (number == __NR_SCMP_ERROR && std::strcmp(newer, name) == 0)
            return newerNumber;
    }
#endif
    return number;
}

} // namespace

void InstallSystemCallFilter()
{
    const std::unique_ptr<void, decltype(&seccomp_release)> filter(seccomp_init(SCMP_ACT_ALLOW),
                                                                   &seccomp_release);
    if (!filter)
        throw SandboxError("seccomp_init", ENOMEM);
    // Every thread, also those a library started already, gets the filter.
    if (const int rc = seccomp_attr_set(filter.get(), SCMP_FLTATR_CTL_TSYNC, 1); rc < 0)
        throw SandboxError("seccomp_attr_set", -rc);
    const auto refuse = [&](const char* name, int err, std::initializer_list<scmp_arg_cmp> args = {}) {
        const int number = SyscallNumber(name);
        if (number == __NR_SCMP_ERROR)
            return;
        if (const int rc = seccomp_rule_add_array(filter.get(), SCMP_ACT_ERRNO(err), number,
                                                  unsigned(args.size()), std::data(args));
            rc < 0)
            throw SandboxError(name, -rc);
    };
    for (const char* name : kRefused)
        refuse(name, EPERM);
    // The filter cannot read openat2's flags nor clone3's, which lie in memory: ENOSYS sends glibc
    // back to openat and clone, whose flags it can read.
    refuse("openat2", ENOSYS);
    refuse("clone3", ENOSYS);
    refuse("clone", EPERM, {{0, SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0}});
    for (const int flag : {O_WRONLY, O_RDWR, O_CREAT, O_TRUNC, O_APPEND}) {
        const auto bit = scmp_datum_t(flag);
        refuse("open", EPERM, {{1, SCMP_CMP_MASKED_EQ, bit, bit}});
        refuse("openat", EPERM, {{2, SCMP_CMP_MASKED_EQ, bit, bit}});
    }
    if (const int rc = seccomp_load(filter.get()); rc < 0)
        throw SandboxError("seccomp_load", -rc);
}

} // namespace vb::sandbox
