#include "confine.h"

#include <fcntl.h>
#include <linux/landlock.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace korvu {
namespace {

// Landlock's own numbers, spelled out: older kernel headers lack the later ones.
constexpr std::uint64_t kExecute = 1ull << 0;
constexpr std::uint64_t kWriteFile = 1ull << 1;
constexpr std::uint64_t kReadFile = 1ull << 2;
constexpr std::uint64_t kReadDir = 1ull << 3;
constexpr std::uint64_t kRemoveDir = 1ull << 4;
constexpr std::uint64_t kRemoveFile = 1ull << 5;
constexpr std::uint64_t kMakeChar = 1ull << 6;
constexpr std::uint64_t kMakeDir = 1ull << 7;
constexpr std::uint64_t kMakeReg = 1ull << 8;
constexpr std::uint64_t kMakeSock = 1ull << 9;
constexpr std::uint64_t kMakeFifo = 1ull << 10;
constexpr std::uint64_t kMakeBlock = 1ull << 11;
constexpr std::uint64_t kMakeSym = 1ull << 12;
constexpr std::uint64_t kRefer = 1ull << 13;             // ABI 2
constexpr std::uint64_t kTruncate = 1ull << 14;          // ABI 3
constexpr std::uint64_t kIoctlDev = 1ull << 15;          // ABI 5
constexpr std::uint64_t kNetBindTcp = 1ull << 0;         // ABI 4
constexpr std::uint64_t kNetConnectTcp = 1ull << 1;      // ABI 4
constexpr std::uint64_t kScopeAbstractUnix = 1ull << 0;  // ABI 6
constexpr std::uint64_t kScopeSignal = 1ull << 1;        // ABI 6
constexpr std::uint64_t kFileOnly = kExecute | kWriteFile | kReadFile | kTruncate | kIoctlDev;

struct RulesetAttr {
    std::uint64_t handled_access_fs;
    std::uint64_t handled_access_net;
    std::uint64_t scoped;
};

struct PathBeneath {
    std::uint64_t allowed_access;
    std::int32_t parent_fd;
} __attribute__((packed));

int landlock_abi() {
    long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi < 0 ? 0 : static_cast<int>(abi);
}

bool allow(int ruleset, int fd, std::uint64_t access, std::uint64_t handled) {
    struct stat st;
    if (fstat(fd, &st) != 0) return false;
    PathBeneath rule{access & handled & (S_ISDIR(st.st_mode) ? ~0ull : kFileOnly), fd};
    return syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0;
}

// Files: what is not allowed here is denied, at the best ABI the kernel has.
// ABI 1 cannot allow a rename or link between folders at all, so there hard
// links across folders of an archive fail rather than go unconfined.
bool restrict_files(int write_dir, int read_dir, int abi) {
    std::uint64_t handled = kExecute | kWriteFile | kReadFile | kReadDir | kRemoveDir |
                            kRemoveFile | kMakeChar | kMakeDir | kMakeReg | kMakeSock | kMakeFifo |
                            kMakeBlock | kMakeSym;
    if (abi >= 2) handled |= kRefer;
    if (abi >= 3) handled |= kTruncate;
    if (abi >= 5) handled |= kIoctlDev;
    RulesetAttr attr{handled, 0, 0};
    size_t size = sizeof attr.handled_access_fs;
    if (abi >= 4) {
        attr.handled_access_net = kNetBindTcp | kNetConnectTcp;
        size += sizeof attr.handled_access_net;
    }
    if (abi >= 6) {
        // Nor may it reach other processes through signals or abstract sockets.
        attr.scoped = kScopeAbstractUnix | kScopeSignal;
        size += sizeof attr.scoped;
    }
    int ruleset = static_cast<int>(syscall(SYS_landlock_create_ruleset, &attr, size, 0));
    if (ruleset < 0) return false;
    bool ok = allow(ruleset, write_dir,
                    kReadFile | kReadDir | kWriteFile | kRemoveDir | kRemoveFile | kMakeDir |
                        kMakeReg | kMakeSym | kRefer | kTruncate,
                    handled);
    if (ok && read_dir >= 0) ok = allow(ruleset, read_dir, kReadFile | kReadDir, handled);
    // Libraries loaded late (character set converters) and the system's own files.
    for (const char* sys : {"/usr", "/lib", "/lib64", "/etc/ld.so.cache", "/etc/localtime",
                            "/dev/null", "/dev/urandom"}) {
        if (!ok) break;
        int fd = open(sys, O_PATH | O_CLOEXEC);
        if (fd < 0) continue;
        ok = allow(ruleset, fd, kReadFile | kReadDir | kExecute | (sys[1] == 'd' ? kWriteFile : 0),
                   handled);
        close(fd);
    }
    ok = ok && syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
    close(ruleset);
    return ok;
}

// The rest: no program started, no process but threads, no socket of any
// kind (nothing here needs one), no tracing, no ring that would do all of
// that without system calls, and no truncating by path, which Landlock
// before ABI 3 leaves alone. Landlock governs no metadata: owners and
// extended attributes, which extraction never sets, are refused here;
// permission bits and times, which it sets by path, stay open to the
// reader. A refusal reads as EPERM, as a hostile
// reader's tries should, not as a crash of an ordinary run.
bool restrict_calls() {
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ALLOW);
    if (ctx == nullptr) return false;
    int rc = 0;
    for (int call :
         {SCMP_SYS(execve),         SCMP_SYS(execveat),         SCMP_SYS(fork),
          SCMP_SYS(vfork),          SCMP_SYS(socket),           SCMP_SYS(socketpair),
          SCMP_SYS(ptrace),         SCMP_SYS(process_vm_readv), SCMP_SYS(process_vm_writev),
          SCMP_SYS(io_uring_setup), SCMP_SYS(personality),      SCMP_SYS(truncate),
          SCMP_SYS(chown),          SCMP_SYS(fchown),           SCMP_SYS(lchown),
          SCMP_SYS(fchownat),       SCMP_SYS(setxattr),         SCMP_SYS(lsetxattr),
          SCMP_SYS(fsetxattr),      SCMP_SYS(removexattr),      SCMP_SYS(lremovexattr),
          SCMP_SYS(fremovexattr)}) {
        if (rc == 0) rc = seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EPERM), call, 0);
    }
    // clone3 hides its flags from the filter: the C library then falls back to clone.
    if (rc == 0) rc = seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0);
    if (rc == 0) {
        rc = seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(clone), 1,
                              SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0));
    }
    if (rc == 0) rc = seccomp_load(ctx);
    seccomp_release(ctx);
    return rc == 0;
}

}  // namespace

std::string confine(int write_dir, int read_dir) {
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return "no_new_privs, files, programs, network";
    std::string missing;
    int abi = landlock_abi();
    if (abi == 0 || !restrict_files(write_dir, read_dir, abi)) missing = "files (no Landlock)";
    if (!restrict_calls())
        missing += std::string(missing.empty() ? "" : ", ") + "programs, network";
    return missing;
}

}  // namespace korvu
