// SPDX-License-Identifier: Apache-2.0
#pragma once
// Seeing writers that no time shows: a program writing through a shared
// mapping into a page it had already dirtied changes no time at all, and on
// filesystems with coarse times (FAT: 2 s) a write in place may leave every
// time as it was.
//
// The first means is a read lease on the open input. The kernel grants it only
// while nobody has the file open for writing (a writable shared mapping counts)
// and breaks it as soon as anyone opens the file for writing, holding that
// opener until the lease is let go. The break arrives as a signal: a handler
// lets go at once, so an editor never waits, and the lease then reads as
// broken. The signal is aimed at a thread of ours that does nothing but wait
// for it, so that a worker busy in a long flush does not delay it.
//
// Where no lease can be had (another user's file, leases turned off) or where
// a lease cannot see every writer (FUSE and network filesystems, whose files
// can change without this kernel's knowledge), the contents are compared
// instead: a digest taken while reading against a second reading.

#include <cstddef>
#include <cstdint>

namespace kestrawin::io {

enum class LeaseState {
    Held,           // granted: any writer's open from now on breaks it
    OpenForWriting, // refused: someone has the file open for writing now
    Unavailable,    // refused for another reason (not the owner, turned off...)
};

// Takes a read lease on a descriptor opened for reading only. Its break goes
// to the whole process until AimLeaseBreaks succeeds.
[[nodiscard]] LeaseState TakeReadLease(int fd);
// Sends the lease's break to the thread that waits for breaks; false while
// that thread has not started yet (the break then goes to any thread).
[[nodiscard]] bool AimLeaseBreaks(int fd);
// True once a lease taken with TakeReadLease has been broken (or let go).
[[nodiscard]] bool LeaseBroken(int fd);

// Where a file's changes may come from.
enum class FileSystemKind {
    Local,     // only through this kernel
    Userspace, // FUSE: also from its own program, behind this kernel's back
    Network,   // also from other machines
};
[[nodiscard]] FileSystemKind KindOf(int fd);

// A fast 64-bit digest of a byte stream, fed in pieces of any size. It tells
// a second reading of a file from the first; it is no cryptographic checksum.
class ContentDigest {
public:
    void Update(const std::uint8_t* data, std::size_t n);
    [[nodiscard]] std::uint64_t Final() const;

private:
    std::uint64_t lanes_[4] = {};
    std::uint8_t pending_[32] = {};
    std::size_t pendingSize_ = 0;
    std::uint64_t total_ = 0;
    bool started_ = false;
};

} // namespace kestrawin::io
