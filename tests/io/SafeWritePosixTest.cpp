// SPDX-License-Identifier: Apache-2.0
// Safe writes on Linux: leftovers of killed runs told apart from files held
// by living writers (locks) and from the user's own files, and real refusals
// by the kernel.

#include "Child.h"

#include "io/SafeFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

using namespace kestrawin;
using namespace kestrawin::ops;
using namespace kwtest;
using io::DiskStep;

class SafeWrite : public ScratchTest {};

TEST_F(SafeWrite, OnlyOurOwnUnheldLeftoversAreSweptAndNothingStaysHidden)
{
    const std::string leftover = io::TemporaryNameFor("doc");
    const std::string alive = io::TemporaryNameFor("other");
    const std::string linked = io::TemporaryNameFor("third");
    ASSERT_TRUE(io::IsOurTemporaryName(leftover));
    WriteFile(dir / leftover, "left by a killed run");
    WriteFile(dir / alive, "being written right now");
    WriteFile(dir / linked, "also reachable under another name");
    fs::create_hard_link(dir / linked, dir / "third");
    // A user's own files that merely look like ours: the exact form with a
    // wrong check, shorter suffixes, and the name that was once swept away.
    std::string forged = leftover;
    forged.back() = forged.back() == 'a' ? 'b' : 'a';
    std::vector<std::string> users{".draft.kwtmp-2024v1", ".doc.kwtmp-short", forged,
                                   ".doc.kwtmp-AbC123"};
    for (const std::string& name : users) {
        EXPECT_FALSE(io::IsOurTemporaryName(name)) << name;
        WriteFile(dir / name, "the user's own file");
    }
    // Inputs a killed run had moved aside for their removal: back under
    // their names, or beside a file that took the name meanwhile.
    WriteFile(dir / io::AsideNameFor("hidden"), "moved aside");
    WriteFile(dir / io::AsideNameFor("taken"), "moved aside too");
    WriteFile(dir / "taken", "newer file");
    std::string forgedAside = io::AsideNameFor("user");
    forgedAside.back() = forgedAside.back() == 'a' ? 'b' : 'a';
    users.push_back(forgedAside);
    WriteFile(dir / forgedAside, "the user's own file");
    const int held = open((dir / alive).c_str(), O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    WriteFile(dir / "doc", "text");
    ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), dir / "doc", "password", {}).ok());
    EXPECT_FALSE(fs::exists(dir / leftover));
    for (const std::string& name : users)
        EXPECT_EQ(ReadFile(dir / name), "the user's own file") << name;
    EXPECT_EQ(ReadFile(dir / "hidden"), "moved aside");
    EXPECT_EQ(ReadFile(dir / "taken"), "newer file");
    EXPECT_EQ(ReadFile(dir / "taken (restored)"), "moved aside too");
    EXPECT_TRUE(fs::exists(dir / alive));
    EXPECT_TRUE(fs::exists(dir / linked));
    close(held);
}

// Not a seam: real refusals by the kernel. A file size limit makes writes fail
// as a full disk or a quota would; a read-only folder refuses the output. The
// engine and kestrawin-cli each run in a child that keeps the limit or the
// unprivileged user to itself.
class RealWriteFailure : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        (void)SharedKeys();
        WriteFile(dir / "pw", "password\n");
    }
    // kestrawin-cli in a child: its exit status; its standard error in `err`.
    int Cli(const std::vector<std::string>& args, const ChildLimits& limits,
            const fs::path& program = KESTRAWIN_CLI)
    {
        std::vector<std::string> all{args.front(), "--password-file", dir / "pw"};
        all.insert(all.end(), args.begin() + 1, args.end());
        const int status = Wait(SpawnCli(all, dir / "xdg", dir / "stderr", limits, program));
        err = ReadFile(dir / "stderr");
        return status;
    }
    std::string err;
};

namespace {

int NamedTemporariesOnly(DiskStep step, std::uint64_t)
{
    return step == DiskStep::CreateUnnamed ? EOPNOTSUPP : 0;
}

bool RefusedAs(const Result& r, const char* reason)
{
    return r.outcome == Outcome::OutputUnwritable && r.detail.find(reason) != std::string::npos;
}

} // namespace

TEST_F(RealWriteFailure, AFileSizeLimitIsAnUnwritableOutput)
{
    const fs::path work = dir / "work";
    fs::create_directory(work);
    const std::string plain = RandomBytes(200000, 4);
    WriteFile(work / "big", plain);
    ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), work / "big", "password").ok());
    const std::string container = ReadFile(work / "big.ksw");
    const ChildLimits limit{100000};
    using Names = std::vector<std::string>;

    for (bool named : {false, true}) {
        SCOPED_TRACE(named ? "named temporaries" : "unnamed temporaries");
        auto inChild = [&](auto operation) {
            return Wait(Fork(
                [&] {
                    OperationOptions options;
                    if (named) options.diskHook = NamedTemporariesOnly;
                    return RefusedAs(operation(options), "too large") ? 0 : 1;
                },
                limit));
        };
        fs::remove(work / "big.ksw");
        EXPECT_EQ(inChild([&](const OperationOptions& o) {
                      return EncryptSelectedFile(SharedKeys(), work / "big", "password", o);
                  }),
                  0);
        EXPECT_EQ(Listing(work), Names{"big"});
        EXPECT_EQ(ReadFile(work / "big"), plain);

        // Decrypting over an older file of the output's name keeps that file.
        WriteFile(work / "big.ksw", container);
        WriteFile(work / "big", "older file");
        EXPECT_EQ(inChild([&](const OperationOptions& o) {
                      return DecryptSelectedFile(work / "big.ksw", "password", o);
                  }),
                  0);
        EXPECT_EQ(Listing(work), (Names{"big", "big.ksw"}));
        EXPECT_EQ(ReadFile(work / "big"), "older file");
        EXPECT_EQ(ReadFile(work / "big.ksw"), container);
        WriteFile(work / "big", plain);
    }

    // kestrawin-cli: status 3, one line saying why, the input kept.
    fs::remove(work / "big.ksw");
    EXPECT_EQ(Cli({"encrypt", work / "big"}, limit), 3);
    EXPECT_NE(err.find("cannot be written (cannot write: File too large)"), std::string::npos)
        << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
    EXPECT_EQ(Listing(work), Names{"big"});
    EXPECT_EQ(ReadFile(work / "big"), plain);
    fs::remove(work / "big");
    WriteFile(work / "big.ksw", container);
    EXPECT_EQ(Cli({"decrypt", work / "big.ksw"}, limit), 3);
    EXPECT_NE(err.find("File too large"), std::string::npos) << err;
    EXPECT_EQ(Listing(work), Names{"big.ksw"});
    EXPECT_EQ(ReadFile(work / "big.ksw"), container);
}

TEST_F(RealWriteFailure, AReadOnlyFolderIsAnUnwritableOutput)
{
    // Permissions do not stop root: then the children run as "nobody", which
    // must be able to reach the scratch folder and its own key store.
    uid_t uid = 0;
    gid_t gid = 0;
    if (!UnprivilegedIds(&uid, &gid)) GTEST_SKIP() << "root, and no 'nobody' account";
    fs::permissions(dir, fs::perms(0755));
    fs::permissions(dir / "pw", fs::perms(0644));
    fs::create_directories(dir / "xdg");
    GiveToUnprivileged(dir / "xdg");
    const fs::path ro = dir / "ro";
    fs::create_directory(ro);
    WriteFile(ro / "doc", "plain text");
    WriteFile(ro / "letter", "another plain text");
    ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), ro / "letter", "password").ok());
    fs::remove(ro / "letter");
    const std::string container = ReadFile(ro / "letter.ksw");
    GiveToUnprivileged(ro);
    fs::permissions(ro, fs::perms(0555));
    struct Restore {
        fs::path path;
        ~Restore() { fs::permissions(path, fs::perms::owner_all, fs::perm_options::add); }
    } restore{ro};
    const auto before = Listing(ro);
    const ChildLimits unprivileged{RLIM_INFINITY, true};

    const int engine = Wait(Fork(
        [&] {
            if (access((ro / "doc").c_str(), R_OK) != 0) return 77;
            const bool encrypt = RefusedAs(
                EncryptSelectedFile(SharedKeys(), ro / "doc", "password"), "Permission denied");
            const bool decrypt =
                RefusedAs(DecryptSelectedFile(ro / "letter.ksw", "password"), "Permission denied");
            return encrypt && decrypt ? 0 : 1;
        },
        unprivileged));
    if (engine == kCannotApplyLimits) GTEST_SKIP() << "cannot switch to the unprivileged user";
    if (engine == 77) GTEST_SKIP() << dir << " is out of reach of the unprivileged user";
    EXPECT_EQ(engine, 0);
    EXPECT_EQ(Listing(ro), before);

    // A copy of the tool that the unprivileged user surely may run, wherever the build is.
    const fs::path program = dir / "kestrawin-cli";
    fs::copy_file(KESTRAWIN_CLI, program);
    fs::permissions(program, fs::perms(0755));
    EXPECT_EQ(Cli({"encrypt", ro / "doc"}, unprivileged, program), 3);
    EXPECT_NE(err.find("cannot be written"), std::string::npos) << err;
    EXPECT_EQ(Cli({"decrypt", ro / "letter.ksw"}, unprivileged, program), 3);
    EXPECT_NE(err.find("cannot be written"), std::string::npos) << err;
    EXPECT_EQ(Listing(ro), before);
    EXPECT_EQ(ReadFile(ro / "doc"), "plain text");
    EXPECT_EQ(ReadFile(ro / "letter.ksw"), container);
}
