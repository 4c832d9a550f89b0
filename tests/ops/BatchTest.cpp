// SPDX-License-Identifier: Apache-2.0
// Several files with one password: each file on its own, side by side, in
// bounded memory; and a batch ended abruptly leaves each file whole.

#include "Fixtures.h"

#include "ops/Batch.h"

#include <algorithm>
#include <functional>
#include <map>
#include <stdexcept>

using namespace kestrawin;
using namespace kestrawin::ops;

using namespace kwtest;

namespace {

constexpr const char* kPassword = "one for all";

std::vector<std::string> Strings(const std::vector<fs::path>& paths)
{
    std::vector<std::string> strings;
    for (const fs::path& path : paths) strings.push_back(Utf8(path));
    return strings;
}

} // namespace

class Batch : public ScratchTest {};

TEST_F(Batch, EachFileEndsOnItsOwnAndOneFailureStopsNoOther)
{
    const std::string a = RandomBytes(300000, 1), c = RandomBytes(5, 2);
    WriteFile(dir / "a.txt", a);
    WriteFile(dir / "c.txt", c);
    WriteFile(dir / "old.ksw", "already a container, or so it says");
    fs::create_directory(dir / "folder");
    // A link, where the system makes them (Wine does not).
    const bool link = CreateSymlink(dir / "c.txt", dir / "link");
    std::vector<fs::path> paths = {dir / "a.txt",   dir / "folder", dir / "missing.txt",
                                   dir / "old.ksw", dir / "link",   dir / "c.txt",
                                   dir / "a.txt"};
    std::vector<Outcome> expected = {Outcome::Success,        Outcome::NotRegularFile,
                                     Outcome::InputMissing,   Outcome::AlreadyEncrypted,
                                     Outcome::NotRegularFile, Outcome::Success,
                                     Outcome::Success};
    if (!link) {
        paths.erase(paths.begin() + 4);
        expected.erase(expected.begin() + 4);
    }
    const std::size_t cAt = link ? 5 : 4; // where c.txt is, the repeated a.txt after it

    std::vector<std::pair<std::uint64_t, std::uint64_t>> seen;
    BatchOptions options;
    options.progress = [&](std::uint64_t done, std::uint64_t total) {
        seen.emplace_back(done, total);
    };
    const auto outcomes =
        RunBatch(Direction::Encrypt, SharedKeys(), Strings(paths), kPassword, options);

    ASSERT_EQ(outcomes.size(), paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(outcomes[i].result.outcome, expected[i])
            << paths[i] << ": " << outcomes[i].result.detail;
        EXPECT_EQ(outcomes[i].path, Utf8(paths[i]));
    }
    EXPECT_EQ(OutcomeReason(Outcome::AlreadyEncrypted), "this file is encrypted");
    // The failures left everything of theirs as it was; the others are done.
    std::vector<std::string> left{"a.txt.ksw", "c.txt.ksw", "folder", "link", "old.ksw"};
    if (!link) left.erase(left.begin() + 3);
    EXPECT_EQ(Listing(dir), left);
    EXPECT_EQ(ReadFile(dir / "old.ksw"), "already a container, or so it says");
    EXPECT_TRUE(outcomes[0].inputRemoved && outcomes[cAt].inputRemoved);
    ASSERT_TRUE(DecryptSelectedFile(dir / "a.txt.ksw", kPassword).ok());
    EXPECT_EQ(ReadFile(dir / "a.txt"), a);

    // One bar over all bytes: from 0 to the sum of the files worked on.
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), std::make_pair(std::uint64_t{0}, std::uint64_t{300005}));
    EXPECT_EQ(seen.back(), std::make_pair(std::uint64_t{300005}, std::uint64_t{300005}));
    for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_LE(seen[i - 1].first, seen[i].first);

    // Files, not paths: a.txt counts once. The container left as it was is
    // no failure.
    EXPECT_TRUE(outcomes[cAt + 1].repeated && !outcomes[0].repeated);
    const BatchSummary summary = Summarize(outcomes);
    EXPECT_EQ(summary.total, link ? 6u : 5u);
    EXPECT_EQ(summary.succeeded, 2u);
    EXPECT_EQ(summary.skipped, 1u);
    ASSERT_NE(summary.firstFailure, nullptr);
    EXPECT_EQ(summary.firstFailure->path, (dir / "folder").string());
    const BatchSummary onlySkipped = Summarize({outcomes[3], outcomes[0]});
    EXPECT_EQ(onlySkipped.firstFailure, nullptr);
    EXPECT_EQ(onlySkipped.skipped, 1u);
}

// The batch knows every input and output before it starts: a file whose
// result would replace another file chosen with it, or that file's result,
// fails alone and names it. Only an earlier input that is gone by then (as
// one by one) may be replaced.
TEST_F(Batch, OneFilesResultNeverReplacesAnotherChosenFile)
{
    auto sealed = [&](const std::string& plain, const char* password) {
        const Path scratch = dir / "sealing";
        fs::create_directories(scratch);
        WriteFile(scratch / "f", plain);
        EXPECT_TRUE(EncryptSelectedFile(SharedKeys(), scratch / "f", password).ok());
        std::string bytes = ReadFile(scratch / "f.ksw");
        fs::remove_all(scratch);
        return bytes;
    };
    const std::string p1 = "first plain text", p2 = "second plain text";
    const std::string c1 = sealed(p1, kPassword), c2 = sealed(p2, kPassword);
    const std::string cc2 = sealed(c2, kPassword), other = sealed(p1, "another password");
    using Files = std::map<std::string, std::string>;
    struct Row {
        const char* what;
        Direction direction;
        bool keep;
        Files before;
        std::vector<std::string> paths;
        std::vector<Outcome> outcomes;
        const char* named; // by the file that fails
        Files after;       // everything there is afterwards
    };
    const Direction D = Direction::Decrypt, E = Direction::Encrypt;
    const Outcome ok = Outcome::Success, clash = Outcome::OutputClash;
    const Row rows[] = {
        {"two containers, one output",
         D,
         false,
         {{"x.ksw", c1}, {"x.bak", c2}},
         {"x.ksw", "x.bak"},
         {ok, clash},
         "x.ksw",
         {{"x", p1}, {"x.bak", c2}}},
        {"an output on a later input",
         D,
         false,
         {{"a.ksw.ksw", cc2}, {"a.ksw", c1}},
         {"a.ksw.ksw", "a.ksw"},
         {clash, ok},
         "a.ksw",
         {{"a", p1}, {"a.ksw.ksw", cc2}}},
        {"a plain file named like a container",
         E,
         false,
         {{"a", p1}, {"a.ksw", p2}},
         {"a", "a.ksw"},
         {clash, Outcome::AlreadyEncrypted},
         "a.ksw",
         {{"a", p1}, {"a.ksw", p2}}},
        {"the same the other way round",
         E,
         false,
         {{"a", p1}, {"a.ksw", p2}},
         {"a.ksw", "a"},
         {Outcome::AlreadyEncrypted, clash},
         "a.ksw",
         {{"a", p1}, {"a.ksw", p2}}},
        {"an earlier input kept",
         D,
         true,
         {{"q.ksw", c1}, {"q.ksw.ksw", cc2}},
         {"q.ksw", "q.ksw.ksw"},
         {ok, clash},
         "q.ksw",
         {{"q", p1}, {"q.ksw", c1}, {"q.ksw.ksw", cc2}}},
        {"an earlier input that failed",
         D,
         false,
         {{"q.ksw", other}, {"q.ksw.ksw", cc2}},
         {"q.ksw", "q.ksw.ksw"},
         {Outcome::WrongPassword, clash},
         "q.ksw",
         {{"q.ksw", other}, {"q.ksw.ksw", cc2}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(dir);
        fs::create_directories(dir);
        for (const auto& [name, bytes] : row.before) WriteFile(dir / name, bytes);
        std::vector<std::string> paths;
        for (const std::string& p : row.paths) paths.push_back(dir / p);
        BatchOptions options;
        options.keepInputs = row.keep;
        const auto outcomes = RunBatch(row.direction, SharedKeys(), paths, kPassword, options);
        for (std::size_t i = 0; i < paths.size(); ++i) {
            EXPECT_EQ(outcomes[i].result.outcome, row.outcomes[i]) << row.paths[i];
            if (outcomes[i].result.outcome == clash) {
                EXPECT_NE(outcomes[i].result.detail.find((dir / row.named).string()),
                          std::string::npos)
                    << outcomes[i].result.detail;
            }
        }
        std::vector<std::string> names;
        for (const auto& [name, bytes] : row.after) {
            names.push_back(name);
            EXPECT_TRUE(ReadFile(dir / name) == bytes) << name;
        }
        EXPECT_EQ(Listing(dir), names);
    }
}

// What escapes an operation is named for what it is, and the batch goes on.
TEST_F(Batch, AFailureNobodyExpectedIsNamedForWhatItIs)
{
    struct Row {
        std::function<void()> thrown;
        Outcome outcome;
        const char* detail;
    };
    const Row rows[] = {
        {[] { throw std::bad_alloc(); }, Outcome::OutOfMemory, ""},
        {[] { throw std::runtime_error("a broken promise"); }, Outcome::InternalError,
         "a broken promise"},
        {[] { throw 42; }, Outcome::InternalError, ""},
    };
    WriteFile(dir / "a", "text");
    for (const Row& row : rows) {
        BatchOptions options;
        options.diskHook = [&](io::DiskStep step, std::uint64_t) {
            if (step == io::DiskStep::CreateUnnamed || step == io::DiskStep::Create) row.thrown();
            return 0;
        };
        const auto outcomes =
            RunBatch(Direction::Encrypt, SharedKeys(), {dir / "a"}, kPassword, options);
        EXPECT_EQ(outcomes[0].result.outcome, row.outcome) << DescribeResult(outcomes[0].result);
        EXPECT_EQ(outcomes[0].result.detail, row.detail);
        EXPECT_EQ(Listing(dir), std::vector<std::string>{"a"});
    }
    EXPECT_EQ(OutcomeReason(Outcome::OutOfMemory), "there is not enough memory");
}

TEST_F(Batch, OneContainerWithAnotherPasswordFailsAlone)
{
    std::map<std::string, std::string> plain;
    for (int i = 0; i < 4; ++i) {
        const std::string name = "f" + std::to_string(i);
        plain[name] = RandomBytes(100000 + i, 10 + i);
        WriteFile(dir / name, plain[name]);
        ASSERT_TRUE(
            EncryptSelectedFile(SharedKeys(), dir / name, i == 2 ? "another one" : kPassword).ok());
        fs::remove(dir / name);
    }
    const std::vector<fs::path> paths = {dir / "f0.ksw", dir / "f1.ksw", dir / "f2.ksw",
                                         dir / "f3.ksw"};
    const auto outcomes = RunBatch(Direction::Decrypt, SharedKeys(), Strings(paths), kPassword);
    for (int i = 0; i < 4; ++i) {
        const std::string name = "f" + std::to_string(i);
        if (i == 2) {
            EXPECT_EQ(outcomes[i].result.outcome, Outcome::WrongPassword);
            EXPECT_TRUE(fs::exists(dir / "f2.ksw"));
            EXPECT_FALSE(fs::exists(dir / "f2"));
        } else {
            EXPECT_TRUE(outcomes[i].ok()) << DescribeResult(outcomes[i].result);
            EXPECT_EQ(ReadFile(dir / name), plain[name]);
            EXPECT_FALSE(fs::exists(dir / (name + ".ksw")));
        }
    }
}

// When one file's output is another's input, running them at once could read
// a file while it is replaced, or delete the wrong one. Given first, the file
// whose input is replaced runs first, as one by one; given last, it would read
// what the other wrote, so the other fails and q.ksw keeps its contents.
TEST_F(Batch, FilesThatFeedEachOtherRunInTheOrderGiven)
{
    const std::string big = RandomBytes(3000000, 5), small = RandomBytes(1000, 6);
    for (const bool reverse : {false, true})
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(reverse ? "q.ksw.ksw first" : "q.ksw first");
            // q.ksw: a large container. q.ksw.ksw: a small one that holds another
            // container, which decrypting it puts under the name q.ksw.
            WriteFile(dir / "q", big);
            ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), dir / "q", kPassword).ok());
            WriteFile(dir / "inner", small);
            ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), dir / "inner", kPassword).ok());
            const std::string inner = ReadFile(dir / "inner.ksw");
            ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), dir / "inner.ksw", kPassword).ok());
            fs::rename(dir / "inner.ksw.ksw", dir / "q.ksw.ksw");
            const std::string outer = ReadFile(dir / "q.ksw.ksw");
            fs::remove(dir / "inner");
            fs::remove(dir / "inner.ksw");
            fs::remove(dir / "q");

            std::vector<std::string> paths = {dir / "q.ksw", dir / "q.ksw.ksw"};
            if (reverse) std::swap(paths[0], paths[1]);
            const auto outcomes = RunBatch(Direction::Decrypt, SharedKeys(), paths, kPassword);
            EXPECT_TRUE(ReadFile(dir / "q") == big) << "q.ksw's contents were lost";
            if (!reverse) {
                EXPECT_TRUE(outcomes[0].ok() && outcomes[1].ok());
                EXPECT_TRUE(outcomes[0].inputRemoved && outcomes[1].inputRemoved);
                // First q.ksw became q; then q.ksw.ksw became a new q.ksw.
                EXPECT_TRUE(ReadFile(dir / "q.ksw") == inner) << "the second output was lost";
                EXPECT_EQ(Listing(dir), (std::vector<std::string>{"q", "q.ksw"}));
            } else {
                EXPECT_EQ(outcomes[0].result.outcome, Outcome::OutputClash);
                EXPECT_TRUE(outcomes[1].ok());
                EXPECT_TRUE(ReadFile(dir / "q.ksw.ksw") == outer);
                EXPECT_EQ(Listing(dir), (std::vector<std::string>{"q", "q.ksw.ksw"}));
            }
            for (const std::string& name : Listing(dir)) fs::remove(dir / name);
        }
}

TEST_F(Batch, StoppedBeforeItStartsChangesNothing)
{
    WriteFile(dir / "a", "aaa");
    WriteFile(dir / "b", "bbb");
    std::atomic<bool> cancel{true};
    BatchOptions options;
    options.cancel = &cancel;
    const auto outcomes =
        RunBatch(Direction::Encrypt, SharedKeys(), {dir / "a", dir / "b"}, kPassword, options);
    for (const FileOutcome& o : outcomes) EXPECT_EQ(o.result.outcome, Outcome::Cancelled);
    EXPECT_EQ(Listing(dir), (std::vector<std::string>{"a", "b"}));
}

TEST(BatchPlan, UsesEveryProcessorWithinTheMemoryBudget)
{
    const BatchOptions options;
    for (unsigned processors : {1u, 2u, 3u, 4u, 8u, 16u, 64u, 256u, 1024u})
        for (std::size_t files : {1u, 2u, 3u, 8u, 100u, 100000u}) {
            const BatchPlan plan = PlanBatch(files, processors, options);
            SCOPED_TRACE(std::to_string(processors) + " processors, " + std::to_string(files)
                         + " files");
            // Eight chunk buffers per stream, plus a block each.
            EXPECT_LE(plan.parallel * 8 * (plan.chunkSize + 8),
                      options.memoryBudget + 8 * 1024 * plan.parallel);
            EXPECT_LE(plan.parallel * 8 * plan.chunkSize, options.memoryBudget);
            EXPECT_EQ(plan.chunkSize % 8, 0u);
            EXPECT_GE(plan.chunkSize, 64u * 1024);
            EXPECT_LE(plan.parallel, std::min<std::size_t>(processors, files));
            EXPECT_GE(plan.parallel, std::min<std::size_t>({processors, files, 80}));
            EXPECT_GE(plan.decryptThreads, 1u);
            EXPECT_LE(plan.decryptThreads * plan.parallel, std::max(processors, plan.parallel));
        }
    EXPECT_EQ(PlanBatch(1, 2, options).chunkSize, std::size_t{1} << 20); // one file: as before
}
