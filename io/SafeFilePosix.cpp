// SPDX-License-Identifier: Apache-2.0
#include "SafeFile.h"

#include "FileDescriptor.h"
#include "PosixFolder.h"
#include "WriterWatch.h"
#include "detail/Names.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrawin::io {

using detail::kAsideMarker;
using detail::kMaxName;
using detail::kTempSuffix;

namespace {

int CallHook(const DiskHook& hook, DiskStep step, std::uint64_t bytes)
{
    return hook ? hook(step, bytes) : 0;
}

std::string ErrorText(int err)
{
    return std::strerror(err);
}

// An input that cannot be opened: gone since it was chosen, or unreadable.
Result Unopenable(int err)
{
    const bool gone = err == ENOENT || err == ENOTDIR;
    return Result::fail(gone ? Outcome::InputMissing : Outcome::InputUnreadable, ErrorText(err));
}

// The name a moved-aside file had (cut short when it was too long to keep whole).
std::string NameBeforeAside(std::string_view aside)
{
    return std::string(aside.substr(1, aside.size() - 1 - kAsideMarker.size() - kTempSuffix));
}

// Names moved aside right now by removals in this process: not leftovers.
std::mutex g_asideMutex;
std::set<std::pair<int, std::string>>& LiveAsides()
{
    static std::set<std::pair<int, std::string>> names;
    return names;
}

bool IsLiveAside(int dirFd, const std::string& name)
{
    struct stat folder {};
    if (fstat(dirFd, &folder) != 0) return true;
    std::lock_guard lock(g_asideMutex);
    for (const auto& [fd, live] : LiveAsides()) {
        struct stat other {};
        if (live == name && fstat(fd, &other) == 0 && other.st_dev == folder.st_dev
            && other.st_ino == folder.st_ino)
            return true;
    }
    return false;
}

// Registers a name moved aside for as long as it lives.
class LiveAside {
public:
    LiveAside(int dirFd, std::string name) : key_(dirFd, std::move(name))
    {
        std::lock_guard lock(g_asideMutex);
        LiveAsides().insert(key_);
    }
    ~LiveAside()
    {
        std::lock_guard lock(g_asideMutex);
        LiveAsides().erase(key_);
    }
    LiveAside(const LiveAside&) = delete;
    LiveAside& operator=(const LiveAside&) = delete;

private:
    std::pair<int, std::string> key_;
};

bool NoReplaceUnsupported(int err)
{
    return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP;
}

// Renames `from` to `to` only if nothing stands at `to`: 0, EEXIST or another
// errno. `native` false: as on filesystems that cannot rename without
// replacing. Then a hard link stands in (it never replaces either), and where
// there are none (FAT, exFAT) the name is checked just before a plain rename:
// the one moment at which a file arriving under that name could be replaced.
int RenameWithoutReplacing(int dirFd, const std::string& from, const std::string& to, bool native)
{
    if (native) {
        if (renameat2(dirFd, from.c_str(), dirFd, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
        if (!NoReplaceUnsupported(errno)) return errno;
    }
    if (linkat(dirFd, from.c_str(), dirFd, to.c_str(), 0) == 0) {
        unlinkat(dirFd, from.c_str(), 0);
        return 0;
    }
    if (errno == EEXIST) return EEXIST;
    struct stat st {};
    if (fstatat(dirFd, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
    if (errno != ENOENT) return errno;
    return renameat(dirFd, from.c_str(), dirFd, to.c_str()) == 0 ? 0 : errno;
}

// "<name> (restored)", "<name> (restored 2)"...: within the length a name may have.
std::string RestoredName(const std::string& name, int n)
{
    const std::string tail = n == 1 ? " (restored)" : " (restored " + std::to_string(n) + ")";
    return name.substr(0, kMaxName - tail.size()) + tail;
}

// Puts a moved-aside file back under `name`, or beside it when the name was
// taken meanwhile; never over anything. 0 with *where, or an errno.
int PutBack(int dirFd, const std::string& aside, const std::string& name, const DiskHook& hook,
            std::string* where)
{
    const int seam = CallHook(hook, DiskStep::PutBack, 0);
    if (seam != 0 && !NoReplaceUnsupported(seam)) return seam;
    for (int n = 0; n < 100; ++n) {
        const std::string candidate = n == 0 ? name : RestoredName(name, n);
        const int err = RenameWithoutReplacing(dirFd, aside, candidate, seam == 0);
        if (err == 0) {
            *where = candidate;
            return 0;
        }
        if (err != EEXIST) return err;
    }
    return EEXIST;
}

// Moves the input's name aside to a fresh hidden one, so that what is
// removed can be looked at first; nothing is ever replaced on the way.
Result MoveAside(int dirFd, const std::string& name, const DiskHook& hook, std::string* aside,
                 std::unique_ptr<LiveAside>* live)
{
    int unsupported = CallHook(hook, DiskStep::MoveAside, 0);
    if (unsupported != 0 && !NoReplaceUnsupported(unsupported))
        return Result::fail(Outcome::InputKept, ErrorText(unsupported));
    for (int attempt = 0; attempt < 20; ++attempt) {
        *aside = AsideNameFor(name);
        *live = std::make_unique<LiveAside>(dirFd, *aside); // before the rename

        if (unsupported == 0) {
            if (renameat2(dirFd, name.c_str(), dirFd, aside->c_str(), RENAME_NOREPLACE) == 0)
                return Result::success();
            unsupported = NoReplaceUnsupported(errno) ? errno : 0;
            if (errno == EEXIST) continue;
            if (errno == ENOENT) return Result::fail(Outcome::InputMoved);
            if (unsupported == 0) return Result::fail(Outcome::InputKept, ErrorText(errno));
        }
        // This filesystem cannot rename without replacing (FUSE): a plain
        // rename to a fresh random name that is free now; what it moved is
        // looked at afterwards all the same.
        struct stat st {};
        if (fstatat(dirFd, aside->c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) continue;
        if (errno != ENOENT) return Result::fail(Outcome::InputKept, ErrorText(errno));
        if (renameat(dirFd, name.c_str(), dirFd, aside->c_str()) == 0) return Result::success();
        if (errno == ENOENT) return Result::fail(Outcome::InputMoved);
        return Result::fail(Outcome::InputKept, ErrorText(errno));
    }
    return Result::fail(Outcome::InputKept, "no free name to move it aside");
}

// Removes temporaries of our making in a folder that no living writer holds,
// and puts back under their names the inputs that a killed run had moved
// aside for their removal.
void SweepFolder(int dirFd)
{
    const int scanFd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (scanFd < 0) return;
    DIR* dir = fdopendir(scanFd);
    if (!dir) {
        close(scanFd);
        return;
    }
    while (dirent* entry = readdir(dir)) {
        if (detail::IsOurMarkedName(entry->d_name, kAsideMarker)) {
            struct stat st {};
            std::string where;
            if (fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)
                && !IsLiveAside(dirFd, entry->d_name))
                (void)PutBack(dirFd, entry->d_name, NameBeforeAside(entry->d_name), {}, &where);
            continue;
        }
        if (!IsOurTemporaryName(entry->d_name)) continue;
        const int fd =
            openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) continue;
        struct stat st {};
        struct stat named {};
        // Only our own single-named regular file, still the one under that
        // name, and unlocked: its writer is gone.
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() && st.st_nlink == 1
            && flock(fd, LOCK_EX | LOCK_NB) == 0
            && fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0
            && named.st_dev == st.st_dev && named.st_ino == st.st_ino)
            unlinkat(dirFd, entry->d_name, 0);
        close(fd); // releases the lock
    }
    closedir(dir);
}

bool ProcFdUsable()
{
    static const bool usable = access("/proc/self/fd", X_OK) == 0;
    return usable;
}

void IgnoreFileSizeSignal()
{
    // Past a file size limit the kernel sends SIGXFSZ, which would end the
    // process in the middle of a write; ignored, the write fails with EFBIG
    // and the operation reports it.
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGXFSZ, SIG_IGN); });
}

int OpenFolder(const std::string& folder, bool* syncable)
{
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    *syncable = fd >= 0;
    if (fd < 0 && errno == EACCES) fd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return fd;
}

bool Syncable(int dirFd)
{
    const int flags = fcntl(dirFd, F_GETFL);
    return flags >= 0 && (flags & O_PATH) == 0;
}

bool SameTime(const timespec& a, std::int64_t sec, long nsec)
{
    return a.tv_sec == sec && a.tv_nsec == nsec;
}

// Errors that say the filesystem keeps no Unix modes or owners at all.
bool NoUnixModes(int err)
{
    return err == ENOSYS || err == EOPNOTSUPP || err == ENOTSUP;
}

int SyncFolder(int dirFd, bool syncable, const DiskHook& hook)
{
    if (!syncable) return 0;
    if (int err = CallHook(hook, DiskStep::DirFlush, 0)) return err;
    if (fsync(dirFd) != 0 && errno != EINVAL) return errno;
    return 0;
}

} // namespace

struct Folder::Handle {
    FileDescriptor fd;
};

struct InputFile::State {
    State() = default;
    ~State() { Close(); }
    State(State&&) noexcept = default;
    State& operator=(State&&) noexcept = default;

    Result Open(const std::string& path);
    Result Read(std::uint8_t* buf, std::size_t n, std::size_t* got);
    Result ReadAt(std::uint64_t offset, std::uint8_t* buf, std::size_t n);
    Result Seek(std::uint64_t offset);
    bool ChangedSinceOpen() const;
    Result RemoveIfUnchanged(std::uint64_t* otherNames, const DiskHook& hook);
    void OutputReplaced(dev_t dev, ino_t ino);

    void Close();
    bool SameContentsAs(const struct stat& st) const;
    bool TouchedSinceOpen() const; // also the change time
    void WatchForWriters();
    void Digest(std::uint64_t offset, const std::uint8_t* data, std::size_t n);
    Result ContentsAsRead() const;
    Result CheckMovedAside(const std::string& aside) const;

    FileDescriptor fd_;
    Folder folder_; // shared with the outputs made beside it, closed by the last
    [[nodiscard]] int dirFd() const { return folder_.valid() ? folder_.handle()->fd.get() : -1; }
    bool dirSyncable_ = true;
    std::string path_;
    std::string name_;
    std::uint64_t size_ = 0;
    mode_t mode_ = 0;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    std::int64_t mtimeSec_ = 0;
    long mtimeNsec_ = 0;
    std::int64_t ctimeSec_ = 0;
    long ctimeNsec_ = 0;
    std::uint64_t position_ = 0;
    bool leased_ = false;         // a read lease: any writer's open breaks it
    bool aimed_ = false;          // its breaks go to the thread waiting for them
    bool heldForWriting_ = false; // someone had it open for writing at the start
    bool checkContents_ = false;  // read again and compared before the removal
    ContentDigest digest_;        // of bytes [0, digested_), as first read
    std::uint64_t digested_ = 0;
    bool outputTookItsName_ = false;
};

struct AtomicOutput::State {
    State(std::string targetPath, DiskHook hook);
    State(const Folder& folder, std::string name, DiskHook hook = {});
    ~State(); // discards whatever was not committed
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    Result Open(mode_t permissions);
    void KeepOwner(uid_t uid, gid_t gid);
    void CarryAccessFrom(int fd);
    Result Write(const std::uint8_t* data, std::size_t n);
    Result Commit();
    void Discard();
    bool Replaced(dev_t* dev, ino_t* ino) const;

    Result Fail(const char* what, int err);
    int LinkAs(const std::string& name);
    Result PutInPlace();
    Result SetPermissions();
    void CarryAccess();
    int Hook(DiskStep step, std::uint64_t bytes) const;

    std::string target_;
    SplitPath parts_;
    DiskHook hook_;
    FileDescriptor dirFd_;
    bool dirSyncable_ = true;
    FileDescriptor fd_;
    bool unnamed_ = false;     // O_TMPFILE: no name until it is linked
    std::string tempName_;     // the named temporary, when there is one
    Folder givenFolder_;       // from the second constructor
    bool folderGiven_ = false; // then the output goes there or nowhere
    mode_t permissions_ = 0600;
    bool keepOwner_ = false;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t writebackStarted_ = 0;
    FileDescriptor accessFrom_;
    std::string notice_;
    bool replaced_ = false;
    dev_t replacedDev_ = 0;
    ino_t replacedIno_ = 0;
};

SplitPath Split(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    if (slash == 0) return {"/", path.substr(1)};
    return {path.substr(0, slash), path.substr(slash + 1)};
}

std::size_t NameStart(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

// -------------------------------------------------------------------- input

void InputFile::State::Close()
{
    fd_.reset();
    folder_ = Folder();
}

Result InputFile::State::Open(const std::string& path)
{
    Close();
    *this = State();
    struct stat st {};
    if (path.empty()) return Result::fail(Outcome::InputUnreadable, "no file name");
    const SplitPath parts = Split(path);
    if (parts.name.empty() || parts.name == "." || parts.name == "..")
        return Result::fail(Outcome::NotRegularFile, "a folder");
    FileDescriptor folder(OpenFolder(parts.folder, &dirSyncable_));
    if (!folder.valid()) return Unopenable(errno);
    folder_ = Folder(std::make_shared<Folder::Handle>(Folder::Handle{std::move(folder)}));
    path_ = path;
    name_ = parts.name;
    if (fstatat(dirFd(), name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Unopenable(errno);
    if (S_ISLNK(st.st_mode)) return Result::fail(Outcome::NotRegularFile, "a symbolic link");
    if (S_ISDIR(st.st_mode)) return Result::fail(Outcome::NotRegularFile, "a folder");
    if (!S_ISREG(st.st_mode)) return Result::fail(Outcome::NotRegularFile, "a special file");

    // O_NONBLOCK and O_NOFOLLOW: if the name was swapped for a FIFO or a link
    // since the check above, opening neither blocks nor follows it.
    fd_.reset(
        openat(dirFd(), name_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd_.valid()) {
        const int err = errno;
        if (err == ELOOP) return Result::fail(Outcome::NotRegularFile, "a symbolic link");
        return Unopenable(err);
    }
    if (fstat(fd_.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        fd_.reset();
        return Result::fail(Outcome::NotRegularFile, "a special file");
    }
    const int flags = fcntl(fd_.get(), F_GETFL);
    if (flags >= 0) fcntl(fd_.get(), F_SETFL, flags & ~O_NONBLOCK);
    posix_fadvise(fd_.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    // Before the size and times are taken: whatever is written after them
    // is then seen one way or the other.
    WatchForWriters();
    if (fstat(fd_.get(), &st) != 0) return Unopenable(errno);
    size_ = static_cast<std::uint64_t>(st.st_size);
    mode_ = st.st_mode;
    uid_ = st.st_uid;
    gid_ = st.st_gid;
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    mtimeSec_ = st.st_mtim.tv_sec;
    mtimeNsec_ = st.st_mtim.tv_nsec;
    ctimeSec_ = st.st_ctim.tv_sec;
    ctimeNsec_ = st.st_ctim.tv_nsec;
    return Result::success();
}

void InputFile::State::WatchForWriters()
{
    // A lease sees every writer on this machine; FUSE and network files can
    // change without one. Network filesystems grant leases only with a
    // delegation from the server and refuse them otherwise as if the file
    // were open for writing, so none is asked for there.
    const FileSystemKind kind = KindOf(fd_.get());
    const LeaseState lease =
        kind == FileSystemKind::Network ? LeaseState::Unavailable : TakeReadLease(fd_.get());
    leased_ = lease == LeaseState::Held;
    aimed_ = leased_ && AimLeaseBreaks(fd_.get());
    heldForWriting_ = lease == LeaseState::OpenForWriting;
    // Held for writing, the input is kept anyway: nothing to compare.
    checkContents_ = !heldForWriting_ && (!leased_ || kind != FileSystemKind::Local);
}

void InputFile::State::OutputReplaced(dev_t dev, ino_t ino)
{
    if (fd_.valid() && dev == dev_ && ino == ino_) outputTookItsName_ = true;
}

void InputFile::State::Digest(std::uint64_t offset, const std::uint8_t* data, std::size_t n)
{
    if (!checkContents_ || n == 0) return;
    if (offset > digested_) {
        // A small gap (the unused end of a key blob) is read now; a large
        // one (the last block, looked at first) is digested when the reading
        // reaches it.
        constexpr std::uint64_t kMaxGap = 64 * 1024;
        if (offset - digested_ > kMaxGap) return;
        std::uint8_t gap[4096];
        while (digested_ < offset) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(sizeof gap, offset - digested_));
            const ssize_t r = pread(fd_.get(), gap, want, static_cast<off_t>(digested_));
            if (r <= 0) return;
            digest_.Update(gap, static_cast<std::size_t>(r));
            digested_ += static_cast<std::uint64_t>(r);
        }
    }
    if (offset + n <= digested_) return;
    const std::size_t skip = static_cast<std::size_t>(digested_ - offset);
    digest_.Update(data + skip, n - skip);
    digested_ = offset + n;
}

Result InputFile::State::ContentsAsRead() const
{
    if (digested_ != size_)
        return Result::fail(Outcome::InputKept, "its contents could not all be checked");
    // Not what the page cache remembers: what the filesystem has now. A
    // fresh open of the same file makes FUSE and network filesystems look
    // again (as any program opening it would see it); a network filesystem
    // whose times did not move is also told to forget what it cached.
    FileDescriptor fresh(
        ProcFdUsable()
            ? open(("/proc/self/fd/" + std::to_string(fd_.get())).c_str(), O_RDONLY | O_CLOEXEC)
            : -1);
    const int fd = fresh.valid() ? fresh.get() : fd_.get();
    if (KindOf(fd) == FileSystemKind::Network) posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    const auto buf = std::make_unique_for_overwrite<std::uint8_t[]>(kChunk);
    ContentDigest again;
    std::uint64_t done = 0;
    for (;;) {
        const ssize_t r = pread(fd, buf.get(), kChunk, static_cast<off_t>(done));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0)
            return Result::fail(Outcome::InputKept,
                                "its contents could not be read again: " + ErrorText(errno));
        if (r == 0) break;
        again.Update(buf.get(), static_cast<std::size_t>(r));
        done += static_cast<std::uint64_t>(r);
    }
    if (done != size_ || again.Final() != digest_.Final())
        return Result::fail(Outcome::InputChanged, "its contents differ from what was read");
    return Result::success();
}

bool InputFile::State::SameContentsAs(const struct stat& st) const
{
    return static_cast<std::uint64_t>(st.st_size) == size_
           && SameTime(st.st_mtim, mtimeSec_, mtimeNsec_);
}

bool InputFile::State::ChangedSinceOpen() const
{
    struct stat st {};
    if (!fd_.valid() || fstat(fd_.get(), &st) != 0) return true;
    return !SameContentsAs(st);
}

bool InputFile::State::TouchedSinceOpen() const
{
    // The change time moves with any change, even one that puts the
    // modification time back, but also when the file is renamed, linked or
    // replaced under its name: fit for deciding a deletion, too strict for
    // deciding whether what was read is sound.
    struct stat st {};
    if (!fd_.valid() || fstat(fd_.get(), &st) != 0) return true;
    return !SameContentsAs(st) || !SameTime(st.st_ctim, ctimeSec_, ctimeNsec_);
}

// What was moved aside: the very file that was read, as it was read, and
// nobody opened it for writing meanwhile?
Result InputFile::State::CheckMovedAside(const std::string& aside) const
{
    struct stat moved {};
    struct stat now {};
    if (fstatat(dirFd(), aside.c_str(), &moved, AT_SYMLINK_NOFOLLOW) != 0 || moved.st_dev != dev_
        || moved.st_ino != ino_ || fstat(fd_.get(), &now) != 0 || !SameContentsAs(now))
        return Result::fail(Outcome::InputChanged);
    if (checkContents_) {
        if (Result r = ContentsAsRead(); !r.ok()) return r;
    }
    if (leased_ && LeaseBroken(fd_.get()))
        return Result::fail(Outcome::InputInUse, "it was opened for writing during the work");
    return Result::success();
}

Result InputFile::State::RemoveIfUnchanged(std::uint64_t* otherNames, const DiskHook& hook)
{
    if (otherNames) *otherNames = 0;
    if (!fd_.valid()) return Result::fail(Outcome::InputKept, "the file was not read");
    const auto kept = [](Outcome o, std::string why = {}) {
        return Result::fail(o, std::move(why));
    };
    if (outputTookItsName_) return kept(Outcome::InputIsOutput);
    if (heldForWriting_)
        return kept(Outcome::InputInUse, "it was open for writing when the work started");

    // What the name leads to now, and the file we read as it is now.
    struct stat named {};
    if (fstatat(dirFd(), name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return kept(Outcome::InputMoved);
        return kept(Outcome::InputKept, ErrorText(errno));
    }
    if (named.st_dev != dev_ || named.st_ino != ino_)
        return kept(Outcome::InputChanged, "replaced");
    if (TouchedSinceOpen()) return kept(Outcome::InputChanged);
    if (leased_ && !checkContents_ && LeaseBroken(fd_.get()))
        return kept(Outcome::InputInUse, "it was opened for writing during the work");

    // Race-free: move the name aside to a name nobody else uses, look at what
    // was moved, and only then remove it (or put it back).
    std::string aside;
    std::unique_ptr<LiveAside> live; // a sweep in this process never takes it for a leftover
    Result verdict = MoveAside(dirFd(), name_, hook, &aside, &live);
    if (!verdict.ok()) return verdict;
    verdict = CheckMovedAside(aside);
    const bool ours = verdict.ok();
    if (verdict.ok()) {
        if (int err = CallHook(hook, DiskStep::Remove, 0))
            verdict = kept(Outcome::InputKept, ErrorText(err));
        else if (unlinkat(dirFd(), aside.c_str(), 0) != 0)
            verdict = kept(Outcome::InputKept, ErrorText(errno));
    }
    if (!verdict.ok()) {
        // Not ours after all, changed, or it would not go: back under its
        // name, or beside a file that took the name meanwhile.
        std::string where;
        if (int err = PutBack(dirFd(), aside, name_, hook, &where); err != 0) {
            verdict.detail += verdict.detail.empty() ? "" : "; ";
            verdict.detail += "it could not be put back (" + ErrorText(err) + ") and is now named '"
                              + aside + "'";
        } else if (where != name_) {
            verdict.detail += verdict.detail.empty() ? "" : "; ";
            verdict.detail += "it was put back as '" + where + "' because a new file took its name";
        } else if (ours) {
            // Our own renames moved its change time: a later attempt must
            // not take them for a change.
            struct stat back {};
            if (fstat(fd_.get(), &back) == 0 && SameContentsAs(back)) {
                ctimeSec_ = back.st_ctim.tv_sec;
                ctimeNsec_ = back.st_ctim.tv_nsec;
            }
        }
        return verdict;
    }
    struct stat after {};
    if (otherNames && fstat(fd_.get(), &after) == 0) *otherNames = after.st_nlink;
    // The deletion is done; a folder that will not flush only means that a
    // crash now could bring the input back, which loses nothing.
    (void)SyncFolder(dirFd(), dirSyncable_ && Syncable(dirFd()), hook);
    Close();
    return Result::success();
}

Result InputFile::State::Read(std::uint8_t* buf, std::size_t n, std::size_t* got)
{
    *got = 0;
    while (*got < n) {
        const ssize_t r = read(fd_.get(), buf + *got, n - *got);
        if (r < 0) {
            if (errno == EINTR) continue;
            return Result::fail(Outcome::InputUnreadable, ErrorText(errno));
        }
        if (r == 0) break;
        *got += static_cast<std::size_t>(r);
    }
    Digest(position_, buf, *got);
    position_ += *got;
    // The watcher started with the first lease of the process is running by now.
    if (leased_ && !aimed_) aimed_ = AimLeaseBreaks(fd_.get());
    return Result::success();
}

Result InputFile::State::ReadAt(std::uint64_t offset, std::uint8_t* buf, std::size_t n)
{
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r = pread(fd_.get(), buf + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0) {
            if (errno == EINTR) continue;
            return Result::fail(Outcome::InputUnreadable, ErrorText(errno));
        }
        if (r == 0) return Result::fail(Outcome::InputUnreadable, "the file became shorter");
        done += static_cast<std::size_t>(r);
    }
    Digest(offset, buf, n);
    return Result::success();
}

Result InputFile::State::Seek(std::uint64_t offset)
{
    if (lseek(fd_.get(), static_cast<off_t>(offset), SEEK_SET) < 0)
        return Result::fail(Outcome::InputUnreadable, ErrorText(errno));
    position_ = offset;
    return Result::success();
}

// ------------------------------------------------------------------- output

AtomicOutput::State::State(std::string targetPath, DiskHook hook)
    : target_(std::move(targetPath)), parts_(Split(target_)), hook_(std::move(hook))
{}

AtomicOutput::State::State(const Folder& folder, std::string name, DiskHook hook)
    : target_(name), parts_{".", std::move(name)}, hook_(std::move(hook)), givenFolder_(folder),
      folderGiven_(true)
{}

int AtomicOutput::State::Hook(DiskStep step, std::uint64_t bytes) const
{
    return CallHook(hook_, step, bytes);
}

void AtomicOutput::State::KeepOwner(uid_t uid, gid_t gid)
{
    keepOwner_ = true;
    uid_ = uid;
    gid_ = gid;
}

void AtomicOutput::State::CarryAccessFrom(int fd)
{
    accessFrom_.reset(fd >= 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1);
}

bool AtomicOutput::State::Replaced(dev_t* dev, ino_t* ino) const
{
    *dev = replacedDev_;
    *ino = replacedIno_;
    return replaced_;
}

AtomicOutput::State::~State()
{
    Discard();
}

Result AtomicOutput::State::Fail(const char* what, int err)
{
    Discard();
    std::string detail = what;
    if (err != 0) {
        detail += ": ";
        detail += ErrorText(err);
    }
    return Result::fail(err == ENAMETOOLONG ? Outcome::NameTooLong : Outcome::OutputUnwritable,
                        detail);
}

void AtomicOutput::State::Discard()
{
    if (fd_.valid()) {
        if (!tempName_.empty()) unlinkat(dirFd_.get(), tempName_.c_str(), 0);
        fd_.reset(); // an unnamed temporary vanishes here; the lock goes with it
    }
    tempName_.clear();
    if (dirFd_.valid()) {
        dirFd_.reset();
    }
}

Result AtomicOutput::State::Open(mode_t permissions)
{
    IgnoreFileSizeSignal();
    permissions_ = permissions & 07777;
    if (parts_.name.empty() || parts_.name == "." || parts_.name == "..")
        return Fail("no file name", 0);
    if (folderGiven_) {
        // Never the current folder instead ("." in parts_).
        if (!givenFolder_.valid()) return Fail("cannot open the folder", EBADF);
        dirFd_.reset(fcntl(givenFolder_.handle()->fd.get(), F_DUPFD_CLOEXEC, 0));
        dirSyncable_ = dirFd_.valid() && Syncable(dirFd_.get());
    } else {
        dirFd_.reset(OpenFolder(parts_.folder, &dirSyncable_));
    }
    if (!dirFd_.valid()) return Fail("cannot open the folder", errno);
    // A name the folder cannot hold fails now, not after all the work (an
    // unnamed temporary would only be refused its name at the end).
    const long nameMax = fpathconf(dirFd_.get(), _PC_NAME_MAX);
    if (nameMax > 0 && parts_.name.size() > static_cast<std::size_t>(nameMax))
        return Fail("the name is longer than the folder allows", ENAMETOOLONG);
    SweepFolder(dirFd_.get());

    if (ProcFdUsable()) {
        int err = Hook(DiskStep::CreateUnnamed, 0);
        if (err == 0) {
            fd_.reset(openat(dirFd_.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
            err = fd_.valid() ? 0 : errno;
        }
        if (err == 0) {
            unnamed_ = true;
            flock(fd_.get(), LOCK_EX);
            return Result::success();
        }
        if (err != EOPNOTSUPP && err != EISDIR && err != EINVAL && err != ENOENT)
            return Fail("cannot create a temporary file", err);
    }
    // No unnamed files here: a named temporary, locked for as long as we write.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = TemporaryNameFor(parts_.name);
        if (int err = Hook(DiskStep::Create, 0)) return Fail("cannot create a temporary file", err);
        fd_.reset(openat(dirFd_.get(), name.c_str(),
                         O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd_.valid()) {
            if (errno == EEXIST) continue;
            return Fail("cannot create a temporary file", errno);
        }
        flock(fd_.get(), LOCK_EX);
        struct stat st {};
        if (fstat(fd_.get(), &st) == 0 && st.st_nlink > 0) {
            tempName_ = std::move(name);
            return Result::success();
        }
        // Another run took it for a leftover between our creation and our lock.
        fd_.reset();
    }
    return Fail("cannot create a temporary file", EEXIST);
}

Result AtomicOutput::State::Write(const std::uint8_t* data, std::size_t n)
{
    if (!fd_.valid()) return Result::fail(Outcome::OutputUnwritable, "not open");
    if (int err = Hook(DiskStep::Write, written_)) return Fail("cannot write", err);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t w = write(fd_.get(), data + done, n - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            return Fail("cannot write", errno);
        }
        done += static_cast<std::size_t>(w);
    }
    written_ += n;
    // Start writing back what has piled up, so that the flush at the end has
    // little left to do. Only a hint: Commit's fsync is what makes it durable.
    constexpr std::uint64_t kWritebackStep = std::uint64_t{8} << 20;
    if (written_ - writebackStarted_ >= kWritebackStep) {
        sync_file_range(fd_.get(), static_cast<off_t>(writebackStarted_),
                        static_cast<off_t>(written_ - writebackStarted_), SYNC_FILE_RANGE_WRITE);
        writebackStarted_ = written_;
    }
    return Result::success();
}

int AtomicOutput::State::LinkAs(const std::string& name)
{
    if (int err = Hook(DiskStep::Link, written_)) return err;
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd_.get());
    if (linkat(AT_FDCWD, procPath.c_str(), dirFd_.get(), name.c_str(), AT_SYMLINK_FOLLOW) != 0)
        return errno;
    return 0;
}

Result AtomicOutput::State::PutInPlace()
{
    if (unnamed_) {
        // Straight to the real name when nothing stands there...
        struct stat st {};
        if (fstatat(dirFd_.get(), parts_.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0
            && errno == ENOENT) {
            const int err = LinkAs(parts_.name);
            if (err == 0) {
                unnamed_ = false;
                return Result::success();
            }
            if (err != EEXIST) return Fail("cannot name the file", err);
        }
        // ...otherwise under a temporary name, renamed over the target below.
        std::string name = TemporaryNameFor(parts_.name);
        if (int err = LinkAs(name)) return Fail("cannot name the file", err);
        unnamed_ = false;
        tempName_ = std::move(name);
    }
    if (int err = Hook(DiskStep::Rename, written_)) return Fail("cannot rename the file", err);
    struct stat old {};
    const bool existed = fstatat(dirFd_.get(), parts_.name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (renameat(dirFd_.get(), tempName_.c_str(), dirFd_.get(), parts_.name.c_str()) != 0)
        return Fail("cannot rename the file", errno);
    replaced_ = existed;
    replacedDev_ = old.st_dev;
    replacedIno_ = old.st_ino;
    tempName_.clear();
    return Result::success();
}

namespace {

// An extended attribute of a file: its value, or an errno (ENODATA: none).
int GetAttribute(int fd, const char* name, std::vector<char>* value)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = fgetxattr(fd, name, nullptr, 0);
        if (size < 0) return errno == ENOTSUP ? ENODATA : errno;
        value->resize(static_cast<std::size_t>(size));
        const ssize_t got = fgetxattr(fd, name, value->data(), value->size());
        if (got >= 0) {
            value->resize(static_cast<std::size_t>(got));
            return 0;
        }
        if (errno != ERANGE) return errno; // grown meanwhile: ask again
    }
    return ERANGE;
}

// The names of a file's user.* attributes; empty where it has none or the
// filesystem keeps none.
std::vector<std::string> UserAttributeNames(int fd)
{
    std::vector<std::string> names;
    std::vector<char> list;
    const ssize_t size = flistxattr(fd, nullptr, 0);
    if (size <= 0) return names;
    list.resize(static_cast<std::size_t>(size));
    const ssize_t got = flistxattr(fd, list.data(), list.size());
    if (got <= 0) return names;
    for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
        const std::string name(list.data() + at);
        at += name.size() + 1;
        if (name.rfind("user.", 0) == 0) names.push_back(name);
    }
    return names;
}

} // namespace

void AtomicOutput::State::CarryAccess()
{
    static constexpr const char* kAccessList = "system.posix_acl_access";
    if (!accessFrom_.valid()) return;
    std::vector<char> list;
    const int readErr = GetAttribute(accessFrom_.get(), kAccessList, &list);
    const bool hasList = readErr == 0;
    std::vector<char> inherited;
    const bool inherits = GetAttribute(fd_.get(), kAccessList, &inherited) == 0;
    const std::vector<std::string> names = UserAttributeNames(accessFrom_.get());
    if (readErr == ENODATA && !inherits && names.empty()) return; // nothing to carry or undo

    int listErr = readErr == ENODATA ? 0 : readErr;
    if (listErr == 0) listErr = Hook(DiskStep::Attributes, written_);
    // The list first: the mode set afterwards then agrees with it, and a list
    // inherited from the folder never grants anything for a moment.
    if (listErr == 0 && hasList
        && fsetxattr(fd_.get(), kAccessList, list.data(), list.size(), 0) != 0)
        listErr = errno;
    if (listErr == 0 && !hasList && inherits && fremovexattr(fd_.get(), kAccessList) != 0
        && errno != ENODATA)
        listErr = errno;
    if (listErr != 0) {
        // Nothing more than the owner had: no group, no others, no list
        // entries (a mode without group bits masks them all).
        permissions_ &= 0700;
        notice_ = "only its owner may open the result: the original's access list could not "
                  "be carried over ("
                  + ErrorText(listErr) + ")";
        return;
    }
    for (const std::string& name : names) {
        std::vector<char> value;
        int err = GetAttribute(accessFrom_.get(), name.c_str(), &value);
        if (err == 0 && fsetxattr(fd_.get(), name.c_str(), value.data(), value.size(), 0) != 0)
            err = errno;
        if (err != 0 && err != ENODATA) {
            notice_ = "the original's extended attributes could not be carried over ("
                      + ErrorText(err) + ")";
            return;
        }
    }
}

Result AtomicOutput::State::SetPermissions()
{
    if (keepOwner_ && geteuid() == 0) {
        // Before the mode: changing the owner clears set-id bits.
        if (fchown(fd_.get(), uid_, gid_) != 0 && !NoUnixModes(errno))
            return Fail("cannot give the file its owner", errno);
    }
    CarryAccess();
    int err = Hook(DiskStep::Permissions, written_);
    if (err == 0 && fchmod(fd_.get(), permissions_) != 0) err = errno;
    if (err == 0) return Result::success();
    // Filesystems without Unix modes (FAT, exFAT, some network and FUSE
    // filesystems) refuse: fine when the file grants no more than asked, or
    // when the filesystem says it has no modes at all.
    struct stat st {};
    if (fstat(fd_.get(), &st) == 0 && (st.st_mode & 07777 & ~permissions_) == 0)
        return Result::success();
    if (NoUnixModes(err)) return Result::success();
    return Fail("cannot set permissions", err);
}

Result AtomicOutput::State::Commit()
{
    if (!fd_.valid()) return Result::fail(Outcome::OutputUnwritable, "not open");
    if (Result r = SetPermissions(); !r.ok()) return r;
    if (int err = Hook(DiskStep::Flush, written_)) return Fail("cannot flush to disk", err);
    if (fsync(fd_.get()) != 0) return Fail("cannot flush to disk", errno);
    if (Result placed = PutInPlace(); !placed.ok()) return placed;
    if (int err = SyncFolder(dirFd_.get(), dirSyncable_, hook_)) {
        // The file is complete under its name; only its durability is in doubt.
        return Fail("cannot flush the folder to disk", err);
    }
    fd_.reset();
    dirFd_.reset();
    return Result::success();
}

// ------------------------------------------------------- the public faces

Folder FolderOfDescriptor(int fd)
{
    FileDescriptor own(fd >= 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1);
    if (!own.valid()) return {};
    return Folder(std::make_shared<Folder::Handle>(Folder::Handle{std::move(own)}));
}

InputFile::InputFile() = default;
InputFile::~InputFile() = default;
InputFile::InputFile(InputFile&& other) noexcept = default;
InputFile& InputFile::operator=(InputFile&& other) noexcept = default;

Result InputFile::Open(const std::string& path)
{
    if (!s_) s_ = std::make_unique<State>();
    return s_->Open(path);
}

bool InputFile::isOpen() const
{
    return s_ && s_->fd_.valid();
}

std::uint64_t InputFile::size() const
{
    return s_ ? s_->size_ : 0;
}

const std::string& InputFile::name() const
{
    static const std::string none;
    return s_ ? s_->name_ : none;
}

const std::string& InputFile::path() const
{
    static const std::string none;
    return s_ ? s_->path_ : none;
}

Folder InputFile::folder() const
{
    return s_ ? s_->folder_ : Folder();
}

Result InputFile::Read(std::uint8_t* buf, std::size_t n, std::size_t* got)
{
    if (!s_) return Result::fail(Outcome::InputUnreadable, "not open");
    return s_->Read(buf, n, got);
}

Result InputFile::ReadAt(std::uint64_t offset, std::uint8_t* buf, std::size_t n)
{
    if (!s_) return Result::fail(Outcome::InputUnreadable, "not open");
    return s_->ReadAt(offset, buf, n);
}

Result InputFile::Seek(std::uint64_t offset)
{
    if (!s_) return Result::fail(Outcome::InputUnreadable, "not open");
    return s_->Seek(offset);
}

bool InputFile::ChangedSinceOpen() const
{
    return !s_ || s_->ChangedSinceOpen();
}

Result InputFile::RemoveIfUnchanged(std::uint64_t* otherNames, const DiskHook& hook)
{
    if (!s_) {
        if (otherNames) *otherNames = 0;
        return Result::fail(Outcome::InputKept, "the file was not read");
    }
    return s_->RemoveIfUnchanged(otherNames, hook);
}

void InputFile::OutputReplaced(const FileKey& replaced)
{
    if (s_)
        s_->OutputReplaced(static_cast<dev_t>(replaced.volume), static_cast<ino_t>(replaced.file));
}

AtomicOutput::AtomicOutput(std::string targetPath, DiskHook hook)
    : s_(std::make_unique<State>(std::move(targetPath), std::move(hook)))
{}

AtomicOutput::AtomicOutput(const Folder& folder, std::string name, DiskHook hook)
    : s_(std::make_unique<State>(folder, std::move(name), std::move(hook)))
{}

AtomicOutput::~AtomicOutput() = default;

void AtomicOutput::TakeTraitsOf(const InputFile& input)
{
    if (!input.s_) return;
    const InputFile::State& in = *input.s_;
    s_->permissions_ = in.mode_ & 0777;
    s_->KeepOwner(in.uid_, in.gid_);
    s_->CarryAccessFrom(in.fd_.get());
}

Result AtomicOutput::Open()
{
    return s_->Open(s_->permissions_);
}

Result AtomicOutput::Write(const std::uint8_t* data, std::size_t n)
{
    return s_->Write(data, n);
}

Result AtomicOutput::Commit(InputFile& madeFrom)
{
    Result r = Commit();
    if (FileKey replaced; r.ok() && Replaced(&replaced)) madeFrom.OutputReplaced(replaced);
    return r;
}

Result AtomicOutput::Commit()
{
    return s_->Commit();
}

void AtomicOutput::Discard()
{
    s_->Discard();
}

std::uint64_t AtomicOutput::written() const
{
    return s_->written_;
}

const std::string& AtomicOutput::target() const
{
    return s_->target_;
}

const std::string& AtomicOutput::notice() const
{
    return s_->notice_;
}

bool AtomicOutput::Replaced(FileKey* replaced) const
{
    dev_t dev = 0;
    ino_t ino = 0;
    const bool was = s_->Replaced(&dev, &ino);
    *replaced = FileKey{static_cast<std::uint64_t>(dev), static_cast<std::uint64_t>(ino), 0};
    return was;
}

Result WriteFileAtomically(int folderFd, const std::string& name, std::string_view bytes,
                           mode_t permissions)
{
    const Folder folder = FolderOfDescriptor(folderFd);
    if (!folder.valid())
        return Result::fail(Outcome::OutputUnwritable,
                            std::string("cannot open the folder: ") + ErrorText(errno));
    AtomicOutput::State out(folder, name);
    if (Result r = out.Open(permissions); !r.ok()) return r;
    if (Result r = out.Write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        !r.ok())
        return r;
    return out.Commit();
}

} // namespace kestrawin::io
