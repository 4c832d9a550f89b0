// SPDX-License-Identifier: Apache-2.0
// The system gets in the way: threads that will not start, filesystems
// without Unix modes, other users' files, folders where deletion is refused.

#include "Child.h"

#include "io/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

using namespace kestrawin;
using namespace kestrawin::ops;
using namespace kwtest;
using io::DiskStep;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

struct ModeRefusal {
    int error;
};

int RefuseModes(DiskStep step, std::uint64_t, void* user)
{
    return step == DiskStep::Permissions ? static_cast<ModeRefusal*>(user)->error : 0;
}

uid_t OwnerOf(const fs::path& path)
{
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st.st_uid;
}

int Sh(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Who may do what with a file: its mode, its access list entry by entry, and
// its one user attribute.
std::string Access(const fs::path& path)
{
    char text[32];
    std::snprintf(text, sizeof text, "mode %04o", Mode(path));
    std::string out = text;
    std::uint8_t acl[1024];
    const ssize_t n = getxattr(path.c_str(), "system.posix_acl_access", acl, sizeof acl);
    out += n > 0 ? ", acl" : ", no acl";
    for (ssize_t at = 4; at + 8 <= n; at += 8) { // after the version: tag, permissions, id
        const unsigned tag = acl[at] | acl[at + 1] << 8;
        const unsigned perm = acl[at + 2] | acl[at + 3] << 8;
        std::snprintf(text, sizeof text, " %x:%o", tag, perm);
        out += text;
        if (tag == 0x02 || tag == 0x08) // a named user or group
            out += ":" + std::to_string(acl[at + 4] | acl[at + 5] << 8 | acl[at + 6] << 16);
    }
    char note[64];
    const ssize_t m = getxattr(path.c_str(), "user.note", note, sizeof note);
    if (m >= 0) out += ", user.note=" + std::string(note, static_cast<std::size_t>(m));
    return out;
}

} // namespace

class HostileSystem : public ScratchTest {};

TEST_F(HostileSystem, ThreadsThatCannotStartMeanFewerThreads)
{
    if (kSanitized) GTEST_SKIP() << "address space limits do not apply to sanitizer builds";
    const std::string plain = RandomBytes(5 << 20, 9);
    WriteFile(dir / "big", plain);
    WriteFile(dir / "small", "a few bytes");
    WriteFile(dir / "pw", "password\n");
    ChildLimits starved;
    starved.stackSize = rlim_t{2} << 30;
    starved.addressSpace = rlim_t{250} << 20;
    // One file, then several: a batch goes on with the threads it has.
    for (const std::vector<std::string>& names :
         {std::vector<std::string>{"big"}, std::vector<std::string>{"big", "small"}})
        for (const char* command : {"encrypt", "decrypt"}) {
            SCOPED_TRACE(std::string(command) + " " + std::to_string(names.size()));
            const bool encrypt = std::string(command) == "encrypt";
            std::vector<std::string> args = {command, "--password-file", dir / "pw"};
            for (const std::string& name : names)
                args.push_back(dir / (encrypt ? name : name + ".ksw"));
            const int status = Wait(SpawnCli(args, dir / "xdg", dir / "err", starved));
            EXPECT_EQ(status, 0) << ReadFile(dir / "err");
        }
    EXPECT_EQ(ReadFile(dir / "big"), plain);
    EXPECT_EQ(ReadFile(dir / "small"), "a few bytes");
    EXPECT_FALSE(fs::exists(dir / "big.ksw"));
}

// Few descriptors left: the files of a batch wait for each other and go one
// at a time instead of failing.
TEST_F(HostileSystem, FewDescriptorsMeanOneFileAtATime)
{
    // The sanitizers' runtime opens descriptors of its own to check memory,
    // and reports a fault when it cannot.
    if (kSanitized) GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own";
    ChildLimits few;
    few.openFiles = 12;
    WriteFile(dir / "pw", "password\n");
    std::vector<std::string> names;
    for (int i = 0; i < 6; ++i) {
        names.push_back("f" + std::to_string(i));
        WriteFile(dir / names.back(), RandomBytes(300000 + i, 20 + i));
    }
    for (const char* command : {"encrypt", "decrypt"}) {
        SCOPED_TRACE(command);
        const bool encrypt = std::string(command) == "encrypt";
        std::vector<std::string> args = {command, "--password-file", dir / "pw"};
        for (const std::string& name : names)
            args.push_back(dir / (encrypt ? name : name + ".ksw"));
        EXPECT_EQ(Wait(SpawnCli(args, dir / "xdg", dir / "err", few)), 0) << ReadFile(dir / "err");
    }
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(ReadFile(dir / names[i]), RandomBytes(300000 + i, 20 + i));
        EXPECT_FALSE(fs::exists(dir / (names[i] + ".ksw")));
    }
}

// Descriptors may run out for a moment while other files of a batch are
// open: a result made for the folder its input was found in is made there or
// not at all, never in the program's current folder.
TEST_F(HostileSystem, AResultGoesBesideItsInputOrNowhereWhenDescriptorsRunOut)
{
    if (kSanitized) GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own";
    const fs::path elsewhere = dir / "current folder";
    fs::create_directories(elsewhere);
    WriteFile(dir / "doc", "the plain text");
    ChildLimits limits;
    limits.openFiles = 64;
    const int status = Wait(Fork(
        [&] {
            if (chdir(elsewhere.c_str()) != 0) return 2;
            io::InputFile in;
            if (!in.Open(dir / "doc").ok()) return 2;
            std::vector<int> taken; // every descriptor left, while the output is set up
            for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken.push_back(fd);
            io::AtomicOutput out(in.folder(), "doc.out");
            for (const int fd : taken) close(fd);
            const Result r = out.Open();
            if (!r.ok()) return 1;
            const std::uint8_t bytes[] = {'o', 'u', 't'};
            return out.Write(bytes, sizeof bytes).ok() && out.Commit().ok() ? 0 : 1;
        },
        limits));
    EXPECT_TRUE(status == 0 || status == 1) << status;
    EXPECT_TRUE(fs::is_empty(elsewhere)) << Listing(elsewhere).front();
    EXPECT_EQ(fs::exists(dir / "doc.out"), status == 0);
}

TEST_F(HostileSystem, ModesAFilesystemCannotSetAreNoObstacle)
{
    (void)SharedKeys();
    // No modes at all (as FAT through FUSE says): the file is kept as it is.
    // A refusal, when the temporary grants more than asked (0600 for a
    // read-only input), is a failure; when it grants no more, it is not.
    struct Case {
        int error;
        unsigned mode;
        bool ok;
    };
    for (const Case c : {Case{ENOSYS, 0444, true}, Case{EOPNOTSUPP, 0644, true},
                         Case{EPERM, 0644, true}, Case{EPERM, 0444, false}}) {
        SCOPED_TRACE(std::to_string(c.error) + " " + std::to_string(c.mode));
        fs::remove_all(dir);
        fs::create_directories(dir);
        WriteFile(dir / "in", "text");
        fs::permissions(dir / "in", fs::perms(c.mode));
        ModeRefusal refusal{c.error};
        OperationOptions refusing;
        refusing.diskHook = [&refusal](DiskStep step, std::uint64_t bytes) {
            return RefuseModes(step, bytes, &refusal);
        };
        const Result r = EncryptSelectedFile(SharedKeys(), dir / "in", "password", refusing);
        EXPECT_EQ(r.ok(), c.ok) << DescribeResult(r);
        EXPECT_EQ(Listing(dir), c.ok ? (std::vector<std::string>{"in", "in.ksw"})
                                     : std::vector<std::string>{"in"});
    }
}

TEST_F(HostileSystem, AccessNeverWidens)
{
    (void)SharedKeys();
    if (Sh("command -v setfacl >/dev/null") != 0) GTEST_SKIP() << "needs setfacl (package acl)";
    // The output gets the input's access list and user attributes; a default
    // list of the folder gives it nothing more; when they cannot be carried
    // over, it is for its owner alone and the result says so.
    struct Row {
        const char* label;
        unsigned mode;
        const char* inputAcl;  // setfacl -m on the input, after the mode
        const char* folderAcl; // setfacl -d -m on the folder
        const char* expected;  // nullptr: as the input
    };
    const Row rows[] = {
        {"a named user", 0600, "u:nobody:rw", nullptr, nullptr},
        {"a folder's default list", 0640, nullptr, "u:nobody:rw", nullptr},
        {"carrying refused", 0600, "u:nobody:rw", nullptr, "mode 0600, no acl"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const bool refuse = row.expected != nullptr;
        const fs::path folder = dir / "f";
        fs::remove_all(folder);
        fs::create_directories(folder);
        const std::string f = ShellQuote(folder);
        const std::string in = ShellQuote(folder / "in");
        if (row.folderAcl) {
            ASSERT_EQ(Sh("setfacl -d -m " + std::string(row.folderAcl) + " " + f), 0);
        }
        WriteFile(folder / "in", "text");
        ASSERT_EQ(Sh("setfacl -b " + in), 0);
        fs::permissions(folder / "in", fs::perms(row.mode));
        if (row.inputAcl) {
            if (Sh("setfacl -m " + std::string(row.inputAcl) + " " + in + " 2>/dev/null") != 0)
                GTEST_SKIP() << "no access lists on " << dir;
        }
        ASSERT_EQ(setxattr((folder / "in").c_str(), "user.note", "kept", 4, 0), 0);
        const std::string expected = row.expected ? row.expected : Access(folder / "in");
        OperationOptions options;
        options.diskHook = [refuse](DiskStep step, std::uint64_t) {
            return refuse && step == DiskStep::Attributes ? EIO : 0;
        };
        Result r = EncryptSelectedFile(SharedKeys(), folder / "in", "password", options);
        ASSERT_TRUE(r.ok()) << DescribeResult(r);
        EXPECT_EQ(Access(folder / "in.ksw"), expected);
        EXPECT_EQ(r.detail.find("only its owner") != std::string::npos, refuse) << r.detail;
        fs::remove(folder / "in");
        r = DecryptSelectedFile(folder / "in.ksw", "password", options);
        ASSERT_TRUE(r.ok()) << DescribeResult(r);
        EXPECT_EQ(Access(folder / "in"), expected);
    }
}

TEST_F(HostileSystem, RealFuseSticksWorkAndWritesInPlaceAreSeen)
{
    // FAT and exFAT through FUSE: no unnamed files, no renaming without
    // replacing, coarse times. A same-size write in place during the work,
    // with the times put back, must still keep the input.
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount";
    struct Stick {
        const char* label;
        const char* tools;
        const char* make;  // %I: the image
        const char* mount; // %I: the image, %D: a loop device on it, %M: the mount point
    };
    const Stick sticks[] = {
        {"exFAT", "mkfs.exfat mount.exfat-fuse losetup", "mkfs.exfat %I", "mount.exfat-fuse %D %M"},
        {"FAT", "mkfs.vfat fusefat", "mkfs.vfat %I", "fusefat -o rw+ %I %M"},
    };
    int tried = 0;
    for (const Stick& stick : sticks) {
        SCOPED_TRACE(stick.label);
        if (Sh(std::string("command -v ") + stick.tools + " >/dev/null") != 0) continue;
        const fs::path image = dir / "stick.img";
        const fs::path mount = dir / "stick";
        fs::create_directories(mount);
        std::string loop;
        const auto fill = [&](std::string text) {
            for (const auto& [key, value] :
                 {std::pair<std::string, std::string>{"%I", ShellQuote(image)},
                  {"%D", ShellQuote(loop)},
                  {"%M", ShellQuote(mount)}})
                for (std::size_t at; (at = text.find(key)) != std::string::npos;)
                    text.replace(at, 2, value);
            return text + " >/dev/null 2>&1";
        };
        ASSERT_EQ(Sh("truncate -s 16M " + ShellQuote(image)), 0);
        ASSERT_EQ(Sh(fill(stick.make)), 0);
        if (std::string(stick.mount).find("%D") != std::string::npos) {
            if (Sh("losetup -f --show " + ShellQuote(image) + " > " + ShellQuote(dir / "loop"))
                != 0)
                continue;
            loop = ReadFile(dir / "loop");
            loop.erase(loop.find_last_not_of('\n') + 1);
        }
        if (Sh(fill(stick.mount)) != 0) {
            if (!loop.empty()) Sh("losetup -d " + ShellQuote(loop));
            continue;
        }
        ++tried;

        WriteFile(mount / "photo.jpg", "holiday");
        io::InputFile read;
        const Result enc =
            EncryptSelectedFile(SharedKeys(), mount / "photo.jpg", "password", {}, &read);
        EXPECT_TRUE(enc.ok()) << DescribeResult(enc);
        if (enc.ok()) {
            const Result removed = RemoveInputFile(read);
            EXPECT_TRUE(removed.ok()) << DescribeResult(removed);
        }
        io::InputFile readBack;
        const Result dec = DecryptSelectedFile(mount / "photo.jpg.ksw", "password", {}, &readBack);
        EXPECT_TRUE(dec.ok()) << DescribeResult(dec);
        if (dec.ok()) {
            EXPECT_TRUE(RemoveInputFile(readBack).ok());
        }
        EXPECT_EQ(ReadFile(mount / "photo.jpg"), "holiday");
        EXPECT_EQ(Listing(mount), std::vector<std::string>{"photo.jpg"});

        // Written in place while the output is flushed, its times put back.
        struct stat before {};
        ASSERT_EQ(stat((mount / "photo.jpg").c_str(), &before), 0);
        OperationOptions inPlace;
        bool written = false;
        inPlace.diskHook = [&](DiskStep step, std::uint64_t) {
            if (step != DiskStep::Flush || written) return 0;
            written = true;
            std::FILE* f = std::fopen((mount / "photo.jpg").c_str(), "r+");
            std::fputs("HOLIDAY", f);
            std::fclose(f);
            const timespec times[2] = {before.st_atim, before.st_mtim};
            utimensat(AT_FDCWD, (mount / "photo.jpg").c_str(), times, 0);
            return 0;
        };
        read = io::InputFile();
        ASSERT_TRUE(
            EncryptSelectedFile(SharedKeys(), mount / "photo.jpg", "password", inPlace, &read)
                .ok());
        EXPECT_EQ(RemoveInputFile(read).outcome, Outcome::InputChanged);
        EXPECT_EQ(ReadFile(mount / "photo.jpg"), "HOLIDAY");
        EXPECT_EQ(Listing(mount), (std::vector<std::string>{"photo.jpg", "photo.jpg.ksw"}));

        readBack = io::InputFile();
        read = io::InputFile();
        EXPECT_EQ(Sh("umount " + ShellQuote(mount)), 0);
        if (!loop.empty()) Sh("losetup -d " + ShellQuote(loop));
        fs::remove(image);
    }
    if (tried == 0) GTEST_SKIP() << "no FUSE FAT or exFAT could be mounted here";
}

TEST_F(HostileSystem, RootLeavesOutputsToTheInputsOwner)
{
    uid_t uid = 0;
    gid_t gid = 0;
    if (geteuid() != 0 || !UnprivilegedIds(&uid, &gid)) GTEST_SKIP() << "needs root";
    WriteFile(dir / "theirs", "their text");
    ASSERT_EQ(chown((dir / "theirs").c_str(), uid, gid), 0);
    fs::permissions(dir / "theirs", fs::perms(0600));
    ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), dir / "theirs", "password").ok());
    EXPECT_EQ(OwnerOf(dir / "theirs.ksw"), uid);
    EXPECT_EQ(Mode(dir / "theirs.ksw"), 0600u);
    fs::remove(dir / "theirs");
    ASSERT_TRUE(DecryptSelectedFile(dir / "theirs.ksw", "password").ok());
    EXPECT_EQ(OwnerOf(dir / "theirs"), uid);
    struct stat st {};
    ASSERT_EQ(stat((dir / "theirs").c_str(), &st), 0);
    EXPECT_EQ(st.st_gid, gid);
}

TEST_F(HostileSystem, AnInputThatCannotBeDeletedIsKeptWithStatusFour)
{
    uid_t uid = 0;
    gid_t gid = 0;
    if (geteuid() != 0 || !UnprivilegedIds(&uid, &gid)) GTEST_SKIP() << "needs root";
    // A shared folder with the sticky bit: anyone may add files, only owners
    // may delete them. The input belongs to root; the tool runs as another user.
    const fs::path shared = dir / "shared";
    fs::create_directories(shared);
    fs::permissions(dir, fs::perms(0755));
    fs::permissions(shared, fs::perms(01777));
    WriteFile(shared / "notice", "for everyone");
    fs::permissions(shared / "notice", fs::perms(0644));
    WriteFile(dir / "pw", "password\n");
    fs::permissions(dir / "pw", fs::perms(0644));
    ChildLimits other;
    other.unprivileged = true;
    const int status = Wait(SpawnCli({"encrypt", "--password-file", dir / "pw", shared / "notice"},
                                     shared / "xdg", dir / "err", other));
    const std::string err = ReadFile(dir / "err");
    EXPECT_EQ(status, 4) << err;
    EXPECT_NE(err.find("could not be deleted"), std::string::npos) << err;
    EXPECT_NE(err.find(shared / "notice"), std::string::npos) << err;
    EXPECT_EQ(ReadFile(shared / "notice"), "for everyone");
    EXPECT_TRUE(fs::exists(shared / "notice.ksw"));
}

TEST_F(HostileSystem, NoCoreFilesWhileAPasswordIsInMemory)
{
    // The tool waits on a password file that is a pipe: by then it has
    // turned core files off.
    ASSERT_EQ(mkfifo((dir / "pw").c_str(), 0600), 0);
    WriteFile(dir / "in", "x");
    const pid_t pid =
        SpawnCli({"encrypt", "--password-file", dir / "pw", dir / "in"}, dir / "xdg", dir / "err");
    const int writer = open((dir / "pw").c_str(), O_WRONLY); // waits for the tool to open it
    ASSERT_GE(writer, 0);
    std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
    std::string line;
    bool found = false;
    while (std::getline(limits, line))
        if (line.rfind("Max core file size", 0) == 0) {
            found = true;
            EXPECT_NE(line.find(" 0                    0 "), std::string::npos) << line;
        }
    EXPECT_TRUE(found);
    ASSERT_EQ(write(writer, "password\n", 9), 9);
    close(writer);
    EXPECT_EQ(Wait(pid), 0) << ReadFile(dir / "err");
}
