// SPDX-License-Identifier: Apache-2.0
// The system gets in the way: threads that will not start, filesystems
// without Unix modes, other users' files, folders where deletion is refused.

#include "Child.h"

#include "io/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
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

TEST_F(HostileSystem, ARealExfatStickWorks)
{
    if (geteuid() != 0 || Sh("command -v mkfs.exfat mount.exfat-fuse losetup >/dev/null") != 0)
        GTEST_SKIP() << "needs root, exfatprogs, exfat-fuse and a loop device";
    const fs::path image = dir / "stick.img";
    const fs::path mount = dir / "stick";
    fs::create_directories(mount);
    ASSERT_EQ(Sh("truncate -s 16M '" + image.string() + "' && mkfs.exfat '" + image.string()
                 + "' >/dev/null 2>&1"),
              0);
    ASSERT_EQ(Sh("losetup -f --show '" + image.string() + "' > '" + (dir / "loop").string() + "'"),
              0);
    std::string loop = ReadFile(dir / "loop");
    loop.erase(loop.find_last_not_of('\n') + 1);
    if (Sh("mount.exfat-fuse '" + loop + "' '" + mount.string() + "' >/dev/null 2>&1") != 0) {
        Sh("losetup -d '" + loop + "'");
        GTEST_SKIP() << "the image cannot be mounted here";
    }
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
    readBack = io::InputFile();
    read = io::InputFile();
    EXPECT_EQ(Sh("umount '" + mount.string() + "'"), 0);
    Sh("losetup -d '" + loop + "'");
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
