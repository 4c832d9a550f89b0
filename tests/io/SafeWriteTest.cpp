// SPDX-License-Identifier: Apache-2.0
// Write failures at every step that touches the disk leave the input intact
// and nothing partial under a real name.

#include "Fixtures.h"

#include "io/SafeFile.h"

#include <cerrno>

using namespace kestrawin;
using namespace kestrawin::ops;
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

int FailingHook(DiskStep step, std::uint64_t bytes, HookState* state)
{
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
        OperationOptions failing;
        failing.diskHook = [&state](DiskStep step, std::uint64_t bytes) {
            return FailingHook(step, bytes, &state);
        };
        Result r = EncryptSelectedFile(SharedKeys(), dir / "data", "password", failing);
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
        if (outputExists)
            WriteFile(dir / "data", "old plain");
        else
            fs::remove(dir / "data");
        const bool firedWhileEncrypting = state.fired;
        state = HookState{fault};
        r = DecryptSelectedFile(dir / "data.ksw", "password", failing);
        EXPECT_EQ(state.fired, firedWhileEncrypting) << "both operations take the same disk steps";
        if (state.fired) {
            EXPECT_EQ(r.outcome, Outcome::OutputUnwritable);
        }
        EXPECT_EQ(r.ok(), !state.fired);
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
                         [](const auto& test) { return std::string(test.param.label); });

class SafeWrite : public ScratchTest {};

TEST_F(SafeWrite, RemovingTheInputIsReportedWhenItFails)
{
    WriteFile(dir / "a", "x");
    io::InputFile read;
    ASSERT_TRUE(read.Open(dir / "a").ok());
    HookState state{{DiskStep::Remove, 0, false, ""}};
    EXPECT_EQ(RemoveInputFile(read, nullptr,
                              [&state](DiskStep step, std::uint64_t bytes) {
                                  return FailingHook(step, bytes, &state);
                              })
                  .outcome,
              Outcome::InputKept);
    EXPECT_TRUE(fs::exists(dir / "a"));
    EXPECT_TRUE(RemoveInputFile(read).ok());
    EXPECT_FALSE(fs::exists(dir / "a"));
}
