// SPDX-License-Identifier: Apache-2.0
#include "WindowSlot.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace kestrawin::startup {
namespace {

bool PrivateFolder(const std::string& folder)
{
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    // Another user's folder, or a link planted in a shared /tmp, is not used.
    return lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

} // namespace

WindowSlot::~WindowSlot()
{
    if (fd_ >= 0) close(fd_);
}

WindowSlot::WindowSlot(WindowSlot&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), index_(std::exchange(other.index_, 0))
{}

WindowSlot& WindowSlot::operator=(WindowSlot&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        index_ = std::exchange(other.index_, 0);
    }
    return *this;
}

WindowSlot WindowSlot::Take(const std::string& folder)
{
    WindowSlot slot;
    if (folder.empty() || !PrivateFolder(folder)) return slot;
    for (int i = 0; i < kMaxSlots; ++i) {
        const std::string name = folder + "/window-" + std::to_string(i) + ".lock";
        const int fd = open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) return slot;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            slot.fd_ = fd;
            slot.index_ = i;
            return slot;
        }
        close(fd);
    }
    return slot;
}

std::string WindowSlot::DefaultFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') return std::string(runtime) + "/kestrawin";
    return "/tmp/kestrawin-" + std::to_string(geteuid());
}

} // namespace kestrawin::startup
