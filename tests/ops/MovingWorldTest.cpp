// SPDX-License-Identifier: Apache-2.0
// Other programs act on the files while an operation runs: editors save,
// folders move, a second operation works on the same pair. Whatever they do,
// nothing is lost, and the input is deleted only when it is still the very
// file that was read.

#include "Child.h"

#include "io/SafeFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>

using namespace kestrawin;
using namespace kestrawin::ops;
using namespace kwtest;
using io::DiskStep;

namespace {

// Runs an action once, at the first time the operation reaches a step: the
// other program acting at that moment.
struct Intrusion {
    DiskStep step;
    std::function<void()> act;
    bool done = false;
    bool busy = false;
};

int Intrude(DiskStep step, std::uint64_t, void* user)
{
    auto* in = static_cast<Intrusion*>(user);
    if (step != in->step || in->done || in->busy) return 0;
    in->busy = true; // the action may run operations of its own
    in->act();
    in->busy = false;
    in->done = true;
    return 0;
}

// Replaces a file the way editors save: a new file renamed over the old name.
void SaveAsEditorsDo(const fs::path& path, const std::string& bytes)
{
    WriteFile(path.string() + ".new", bytes);
    fs::rename(path.string() + ".new", path);
}

class MovingWorld : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        (void)SharedKeys();
    }
    static OperationOptions Intruding(Intrusion* intrusion)
    {
        OperationOptions options;
        options.diskHook = [intrusion](DiskStep step, std::uint64_t bytes) {
            return Intrude(step, bytes, intrusion);
        };
        return options;
    }
    // Runs an operation with an intrusion at a step, then the deletion.
    Result EncryptThenRemove(const fs::path& path, Intrusion* intrusion, Result* op = nullptr,
                             std::uint64_t* otherNames = nullptr)
    {
        const OperationOptions options = Intruding(intrusion);
        io::InputFile read;
        const Result r = EncryptSelectedFile(SharedKeys(), path, "password", options, &read);
        if (op) *op = r;
        return r.ok() ? RemoveInputFile(read, otherNames, options.diskHook) : r;
    }
    Result DecryptThenRemove(const fs::path& path, Intrusion* intrusion, Result* op = nullptr)
    {
        const OperationOptions options = Intruding(intrusion);
        io::InputFile read;
        const Result r = DecryptSelectedFile(path, "password", options, &read);
        if (op) *op = r;
        return r.ok() ? RemoveInputFile(read, nullptr, options.diskHook) : r;
    }
    // The plain text inside a container, decrypted elsewhere so nothing here changes.
    std::string Open(const fs::path& container)
    {
        const fs::path look = dir / "look";
        fs::create_directories(look);
        fs::copy_file(container, look / "c.ksw", fs::copy_options::overwrite_existing);
        EXPECT_TRUE(DecryptSelectedFile(look / "c.ksw", "password").ok());
        const std::string plain = ReadFile(look / "c");
        fs::remove_all(look);
        return plain;
    }
};

} // namespace

TEST_F(MovingWorld, AnInputSavedOverDuringTheWorkIsKept)
{
    // Encryption: the editor's new version stays; the container holds the old.
    // Saved while the old one is still being read, or after: what was read
    // through the open file is whole either way, so the operation succeeds.
    for (DiskStep when : {DiskStep::Write, DiskStep::Flush}) {
        SCOPED_TRACE(when == DiskStep::Write ? "while reading" : "after reading");
        WriteFile(dir / "doc", "version 1");
        Intrusion save{when, [&] { SaveAsEditorsDo(dir / "doc", "version 2"); }};
        Result op;
        EXPECT_EQ(EncryptThenRemove(dir / "doc", &save, &op).outcome, Outcome::InputChanged);
        EXPECT_TRUE(op.ok()) << DescribeResult(op);
        EXPECT_EQ(ReadFile(dir / "doc"), "version 2");
        EXPECT_EQ(Open(dir / "doc.ksw"), "version 1");
    }

    // Decryption: a container replaced meanwhile is kept.
    fs::remove(dir / "doc");
    const std::string other = ReadFile(dir / "doc.ksw");
    WriteFile(dir / "doc", "version 3");
    ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), dir / "doc", "password").ok());
    fs::remove(dir / "doc");
    Intrusion replace{DiskStep::Flush, [&] { SaveAsEditorsDo(dir / "doc.ksw", other); }};
    EXPECT_EQ(DecryptThenRemove(dir / "doc.ksw", &replace).outcome, Outcome::InputChanged);
    EXPECT_EQ(ReadFile(dir / "doc"), "version 3");
    EXPECT_EQ(ReadFile(dir / "doc.ksw"), other);
}

TEST_F(MovingWorld, SomethingWrittenToTheInputAfterReadingIsKept)
{
    // While the output is flushed (seconds on a slow stick), in place: the
    // same inode, longer, or with the same size and a new time, or even with
    // its old time put back (only the change time tells).
    for (int how = 0; how < 3; ++how) {
        SCOPED_TRACE(how);
        const bool sameSize = how > 0;
        WriteFile(dir / "log", "first line\n");
        const timespec past[2] = {{946684800, 0}, {946684800, 0}}; // any later write shows
        ASSERT_EQ(utimensat(AT_FDCWD, (dir / "log").c_str(), past, 0), 0);
        Intrusion write{DiskStep::Flush, [&] {
                            if (sameSize) {
                                WriteFile(dir / "log", "FIRST LINE\n");
                                if (how == 2) {
                                    ASSERT_EQ(utimensat(AT_FDCWD, (dir / "log").c_str(), past, 0),
                                              0);
                                }
                            } else {
                                std::FILE* f = std::fopen((dir / "log").c_str(), "a");
                                std::fputs("second line\n", f);
                                std::fclose(f);
                            }
                        }};
        EXPECT_EQ(EncryptThenRemove(dir / "log", &write).outcome, Outcome::InputChanged);
        EXPECT_EQ(ReadFile(dir / "log"), sameSize ? "FIRST LINE\n" : "first line\nsecond line\n");
        EXPECT_EQ(Open(dir / "log.ksw"), "first line\n");
    }
}

TEST_F(MovingWorld, AnInputChangingWhileItIsReadNeverEndsInSuccess)
{
    const std::string plain = RandomBytes(600000, 3);
    OperationOptions options;
    options.chunkSize = 64 * 1024;
    for (int how = 0; how < 3; ++how) {
        SCOPED_TRACE(how);
        WriteFile(dir / "big", plain);
        const timespec past[2] = {{946684800, 0}, {946684800, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, (dir / "big").c_str(), past, 0), 0);
        Intrusion change{DiskStep::Write, [&] {
                             if (how == 0) fs::resize_file(dir / "big", 1000);   // cut short
                             if (how == 1) fs::resize_file(dir / "big", 900000); // grown
                             if (how == 2) { // same size, new bytes
                                 std::FILE* f = std::fopen((dir / "big").c_str(), "r+");
                                 std::fputs("changed", f);
                                 std::fclose(f);
                             }
                         }};
        OperationOptions changing = options;
        changing.diskHook = Intruding(&change).diskHook;
        io::InputFile read;
        const Result r =
            EncryptSelectedFile(SharedKeys(), dir / "big", "password", changing, &read);
        ASSERT_TRUE(change.done);
        EXPECT_EQ(r.outcome, Outcome::InputUnreadable);
        EXPECT_FALSE(read.isOpen()); // nothing to delete
        EXPECT_TRUE(fs::exists(dir / "big"));
        EXPECT_FALSE(fs::exists(dir / "big.ksw"));
    }
}

TEST_F(MovingWorld, AFileCutShortAfterOpeningFailsInsteadOfWaiting)
{
    // Header reads ask for exact ranges: bytes that will never come must end
    // the read, not be waited for. In a child with an alarm, so that a read
    // that loops fails the test instead of hanging it.
    WriteFile(dir / "short.ksw", RandomBytes(4096, 5));
    const int status = Wait(Fork([&] {
        alarm(5);
        io::InputFile in;
        if (!in.Open(dir / "short.ksw").ok()) return 2;
        fs::resize_file(dir / "short.ksw", 100);
        std::uint8_t buf[1000];
        const Result r = in.ReadAt(0, buf, sizeof buf);
        return r.outcome == Outcome::InputUnreadable
                       && r.detail.find("shorter") != std::string::npos
                   ? 0
                   : 1;
    }));
    EXPECT_EQ(status, 0) << (status == 128 + SIGALRM ? "the read never ended" : "wrong outcome");
}

TEST_F(MovingWorld, AnInputMovedOrDeletedMeanwhileIsReportedSo)
{
    WriteFile(dir / "a", "contents");
    Intrusion move{DiskStep::Flush, [&] { fs::rename(dir / "a", dir / "b"); }};
    EXPECT_EQ(EncryptThenRemove(dir / "a", &move).outcome, Outcome::InputMoved);
    EXPECT_EQ(ReadFile(dir / "b"), "contents");

    Intrusion remove{DiskStep::Flush, [&] { fs::remove(dir / "b"); }};
    EXPECT_EQ(EncryptThenRemove(dir / "b", &remove).outcome, Outcome::InputMoved);
    EXPECT_EQ(Open(dir / "b.ksw"), "contents");
    EXPECT_NE(OutcomeReason(Outcome::InputMoved).find("moved or deleted during the work"),
              std::string::npos);
}

TEST_F(MovingWorld, AFolderMovedAsideKeepsItsFilesTogether)
{
    // The input's folder is renamed and a new one made under the old name:
    // the output goes beside the original, which is the one deleted; the
    // newcomer of the same name is not touched.
    fs::create_directories(dir / "sub");
    WriteFile(dir / "sub" / "in", "original");
    Intrusion swap{DiskStep::Write, [&] {
                       fs::rename(dir / "sub", dir / "moved");
                       fs::create_directories(dir / "sub");
                       WriteFile(dir / "sub" / "in", "unrelated newcomer");
                   }};
    EXPECT_TRUE(EncryptThenRemove(dir / "sub" / "in", &swap).ok());
    EXPECT_EQ(Listing(dir / "sub"), std::vector<std::string>{"in"});
    EXPECT_EQ(ReadFile(dir / "sub" / "in"), "unrelated newcomer");
    EXPECT_EQ(Listing(dir / "moved"), std::vector<std::string>{"in.ksw"});
    EXPECT_EQ(Open(dir / "moved" / "in.ksw"), "original");
}

TEST_F(MovingWorld, TwoOperationsOnThePairAtOnceLoseNothing)
{
    // Encrypting "in" and decrypting "in.ksw" together, each one running in
    // the middle of the other, both ways round: both contents stay on disk.
    for (bool decryptInside : {false, true}) {
        SCOPED_TRACE(decryptInside ? "decryption inside the encryption" : "the other way round");
        fs::remove_all(dir / "pair");
        fs::create_directories(dir / "pair");
        const fs::path plain = dir / "pair" / "in";
        WriteFile(plain, "B");
        ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), plain, "password").ok());
        WriteFile(plain, "A");
        Result inner;
        Result outer;
        if (decryptInside) {
            Intrusion other{DiskStep::Flush, [&] {
                                io::InputFile read;
                                inner = DecryptSelectedFile(plain.string() + ".ksw", "password", {},
                                                            &read);
                                if (inner.ok()) inner = RemoveInputFile(read);
                            }};
            outer = EncryptThenRemove(plain, &other);
        } else {
            Intrusion other{DiskStep::Flush, [&] {
                                io::InputFile read;
                                inner =
                                    EncryptSelectedFile(SharedKeys(), plain, "password", {}, &read);
                                if (inner.ok()) inner = RemoveInputFile(read);
                            }};
            outer = DecryptThenRemove(plain.string() + ".ksw", &other);
        }
        SCOPED_TRACE(DescribeResult(inner) + " / " + DescribeResult(outer));
        // "A" is in the container and "B" in the plain file, however it went.
        ASSERT_TRUE(fs::exists(plain));
        ASSERT_TRUE(fs::exists(plain.string() + ".ksw"));
        EXPECT_EQ(ReadFile(plain), "B");
        EXPECT_EQ(Open(plain.string() + ".ksw"), "A");
        EXPECT_TRUE(InputWasKept(inner.outcome) || InputWasKept(outer.outcome));
    }
}

TEST_F(MovingWorld, ANameSwappedAtTheLastMomentIsPutBackReplacingNothing)
{
    // Between the last check and the removal another file takes the name:
    // what was moved aside is looked at, found foreign and put back, and if
    // the name was taken once more meanwhile, beside it, never over it.
    // EINVAL from the seam: as on filesystems that cannot rename without
    // replacing (FUSE): the input goes aside under a fresh name all the same.
    struct Row {
        bool noReplace;
        bool takenAgain;
    };
    for (const Row row : {Row{true, false}, Row{true, true}, Row{false, false}, Row{false, true}}) {
        SCOPED_TRACE(std::string(row.noReplace ? "" : "no ") + "renaming without replacing, "
                     + (row.takenAgain ? "" : "not ") + "taken again before the put-back");
        fs::remove_all(dir);
        fs::create_directories(dir);
        WriteFile(dir / "x", "read");
        const int unsupported = row.noReplace ? 0 : EINVAL;
        bool swapped = false;
        bool retaken = false;
        OperationOptions options;
        options.diskHook = [&](DiskStep step, std::uint64_t) {
            if (step == DiskStep::MoveAside && !swapped) {
                swapped = true;
                SaveAsEditorsDo(dir / "x", "foreign");
            }
            if (step == DiskStep::PutBack && row.takenAgain && !retaken) {
                retaken = true;
                WriteFile(dir / "x", "newest");
            }
            return step == DiskStep::MoveAside || step == DiskStep::PutBack ? unsupported : 0;
        };
        io::InputFile read;
        ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), dir / "x", "password", options, &read).ok());
        EXPECT_EQ(RemoveInputFile(read, nullptr, options.diskHook).outcome, Outcome::InputChanged);
        EXPECT_EQ(ReadFile(dir / "x"), row.takenAgain ? "newest" : "foreign");
        using Names = std::vector<std::string>;
        EXPECT_EQ(Listing(dir),
                  row.takenAgain ? (Names{"x", "x (restored)", "x.ksw"}) : (Names{"x", "x.ksw"}));
        if (row.takenAgain) {
            EXPECT_EQ(ReadFile(dir / "x (restored)"), "foreign");
        }
    }
}

TEST_F(MovingWorld, AFileOpenForWritingIsKeptWhateverItsTimesSay)
{
    // Writers that no time shows: a shared writable mapping written again
    // in a page it had already dirtied; a program that holds the file open
    // for writing and writes after the work; one that opens it during the
    // work. Each keeps its file, and the one opening it is not made to wait.
    const std::string plain = "0123456789";
    enum class Writer { MappedBefore, HeldBefore, OpenedDuring };
    for (const Writer writer : {Writer::MappedBefore, Writer::HeldBefore, Writer::OpenedDuring}) {
        SCOPED_TRACE(static_cast<int>(writer));
        WriteFile(dir / "doc", plain);
        int fd = -1;
        char* mapped = nullptr;
        if (writer != Writer::OpenedDuring) {
            fd = open((dir / "doc").c_str(), O_RDWR | O_CLOEXEC);
            ASSERT_GE(fd, 0);
        }
        if (writer == Writer::MappedBefore) {
            void* m = mmap(nullptr, plain.size(), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            ASSERT_NE(m, MAP_FAILED);
            close(fd);
            fd = -1;
            mapped = static_cast<char*>(m);
            mapped[0] = 'A'; // the page is dirty from now on
        }
        const std::string atStart = ReadFile(dir / "doc");
        std::chrono::steady_clock::duration openTook{};
        Intrusion act{writer == Writer::OpenedDuring ? DiskStep::Write : DiskStep::Flush, [&] {
                          if (mapped) mapped[1] = 'B'; // no time moves for this one
                          if (writer != Writer::OpenedDuring) return;
                          const auto start = std::chrono::steady_clock::now();
                          fd = open((dir / "doc").c_str(), O_RDWR | O_CLOEXEC);
                          openTook = std::chrono::steady_clock::now() - start;
                      }};
        Result op;
        EXPECT_EQ(EncryptThenRemove(dir / "doc", &act, &op).outcome, Outcome::InputInUse);
        EXPECT_TRUE(op.ok()) << DescribeResult(op);
        // The kernel would hold the opener up to its lease-break time (45 s by default).
        EXPECT_LT(openTook, std::chrono::seconds(5));
        if (fd >= 0) {
            ASSERT_EQ(pwrite(fd, "Z", 1, 9), 1); // written after the work
            close(fd);
        }
        if (mapped) munmap(mapped, plain.size());
        std::string expected = atStart;
        if (writer == Writer::MappedBefore) expected[1] = 'B';
        if (writer != Writer::MappedBefore) expected[9] = 'Z';
        EXPECT_EQ(ReadFile(dir / "doc"), expected);
        EXPECT_EQ(Open(dir / "doc.ksw"), atStart);
        fs::remove(dir / "doc.ksw");
    }
}

TEST_F(MovingWorld, OtherHardLinksAreCounted)
{
    WriteFile(dir / "a", "shared");
    fs::create_hard_link(dir / "a", dir / "b");
    fs::create_hard_link(dir / "a", dir / "c");
    Intrusion none{DiskStep::Flush, [] {}};
    std::uint64_t others = 0;
    EXPECT_TRUE(EncryptThenRemove(dir / "a", &none, nullptr, &others).ok());
    EXPECT_EQ(others, 2u);
    EXPECT_FALSE(fs::exists(dir / "a"));
    EXPECT_NE(OtherNamesNotice(2).find("2 other names"), std::string::npos);
    EXPECT_NE(OtherNamesNotice(1).find("1 other name "), std::string::npos);

    WriteFile(dir / "single", "alone");
    EXPECT_TRUE(EncryptThenRemove(dir / "single", &none, nullptr, &others).ok());
    EXPECT_EQ(others, 0u);

    // The output's own name was another name of the input: said as such.
    WriteFile(dir / "h", "linked");
    fs::create_hard_link(dir / "h", dir / "h.ksw");
    EXPECT_EQ(EncryptThenRemove(dir / "h", &none).outcome, Outcome::InputIsOutput);
    EXPECT_EQ(ReadFile(dir / "h"), "linked");
    EXPECT_EQ(Open(dir / "h.ksw"), "linked");
}

TEST_F(MovingWorld, AShortContainerNameTouchesNothing)
{
    fs::create_directories(dir / "docs");
    WriteFile(dir / "do", "an unrelated file");
    WriteFile(dir / "docs" / "a", "a container's name too short for a plain name");
    const auto before = Listing(dir);
    const fs::path cwd = fs::current_path();
    fs::current_path(dir);
    const Result r = DecryptSelectedFile("docs/a", "password");
    fs::current_path(cwd);
    EXPECT_EQ(r.outcome, Outcome::NoOutputName);
    EXPECT_EQ(Listing(dir), before);
    EXPECT_EQ(ReadFile(dir / "do"), "an unrelated file");
    EXPECT_TRUE(fs::exists(dir / "docs" / "a"));
}
