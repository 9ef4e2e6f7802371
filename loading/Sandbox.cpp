#include "loading/Sandbox.h"

#include "loading/SystemCallFilter.h"
#include "platform/runtime/RuntimeError.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <linux/landlock.h>
#include <memory>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// The sanitizers' shadow memory reserves terabytes of address space up front: a limit on it would
// stop the process at its first allocation.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VB_SHADOW_MEMORY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define VB_SHADOW_MEMORY 1
#endif
#endif

namespace vb {

RuntimeError sandbox::SandboxError(const char* what, int err)
{
    return RuntimeError(ErrorCode::PermissionDenied,
                        QStringLiteral("cannot enter the sandbox: %1 failed (%2)")
                            .arg(QLatin1StringView(what), qt_error_string(err)));
}

namespace {

using sandbox::SandboxError;

// Landlock's access rights past those of Debian 12's kernel headers.
constexpr quint64 kFsFirstAbi = (LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1;     // execute to make_sym
constexpr quint64 kFsRefer = 1ULL << 13;                                    // ABI 2
constexpr quint64 kFsTruncate = 1ULL << 14;                                 // ABI 3
constexpr quint64 kFsIoctlDev = 1ULL << 15;                                 // ABI 5
constexpr quint64 kNetBindTcp = 1ULL << 0, kNetConnectTcp = 1ULL << 1;      // ABI 4
constexpr quint64 kScopeAbstractUnix = 1ULL << 0, kScopeSignal = 1ULL << 1; // ABI 6
constexpr quint64 kFileRights = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE |
                                LANDLOCK_ACCESS_FS_READ_FILE | kFsTruncate | kFsIoctlDev;
constexpr quint64 kRead = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;

struct RulesetAttr
{
    quint64 handledFs = 0;
    quint64 handledNet = 0;
    quint64 scoped = 0;
};

// The rights are granted to what lies beneath `path`; a path that is not there is left out, and so
// is one Landlock refuses: either way the process may read less, never more.
void AllowBeneath(int ruleset, const QByteArray& path, quint64 rights)
{
    const int fd = open(path.constData(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat info;
    if (fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode))
        rights &= kFileRights;
    landlock_path_beneath_attr rule{rights, fd};
    syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
    close(fd);
}

int ApplyLandlock(const QStringList& readableFolders, int abiAtMost)
{
    long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 0 && (errno == ENOSYS || errno == EOPNOTSUPP))
        return 0;
    if (abiAtMost >= 0 && abi > abiAtMost)
        abi = abiAtMost;
    if (abi == 0)
        return 0;
    if (abi < 0)
        throw SandboxError("landlock_create_ruleset", errno);
    RulesetAttr attr;
    attr.handledFs =
        kFsFirstAbi | (abi >= 2 ? kFsRefer : 0) | (abi >= 3 ? kFsTruncate : 0) | (abi >= 5 ? kFsIoctlDev : 0);
    // TCP handled with no rule: neither bind nor connect. The filter refuses sockets already;
    // this holds also for a socket inherited by mistake.
    attr.handledNet = abi >= 4 ? kNetBindTcp | kNetConnectTcp : 0;
    attr.scoped = abi >= 6 ? kScopeAbstractUnix | kScopeSignal : 0;
    const std::size_t size = abi >= 6   ? sizeof attr
                             : abi >= 4 ? offsetof(RulesetAttr, scoped)
                                        : offsetof(RulesetAttr, handledNet);
    const int ruleset = int(syscall(SYS_landlock_create_ruleset, &attr, size, 0));
    if (ruleset < 0)
        throw SandboxError("landlock_create_ruleset", errno);
    // Libraries and plugins load lazily and are mapped executable. Of /etc only what the loader
    // (its cache), Qt's image plugins and the date taken (the time zone) read; the process's own
    // entries in /proc and the processor count (glibc and the decoders' thread pools read it).
    for (const char* path : {"/usr", "/lib", "/lib64", "/lib32", "/libx32"})
        AllowBeneath(ruleset, path, kRead | LANDLOCK_ACCESS_FS_EXECUTE);
    for (const char* path : {"/etc/ld.so.cache", "/etc/localtime", "/proc/self", "/sys/devices/system/cpu",
                             "/dev/null", "/dev/urandom"})
        AllowBeneath(ruleset, path, kRead);
    for (const QString& folder : readableFolders)
        AllowBeneath(ruleset, QFile::encodeName(folder), kRead);
    const long restricted = syscall(SYS_landlock_restrict_self, ruleset, 0);
    const int err = errno;
    close(ruleset);
    if (restricted < 0)
        throw SandboxError("landlock_restrict_self", err);
    return int(abi);
}

// Lowers a limit, the hard one too, so that nothing in the process can raise it again.
bool Limit(int resource, qint64 value)
{
    rlimit limit{};
    if (value <= 0 || getrlimit(resource, &limit) != 0)
        return false;
    limit.rlim_cur = limit.rlim_max = std::min(rlim_t(value), limit.rlim_max);
    return setrlimit(resource, &limit) == 0;
}

bool LimitAddressSpace(qint64 bytes)
{
#ifdef VB_SHADOW_MEMORY
    Q_UNUSED(bytes);
    return false;
#else
    return Limit(RLIMIT_AS, bytes);
#endif
}

} // namespace

SandboxApplied EnterSandbox(const SandboxRules& rules)
{
    // Landlock asks for it; and no program started later could gain rights through set-user-ID.
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        throw SandboxError("PR_SET_NO_NEW_PRIVS", errno);
    SandboxApplied applied;
    applied.landlockAbi = ApplyLandlock(rules.readableFolders, rules.landlockAbiAtMost);
    applied.addressSpaceLimited = LimitAddressSpace(rules.addressSpaceBytes);
    std::signal(SIGXFSZ, SIG_IGN);
    applied.fileSizeLimited = Limit(RLIMIT_FSIZE, rules.fileSizeBytes);
    Limit(RLIMIT_NOFILE, rules.openFiles);
    if (rules.systemCallFilter)
        sandbox::InstallSystemCallFilter();
    applied.seccomp = rules.systemCallFilter;
    return applied;
}

} // namespace vb
