// SPDX-License-Identifier: Apache-2.0
// Safe files on Windows, with what the system offers there.
//
// A folder is held open without sharing its deletion: while the work runs it
// cannot be renamed, moved or deleted, so its path (taken once, links
// resolved) keeps leading to it.
//
// An input is opened with the right to delete it and shared for reading
// only: no other program can write it, rename it or delete it until the work
// ends, and it is deleted through that same handle, so what is deleted is
// always the file that was read. When another program holds it already, it
// is read all the same: a writer there keeps it (it is never deleted), a
// reader that does not share its deletion only means that it is opened again
// by name at the end and deleted if it is still the same file, unchanged. A
// read-only file is kept, as Windows keeps it from deletion.
//
// An output is written to a named temporary in its folder that no other
// program may write; it gets the input's access list and read-only
// attribute, is flushed (FlushFileBuffers) and renamed over the target
// through a second handle to it that writes through, so that the rename is
// on disk when it returns. A temporary that no writer holds any more is a
// leftover of a killed run, removed the next time an output is written there.
#include "SafeFile.h"

#include "WindowsPaths.h"
#include "detail/Names.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace kestrawin::io {
namespace {

// Newer classes of SetFileInformationByHandle that the headers leave out
// below Windows 10 1709; systems that do not know them refuse them.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;
constexpr DWORD kRenameReplaceIfExists = 0x1;
constexpr DWORD kRenamePosixSemantics = 0x2;

// A failure: a system error code, or an errno value from the test seam.
struct Failure {
    DWORD code = 0;
    int seam = 0;

    [[nodiscard]] bool failed() const { return code != 0 || seam != 0; }
    [[nodiscard]] std::string Text() const
    {
        return seam != 0 ? std::string(std::strerror(seam)) : SystemErrorText(code);
    }
    [[nodiscard]] bool NameTooLong() const
    {
        return seam == ENAMETOOLONG || code == ERROR_FILENAME_EXCED_RANGE;
    }
};

Failure LastFailure()
{
    const DWORD code = GetLastError();
    return {code == 0 ? ERROR_GEN_FAILURE : code, 0};
}

int CallHook(const DiskHook& hook, DiskStep step, std::uint64_t bytes)
{
    return hook ? hook(step, bytes) : 0;
}

bool NotKnownHere(DWORD code)
{
    return code == ERROR_INVALID_PARAMETER || code == ERROR_NOT_SUPPORTED
           || code == ERROR_INVALID_FUNCTION;
}

// An input that cannot be opened: gone since it was chosen, or unreadable.
Result Unopenable(DWORD code)
{
    const bool gone = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
                      || code == ERROR_BAD_NETPATH || code == ERROR_BAD_NET_NAME;
    return Result::fail(gone ? Outcome::InputMissing : Outcome::InputUnreadable,
                        SystemErrorText(code));
}

std::int64_t Quad(const LARGE_INTEGER& value)
{
    return value.QuadPart;
}

// What a handle's file is now: its size, times, attributes and links.
struct Snapshot {
    std::uint64_t size = 0;
    std::int64_t lastWrite = 0;
    std::int64_t change = 0; // moves with any change of contents or attributes
    DWORD attributes = 0;
    std::uint64_t links = 0;
};

bool Look(HANDLE h, Snapshot* now)
{
    FILE_BASIC_INFO basic{};
    FILE_STANDARD_INFO standard{};
    if (!GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)
        || !GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard))
        return false;
    now->size = static_cast<std::uint64_t>(Quad(standard.EndOfFile));
    now->lastWrite = Quad(basic.LastWriteTime);
    now->change = Quad(basic.ChangeTime);
    now->attributes = basic.FileAttributes;
    now->links = standard.NumberOfLinks;
    return true;
}

bool KeyOf(HANDLE h, FileKey* key)
{
    FILE_ID_INFO id{};
    if (GetFileInformationByHandleEx(h, FileIdInfo, &id, sizeof id)) {
        std::uint64_t halves[2] = {};
        std::memcpy(halves, id.FileId.Identifier, sizeof halves);
        *key = FileKey{id.VolumeSerialNumber, halves[0], halves[1]};
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info)) return false;
    *key = FileKey{info.dwVolumeSerialNumber,
                   (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow, 0};
    return true;
}

// Deletes the file open as `h` (which must have the right to delete):
// at once where the system can take its name away while others still read
// it, else when the last handle closes.
bool DeleteThrough(HANDLE h, bool evenReadOnly)
{
    FILE_DISPOSITION_INFO_EX ex{kDispositionDelete | kDispositionPosixSemantics
                                | (evenReadOnly ? kDispositionIgnoreReadOnly : 0)};
    if (SetFileInformationByHandle(h, kFileDispositionInfoEx, &ex, sizeof ex)) return true;
    if (!NotKnownHere(GetLastError())) return false;
    if (evenReadOnly) {
        FILE_BASIC_INFO basic{};
        if (GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)
            && (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
            basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
            if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
            SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic);
        }
    }
    FILE_DISPOSITION_INFO classic{TRUE};
    return SetFileInformationByHandle(h, FileDispositionInfo, &classic, sizeof classic);
}

// Renames the file open as `h` (with the right to delete it) to a full path,
// replacing what is there. False with the system's reason. (The system takes
// a bare name against the current folder, not the file's.)
bool RenameTo(HANDLE h, const std::wstring& name)
{
    const std::size_t bytes = sizeof(FILE_RENAME_INFO) + (name.size() + 1) * sizeof(wchar_t);
    std::vector<std::uint64_t> storage(bytes / sizeof(std::uint64_t) + 1);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(storage.data());
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    // Where it can, the system replaces a target that others hold open (for
    // reading, sharing its deletion), as renaming does elsewhere.
    info->Flags = kRenameReplaceIfExists | kRenamePosixSemantics;
    if (SetFileInformationByHandle(h, kFileRenameInfoEx, info, static_cast<DWORD>(bytes)))
        return true;
    if (!NotKnownHere(GetLastError())) return false;
    info->Flags = 0;
    info->ReplaceIfExists = TRUE;
    return SetFileInformationByHandle(h, FileRenameInfo, info, static_cast<DWORD>(bytes));
}

// True when an access list has entries of its own, not only those its
// folder passes down.
bool HasOwnEntries(PACL list)
{
    for (DWORD i = 0; i < list->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(list, i, &entry)) return true;
        if ((static_cast<ACE_HEADER*>(entry)->AceFlags & INHERITED_ACE) == 0) return true;
    }
    return false;
}

// A security descriptor that lets the owner alone open a file, whatever its
// folder passes down. Empty when the system cannot make one.
class PrivateDescriptor {
public:
    PrivateDescriptor()
    {
        EXPLICIT_ACCESS_W owner{};
        owner.grfAccessPermissions = GENERIC_ALL;
        owner.grfAccessMode = SET_ACCESS;
        owner.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
        owner.Trustee.ptstrName = const_cast<wchar_t*>(L"CURRENT_USER");
        if (SetEntriesInAclW(1, &owner, nullptr, &list_) != ERROR_SUCCESS) list_ = nullptr;
        ready_ =
            list_ && InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION)
            && SetSecurityDescriptorDacl(&descriptor_, TRUE, list_, FALSE)
            && SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    }
    ~PrivateDescriptor() { LocalFree(list_); }
    PrivateDescriptor(const PrivateDescriptor&) = delete;
    PrivateDescriptor& operator=(const PrivateDescriptor&) = delete;

    [[nodiscard]] SECURITY_ATTRIBUTES* attributes()
    {
        attributes_ = {sizeof attributes_, &descriptor_, FALSE};
        return ready_ ? &attributes_ : nullptr;
    }

private:
    PACL list_ = nullptr;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool ready_ = false;
};

// The user this process runs as.
std::vector<BYTE> CurrentUser()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    const OwnedHandle owned(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) return {};
    const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    const BYTE* start = static_cast<const BYTE*>(sid);
    return {start, start + GetLengthSid(sid)};
}

// True unless the file open as `h` is known to belong to another user (a
// filesystem without owners, FAT, gives no answer: then it is ours).
bool NotOthers(HANDLE h)
{
    static const std::vector<BYTE> me = CurrentUser();
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                        nullptr, &descriptor)
        != ERROR_SUCCESS)
        return true;
    const bool mine =
        !owner || me.empty() || EqualSid(owner, const_cast<BYTE*>(me.data())) != FALSE;
    LocalFree(descriptor);
    return mine;
}

// Removes the temporaries of our making in a folder that no living writer
// holds: a writer keeps its temporary open for writing and shares no writing,
// so an open that shares no writing succeeds only once it is gone.
void SweepFolder(const std::wstring& folder)
{
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileExW(ChildPath(folder, L"*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            || !IsOurTemporaryName(Utf8FromWide(found.cFileName)))
            continue;
        const OwnedHandle leftover(
            CreateFileW(ChildPath(folder, found.cFileName).c_str(),
                        DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | READ_CONTROL,
                        FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!leftover.valid()) continue; // held by its writer, or not ours to touch
        Snapshot now;
        // Only a single-named regular file of this user.
        if (Look(leftover.get(), &now) && now.links == 1
            && (now.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0
            && NotOthers(leftover.get()))
            DeleteThrough(leftover.get(), true);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// The folder a long absolute path names, held open so that it cannot be
// renamed or deleted meanwhile, with its path as the system resolves it.
std::shared_ptr<Folder::Handle> OpenFolder(const std::wstring& path, Failure* failure);

} // namespace

struct Folder::Handle {
    OwnedHandle h;
    std::wstring path; // "\\?\C:\..." as resolved when it was opened
    DWORD maxName = detail::kMaxName;
};

namespace {

std::shared_ptr<Folder::Handle> OpenFolder(const std::wstring& path, Failure* failure)
{
    auto folder = std::make_shared<Folder::Handle>();
    constexpr DWORD access = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    folder->h.reset(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder->h.valid() && GetLastError() == ERROR_SHARING_VIOLATION) {
        // Somebody holds it with the right to delete it: held all the same.
        folder->h.reset(CreateFileW(path.c_str(), access,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    }
    if (!folder->h.valid()) {
        *failure = LastFailure();
        return nullptr;
    }
    Snapshot what;
    if (!Look(folder->h.get(), &what) || (what.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        *failure = {ERROR_DIRECTORY, 0};
        return nullptr;
    }
    std::wstring resolved(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFinalPathNameByHandleW(folder->h.get(), resolved.data(),
                                                  static_cast<DWORD>(resolved.size()),
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0 || n < resolved.size()) {
            resolved.resize(n);
            break;
        }
        resolved.resize(n + 1);
    }
    folder->path = resolved.empty() ? path : resolved;
    DWORD maxName = 0;
    if (GetVolumeInformationByHandleW(folder->h.get(), nullptr, 0, nullptr, &maxName, nullptr,
                                      nullptr, 0)
        && maxName > 0)
        folder->maxName = maxName;
    return folder;
}

} // namespace

// -------------------------------------------------------------------- input

struct InputFile::State {
    Folder folder;
    OwnedHandle file;
    std::wstring wideName;
    std::string path;
    std::string name;
    FileKey key;
    Snapshot atOpen;
    std::uint64_t position = 0;
    bool canDelete = false;      // opened with the right to delete it
    bool heldForWriting = false; // another program had it open for writing at the start
    bool outputTookItsName = false;

    Result Open(const std::string& path);
    Result OpenFile(const std::wstring& full);
    [[nodiscard]] bool Changed(bool evenAttributes) const;
    Result ReadAt(std::uint64_t offset, std::uint8_t* buf, std::size_t n, std::size_t* got);
    Result RemoveIfUnchanged(std::uint64_t* otherNames, const DiskHook& hook);
};

Result InputFile::State::Open(const std::string& given)
{
    if (given.empty()) return Result::fail(Outcome::InputUnreadable, "no file name");
    const std::optional<std::wstring> full = LongAbsolutePath(given);
    if (!full) return Unopenable(ERROR_INVALID_NAME);
    const WidePathParts parts = SplitLongPath(*full);
    if (parts.name.empty() || parts.name == L"." || parts.name == L"..")
        return Result::fail(Outcome::NotRegularFile, "a folder");
    Failure failure;
    auto handle = OpenFolder(parts.folder, &failure);
    if (!handle) return Unopenable(failure.code);
    folder = Folder(std::move(handle));
    path = given;
    wideName = parts.name;
    name = Utf8FromWide(parts.name);
    return OpenFile(ChildPath(folder.handle()->path, wideName));
}

Result InputFile::State::OpenFile(const std::wstring& full)
{
    WIN32_FILE_ATTRIBUTE_DATA listed{};
    if (!GetFileAttributesExW(full.c_str(), GetFileExInfoStandard, &listed))
        return Unopenable(GetLastError());
    if (listed.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return Result::fail(Outcome::NotRegularFile, "a folder");

    // Shared for reading alone: no other program may write, rename or delete
    // it while it is held. The name is taken as it stands: a link is opened
    // as the link.
    const auto open = [&](DWORD access, DWORD share, DWORD flags) {
        file.reset(CreateFileW(full.c_str(), access, share, nullptr, OPEN_EXISTING,
                               flags | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        return file.valid();
    };
    DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT;
    DWORD access = GENERIC_READ | DELETE;
    DWORD share = FILE_SHARE_READ;
    canDelete = open(access, share, flags);
    if (!canDelete) {
        DWORD code = GetLastError();
        if (code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED) {
            // Another program holds it (or we may not delete it): still
            // locked against writers, deleted by name at the end if allowed.
            access = GENERIC_READ;
            if (!open(access, share, flags)) code = GetLastError();
        }
        if (!file.valid() && code == ERROR_SHARING_VIOLATION) {
            // It is open for writing: read, never deleted.
            share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
            heldForWriting = open(access, share, flags);
            if (!heldForWriting) code = GetLastError();
        }
        if (!file.valid()) return Unopenable(code);
    }
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
        file.reset();
        return Result::fail(Outcome::NotRegularFile, "a special file");
    }
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof tag)
        || !KeyOf(file.get(), &key)) {
        const DWORD code = GetLastError();
        file.reset();
        return Unopenable(code);
    }
    if (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        file.reset();
        return Result::fail(Outcome::NotRegularFile, "a folder");
    }
    if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (IsReparseTagNameSurrogate(tag.ReparseTag)) {
            file.reset();
            return Result::fail(Outcome::NotRegularFile, "a symbolic link");
        }
        // A file the system keeps elsewhere (in the cloud, deduplicated...):
        // opened through to its contents, and still the same file.
        const FileKey placeholder = key;
        if (!open(access, share, 0) || !KeyOf(file.get(), &key) || !(key == placeholder)) {
            file.reset();
            return Result::fail(Outcome::InputUnreadable, "it changed while it was opened");
        }
    }
    if (!Look(file.get(), &atOpen)) {
        const DWORD code = GetLastError();
        file.reset();
        return Unopenable(code);
    }
    return Result::success();
}

bool InputFile::State::Changed(bool evenAttributes) const
{
    Snapshot now;
    if (!file.valid() || !Look(file.get(), &now)) return true;
    return now.size != atOpen.size || now.lastWrite != atOpen.lastWrite
           || (evenAttributes && now.change != atOpen.change);
}

Result InputFile::State::ReadAt(std::uint64_t offset, std::uint8_t* buf, std::size_t n,
                                std::size_t* got)
{
    *got = 0;
    while (*got < n) {
        OVERLAPPED at{};
        const std::uint64_t where = offset + *got;
        at.Offset = static_cast<DWORD>(where);
        at.OffsetHigh = static_cast<DWORD>(where >> 32);
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n - *got, 1u << 30));
        DWORD read = 0;
        if (!ReadFile(file.get(), buf + *got, want, &read, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return Result::fail(Outcome::InputUnreadable, SystemErrorText(GetLastError()));
        }
        if (read == 0) break;
        *got += read;
    }
    return Result::success();
}

Result InputFile::State::RemoveIfUnchanged(std::uint64_t* otherNames, const DiskHook& hook)
{
    const auto kept = [](Outcome o, std::string why = {}) {
        return Result::fail(o, std::move(why));
    };
    if (outputTookItsName) return kept(Outcome::InputIsOutput);
    if (heldForWriting)
        return kept(Outcome::InputInUse, "it was open for writing when the work started");
    if (Changed(true)) return kept(Outcome::InputChanged);

    if (!canDelete) {
        // Held without the right to delete it: let go, and opened again by
        // name with that right, if it is still the very file, unchanged.
        file.reset();
        const std::wstring full = ChildPath(folder.handle()->path, wideName);
        file.reset(CreateFileW(full.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file.valid()) {
            const DWORD code = GetLastError();
            if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
                return kept(Outcome::InputMoved);
            if (code == ERROR_SHARING_VIOLATION)
                return kept(Outcome::InputKept, "another program has it open");
            return kept(Outcome::InputKept, SystemErrorText(code));
        }
        FileKey now;
        if (!KeyOf(file.get(), &now) || !(now == key))
            return kept(Outcome::InputChanged, "replaced");
        if (Changed(true)) return kept(Outcome::InputChanged);
    }
    Snapshot now;
    if (!Look(file.get(), &now)) return kept(Outcome::InputKept, SystemErrorText(GetLastError()));
    if (now.attributes & FILE_ATTRIBUTE_READONLY)
        return kept(Outcome::InputKept, "it is read-only");
    if (int err = CallHook(hook, DiskStep::Remove, 0))
        return kept(Outcome::InputKept, std::strerror(err));
    if (!DeleteThrough(file.get(), false))
        return kept(Outcome::InputKept, SystemErrorText(GetLastError()));
    file.reset();
    if (otherNames) *otherNames = now.links > 0 ? now.links - 1 : 0;
    return Result::success();
}

InputFile::InputFile() = default;
InputFile::~InputFile() = default;
InputFile::InputFile(InputFile&& other) noexcept = default;
InputFile& InputFile::operator=(InputFile&& other) noexcept = default;

Result InputFile::Open(const std::string& path)
{
    s_ = std::make_unique<State>();
    Result r = s_->Open(path);
    if (!r.ok()) s_->file.reset();
    return r;
}

bool InputFile::isOpen() const
{
    return s_ && s_->file.valid();
}

std::uint64_t InputFile::size() const
{
    return s_ ? s_->atOpen.size : 0;
}

const std::string& InputFile::name() const
{
    static const std::string none;
    return s_ ? s_->name : none;
}

const std::string& InputFile::path() const
{
    static const std::string none;
    return s_ ? s_->path : none;
}

Folder InputFile::folder() const
{
    return s_ ? s_->folder : Folder();
}

Result InputFile::Read(std::uint8_t* buf, std::size_t n, std::size_t* got)
{
    *got = 0;
    if (!isOpen()) return Result::fail(Outcome::InputUnreadable, "not open");
    Result r = s_->ReadAt(s_->position, buf, n, got);
    s_->position += *got;
    return r;
}

Result InputFile::ReadAt(std::uint64_t offset, std::uint8_t* buf, std::size_t n)
{
    if (!isOpen()) return Result::fail(Outcome::InputUnreadable, "not open");
    std::size_t got = 0;
    if (Result r = s_->ReadAt(offset, buf, n, &got); !r.ok()) return r;
    if (got != n) return Result::fail(Outcome::InputUnreadable, "the file became shorter");
    return Result::success();
}

Result InputFile::Seek(std::uint64_t offset)
{
    if (!isOpen()) return Result::fail(Outcome::InputUnreadable, "not open");
    s_->position = offset;
    return Result::success();
}

bool InputFile::ChangedSinceOpen() const
{
    return !s_ || s_->Changed(false);
}

Result InputFile::RemoveIfUnchanged(std::uint64_t* otherNames, const DiskHook& hook)
{
    if (otherNames) *otherNames = 0;
    if (s_ && s_->outputTookItsName) return Result::fail(Outcome::InputIsOutput);
    if (!isOpen()) return Result::fail(Outcome::InputKept, "the file was not read");
    Result r = s_->RemoveIfUnchanged(otherNames, hook);
    if (r.ok()) s_.reset();
    return r;
}

void InputFile::OutputReplaced(const FileKey& replaced)
{
    if (isOpen() && replaced == s_->key) s_->outputTookItsName = true;
}

// ------------------------------------------------------------------- output

struct AtomicOutput::State {
    std::string target;
    std::string name; // in the folder
    DiskHook hook;
    Folder folder;
    OwnedHandle file;
    std::wstring tempName;
    std::uint64_t written = 0;
    bool readOnly = false;
    std::vector<BYTE> access; // the input's access list, self-relative, when it is its own
    InputFile::State* madeFrom = nullptr; // while committed with it
    bool accessProtected = false;
    bool privateFromStart = false; // the temporary was made for its owner alone
    bool folderGiven = false;      // then the output goes there or nowhere
    std::string notice;
    bool replaced = false;
    FileKey replacedKey;

    int Hook(DiskStep step) const { return CallHook(hook, step, written); }
    Result Fail(const char* what, Failure failure);
    Result Open();
    Result CarryAccess();
    Result SetAttributes();
    Result PutInPlace();
    Result Commit();
    void Discard();
};

Result AtomicOutput::State::Fail(const char* what, Failure failure)
{
    Discard();
    std::string detail = what;
    if (failure.failed()) {
        detail += ": ";
        detail += failure.Text();
    }
    return Result::fail(failure.NameTooLong() ? Outcome::NameTooLong : Outcome::OutputUnwritable,
                        detail);
}

void AtomicOutput::State::Discard()
{
    if (file.valid()) DeleteThrough(file.get(), true);
    file.reset();
    tempName.clear();
}

Result AtomicOutput::State::Open()
{
    // Never the current folder instead.
    if (folderGiven && !folder.valid())
        return Fail("cannot open the folder", {ERROR_INVALID_HANDLE, 0});
    if (!folder.valid()) {
        const std::optional<std::wstring> full = LongAbsolutePath(target);
        if (!full) return Fail("cannot open the folder", {ERROR_INVALID_NAME, 0});
        const WidePathParts parts = SplitLongPath(*full);
        name = Utf8FromWide(parts.name);
        Failure failure;
        auto handle = OpenFolder(parts.folder, &failure);
        if (!handle) return Fail("cannot open the folder", failure);
        folder = Folder(std::move(handle));
    }
    if (name.empty() || name == "." || name == "..") return Fail("no file name", {});
    const std::optional<std::wstring> wide = WideFromUtf8(name);
    if (!wide) return Fail("cannot create a temporary file", {ERROR_INVALID_NAME, 0});
    // A name the folder cannot hold fails now, not after all the work.
    if (wide->size() > folder.handle()->maxName)
        return Fail("the name is longer than the folder allows", {ERROR_FILENAME_EXCED_RANGE, 0});
    SweepFolder(folder.handle()->path);

    // Nobody else may write it; it can be renamed through a second handle.
    // When the input has an access list of its own, nobody but the owner may
    // even read it until it gets that list.
    PrivateDescriptor owner;
    SECURITY_ATTRIBUTES* security = access.empty() ? nullptr : owner.attributes();
    privateFromStart = security != nullptr;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::optional<std::wstring> temporary = WideFromUtf8(TemporaryNameFor(name));
        if (int err = Hook(DiskStep::Create))
            return Fail("cannot create a temporary file", {0, err});
        file.reset(
            CreateFileW(ChildPath(folder.handle()->path, *temporary).c_str(),
                        GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES,
                        FILE_SHARE_READ | FILE_SHARE_DELETE, security, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) {
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            return Fail("cannot create a temporary file", LastFailure());
        }
        tempName = *temporary;
        return Result::success();
    }
    return Fail("cannot create a temporary file", {ERROR_FILE_EXISTS, 0});
}

Result AtomicOutput::State::CarryAccess()
{
    if (access.empty()) return Result::success();
    Failure failure{0, Hook(DiskStep::Attributes)};
    if (!failure.failed()) {
        BOOL present = FALSE, defaulted = FALSE;
        PACL list = nullptr;
        if (!GetSecurityDescriptorDacl(access.data(), &present, &list, &defaulted)) {
            failure = LastFailure();
        } else {
            // The list as the input has it, protected from its folder's
            // entries where the input's is.
            const SECURITY_INFORMATION what =
                DACL_SECURITY_INFORMATION
                | (accessProtected ? PROTECTED_DACL_SECURITY_INFORMATION
                                   : UNPROTECTED_DACL_SECURITY_INFORMATION);
            const DWORD code = SetSecurityInfo(file.get(), SE_FILE_OBJECT, what, nullptr, nullptr,
                                               present ? list : nullptr, nullptr);
            if (code != ERROR_SUCCESS) failure = {code, 0};
        }
    }
    if (!failure.failed()) return Result::success();
    // The temporary was made for its owner alone, and stays so.
    if (!privateFromStart) return Fail("cannot set who may open the file", failure);
    notice = "only its owner may open the result: the original's access list could not be "
             "carried over ("
             + failure.Text() + ")";
    return Result::success();
}

Result AtomicOutput::State::SetAttributes()
{
    if (Result r = CarryAccess(); !r.ok()) return r;
    if (int err = Hook(DiskStep::Permissions)) return Fail("cannot set permissions", {0, err});
    if (!readOnly) return Result::success();
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic))
        return Fail("cannot set permissions", LastFailure());
    basic.FileAttributes = (basic.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL))
                           | FILE_ATTRIBUTE_READONLY;
    if (!SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic))
        return Fail("cannot set permissions", LastFailure());
    return Result::success();
}

Result AtomicOutput::State::PutInPlace()
{
    const std::optional<std::wstring> wide = WideFromUtf8(name);
    const std::wstring full = ChildPath(folder.handle()->path, *wide);
    // What stands under the name now, to know what was replaced (let go
    // before the rename: an open file is not replaced).
    OwnedHandle old(
        CreateFileW(full.c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FileKey oldKey;
    const bool existed = old.valid() && KeyOf(old.get(), &oldKey);
    if (existed && madeFrom && oldKey == madeFrom->key) {
        // Another name of the input, which is kept then: let go, or Windows
        // will not replace the name.
        madeFrom->outputTookItsName = true;
        madeFrom->file.reset();
    }
    Snapshot standing;
    // As Windows keeps read-only files from deletion, from being replaced too
    // (not every filesystem refuses it by itself).
    if (existed && Look(old.get(), &standing) && (standing.attributes & FILE_ATTRIBUTE_READONLY))
        return Fail("a read-only file of its name stands in its place", {});
    old.reset();
    if (int err = Hook(DiskStep::Rename)) return Fail("cannot rename the file", {0, err});
    // A second handle to the very file, writing through: the rename is on
    // disk when it returns, as a move with write-through is.
    const OwnedHandle through(ReOpenFile(file.get(), DELETE | SYNCHRONIZE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         FILE_FLAG_WRITE_THROUGH));
    if (!RenameTo(through.valid() ? through.get() : file.get(), full))
        return Fail("cannot rename the file", LastFailure());
    tempName.clear();
    replaced = existed;
    replacedKey = oldKey;
    if (!through.valid()) {
        // No handle writing through: the file flushed once more, its new
        // name with it where the filesystem keeps names with files.
        if (int err = Hook(DiskStep::DirFlush))
            return Result::fail(Outcome::OutputUnwritable,
                                std::string("cannot flush the folder to disk: ")
                                    + std::strerror(err));
        FlushFileBuffers(file.get());
    }
    return Result::success();
}

Result AtomicOutput::State::Commit()
{
    if (!file.valid()) return Result::fail(Outcome::OutputUnwritable, "not open");
    if (Result r = SetAttributes(); !r.ok()) return r;
    if (int err = Hook(DiskStep::Flush)) return Fail("cannot flush to disk", {0, err});
    if (!FlushFileBuffers(file.get())) return Fail("cannot flush to disk", LastFailure());
    if (Result r = PutInPlace(); !r.ok()) return r;
    file.reset();
    return Result::success();
}

AtomicOutput::AtomicOutput(std::string targetPath, DiskHook hook) : s_(std::make_unique<State>())
{
    s_->target = std::move(targetPath);
    s_->hook = std::move(hook);
}

AtomicOutput::AtomicOutput(const Folder& folder, std::string name, DiskHook hook)
    : s_(std::make_unique<State>())
{
    s_->target = name;
    s_->name = std::move(name);
    s_->hook = std::move(hook);
    s_->folder = folder;
    s_->folderGiven = true;
}

AtomicOutput::~AtomicOutput()
{
    s_->Discard();
}

void AtomicOutput::TakeTraitsOf(const InputFile& input)
{
    if (!input.isOpen()) return;
    const InputFile::State& in = *input.s_;
    s_->readOnly = (in.atOpen.attributes & FILE_ATTRIBUTE_READONLY) != 0;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(in.file.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        nullptr, nullptr, &descriptor)
        != ERROR_SUCCESS)
        return; // a filesystem without access lists (FAT)
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE, defaulted = FALSE;
    PACL list = nullptr;
    if (GetSecurityDescriptorControl(descriptor, &control, &revision)
        && GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted)
        && (!present || !list || (control & SE_DACL_PROTECTED) != 0 || HasOwnEntries(list))) {
        // Not merely what every new file in the folder gets: carried over.
        const auto* bytes = static_cast<const BYTE*>(descriptor);
        s_->access.assign(bytes, bytes + GetSecurityDescriptorLength(descriptor));
        s_->accessProtected = (control & SE_DACL_PROTECTED) != 0;
    }
    LocalFree(descriptor);
}

Result AtomicOutput::Open()
{
    return s_->Open();
}

Result AtomicOutput::Write(const std::uint8_t* data, std::size_t n)
{
    if (!s_->file.valid()) return Result::fail(Outcome::OutputUnwritable, "not open");
    if (int err = s_->Hook(DiskStep::Write)) return s_->Fail("cannot write", {0, err});
    std::size_t done = 0;
    while (done < n) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n - done, 1u << 30));
        DWORD wrote = 0;
        if (!WriteFile(s_->file.get(), data + done, want, &wrote, nullptr) || wrote == 0)
            return s_->Fail("cannot write", LastFailure());
        done += wrote;
    }
    s_->written += n;
    return Result::success();
}

Result AtomicOutput::Commit()
{
    return s_->Commit();
}

Result AtomicOutput::Commit(InputFile& madeFrom)
{
    s_->madeFrom = madeFrom.isOpen() ? madeFrom.s_.get() : nullptr;
    Result r = s_->Commit();
    s_->madeFrom = nullptr;
    if (FileKey replaced; r.ok() && Replaced(&replaced)) madeFrom.OutputReplaced(replaced);
    return r;
}

void AtomicOutput::Discard()
{
    s_->Discard();
}

std::uint64_t AtomicOutput::written() const
{
    return s_->written;
}

const std::string& AtomicOutput::target() const
{
    return s_->target;
}

const std::string& AtomicOutput::notice() const
{
    return s_->notice;
}

bool AtomicOutput::Replaced(FileKey* replaced) const
{
    *replaced = s_->replacedKey;
    return s_->replaced;
}

// ------------------------------------------------------------------ paths

SplitPath Split(const std::string& path)
{
    const std::size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) {
        if (path.size() >= 2 && path[1] == ':') return {path.substr(0, 2), path.substr(2)};
        return {".", path};
    }
    SplitPath parts{path.substr(0, slash), path.substr(slash + 1)};
    // "C:" is the current folder of drive C; "C:\" is its root.
    if (parts.folder.empty() || parts.folder.back() == ':') parts.folder += path[slash];
    return parts;
}

std::size_t NameStart(std::string_view path)
{
    const std::size_t slash = path.find_last_of("/\\");
    if (slash != std::string_view::npos) return slash + 1;
    return path.size() >= 2 && path[1] == ':' ? 2 : 0;
}

} // namespace kestrawin::io
