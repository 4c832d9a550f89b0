// SPDX-License-Identifier: Apache-2.0
// Batches on Linux: paths known by where links and ".." lead, and a batch
// killed at a random moment.

#include "Child.h"

#include "ops/Batch.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

using namespace kestrawin;
using namespace kestrawin::ops;

using namespace kwtest;

namespace {

constexpr const char* kPassword = "one for all";

} // namespace

class Batch : public ScratchTest {};

// Two paths are one file when the system takes them to the same name in the
// same folder, however they are spelled: ".." after a link leads to the
// link's target's parent, not back to where the link stands.
TEST_F(Batch, TheSameFileIsKnownByWhereItLeadsNotByItsSpelling)
{
    struct Row {
        const char* what;
        std::vector<std::string> paths;
        std::vector<std::string> encrypted; // of "a" and "other/a"; the other stays plain
        std::size_t files;
    };
    const Row rows[] = {
        {"'..' after a link", {"a", "l/../a"}, {"a", "other/a"}, 2},
        {"one name spelled three ways", {"a", "./a", "other/../a"}, {"a"}, 1},
        {"a folder reached through a link", {"other/a", "m/a"}, {"other/a"}, 1},
        {"a link to the file is not the file", {"a", "link"}, {"a"}, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(dir);
        fs::create_directories(dir / "other/sub");
        WriteFile(dir / "a", "here");
        WriteFile(dir / "other/a", "over there");
        fs::create_directory_symlink("other/sub", dir / "l");
        fs::create_directory_symlink("other", dir / "m");
        fs::create_symlink("a", dir / "link");
        std::vector<std::string> paths;
        for (const std::string& p : row.paths) paths.push_back(dir / p);

        const auto outcomes = RunBatch(Direction::Encrypt, SharedKeys(), paths, kPassword);
        for (const char* name : {"a", "other/a"}) {
            const bool done =
                std::find(row.encrypted.begin(), row.encrypted.end(), name) != row.encrypted.end();
            EXPECT_EQ(fs::exists(dir / name), !done) << name;
            EXPECT_EQ(fs::exists(dir / (std::string(name) + ".ksw")), done) << name;
        }
        EXPECT_EQ(Summarize(outcomes).total, row.files);
        for (std::size_t i = 1; i < outcomes.size(); ++i)
            EXPECT_EQ(outcomes[i].repeated, row.files == 1) << row.paths[i];
    }
}

// A batch killed at any moment: every file is either untouched (its output, if
// any, complete) or done (input gone, output complete). Never a partial
// container under a real name, never a file lost.
TEST_F(Batch, KilledAtARandomMomentLeavesEveryFileWhole)
{
    constexpr int kFiles = 6;
    std::vector<std::string> plain(kFiles), container(kFiles);
    const fs::path ref = dir / "reference";
    fs::create_directory(ref);
    for (int i = 0; i < kFiles; ++i) {
        plain[i] = RandomBytes(600000 + 4096 * i, 40 + i);
        WriteFile(ref / "f", plain[i]);
        // The same bytes and keys give the same container: a complete output
        // is known exactly.
        ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), ref / "f", kPassword).ok());
        container[i] = ReadFile(ref / "f.ksw");
        fs::remove(ref / "f.ksw");
    }
    const fs::path work = dir / "work";
    auto prepare = [&] {
        fs::remove_all(work);
        fs::create_directory(work);
        std::vector<std::string> paths;
        for (int i = 0; i < kFiles; ++i) {
            WriteFile(work / ("f" + std::to_string(i)), plain[i]);
            paths.push_back(work / ("f" + std::to_string(i)));
        }
        return paths;
    };
    BatchOptions options;
    options.memoryBudget = 8 * 64 * 1024 * 2; // small chunks: many writes per file

    // How long a whole batch takes here, to spread the kills over it.
    auto paths = prepare();
    const auto start = std::chrono::steady_clock::now();
    (void)RunBatch(Direction::Encrypt, SharedKeys(), paths, kPassword, options);
    const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);

    std::mt19937 random(std::random_device{}());
    int untouched = 0, done = 0;
    for (int round = 0; round < 12; ++round) {
        paths = prepare();
        const auto delay = std::chrono::microseconds(std::uniform_int_distribution<long>(
            0, std::max<long>(1, whole.count() * 5 / 4))(random));
        const pid_t child = Fork([&] {
            (void)RunBatch(Direction::Encrypt, SharedKeys(), paths, kPassword, options);
            return 0;
        });
        ASSERT_GT(child, 0);
        std::this_thread::sleep_for(delay);
        kill(child, SIGKILL);
        (void)Wait(child);

        for (int i = 0; i < kFiles; ++i) {
            const fs::path input = work / ("f" + std::to_string(i));
            const fs::path output = work / ("f" + std::to_string(i) + ".ksw");
            SCOPED_TRACE("round " + std::to_string(round) + ", file " + std::to_string(i));
            if (fs::exists(output)) {
                EXPECT_EQ(ReadFile(output), container[i]);
            }
            if (fs::exists(input)) {
                EXPECT_EQ(ReadFile(input), plain[i]);
                ++untouched;
            } else {
                ASSERT_TRUE(fs::exists(output)) << "file lost";
                ++done;
            }
        }
        for (const std::string& name : Listing(work))
            if (name.find(".kwtmp-") == std::string::npos) {
                EXPECT_TRUE(name[0] == 'f' && name.size() <= 6) << name;
            }
    }
    std::printf("killed batches: %d files untouched, %d done\n", untouched, done);
}
