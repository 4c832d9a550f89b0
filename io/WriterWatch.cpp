// SPDX-License-Identifier: Apache-2.0
#include "WriterWatch.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace kestrawin::io {
namespace {

// The real-time signal that lease breaks arrive as. Real-time signals queue
// (one per break, each naming its descriptor) and none of them is used by the
// toolkit or the C library at this offset.
int LeaseSignal()
{
    return SIGRTMIN + 6;
}

// Another program is opening a leased file for writing and waits until the
// lease goes: let it go at once. Only fcntl, which is safe in a handler. A
// descriptor number closed and reused since the break was sent can only lose
// another input its lease, and that input is then kept: nothing is lost.
void OnLeaseBreak(int, siginfo_t* info, void*)
{
    if (info->si_code != POLL_MSG) return; // not from the kernel's lease code
    const int saved = errno;
    fcntl(info->si_fd, F_SETLEASE, F_UNLCK);
    errno = saved;
}

// Installed once per process, and only where nobody else uses the signal.
bool HandlerInstalled()
{
    static const bool installed = [] {
        struct sigaction old {};
        if (sigaction(LeaseSignal(), nullptr, &old) != 0) return false;
        if ((old.sa_flags & SA_SIGINFO) == 0 && old.sa_handler != SIG_DFL) return false;
        if ((old.sa_flags & SA_SIGINFO) != 0 && old.sa_sigaction != OnLeaseBreak) return false;
        struct sigaction sa {};
        sa.sa_sigaction = OnLeaseBreak;
        sa.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&sa.sa_mask);
        return sigaction(LeaseSignal(), &sa, nullptr) == 0;
    }();
    return installed;
}

// The thread that lease breaks are sent to: it waits for nothing but them, so
// the handler runs at once, whatever the workers are doing (a thread inside a
// long flush would only run it when the flush ends). Started at the first
// lease of a process, without waiting for it: its id is 0 until it runs (and
// when no thread can be started), and breaks meanwhile go to the whole
// process, which works as well but may take longer. A child forked later
// starts its own.
std::atomic<pid_t> g_watcher{0};

pid_t WatcherThread()
{
    static std::mutex mutex;
    static pid_t owner = 0;
    std::lock_guard lock(mutex);
    if (owner == getpid()) return g_watcher.load();
    owner = getpid();
    g_watcher.store(0);
    try {
        std::thread([] {
            sigset_t set;
            sigemptyset(&set);
            sigaddset(&set, LeaseSignal());
            pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
            g_watcher.store(gettid());
            for (;;) pause();
        }).detach();
    } catch (const std::system_error&) {
    }
    return g_watcher.load();
}

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr std::uint64_t kPrime3 = 0x165667B19E3779F9ULL;
constexpr std::uint64_t kPrime4 = 0x85EBCA77C2B2AE63ULL;
constexpr std::uint64_t kPrime5 = 0x27D4EB2F165667C5ULL;

std::uint64_t Rotl(std::uint64_t x, int r)
{
    return (x << r) | (x >> (64 - r));
}

std::uint64_t Load64(const std::uint8_t* p)
{
    std::uint64_t v = 0;
    std::memcpy(&v, p, 8);
    return v;
}

std::uint32_t Load32(const std::uint8_t* p)
{
    std::uint32_t v = 0;
    std::memcpy(&v, p, 4);
    return v;
}

std::uint64_t Round(std::uint64_t acc, std::uint64_t input)
{
    return Rotl(acc + input * kPrime2, 31) * kPrime1;
}

std::uint64_t Merge(std::uint64_t acc, std::uint64_t lane)
{
    return (acc ^ Round(0, lane)) * kPrime1 + kPrime4;
}

} // namespace

LeaseState TakeReadLease(int fd)
{
    if (!HandlerInstalled()) return LeaseState::Unavailable;
    // The signal first: a break right after the lease is granted already
    // arrives as ours, not as SIGIO (which would end the process).
    if (fcntl(fd, F_SETSIG, LeaseSignal()) != 0) return LeaseState::Unavailable;
    if (fcntl(fd, F_SETLEASE, F_RDLCK) != 0)
        return errno == EAGAIN ? LeaseState::OpenForWriting : LeaseState::Unavailable;
    return LeaseState::Held;
}

bool AimLeaseBreaks(int fd)
{
    // Taking the lease made the whole process its owner; the watcher is better.
    const pid_t tid = WatcherThread();
    if (tid == 0) return false;
    const f_owner_ex owner{F_OWNER_TID, tid};
    return fcntl(fd, F_SETOWN_EX, &owner) == 0;
}

bool LeaseBroken(int fd)
{
    // A lease being broken already reads as the state it is broken to.
    const int state = fcntl(fd, F_GETLEASE);
    if (state == F_RDLCK) return false;
    fcntl(fd, F_SETLEASE, F_UNLCK); // in case the handler could not run
    return true;
}

FileSystemKind KindOf(int fd)
{
    struct statfs fs {};
    if (fstatfs(fd, &fs) != 0) return FileSystemKind::Network;
    switch (static_cast<std::uint32_t>(fs.f_type)) {
    case 0x65735546: return FileSystemKind::Userspace; // FUSE (also virtiofs)
    case 0x00006969:                                   // NFS
    case 0x0000517B:                                   // SMB
    case 0xFF534D42:                                   // CIFS
    case 0xFE534D42:                                   // SMB2
    case 0x01021997:                                   // 9P
    case 0x00C36400:                                   // Ceph
    case 0x6B414653:                                   // AFS
    case 0x5346414F:                                   // OpenAFS
    case 0x73757245:                                   // Coda
    case 0x7461636F:                                   // OCFS2
    case 0x01161970:                                   // GFS2
    case 0x13661366:                                   // OrangeFS
    case 0x47504653:                                   // GPFS
    case 0x0BD00BD0:                                   // Lustre
    case 0x786F4256:                                   // VirtualBox shared folders
        return FileSystemKind::Network;
    default: return FileSystemKind::Local;
    }
}

void ContentDigest::Update(const std::uint8_t* data, std::size_t n)
{
    if (!started_) {
        lanes_[0] = kPrime1 + kPrime2;
        lanes_[1] = kPrime2;
        lanes_[2] = 0;
        lanes_[3] = 0 - kPrime1;
        started_ = true;
    }
    total_ += n;
    const auto stripe = [this](const std::uint8_t* p) {
        for (int i = 0; i < 4; ++i) lanes_[i] = Round(lanes_[i], Load64(p + 8 * i));
    };
    if (pendingSize_ > 0) {
        const std::size_t take = std::min(n, sizeof pending_ - pendingSize_);
        std::memcpy(pending_ + pendingSize_, data, take);
        pendingSize_ += take;
        data += take;
        n -= take;
        if (pendingSize_ < sizeof pending_) return;
        stripe(pending_);
        pendingSize_ = 0;
    }
    for (; n >= sizeof pending_; data += sizeof pending_, n -= sizeof pending_) stripe(data);
    std::memcpy(pending_, data, n);
    pendingSize_ = n;
}

std::uint64_t ContentDigest::Final() const
{
    std::uint64_t h = kPrime5;
    if (total_ >= sizeof pending_) {
        h = Rotl(lanes_[0], 1) + Rotl(lanes_[1], 7) + Rotl(lanes_[2], 12) + Rotl(lanes_[3], 18);
        for (const std::uint64_t lane : lanes_) h = Merge(h, lane);
    }
    h += total_;
    const std::uint8_t* p = pending_;
    std::size_t left = pendingSize_;
    for (; left >= 8; p += 8, left -= 8) h = Rotl(h ^ Round(0, Load64(p)), 27) * kPrime1 + kPrime4;
    if (left >= 4) {
        h = Rotl(h ^ (Load32(p) * kPrime1), 23) * kPrime2 + kPrime3;
        p += 4;
        left -= 4;
    }
    for (; left > 0; ++p, --left) h = Rotl(h ^ (*p * kPrime5), 11) * kPrime1;
    h ^= h >> 33;
    h *= kPrime2;
    h ^= h >> 29;
    h *= kPrime3;
    h ^= h >> 32;
    return h;
}

} // namespace kestrawin::io
