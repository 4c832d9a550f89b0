#include "SafeFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <random>

namespace kestrawin::io {
namespace {

std::atomic<DiskHook> g_hook{nullptr};
std::atomic<void*> g_hookUser{nullptr};

int Hook(DiskStep step, std::uint64_t bytes)
{
    DiskHook hook = g_hook.load();
    return hook ? hook(step, bytes, g_hookUser.load()) : 0;
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

constexpr const char kTempMarker[] = ".kwtmp-";
constexpr std::size_t kTempSuffix = 6;
constexpr std::size_t kMaxName = 255;

std::string RandomSuffix()
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static thread_local std::mt19937_64 rng{std::random_device{}() ^ static_cast<unsigned>(getpid())};
    std::string s(kTempSuffix, 'x');
    for (char& c : s) c = alphabet[rng() % (sizeof alphabet - 1)];
    return s;
}

std::string TempNameFor(const std::string& name)
{
    std::string base = name;
    const std::size_t room = kMaxName - 1 - (sizeof kTempMarker - 1) - kTempSuffix;
    if (base.size() > room) base.resize(room);
    return "." + base + kTempMarker + RandomSuffix();
}

bool IsTempName(const char* n)
{
    const std::size_t len = std::strlen(n);
    const std::size_t marker = sizeof kTempMarker - 1;
    if (len < 1 + marker + kTempSuffix || n[0] != '.') return false;
    return std::memcmp(n + len - kTempSuffix - marker, kTempMarker, marker) == 0;
}

// Removes temporaries of our naming in a folder that no living writer holds.
void RemoveStaleTemporaries(int dirFd)
{
    const int scanFd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (scanFd < 0) return;
    DIR* dir = fdopendir(scanFd);
    if (!dir) {
        close(scanFd);
        return;
    }
    while (dirent* entry = readdir(dir)) {
        if (!IsTempName(entry->d_name)) continue;
        const int fd = openat(dirFd, entry->d_name,
                              O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) continue;
        struct stat st{};
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid()
            && flock(fd, LOCK_EX | LOCK_NB) == 0)
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

int SyncFolder(int dirFd, bool syncable)
{
    if (!syncable) return 0;
    if (int err = Hook(DiskStep::DirFlush, 0)) return err;
    if (fsync(dirFd) != 0 && errno != EINVAL) return errno;
    return 0;
}

} // namespace

void SetDiskHook(DiskHook hook, void* user)
{
    g_hookUser.store(user);
    g_hook.store(hook);
}

SplitPath Split(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    if (slash == 0) return {"/", path.substr(1)};
    return {path.substr(0, slash), path.substr(slash + 1)};
}

// -------------------------------------------------------------------- input

InputFile::~InputFile()
{
    if (fd_ >= 0) close(fd_);
}

Result InputFile::Open(const std::string& path)
{
    struct stat st{};
    if (path.empty()) return Result::fail(Outcome::InputUnreadable, "no file name");
    if (lstat(path.c_str(), &st) != 0) return Unopenable(errno);
    if (S_ISLNK(st.st_mode)) return Result::fail(Outcome::NotRegularFile, "a symbolic link");
    if (S_ISDIR(st.st_mode)) return Result::fail(Outcome::NotRegularFile, "a folder");
    if (!S_ISREG(st.st_mode)) return Result::fail(Outcome::NotRegularFile, "a special file");

    // O_NONBLOCK and O_NOFOLLOW: if the name was swapped for a FIFO or a link
    // since the check above, opening neither blocks nor follows it.
    fd_ = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) {
        const int err = errno;
        if (err == ELOOP) return Result::fail(Outcome::NotRegularFile, "a symbolic link");
        return Unopenable(err);
    }
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd_);
        fd_ = -1;
        return Result::fail(Outcome::NotRegularFile, "a special file");
    }
    const int flags = fcntl(fd_, F_GETFL);
    if (flags >= 0) fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
    posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    size_ = static_cast<std::uint64_t>(st.st_size);
    mode_ = st.st_mode;
    mtimeSec_ = st.st_mtim.tv_sec;
    mtimeNsec_ = st.st_mtim.tv_nsec;
    return Result::success();
}

bool InputFile::ChangedSinceOpen() const
{
    struct stat st{};
    if (fd_ < 0 || fstat(fd_, &st) != 0) return true;
    return static_cast<std::uint64_t>(st.st_size) != size_ || st.st_mtim.tv_sec != mtimeSec_
        || st.st_mtim.tv_nsec != mtimeNsec_;
}

Result InputFile::Read(std::uint8_t* buf, std::size_t n, std::size_t* got)
{
    *got = 0;
    while (*got < n) {
        const ssize_t r = read(fd_, buf + *got, n - *got);
        if (r < 0) {
            if (errno == EINTR) continue;
            return Result::fail(Outcome::InputUnreadable, ErrorText(errno));
        }
        if (r == 0) break;
        *got += static_cast<std::size_t>(r);
    }
    return Result::success();
}

Result InputFile::ReadAt(std::uint64_t offset, std::uint8_t* buf, std::size_t n)
{
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r = pread(fd_, buf + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0) {
            if (errno == EINTR) continue;
            return Result::fail(Outcome::InputUnreadable, ErrorText(errno));
        }
        if (r == 0) return Result::fail(Outcome::InputUnreadable, "the file became shorter");
        done += static_cast<std::size_t>(r);
    }
    return Result::success();
}

Result InputFile::Seek(std::uint64_t offset)
{
    if (lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0)
        return Result::fail(Outcome::InputUnreadable, ErrorText(errno));
    return Result::success();
}

// ------------------------------------------------------------------- output

AtomicOutput::AtomicOutput(std::string targetPath)
    : target_(std::move(targetPath)), parts_(Split(target_))
{
}

AtomicOutput::~AtomicOutput()
{
    Discard();
}

Result AtomicOutput::Fail(const char* what, int err)
{
    Discard();
    std::string detail = what;
    if (err != 0) {
        detail += ": ";
        detail += ErrorText(err);
    }
    return Result::fail(err == ENAMETOOLONG ? Outcome::NameTooLong : Outcome::OutputUnwritable, detail);
}

void AtomicOutput::Discard()
{
    if (fd_ >= 0) {
        if (!tempName_.empty()) unlinkat(dirFd_, tempName_.c_str(), 0);
        close(fd_); // an unnamed temporary vanishes here; the lock goes with it
        fd_ = -1;
    }
    tempName_.clear();
    if (dirFd_ >= 0) {
        close(dirFd_);
        dirFd_ = -1;
    }
}

Result AtomicOutput::Open(mode_t permissions)
{
    IgnoreFileSizeSignal();
    permissions_ = permissions & 07777;
    if (parts_.name.empty() || parts_.name == "." || parts_.name == "..")
        return Fail("no file name", 0);
    dirFd_ = OpenFolder(parts_.folder, &dirSyncable_);
    if (dirFd_ < 0) return Fail("cannot open the folder", errno);
    // A name the folder cannot hold fails now, not after all the work (an
    // unnamed temporary would only be refused its name at the end).
    const long nameMax = fpathconf(dirFd_, _PC_NAME_MAX);
    if (nameMax > 0 && parts_.name.size() > static_cast<std::size_t>(nameMax))
        return Fail("the name is longer than the folder allows", ENAMETOOLONG);
    RemoveStaleTemporaries(dirFd_);

    if (ProcFdUsable()) {
        int err = Hook(DiskStep::CreateUnnamed, 0);
        if (err == 0) {
            fd_ = openat(dirFd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
            err = fd_ >= 0 ? 0 : errno;
        }
        if (err == 0) {
            unnamed_ = true;
            flock(fd_, LOCK_EX);
            return Result::success();
        }
        if (err != EOPNOTSUPP && err != EISDIR && err != EINVAL && err != ENOENT)
            return Fail("cannot create a temporary file", err);
    }
    // No unnamed files here: a named temporary, locked for as long as we write.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = TempNameFor(parts_.name);
        if (int err = Hook(DiskStep::Create, 0)) return Fail("cannot create a temporary file", err);
        fd_ = openat(dirFd_, name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC,
                     0600);
        if (fd_ < 0) {
            if (errno == EEXIST) continue;
            return Fail("cannot create a temporary file", errno);
        }
        flock(fd_, LOCK_EX);
        struct stat st{};
        if (fstat(fd_, &st) == 0 && st.st_nlink > 0) {
            tempName_ = std::move(name);
            return Result::success();
        }
        // Another run took it for a leftover between our creation and our lock.
        close(fd_);
        fd_ = -1;
    }
    return Fail("cannot create a temporary file", EEXIST);
}

Result AtomicOutput::Write(const std::uint8_t* data, std::size_t n)
{
    if (fd_ < 0) return Result::fail(Outcome::OutputUnwritable, "not open");
    if (int err = Hook(DiskStep::Write, written_)) return Fail("cannot write", err);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t w = write(fd_, data + done, n - done);
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
        sync_file_range(fd_, static_cast<off_t>(writebackStarted_),
                        static_cast<off_t>(written_ - writebackStarted_), SYNC_FILE_RANGE_WRITE);
        writebackStarted_ = written_;
    }
    return Result::success();
}

int AtomicOutput::LinkAs(const std::string& name)
{
    if (int err = Hook(DiskStep::Link, written_)) return err;
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd_);
    if (linkat(AT_FDCWD, procPath.c_str(), dirFd_, name.c_str(), AT_SYMLINK_FOLLOW) != 0)
        return errno;
    return 0;
}

Result AtomicOutput::PutInPlace()
{
    if (unnamed_) {
        // Straight to the real name when nothing stands there...
        struct stat st{};
        if (fstatat(dirFd_, parts_.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) {
            const int err = LinkAs(parts_.name);
            if (err == 0) {
                unnamed_ = false;
                return Result::success();
            }
            if (err != EEXIST) return Fail("cannot name the file", err);
        }
        // ...otherwise under a temporary name, renamed over the target below.
        std::string name = TempNameFor(parts_.name);
        if (int err = LinkAs(name)) return Fail("cannot name the file", err);
        unnamed_ = false;
        tempName_ = std::move(name);
    }
    if (int err = Hook(DiskStep::Rename, written_)) return Fail("cannot rename the file", err);
    if (renameat(dirFd_, tempName_.c_str(), dirFd_, parts_.name.c_str()) != 0)
        return Fail("cannot rename the file", errno);
    tempName_.clear();
    return Result::success();
}

Result AtomicOutput::Commit()
{
    if (fd_ < 0) return Result::fail(Outcome::OutputUnwritable, "not open");
    if (fchmod(fd_, permissions_) != 0) return Fail("cannot set permissions", errno);
    if (int err = Hook(DiskStep::Flush, written_)) return Fail("cannot flush to disk", err);
    if (fsync(fd_) != 0) return Fail("cannot flush to disk", errno);
    if (Result placed = PutInPlace(); !placed.ok()) return placed;
    if (int err = SyncFolder(dirFd_, dirSyncable_)) {
        // The file is complete under its name; only its durability is in doubt.
        return Fail("cannot flush the folder to disk", err);
    }
    close(fd_);
    fd_ = -1;
    close(dirFd_);
    dirFd_ = -1;
    return Result::success();
}

Result RemoveDurably(const std::string& path)
{
    const SplitPath parts = Split(path);
    bool syncable = true;
    const int dirFd = OpenFolder(parts.folder, &syncable);
    if (dirFd < 0) return Result::fail(Outcome::OutputUnwritable, ErrorText(errno));
    Result result = Result::success();
    if (int err = Hook(DiskStep::Remove, 0))
        result = Result::fail(Outcome::OutputUnwritable, ErrorText(err));
    else if (unlinkat(dirFd, parts.name.c_str(), 0) != 0)
        result = Result::fail(Outcome::OutputUnwritable, ErrorText(errno));
    else if (int err = SyncFolder(dirFd, syncable))
        result = Result::fail(Outcome::OutputUnwritable, ErrorText(err));
    close(dirFd);
    return result;
}

Result WriteFileAtomically(const std::string& path, const std::string& bytes, mode_t permissions)
{
    AtomicOutput out(path);
    if (Result r = out.Open(permissions); !r.ok()) return r;
    if (Result r = out.Write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        !r.ok())
        return r;
    return out.Commit();
}

} // namespace kestrawin::io
