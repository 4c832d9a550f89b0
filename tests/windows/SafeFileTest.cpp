// SPDX-License-Identifier: Apache-2.0
// Safe files with what Windows offers: the input locked against other
// programs while it is read and deleted through its own handle, files held
// elsewhere, read-only files, long and Unicode paths, names that differ only
// in how they are spelled, and the leftovers of killed runs.

#include "Children.h"
#include "Fixtures.h"

#include "io/FileIdentity.h"
#include "io/SafeFile.h"
#include "ops/Batch.h"

#include <windows.h>

#include <aclapi.h>

#include <functional>
#include <set>

using namespace kestrawin;
using namespace kestrawin::ops;
using namespace kwtest;
using io::DiskStep;

namespace {

constexpr const char* kPassword = "password";

// A handle of another program's, for the scope.
struct Held {
    HANDLE h = INVALID_HANDLE_VALUE;
    Held(const fs::path& path, DWORD access, DWORD share, DWORD disposition = OPEN_EXISTING)
        : h(CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                        nullptr))
    {}
    ~Held() { Close(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    void Close()
    {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
    }
    [[nodiscard]] bool open() const { return h != INVALID_HANDLE_VALUE; }
};

// What the system answers another program that tries `act`: 0 when allowed.
DWORD Refusal(const std::function<BOOL()>& act)
{
    return act() ? 0 : GetLastError();
}

bool ReadOnly(const fs::path& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

void MakeReadOnly(const fs::path& path, bool readOnly)
{
    SetFileAttributesW(path.c_str(), readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
}

// Encrypts `path` with a hook, then removes the input as the program does.
Result EncryptThenRemove(const std::string& path, const io::DiskHook& hook = {},
                         Result* operation = nullptr)
{
    OperationOptions options;
    options.diskHook = hook;
    io::InputFile read;
    const Result r = EncryptSelectedFile(SharedKeys(), path, kPassword, options, &read);
    if (operation) *operation = r;
    return r.ok() ? RemoveInputFile(read) : r;
}

// The plain text inside a container, decrypted elsewhere.
std::string Opened(const Path& container, const Path& scratch)
{
    fs::create_directories(scratch);
    fs::copy_file(container, scratch / "c.ksw", fs::copy_options::overwrite_existing);
    MakeReadOnly(scratch / "c.ksw", false);
    EXPECT_TRUE(DecryptSelectedFile(scratch / "c.ksw", kPassword).ok());
    const std::string plain = ReadFile(scratch / "c");
    fs::remove_all(scratch);
    return plain;
}

// Removes a folder and everything in it, however long its paths.
void RemoveTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

} // namespace

class WindowsFiles : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        (void)SharedKeys();
    }
    void TearDown() override { RemoveTree(L"\\\\?\\" + dir.wstring()); }
};

// While the input is read, no other program may write it, rename it or
// delete it; afterwards it is deleted through the handle it was read with.
TEST_F(WindowsFiles, TheInputIsLockedWhileItIsReadThenDeletedThroughItsHandle)
{
    struct Row {
        const char* what;
        std::function<BOOL(const Path& input)> act;
    };
    const Row rows[] = {
        {"open for writing",
         [](const Path& input) {
             Held writer(input, GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
             return writer.open() ? TRUE : FALSE;
         }},
        {"rename", [](const Path& input) { return MoveFileExW(input.c_str(), L"elsewhere", 0); }},
        {"replace",
         [this](const Path& input) {
             WriteFile(dir / "new", "an editor's new version");
             return MoveFileExW((dir / "new").c_str(), input.c_str(), MOVEFILE_REPLACE_EXISTING);
         }},
        {"delete", [](const Path& input) { return DeleteFileW(input.c_str()); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(dir);
        fs::create_directories(dir);
        WriteFile(dir / "doc", "the text as it was read");
        DWORD refused = 0;
        const Result removed = EncryptThenRemove(dir / "doc", [&](DiskStep step, std::uint64_t) {
            if (step == DiskStep::Write && refused == 0)
                refused = Refusal([&] { return row.act(dir / "doc"); });
            return 0;
        });
        // A sharing violation; replacing an open file is denied outright.
        EXPECT_TRUE(refused == ERROR_SHARING_VIOLATION || refused == ERROR_ACCESS_DENIED)
            << refused;
        EXPECT_TRUE(removed.ok()) << DescribeResult(removed);
        EXPECT_FALSE(fs::exists(dir / "doc"));
        EXPECT_EQ(Opened(dir / "doc.ksw", dir / "look"), "the text as it was read");
    }
}

// A file another program holds when the work starts is read all the same; a
// writer keeps it, a reader only keeps it while it still holds it.
TEST_F(WindowsFiles, AFileHeldElsewhereIsReadAndOnlyDeletedOnceFree)
{
    struct Row {
        const char* what;
        DWORD access, share;
        bool releaseFirst; // the other program lets go before the removal
        Outcome removal;
        const char* detail;
    };
    const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const Row rows[] = {
        {"a writer", GENERIC_WRITE, all, false, Outcome::InputInUse,
         "it was open for writing when the work started"},
        {"a writer gone by the end", GENERIC_WRITE, all, true, Outcome::InputInUse,
         "it was open for writing when the work started"},
        {"a reader sharing no deletion", GENERIC_READ, FILE_SHARE_READ, false, Outcome::InputKept,
         "another program has it open"},
        {"the same reader gone by the end", GENERIC_READ, FILE_SHARE_READ, true, Outcome::Success,
         ""},
        {"a reader sharing everything", GENERIC_READ, all, false, Outcome::Success, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(dir);
        fs::create_directories(dir);
        WriteFile(dir / "doc", "contents");
        Held other(dir / "doc", row.access, row.share);
        ASSERT_TRUE(other.open());
        OperationOptions options;
        io::InputFile read;
        const Result r = EncryptSelectedFile(SharedKeys(), dir / "doc", kPassword, options, &read);
        ASSERT_TRUE(r.ok()) << DescribeResult(r);
        if (row.releaseFirst) other.Close();
        const Result removed = RemoveInputFile(read);
        EXPECT_EQ(removed.outcome, row.removal) << DescribeResult(removed);
        EXPECT_EQ(removed.detail, row.detail);
        other.Close();
        EXPECT_EQ(fs::exists(dir / "doc"), !removed.ok());
        if (!removed.ok()) {
            EXPECT_EQ(ReadFile(dir / "doc"), "contents");
        }
        EXPECT_EQ(Opened(dir / "doc.ksw", dir / "look"), "contents");
    }
}

// Windows keeps read-only files from deletion: so does the engine, and the
// result is read-only too; a read-only file in the result's place is never
// replaced.
TEST_F(WindowsFiles, AReadOnlyFileIsKeptAndItsResultIsReadOnly)
{
    WriteFile(dir / "doc", "protected");
    MakeReadOnly(dir / "doc", true);
    Result operation;
    const Result removed = EncryptThenRemove(dir / "doc", {}, &operation);
    ASSERT_TRUE(operation.ok()) << DescribeResult(operation);
    EXPECT_EQ(removed.outcome, Outcome::InputKept);
    EXPECT_EQ(removed.detail, "it is read-only");
    EXPECT_EQ(ReadFile(dir / "doc"), "protected");
    EXPECT_TRUE(ReadOnly(dir / "doc.ksw"));
    EXPECT_EQ(Opened(dir / "doc.ksw", dir / "look"), "protected");

    // Decrypting the read-only container over the read-only original: refused.
    const Result over = DecryptSelectedFile(dir / "doc.ksw", kPassword);
    EXPECT_EQ(over.outcome, Outcome::OutputUnwritable);
    EXPECT_EQ(over.detail, "a read-only file of its name stands in its place");
    EXPECT_EQ(Listing(dir), (std::vector<std::string>{"doc", "doc.ksw"}));
    EXPECT_EQ(ReadFile(dir / "doc"), "protected");

    // With the original gone, the plain file comes back read-only.
    MakeReadOnly(dir / "doc", false);
    fs::remove(dir / "doc");
    ASSERT_TRUE(DecryptSelectedFile(dir / "doc.ksw", kPassword).ok());
    EXPECT_EQ(ReadFile(dir / "doc"), "protected");
    EXPECT_TRUE(ReadOnly(dir / "doc"));
}

// Paths past the old 260-character limit, and names in any script, whole
// round trips through the batch (as the programs run them).
TEST_F(WindowsFiles, LongPathsAndUnicodeNamesGoBothWays)
{
    std::wstring deep = L"\\\\?\\" + dir.wstring();
    for (int i = 0; i < 5; ++i) {
        deep += L"\\" + std::wstring(60, static_cast<wchar_t>(L'a' + i));
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr)) << GetLastError();
    }
    const fs::path longFolder = fs::path(deep.substr(4)); // as a user would give it
    ASSERT_GT(longFolder.wstring().size(), 300u);
    const std::vector<std::string> names = {"é à ü.txt", "日本語のファイル",
                                            "emoji \xF0\x9F\x94\x90", "plain"};
    for (const std::string& name : names) {
        for (const bool inLongFolder : {false, true}) {
            SCOPED_TRACE(name + (inLongFolder ? " in a long path" : ""));
            const Path folder = inLongFolder ? Path(longFolder) : dir;
            const std::wstring wideFile = L"\\\\?\\" + (folder / name).wstring();
            const std::string text = "contents of " + name;
            {
                Held create(fs::path(wideFile), GENERIC_WRITE, 0, CREATE_NEW);
                ASSERT_TRUE(create.open()) << GetLastError();
                DWORD written = 0;
                ASSERT_TRUE(::WriteFile(create.h, text.data(), static_cast<DWORD>(text.size()),
                                        &written, nullptr));
            }
            const std::string path = folder / name;
            auto outcomes = RunBatch(Direction::Encrypt, SharedKeys(), {path}, kPassword);
            ASSERT_TRUE(outcomes[0].ok()) << DescribeResult(outcomes[0].result);
            EXPECT_TRUE(outcomes[0].inputRemoved) << outcomes[0].removal.detail;
            EXPECT_EQ(GetFileAttributesW(wideFile.c_str()), INVALID_FILE_ATTRIBUTES);
            outcomes = RunBatch(Direction::Decrypt, SharedKeys(), {path + ".ksw"}, kPassword);
            ASSERT_TRUE(outcomes[0].ok()) << DescribeResult(outcomes[0].result);
            EXPECT_TRUE(outcomes[0].inputRemoved) << outcomes[0].removal.detail;
            EXPECT_EQ(ReadFile(fs::path(wideFile)), text);
            EXPECT_TRUE(DeleteFileW(wideFile.c_str()));
        }
    }
}

// One file however its path is spelled: the letters' case, separators, "."
// and "..", the long-path prefix, the short 8.3 name.
TEST_F(WindowsFiles, PathsAreOneFileHoweverSpelled)
{
    fs::create_directories(dir / "sub");
    WriteFile(dir / "Long File Name.txt", "one");
    wchar_t shortName[MAX_PATH] = {};
    const DWORD shortLength =
        GetShortPathNameW((dir / "Long File Name.txt").c_str(), shortName, MAX_PATH);
    const std::string base = dir;
    std::vector<std::string> spellings = {
        base + "\\Long File Name.txt", base + "/long file name.TXT",
        base + "\\sub\\..\\LONG FILE NAME.txt", base + "\\.\\Long File Name.txt",
        "\\\\?\\" + base + "\\Long File Name.txt"};
    if (shortLength > 0 && shortLength < MAX_PATH) spellings.push_back(Utf8(shortName));
    const io::FileIdentity first = io::IdentifyPath(spellings[0]);
    for (const std::string& spelling : spellings)
        EXPECT_EQ(io::IdentifyPath(spelling).place, first.place) << spelling;
    EXPECT_NE(io::IdentifyPath(base + "\\sub\\Long File Name.txt").place, first.place);
    // A result not made yet is as much the same file in any case.
    EXPECT_EQ(io::IdentifyPath(base + "\\Not Yet.ksw").place,
              io::IdentifyPath(base + "/sub/../NOT YET.KSW").place);

    const auto outcomes = RunBatch(Direction::Encrypt, SharedKeys(), spellings, kPassword);
    EXPECT_EQ(Summarize(outcomes).total, 1u);
    EXPECT_EQ(Summarize(outcomes).succeeded, 1u);
    EXPECT_EQ(Listing(dir), (std::vector<std::string>{"Long File Name.txt.ksw", "sub"}));
}

// A temporary of ours that no writer holds is a killed run's leftover and
// goes the next time an output is written there; one a writer holds stays,
// and so do the user's files that merely look like ours.
TEST_F(WindowsFiles, OnlyLeftoversNobodyWritesAreSwept)
{
    const std::string leftover = io::TemporaryNameFor("doc");
    const std::string readOnlyLeftover = io::TemporaryNameFor("old");
    const std::string alive = io::TemporaryNameFor("other");
    std::string forged = io::TemporaryNameFor("user");
    forged.back() = forged.back() == 'a' ? 'b' : 'a';
    for (const std::string& name : {leftover, readOnlyLeftover, alive, forged})
        WriteFile(dir / name, "bytes");
    MakeReadOnly(dir / readOnlyLeftover, true); // killed just before its rename
    Held writer(dir / alive, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE);
    ASSERT_TRUE(writer.open());
    WriteFile(dir / "doc", "text");
    ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), dir / "doc", kPassword).ok());
    EXPECT_FALSE(fs::exists(dir / leftover));
    EXPECT_FALSE(fs::exists(dir / readOnlyLeftover));
    writer.Close(); // a file marked for deletion would go now
    EXPECT_TRUE(fs::exists(dir / alive));
    EXPECT_EQ(ReadFile(dir / forged), "bytes");
}

// The result gets the original's own access list, never its folder's wider
// one; it is for the owner alone while it is written.
TEST_F(WindowsFiles, TheResultGetsTheOriginalsAccessList)
{
    WriteFile(dir / "doc", "private");
    // The owner alone, protected from what the folder passes down.
    PACL list = nullptr;
    EXPLICIT_ACCESS_W owner{};
    owner.grfAccessPermissions = GENERIC_ALL;
    owner.grfAccessMode = SET_ACCESS;
    owner.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    owner.Trustee.ptstrName = const_cast<wchar_t*>(L"CURRENT_USER");
    ASSERT_EQ(SetEntriesInAclW(1, &owner, nullptr, &list), static_cast<DWORD>(ERROR_SUCCESS));
    const std::wstring doc = (dir / "doc").wstring();
    ASSERT_EQ(SetNamedSecurityInfoW(const_cast<wchar_t*>(doc.c_str()), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, list, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    LocalFree(list);
    const auto entries = [](const fs::path& path, bool* isProtected) {
        PACL found = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        const std::wstring name = path.wstring();
        if (GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &found, nullptr, &descriptor)
            != ERROR_SUCCESS)
            return -1;
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        GetSecurityDescriptorControl(descriptor, &control, &revision);
        *isProtected = (control & SE_DACL_PROTECTED) != 0;
        const int count = found ? found->AceCount : -1;
        LocalFree(descriptor);
        return count;
    };
    bool inputProtected = false;
    if (entries(dir / "doc", &inputProtected) != 1 || !inputProtected)
        GTEST_SKIP() << "this system keeps no access lists on files";

    Result operation;
    EXPECT_TRUE(EncryptThenRemove(dir / "doc", {}, &operation).ok());
    EXPECT_TRUE(operation.detail.empty()) << operation.detail;
    bool outputProtected = false;
    EXPECT_EQ(entries(dir / "doc.ksw", &outputProtected), 1);
    EXPECT_TRUE(outputProtected);
}

// A run ended abruptly before any step that changes the disk leaves the
// input as it was, or gone with its whole output; never a partial file under
// a real name, never an older file of the output's name lost. What it leaves
// under a temporary name goes the next time an output is written there.
TEST_F(WindowsFiles, KilledAtEveryStepLeavesTheInputOrTheWholeOutput)
{
    const fs::path pem = FromUtf8(KESTRAWIN_INTEROP_DIR) / "signer.pem";
    auto exchange = crypto::RsaKeyPair::FromPem(ReadFile(pem));
    auto signature = crypto::RsaKeyPair::FromPem(ReadFile(pem));
    ASSERT_TRUE(exchange && signature);
    const KeyContainer keys = KeyContainer::WithPairs(std::move(*exchange), std::move(*signature));
    const std::string plain = RandomBytes(10000, 21);
    WriteFile(dir / "data", plain);
    OperationOptions options;
    options.chunkSize = 4096;
    ASSERT_TRUE(EncryptSelectedFile(keys, dir / "data", kPassword, options).ok());
    const std::string container = ReadFile(dir / "data.ksw"); // the same for the same pair

    for (const bool decrypt : {false, true})
        for (const bool outputExisted : {false, true}) {
            SCOPED_TRACE(std::string(decrypt ? "decrypting" : "encrypting")
                         + (outputExisted ? " over an older file" : ""));
            const Path work = dir / "work";
            const Path input = work / (decrypt ? "data.ksw" : "data");
            const Path output = work / (decrypt ? "data" : "data.ksw");
            const std::string inputBytes = decrypt ? container : plain;
            const std::string outputBytes = decrypt ? plain : container;
            std::set<DiskStep> stepsKilled;
            for (int k = 1;; ++k) {
                ASSERT_LT(k, 40) << "the operation never ran to its end";
                fs::remove_all(work);
                fs::create_directories(work);
                WriteFile(input, inputBytes);
                if (outputExisted) WriteFile(output, "an older file");
                const Child run({L"killed-at", std::to_wstring(k),
                                 decrypt ? L"decrypt" : L"encrypt", input.wstring(), pem.wstring(),
                                 (dir / "step").wstring()});
                const bool finished = run.Succeeds();
                if (finished) {
                    EXPECT_EQ(Listing(work), std::vector<std::string>{Utf8(output.filename())});
                    EXPECT_TRUE(ReadFile(output) == outputBytes);
                    break;
                }
                ASSERT_TRUE(fs::exists(dir / "step")) << "it failed before step " << k;
                const auto step = static_cast<DiskStep>(std::stoi(ReadFile(dir / "step")));
                fs::remove(dir / "step");
                SCOPED_TRACE("killed before step " + std::to_string(k));
                stepsKilled.insert(step);
                if (fs::exists(input)) {
                    EXPECT_TRUE(ReadFile(input) == inputBytes) << "the input was changed";
                } else {
                    EXPECT_TRUE(ReadFile(output) == outputBytes) << "gone without its output";
                }
                if (fs::exists(output)) {
                    const std::string now = ReadFile(output);
                    EXPECT_TRUE(now == outputBytes || (outputExisted && now == "an older file"));
                } else {
                    EXPECT_FALSE(outputExisted) << "the older file was lost";
                }
                ASSERT_TRUE(io::WriteFileAtomically(work / "next", "x").ok());
                for (const std::string& name : Listing(work))
                    EXPECT_TRUE(Path(FromUtf8(name)) == input.filename()
                                || Path(FromUtf8(name)) == output.filename() || name == "next")
                        << name;
            }
            // Every kind of step this path takes was interrupted once (and
            // the access list's where the input has one of its own).
            stepsKilled.erase(DiskStep::Attributes);
            EXPECT_EQ(stepsKilled,
                      (std::set<DiskStep>{DiskStep::Create, DiskStep::Write, DiskStep::Permissions,
                                          DiskStep::Flush, DiskStep::Rename, DiskStep::Remove}));
        }
}

// Deleting through the handle takes away the name that was read and no
// other: another name of the same contents stays, counted. When the result's
// own name is such another name, the result takes it and the input is kept,
// as on Linux.
TEST_F(WindowsFiles, OtherNamesOfTheInputStayAndAreCounted)
{
    WriteFile(dir / "a", "shared");
    ASSERT_TRUE(CreateHardLinkW((dir / "b").c_str(), (dir / "a").c_str(), nullptr));
    auto outcomes = RunBatch(Direction::Encrypt, SharedKeys(), {dir / "a"}, kPassword);
    ASSERT_TRUE(outcomes[0].ok()) << DescribeResult(outcomes[0].result);
    EXPECT_TRUE(outcomes[0].inputRemoved);
    EXPECT_EQ(outcomes[0].otherNames, 1u);
    EXPECT_EQ(Listing(dir), (std::vector<std::string>{"a.ksw", "b"}));
    EXPECT_EQ(ReadFile(dir / "b"), "shared");

    WriteFile(dir / "h", "linked");
    ASSERT_TRUE(CreateHardLinkW((dir / "h.ksw").c_str(), (dir / "h").c_str(), nullptr));
    outcomes = RunBatch(Direction::Encrypt, SharedKeys(), {dir / "h"}, kPassword);
    EXPECT_EQ(ReadFile(dir / "h"), "linked");
    ASSERT_TRUE(outcomes[0].ok()) << DescribeResult(outcomes[0].result);
    EXPECT_EQ(outcomes[0].removal.outcome, Outcome::InputIsOutput);
    EXPECT_EQ(Opened(dir / "h.ksw", dir / "look"), "linked");
}
