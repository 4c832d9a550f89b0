// SPDX-License-Identifier: Apache-2.0
#pragma once
// Owners of system handles: each closes what it holds exactly once, on every
// path, and can be moved but not copied.

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <utility>

namespace kestrawin::io {

// A file descriptor, closed when the owner goes.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    [[nodiscard]] int get() const { return fd_; }
    [[nodiscard]] bool valid() const { return fd_ >= 0; }
    // Gives the descriptor up without closing it.
    [[nodiscard]] int release() noexcept { return std::exchange(fd_, -1); }
    // Closes what is held (closing releases any lock taken through it) and
    // takes `fd` instead. errno is left as it was, so that
    // reset(open(...)) still tells why the open failed.
    void reset(int fd = -1) noexcept
    {
        if (fd_ >= 0) {
            const int saved = errno;
            ::close(fd_);
            errno = saved;
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// A directory stream from fdopendir, closed (with its descriptor) when dropped.
struct DirectoryCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirectoryStream = std::unique_ptr<DIR, DirectoryCloser>;

} // namespace kestrawin::io
