// Write failures at every step that touches the disk leave the input intact
// and nothing partial under a real name.

#include "Fixtures.h"

#include "crypto/SafeFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

using namespace kestrawin;
using namespace kwtest;
using io::DiskStep;

namespace {

struct Fault {
    DiskStep step;
    std::uint64_t afterBytes; // for Write: fail once this many bytes are written
    bool namedTemporaries;    // as on filesystems without unnamed files
    const char* label;
};

struct HookState {
    Fault fault;
    bool fired = false;
};

int FailingHook(DiskStep step, std::uint64_t bytes, void* user)
{
    auto* state = static_cast<HookState*>(user);
    if (step == DiskStep::CreateUnnamed && state->fault.namedTemporaries) return EOPNOTSUPP;
    if (step != state->fault.step || state->fired) return 0;
    if (step == DiskStep::Write && bytes < state->fault.afterBytes) return 0;
    state->fired = true;
    return step == DiskStep::Write ? ENOSPC : EIO;
}

void PrintTo(const Fault& fault, std::ostream* os)
{
    *os << fault.label;
}

const Fault kFaults[] = {
    {DiskStep::CreateUnnamed, 0, false, "CreateUnnamed"},
    {DiskStep::Create, 0, true, "CreateNamed"},
    {DiskStep::Write, 0, false, "FirstWrite"},
    {DiskStep::Write, 300000, false, "WriteAfter300k"},
    {DiskStep::Write, 300000, true, "WriteAfter300kNamed"},
    {DiskStep::Flush, 0, false, "Flush"},
    {DiskStep::Flush, 0, true, "FlushNamed"},
    {DiskStep::Link, 0, false, "Link"},
    {DiskStep::Rename, 0, false, "Rename"},
    {DiskStep::Rename, 0, true, "RenameNamed"},
    {DiskStep::DirFlush, 0, false, "DirFlush"},
};

} // namespace

class WriteFault : public ScratchTest, public ::testing::WithParamInterface<Fault> {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        (void)SharedKeys(); // made before any fault is armed
    }
};

TEST_P(WriteFault, LeavesInputAndOldOutputAsTheyWere)
{
    const Fault fault = GetParam();
    const std::string plain = RandomBytes(700000, 11);
    for (bool outputExists : {false, true}) {
        SCOPED_TRACE(outputExists ? "output existed" : "no output before");
        fs::remove_all(dir);
        fs::create_directories(dir);
        // Encrypting.
        WriteFile(dir / "data", plain);
        if (outputExists) WriteFile(dir / "data.ksw", "old container");
        HookState state{fault};
        io::SetDiskHook(FailingHook, &state);
        Result r = EncryptSelectedFile(SharedKeys(), dir / "data", "password", {});
        io::SetDiskHook(nullptr);
        const bool placed = fault.step == DiskStep::DirFlush; // complete, but not known durable
        if (state.fired) {
            EXPECT_EQ(r.outcome, Outcome::OutputUnwritable) << DescribeResult(r);
        } else {
            // A step this path never takes (a rename when the name was free).
            EXPECT_TRUE(r.ok());
        }
        EXPECT_EQ(ReadFile(dir / "data"), plain);
        using Names = std::vector<std::string>;
        if (state.fired && !placed) {
            EXPECT_EQ(Listing(dir), (outputExists ? Names{"data", "data.ksw"} : Names{"data"}));
            if (outputExists) {
                EXPECT_EQ(ReadFile(dir / "data.ksw"), "old container");
            }
        }

        // Decrypting a good container.
        fs::remove(dir / "data.ksw");
        ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), dir / "data", "password", {}).ok());
        const std::string container = ReadFile(dir / "data.ksw");
        if (outputExists) WriteFile(dir / "data", "old plain");
        else fs::remove(dir / "data");
        state = HookState{fault};
        io::SetDiskHook(FailingHook, &state);
        r = DecryptSelectedFile(dir / "data.ksw", "password");
        io::SetDiskHook(nullptr);
        if (state.fired) {
            EXPECT_EQ(r.outcome, Outcome::OutputUnwritable);
        }
        EXPECT_EQ(DecryptSucceeded.load(), !state.fired);
        EXPECT_EQ(ReadFile(dir / "data.ksw"), container);
        if (state.fired && !placed) {
            EXPECT_EQ(Listing(dir), (outputExists ? Names{"data", "data.ksw"} : Names{"data.ksw"}));
            if (outputExists) {
                EXPECT_EQ(ReadFile(dir / "data"), "old plain");
            }
        } else {
            EXPECT_EQ(ReadFile(dir / "data"), plain);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Steps, WriteFault, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(ScratchTest, LeftoverTemporariesAreRemovedUnlessSomeoneHoldsThem)
{
    WriteFile(dir / ".doc.kwtmp-AbC123", "left by a killed run");
    WriteFile(dir / ".other.kwtmp-zzzzzz", "being written right now");
    WriteFile(dir / ".doc.kwtmp-short", "not our naming");
    const int held = open((dir / ".other.kwtmp-zzzzzz").c_str(), O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    WriteFile(dir / "doc", "text");
    ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), dir / "doc", "password", {}).ok());
    EXPECT_EQ(Listing(dir), (std::vector<std::string>{".doc.kwtmp-short", ".other.kwtmp-zzzzzz",
                                                      "doc", "doc.ksw"}));
    close(held);
}

TEST_F(ScratchTest, RemovingTheInputIsReportedWhenItFails)
{
    WriteFile(dir / "a", "x");
    HookState state{{DiskStep::Remove, 0, false, ""}};
    io::SetDiskHook(FailingHook, &state);
    EXPECT_FALSE(RemoveInputFile(dir / "a").ok());
    io::SetDiskHook(nullptr);
    EXPECT_TRUE(fs::exists(dir / "a"));
    EXPECT_TRUE(RemoveInputFile(dir / "a").ok());
    EXPECT_FALSE(fs::exists(dir / "a"));
}

// Not a seam: the kernel refuses writes past a file size limit (as it does
// on a full disk). Run in a child so the limit stays there.
TEST_F(ScratchTest, AFileSizeLimitIsAnUnwritableOutput)
{
    const std::string plain = RandomBytes(200000, 4);
    WriteFile(dir / "big", plain);
    (void)SharedKeys();
    const pid_t child = fork();
    if (child == 0) {
        rlimit limit{100000, 100000};
        setrlimit(RLIMIT_FSIZE, &limit);
        const Result r = EncryptSelectedFile(SharedKeys(), dir / "big", "password", {});
        _exit(r.outcome == Outcome::OutputUnwritable && r.detail.find("too large") != std::string::npos ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Listing(dir), std::vector<std::string>{"big"});
    EXPECT_EQ(ReadFile(dir / "big"), plain);
}
