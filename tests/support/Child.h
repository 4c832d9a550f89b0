// SPDX-License-Identifier: Apache-2.0
#pragma once
// Child processes for the tests that end operations abruptly or run them under
// real limits: a file size limit, or an unprivileged user for whom a folder's
// permissions count (root ignores them).

#include "Fixtures.h"

#include <sys/resource.h>
#include <sys/types.h>

#include <functional>

namespace kwtest {

struct ChildLimits {
    rlim_t fileSizeLimit = RLIM_INFINITY;
    bool unprivileged = false; // when root: run as "nobody"
    // Together, a huge stack size (the size of every new thread's stack) and
    // a small address space make every thread fail to start.
    rlim_t stackSize = RLIM_INFINITY; // unchanged when infinite
    rlim_t addressSpace = RLIM_INFINITY;
    rlim_t openFiles = RLIM_INFINITY; // descriptors the child may hold at once
};

// The user an unprivileged child runs as: "nobody" when the tests run as root,
// else the current user. False when root and there is no such account.
bool UnprivilegedIds(uid_t* uid, gid_t* gid);

// Hands a folder and everything in it to the unprivileged user.
void GiveToUnprivileged(const fs::path& path);

// Runs fn in a forked child under the limits; the child exits with fn's value.
pid_t Fork(const std::function<int()>& fn, const ChildLimits& limits = {});

// kestrawin-cli (or a copy of it) with arguments, its key store under `xdg`,
// standard error to `errPath`, no standard input and no controlling terminal.
pid_t SpawnCli(const std::vector<std::string>& args, const fs::path& xdg, const fs::path& errPath,
               const ChildLimits& limits = {}, const fs::path& program = KESTRAWIN_CLI);

// Exit statuses of a child that could not start as asked.
inline constexpr int kCannotApplyLimits = 125;
inline constexpr int kCannotExec = 127;

// The child's exit status, or 128 + the signal that ended it.
int Wait(pid_t pid);

} // namespace kwtest
