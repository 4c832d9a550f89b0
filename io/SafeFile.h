// SPDX-License-Identifier: Apache-2.0
#pragma once
// Files in and out, safely.
//
// An output is written to a temporary file in its target's folder, flushed to
// disk and only then put in place under its real name; the folder is flushed
// afterwards. A crash at any moment leaves either the old file or the complete
// new one under the real name.
//
// The temporary file is unnamed where the filesystem offers that (O_TMPFILE):
// a killed process then leaves nothing behind. Elsewhere, and for the instant
// between naming a finished output and renaming it over an existing file, the
// temporary is named ".<target>.kwtmp-" followed by ten random letters and
// six that check them, and is locked by its writer for its whole life. A file
// of exactly that form, owned by the user, that nobody holds locked is a
// leftover of a killed run and is removed the next time an output is written
// there; no other file is ever removed that way.
//
// An input is read through its folder, held open from the start, and is
// deleted only if its name still leads to the very file that was read, with
// the size and times it had then, and nobody opened it for writing meanwhile
// (a read lease says so; where none can be had, a second reading of the
// contents must match the first). For its removal it is first moved aside
// under a hidden name, ".<name>.kwdel-" and a checked suffix, looked at there
// and only then removed or put back. A file left under such a name by a
// killed run is put back under its own name the next time an output is
// written in that folder (beside it, "<name> (restored)", if the name was
// taken meanwhile): nothing stays hidden.

#include "FileDescriptor.h"
#include "WriterWatch.h"

#include "base/Outcome.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kestrawin::io {

// Every step at which the engine changes what is on disk.
enum class DiskStep {
    CreateUnnamed, // an unnamed temporary (failing with EOPNOTSUPP falls back to a named one)
    Create,        // a named temporary
    Write,
    Flush,       // the file's data to disk
    Link,        // an unnamed temporary given a name
    Rename,      // a named temporary renamed over the target
    DirFlush,    // the folder's entries to disk
    Remove,      // an input moved aside for deletion removed for good
    Permissions, // the finished file's mode set
    MoveAside,   // an input moved aside under a hidden name before its removal
    PutBack,     // a moved-aside file put back under a visible name
    Attributes,  // the finished file's access list and extended attributes set
};

// Test seam, handed down through the options of each operation: called before
// each step with the bytes written so far to the file at hand. Returns 0 to go
// on, or an errno value to make the step fail as if the system had refused it.
// The hook may also end the process (crash tests). Empty: no hook.
using DiskHook = std::function<int(DiskStep step, std::uint64_t bytesSoFar)>;

// Splits a path into its folder ("." for a bare name) and last component.
struct SplitPath {
    std::string folder;
    std::string name;
};
[[nodiscard]] SplitPath Split(const std::string& path);

// True for names of our temporaries: ".<name>.kwtmp-" and a suffix whose last
// six letters check the ten before them. A user's file that merely looks
// similar never passes.
[[nodiscard]] bool IsOurTemporaryName(std::string_view name);
// A fresh temporary name for a target name (exposed for the tests).
[[nodiscard]] std::string TemporaryNameFor(const std::string& name);
// A fresh hidden name under which an input is moved aside just before its
// removal: ".<name>.kwdel-" and a checked suffix (exposed for the tests).
[[nodiscard]] std::string AsideNameFor(const std::string& name);

// A regular file opened for reading. Refuses symbolic links, directories,
// FIFOs, devices and sockets without blocking on any of them.
// Its folder is opened first and kept open: the output goes beside the input
// and the deletion acts on the same folder even if the folder's path changes
// meanwhile.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(InputFile&& other) noexcept;
    InputFile& operator=(InputFile&& other) noexcept;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    [[nodiscard]] Result Open(const std::string& path);
    [[nodiscard]] bool isOpen() const { return fd_.valid(); }
    [[nodiscard]] std::uint64_t size() const { return size_; }
    [[nodiscard]] mode_t permissions() const { return mode_ & 0777; }
    [[nodiscard]] uid_t owner() const { return uid_; }
    [[nodiscard]] gid_t group() const { return gid_; }
    [[nodiscard]] int folderFd() const { return dirFd_.get(); }
    [[nodiscard]] const std::string& name() const { return name_; } // within the folder
    [[nodiscard]] const std::string& path() const { return path_; }
    // Reads up to n bytes at the current position; *got is 0 at the end.
    [[nodiscard]] Result Read(std::uint8_t* buf, std::size_t n, std::size_t* got);
    // Reads exactly n bytes at an offset (a short file is an error).
    [[nodiscard]] Result ReadAt(std::uint64_t offset, std::uint8_t* buf, std::size_t n);
    [[nodiscard]] Result Seek(std::uint64_t offset);
    // True when the file's size or modification time differ from when it was
    // opened: what was read may then be a mix of old and new contents.
    // (Being renamed or replaced under its name does not count: the contents
    // read through the open file stay whole.)
    [[nodiscard]] bool ChangedSinceOpen() const;
    [[nodiscard]] int fd() const { return fd_.get(); }

    // Deletes the input, durably, if its name still leads to this very file,
    // unchanged since it was opened; otherwise leaves everything as it is.
    // Success, or InputChanged (the file or what its name leads to changed),
    // InputMoved (it was moved or deleted meanwhile), InputInUse (another
    // program had it open for writing when it was opened, or opened it so
    // since), InputIsOutput (see OutputReplaced) or InputKept (the deletion
    // failed for another reason). *otherNames receives how many other names
    // (hard links) still lead to the contents after a deletion.
    [[nodiscard]] Result RemoveIfUnchanged(std::uint64_t* otherNames = nullptr,
                                           const DiskHook& hook = {});
    // Tells the input that an output was put in place over the file (dev,
    // ino): when that was this very file under another name, it is kept.
    void OutputReplaced(dev_t dev, ino_t ino);

private:
    void Close();
    bool SameContentsAs(const struct stat& st) const;
    bool TouchedSinceOpen() const; // also the change time
    void WatchForWriters();
    void Digest(std::uint64_t offset, const std::uint8_t* data, std::size_t n);
    Result ContentsAsRead() const;
    Result CheckMovedAside(const std::string& aside) const;

    FileDescriptor fd_;
    FileDescriptor dirFd_;
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

// An output file that appears under its real name only when Commit succeeds.
class AtomicOutput {
public:
    explicit AtomicOutput(std::string targetPath, DiskHook hook = {});
    // A file of this name in an open folder (the descriptor is duplicated).
    AtomicOutput(int folderFd, std::string name, DiskHook hook = {});
    ~AtomicOutput(); // discards whatever was not committed
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;

    // permissions: the mode bits the finished file gets (the umask does not apply).
    [[nodiscard]] Result Open(mode_t permissions);
    // When running as root: the finished file gets this owner and group (an
    // output made for another user stays theirs).
    void KeepOwner(uid_t uid, gid_t gid);
    // The finished file gets the access list (POSIX ACL) and the user.*
    // extended attributes of the file open as `fd`, and no access list it
    // would otherwise inherit from its folder. When the list cannot be
    // carried over, the file is for its owner alone; notice() says so.
    void CarryAccessFrom(int fd);
    [[nodiscard]] Result Write(const std::uint8_t* data, std::size_t n);
    // Flushes the file, puts it under its real name (replacing any file there)
    // and flushes the folder. After a failure nothing stands under the real
    // name that was not there before.
    [[nodiscard]] Result Commit();
    void Discard();

    [[nodiscard]] std::uint64_t written() const { return written_; }
    [[nodiscard]] const std::string& target() const { return target_; }
    // After Commit: what the user should know although all went well, or empty.
    [[nodiscard]] const std::string& notice() const { return notice_; }
    // After Commit: true, with the file's identity, when a file stood under
    // the real name and was replaced.
    [[nodiscard]] bool Replaced(dev_t* dev, ino_t* ino) const;

private:
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
    bool unnamed_ = false;         // O_TMPFILE: no name until it is linked
    std::string tempName_;         // the named temporary, when there is one
    FileDescriptor givenFolderFd_; // from the second constructor
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

// Writes a whole small file through AtomicOutput.
[[nodiscard]] Result WriteFileAtomically(const std::string& path, std::string_view bytes,
                                         mode_t permissions);
[[nodiscard]] Result WriteFileAtomically(int folderFd, const std::string& name,
                                         std::string_view bytes, mode_t permissions);

} // namespace kestrawin::io
