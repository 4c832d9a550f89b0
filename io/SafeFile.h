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
//
// That is the Linux build (SafeFilePosix.cpp). On Windows (SafeFileWindows.cpp)
// the system can lock what Linux can only watch: the folder is held so that
// it cannot be renamed or deleted meanwhile; the input is held shared for
// reading alone, so that no other program writes, renames or deletes it
// during the work, and it is deleted through that same handle; a read-only
// input is kept. The temporary is always named, written by nobody else, and
// renamed over the target through a handle that writes through.

#include "base/Outcome.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

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

// A folder held open: the files of an operation are made, and its input
// deleted, by name in the folder the input was found in, whatever becomes of
// the folder's path meanwhile. Copies share the one folder; the last one
// closes it.
class Folder {
public:
    struct Handle; // the system's handle, in each platform's own file

    Folder() = default;
    explicit Folder(std::shared_ptr<Handle> handle) : handle_(std::move(handle)) {}
    [[nodiscard]] bool valid() const { return handle_ != nullptr; }
    [[nodiscard]] Handle* handle() const { return handle_.get(); }

private:
    std::shared_ptr<Handle> handle_;
};

// Which file a file is, on its volume: the same key, the same file (under
// whatever name).
struct FileKey {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    std::uint64_t fileHigh = 0; // the upper half where the system numbers files in 128 bits
    bool operator==(const FileKey&) const = default;
};

// A regular file opened for reading. Refuses symbolic links, directories,
// FIFOs, devices and sockets without blocking on any of them.
// Its folder is opened first and kept open: the output goes beside the input
// and the deletion acts on the same folder even if the folder's path changes
// meanwhile.
class InputFile {
public:
    InputFile();
    ~InputFile();
    InputFile(InputFile&& other) noexcept;
    InputFile& operator=(InputFile&& other) noexcept;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    [[nodiscard]] Result Open(const std::string& path);
    [[nodiscard]] bool isOpen() const;
    [[nodiscard]] std::uint64_t size() const;
    [[nodiscard]] const std::string& name() const; // within the folder
    [[nodiscard]] const std::string& path() const;
    // The folder it was opened in (not valid when it is not open).
    [[nodiscard]] Folder folder() const;
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
    // Tells the input that an output was put in place over the file `replaced`:
    // when that was this very file under another name, it is kept.
    void OutputReplaced(const FileKey& replaced);

    struct State; // each platform's own, in its own file

private:
    friend class AtomicOutput;
    std::unique_ptr<State> s_;
};

// An output file that appears under its real name only when Commit succeeds.
// Unless told otherwise (TakeTraitsOf), the finished file is for its owner
// alone.
class AtomicOutput {
public:
    explicit AtomicOutput(std::string targetPath, DiskHook hook = {});
    // A file of this name in a folder held open.
    AtomicOutput(const Folder& folder, std::string name, DiskHook hook = {});
    ~AtomicOutput(); // discards whatever was not committed
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;

    // The finished file gets what the file it is made from has, in the
    // platform's terms: on Linux its permission bits (the umask does not
    // apply), its owner and group when running as root (an output made for
    // another user stays theirs), its access list and user.* extended
    // attributes and no access list it would otherwise inherit from its
    // folder (when the list cannot be carried over, the file is for its owner
    // alone and notice() says so); on Windows its read-only attribute and its
    // access list. Before Open.
    void TakeTraitsOf(const InputFile& input);
    [[nodiscard]] Result Open();
    [[nodiscard]] Result Write(const std::uint8_t* data, std::size_t n);
    // Flushes the file, puts it under its real name (replacing any file there)
    // and makes that durable. After a failure nothing stands under the real
    // name that was not there before.
    [[nodiscard]] Result Commit();
    // Commit for an output made from `madeFrom`: when the real name was
    // another name of that very file, the input is told so (OutputReplaced)
    // and kept. (Windows replaces no name of a file held open: the input
    // lets go of its file first.)
    [[nodiscard]] Result Commit(InputFile& madeFrom);
    void Discard();

    [[nodiscard]] std::uint64_t written() const;
    [[nodiscard]] const std::string& target() const;
    // After Commit: what the user should know although all went well, or empty.
    [[nodiscard]] const std::string& notice() const;
    // After Commit: true, with the file's key, when a file stood under the
    // real name and was replaced.
    [[nodiscard]] bool Replaced(FileKey* replaced) const;

    struct State; // each platform's own, in its own file

private:
    std::unique_ptr<State> s_;
};

// Writes a whole small file, for its owner alone, through AtomicOutput.
[[nodiscard]] Result WriteFileAtomically(const std::string& path, std::string_view bytes);

// Where the name of a path starts: after its last separator ('/'; on Windows
// also '\\' and a drive's colon), 0 when it has none.
[[nodiscard]] std::size_t NameStart(std::string_view path);

} // namespace kestrawin::io
