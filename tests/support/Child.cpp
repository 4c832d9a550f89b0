// SPDX-License-Identifier: Apache-2.0
#include "Child.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace kwtest {
namespace {

// In the child: applies the limits, or ends the child with 125 when it cannot.
void Apply(const ChildLimits& limits)
{
    if (limits.fileSizeLimit != RLIM_INFINITY) {
        const rlimit limit{limits.fileSizeLimit, limits.fileSizeLimit};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(kCannotApplyLimits);
    }
    if (limits.stackSize != RLIM_INFINITY) {
        const rlimit limit{limits.stackSize, limits.stackSize};
        if (setrlimit(RLIMIT_STACK, &limit) != 0) _exit(kCannotApplyLimits);
    }
    if (limits.addressSpace != RLIM_INFINITY) {
        const rlimit limit{limits.addressSpace, limits.addressSpace};
        if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(kCannotApplyLimits);
    }
    if (limits.openFiles != RLIM_INFINITY) {
        const rlimit limit{limits.openFiles, limits.openFiles};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(kCannotApplyLimits);
    }
    if (limits.unprivileged && geteuid() == 0) {
        uid_t uid = 0;
        gid_t gid = 0;
        if (!UnprivilegedIds(&uid, &gid) || setgroups(0, nullptr) != 0 || setgid(gid) != 0
            || setuid(uid) != 0 || geteuid() == 0)
            _exit(kCannotApplyLimits);
    }
}

} // namespace

bool UnprivilegedIds(uid_t* uid, gid_t* gid)
{
    if (geteuid() != 0) {
        *uid = geteuid();
        *gid = getegid();
        return true;
    }
    const passwd* pw = getpwnam("nobody");
    if (!pw || pw->pw_uid == 0) return false;
    *uid = pw->pw_uid;
    *gid = pw->pw_gid;
    return true;
}

void GiveToUnprivileged(const fs::path& path)
{
    uid_t uid = 0;
    gid_t gid = 0;
    if (geteuid() != 0 || !UnprivilegedIds(&uid, &gid)) return;
    EXPECT_EQ(lchown(path.c_str(), uid, gid), 0) << path;
    if (!fs::is_directory(fs::symlink_status(path))) return;
    for (const auto& entry : fs::recursive_directory_iterator(path))
        EXPECT_EQ(lchown(entry.path().c_str(), uid, gid), 0) << entry.path();
}

pid_t Fork(const std::function<int()>& fn, const ChildLimits& limits)
{
    const pid_t pid = fork();
    if (pid == 0) {
        Apply(limits);
        _exit(fn());
    }
    return pid;
}

pid_t SpawnCli(const std::vector<std::string>& args, const fs::path& xdg, const fs::path& errPath,
               const ChildLimits& limits, const fs::path& program)
{
    // Everything the child needs is prepared before fork.
    std::vector<std::string> argvStrings{program};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : argvStrings) argv.push_back(s.data());
    argv.push_back(nullptr);
    const std::string xdgVar = "XDG_DATA_HOME=" + xdg.string();
    const pid_t pid = fork();
    if (pid == 0) {
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
        if (err < 0 || null < 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 || dup2(err, 2) < 0)
            _exit(126);
        setsid();
        Apply(limits);
        putenv(const_cast<char*>(xdgVar.c_str()));
        execv(argv[0], argv.data());
        _exit(kCannotExec);
    }
    return pid;
}

int Wait(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

} // namespace kwtest
