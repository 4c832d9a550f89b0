// SPDX-License-Identifier: Apache-2.0
// An operation ended abruptly at any moment leaves either its input intact or
// its output complete and the input gone, and never a partial file under a
// real name. The operation is run as the program runs it: encryption or
// decryption, then deletion of the input on success.
//
// What becomes of a temporary file after a kill: an unnamed one (O_TMPFILE)
// has no name and vanishes with the process. A named one, ".<name>.kwtmp-XXXXXX",
// exists only on filesystems without unnamed files, or for the instant between
// naming a finished output and renaming it over an existing file of the
// output's name; it is readable by its owner only until it is complete, and it
// stays until the next output is written in that folder, which removes it
// because the lock its writer held died with the writer.

#include "Child.h"

#include "io/SafeFile.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <set>
#include <thread>

using namespace kestrawin;
using namespace kestrawin::ops;
using namespace kwtest;
using io::DiskStep;

namespace {

constexpr const char* kPassword = "kill me softly";

const char* StepName(DiskStep step)
{
    switch (step) {
    case DiskStep::CreateUnnamed: return "CreateUnnamed";
    case DiskStep::Create: return "Create";
    case DiskStep::Write: return "Write";
    case DiskStep::Flush: return "Flush";
    case DiskStep::Link: return "Link";
    case DiskStep::Rename: return "Rename";
    case DiskStep::DirFlush: return "DirFlush";
    case DiskStep::Remove: return "Remove";
    case DiskStep::Permissions: return "Permissions";
    case DiskStep::MoveAside: return "MoveAside";
    case DiskStep::PutBack: return "PutBack";
    case DiskStep::Attributes: return "Attributes";
    }
    return "?";
}

bool UnnamedFilesWork(const fs::path& folder)
{
    const int fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    close(fd);
    return true;
}

std::vector<std::string> Leftovers(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const std::string& name : Listing(folder))
        if (name.find(".kwtmp-") != std::string::npos) names.push_back(name);
    return names;
}

// Inputs moved aside for their removal: hidden under ".<name>.kwdel-...".
std::vector<std::string> Hidden(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const std::string& name : Listing(folder))
        if (name.find(".kwdel-") != std::string::npos) names.push_back(name);
    return names;
}

// In the child: counts the disk steps and dies by SIGKILL just before the
// chosen one, after telling the parent which kind of step it was.
struct KillPlan {
    int killBefore;
    bool namedTemporaries; // unnamed files refused, as on filesystems without them
    int reportFd;
    std::atomic<int> steps{0};
};

int KillingHook(DiskStep step, KillPlan* plan)
{
    if (++plan->steps == plan->killBefore) {
        const auto code = static_cast<std::uint8_t>(step);
        if (write(plan->reportFd, &code, 1) != 1) _exit(120);
        raise(SIGKILL);
    }
    return step == DiskStep::CreateUnnamed && plan->namedTemporaries ? EOPNOTSUPP : 0;
}

struct Scenario {
    bool decrypt;
    bool namedTemporaries;
    bool outputExisted;
    const char* label;
};

void PrintTo(const Scenario& s, std::ostream* os)
{
    *os << s.label;
}

const Scenario kScenarios[] = {
    {false, false, false, "Encrypt"},
    {false, false, true, "EncryptOverOldContainer"},
    {false, true, false, "EncryptNamedTemporary"},
    {false, true, true, "EncryptNamedTemporaryOverOldContainer"},
    {true, false, false, "Decrypt"},
    {true, false, true, "DecryptOverOldFile"},
    {true, true, false, "DecryptNamedTemporary"},
    {true, true, true, "DecryptNamedTemporaryOverOldFile"},
};

} // namespace

class KilledAtEveryStep : public ScratchTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(KilledAtEveryStep, LeavesTheInputOrTheWholeOutput)
{
    const Scenario s = GetParam();
    if (!s.namedTemporaries && !UnnamedFilesWork(dir))
        GTEST_SKIP() << dir << " has no unnamed files; the named cases cover it";

    OperationOptions options;
    options.chunkSize = 64 * 1024; // several writes per file
    const std::string plain = RandomBytes(300000, 21);
    // Encrypting the same bytes with the same keys gives the same container
    // (the signature is deterministic), so a complete output is known exactly.
    WriteFile(dir / "data", plain);
    ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), dir / "data", kPassword, options).ok());
    const std::string container = ReadFile(dir / "data.ksw");

    const fs::path input = dir / (s.decrypt ? "data.ksw" : "data");
    const fs::path output = dir / (s.decrypt ? "data" : "data.ksw");
    const std::string inputBytes = s.decrypt ? container : plain;
    const std::string outputBytes = s.decrypt ? plain : container;
    const std::string oldOutput = "an older file of the output's name";

    std::set<DiskStep> stepsKilled;
    for (int k = 1;; ++k) {
        ASSERT_LT(k, 100) << "the operation never ran to its end";
        fs::remove_all(dir);
        fs::create_directories(dir);
        WriteFile(input, inputBytes);
        if (s.outputExisted) WriteFile(output, oldOutput);

        int report[2];
        ASSERT_EQ(pipe(report), 0);
        const pid_t pid = Fork([&] {
            close(report[0]);
            KillPlan plan{k, s.namedTemporaries, report[1]};
            OperationOptions killing = options;
            killing.diskHook = [&plan](DiskStep step, std::uint64_t) {
                return KillingHook(step, &plan);
            };
            io::InputFile read;
            const Result r =
                s.decrypt ? DecryptSelectedFile(input, kPassword, killing, &read)
                          : EncryptSelectedFile(SharedKeys(), input, kPassword, killing, &read);
            return r.ok() && RemoveInputFile(read, nullptr, killing.diskHook).ok() ? 0 : 1;
        });
        close(report[1]);
        std::uint8_t code = 0;
        const bool killed = read(report[0], &code, 1) == 1;
        close(report[0]);
        const int status = Wait(pid);

        const auto step = static_cast<DiskStep>(code);
        SCOPED_TRACE(killed ? "killed before step " + std::to_string(k) + ", " + StepName(step)
                            : "ran to its end");
        const bool inputThere = fs::exists(input);
        if (!killed) {
            ASSERT_EQ(status, 0);
            EXPECT_FALSE(inputThere);
            EXPECT_EQ(Listing(dir), std::vector<std::string>{output.filename()});
            EXPECT_EQ(ReadFile(output), outputBytes);
            break;
        }
        ASSERT_EQ(status, 128 + SIGKILL);
        stepsKilled.insert(step);

        // Under the real names: the input as it was, or gone with its output complete;
        // the output absent, as it was before, or complete.
        if (inputThere) {
            EXPECT_EQ(ReadFile(input), inputBytes) << "the input was changed";
        } else {
            EXPECT_EQ(ReadFile(output), outputBytes)
                << "the input is gone without its whole output";
        }
        if (fs::exists(output)) {
            const std::string now = ReadFile(output);
            EXPECT_TRUE(now == outputBytes || (s.outputExisted && now == oldOutput))
                << "a partial output stands under the real name (" << now.size() << " bytes)";
        } else {
            EXPECT_FALSE(s.outputExisted) << "the older file was lost";
        }

        // Nothing else, unless a named temporary was alive at the kill, or
        // the input had been moved aside for its removal.
        const auto leftovers = Leftovers(dir);
        const auto hidden = Hidden(dir);
        for (const std::string& name : Listing(dir))
            EXPECT_TRUE(name == input.filename() || name == output.filename()
                        || std::find(leftovers.begin(), leftovers.end(), name) != leftovers.end()
                        || std::find(hidden.begin(), hidden.end(), name) != hidden.end())
                << name;
        const bool namedTemporaryAlive =
            s.namedTemporaries ? step == DiskStep::Write || step == DiskStep::Permissions
                                     || step == DiskStep::Flush || step == DiskStep::Rename
                               : s.outputExisted && step == DiskStep::Rename;
        EXPECT_EQ(leftovers.size(), namedTemporaryAlive ? 1u : 0u);
        EXPECT_EQ(hidden.size(), step == DiskStep::Remove ? 1u : 0u);
        // The next output written in the folder takes leftovers away and
        // puts an input that was moved aside back under its name.
        ASSERT_TRUE(io::WriteFileAtomically(dir / "next", "x").ok());
        EXPECT_EQ(Leftovers(dir), std::vector<std::string>{});
        EXPECT_EQ(Hidden(dir), std::vector<std::string>{});
        if (!hidden.empty()) {
            EXPECT_TRUE(ReadFile(input) == inputBytes) << "not put back whole";
        }
    }

    // Every kind of step this path takes was interrupted at least once.
    std::set<DiskStep> expected{DiskStep::CreateUnnamed, DiskStep::Write,    DiskStep::Permissions,
                                DiskStep::Flush,         DiskStep::DirFlush, DiskStep::MoveAside,
                                DiskStep::Remove};
    if (s.namedTemporaries) {
        expected.insert({DiskStep::Create, DiskStep::Rename});
    } else {
        expected.insert(DiskStep::Link);
        if (s.outputExisted) expected.insert(DiskStep::Rename);
    }
    EXPECT_EQ(stepsKilled, expected);
}

INSTANTIATE_TEST_SUITE_P(Operations, KilledAtEveryStep, ::testing::ValuesIn(kScenarios),
                         [](const auto& test) { return std::string(test.param.label); });

namespace {

std::string FastRandomBytes(std::size_t n, unsigned stream)
{
    std::mt19937_64 rng(stream);
    std::string s(n, '\0');
    for (std::size_t i = 0; i + 8 <= n; i += 8) {
        const std::uint64_t v = rng();
        std::memcpy(s.data() + i, &v, 8);
    }
    return s;
}

// Equal, or where the first difference is: a broken run fails at once with
// an offset, not with two huge strings printed side by side.
::testing::AssertionResult SameBytes(const std::string& got, const std::string& expected)
{
    const auto diff = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
    if (diff.first == got.end() && diff.second == expected.end())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << got.size() << " bytes where " << expected.size()
           << " were expected; the first difference is at offset " << (diff.first - got.begin());
}

} // namespace

// Real signals at random moments of a 48 MiB run of kestrawin-cli, each way.
class CrashSafety : public ScratchTest {};

TEST_F(CrashSafety, SigkillAtRandomMomentsOfALargeRun)
{
    const std::string plain = FastRandomBytes(48u << 20, 7);
    const fs::path work = dir / "work";
    const fs::path pw = dir / "pw";
    const fs::path err = dir / "stderr";
    WriteFile(pw, std::string(kPassword) + "\n");
    fs::create_directories(work);
    const bool unnamedWork = UnnamedFilesWork(work);
    using Clock = std::chrono::steady_clock;
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin() + 1, {"--password-file", pw});
        return SpawnCli(args, dir / "xdg", err);
    };

    // One whole run each way: the complete outputs, and how long a run lasts.
    WriteFile(work / "data", plain);
    auto start = Clock::now();
    ASSERT_EQ(Wait(run({"encrypt", work / "data"})), 0) << ReadFile(err);
    const auto encryptTime = Clock::now() - start;
    const std::string container = ReadFile(work / "data.ksw");
    constexpr std::size_t kKeyAndSignature = 16 + 148 + 128; // fresh keys at every start
    start = Clock::now();
    ASSERT_EQ(Wait(run({"decrypt", "--keep", work / "data.ksw"})), 0) << ReadFile(err);
    const auto decryptTime = Clock::now() - start;
    ASSERT_TRUE(SameBytes(ReadFile(work / "data"), plain));

    auto completeContainer = [&](const std::string& bytes) {
        return bytes.size() == container.size() && bytes.compare(0, 16, container, 0, 16) == 0
               && bytes.compare(kKeyAndSignature, std::string::npos, container, kKeyAndSignature)
                      == 0;
    };

    const unsigned draw = std::random_device{}();
    std::mt19937 rng(draw);
    std::uniform_real_distribution<double> moment(0.05, 1.0);
    for (int i = 0; i < 6; ++i) {
        const bool decrypt = i % 2 == 1;
        const fs::path input = work / (decrypt ? "data.ksw" : "data");
        const fs::path output = work / (decrypt ? "data" : "data.ksw");
        fs::remove_all(work);
        fs::create_directories(work);
        WriteFile(input, decrypt ? container : plain);
        const auto delay = std::chrono::duration_cast<std::chrono::microseconds>(
            (decrypt ? decryptTime : encryptTime) * moment(rng));
        SCOPED_TRACE(std::string(decrypt ? "decrypt" : "encrypt") + " killed after "
                     + std::to_string(delay.count()) + " us (random draw " + std::to_string(draw)
                     + ")");

        const pid_t pid = run({decrypt ? "decrypt" : "encrypt", input});
        std::this_thread::sleep_for(delay);
        kill(pid, SIGKILL);
        const int status = Wait(pid);
        EXPECT_TRUE(status == 128 + SIGKILL || status == 0) << status << ": " << ReadFile(err);

        const bool inputThere = fs::exists(input);
        if (inputThere) {
            EXPECT_TRUE(SameBytes(ReadFile(input), decrypt ? container : plain))
                << "the input was changed";
        }
        if (fs::exists(output) || !inputThere) {
            const std::string out = ReadFile(output);
            if (decrypt) {
                EXPECT_TRUE(SameBytes(out, plain)) << "a partial output under the real name";
            } else {
                EXPECT_TRUE(completeContainer(out))
                    << "a partial output under the real name (" << out.size() << " bytes)";
            }
        }
        for (const std::string& name : Listing(work)) {
            const bool real = name == input.filename() || name == output.filename();
            EXPECT_TRUE(real || (!unnamedWork && name.find(".kwtmp-") != std::string::npos))
                << name;
        }
    }
}
