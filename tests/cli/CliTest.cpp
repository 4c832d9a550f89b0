// SPDX-License-Identifier: Apache-2.0
// kestrawin-cli's contract: names, deletion and exit statuses. Its words, and
// the statuses that go with them, are in the transcripts (tests/cli/transcripts).

#include "Child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

using namespace kwtest;
using namespace std::chrono_literals;

namespace {

class Cli : public ScratchTest {
protected:
    // Runs the tool in the scratch folder without a controlling terminal.
    int Run(const std::string& args, const std::string& input = "")
    {
        WriteFile(dir / "stdin", input);
        const std::string cmd =
            "cd " + ShellQuote(dir) + " && XDG_DATA_HOME=" + ShellQuote(dir / "xdg") + " " + env
            + " setsid " + ShellQuote(KESTRAWIN_CLI) + " " + args + " <stdin >stdout 2>stderr";
        const int status = std::system(cmd.c_str());
        err = ReadFile(dir / "stderr");
        out = ReadFile(dir / "stdout");
        fs::remove(dir / "stdin");
        fs::remove(dir / "stdout");
        fs::remove(dir / "stderr");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::vector<std::string> Files()
    {
        auto names = Listing(dir);
        names.erase(std::remove(names.begin(), names.end(), "xdg"), names.end());
        return names;
    }
    std::string err, out;
    std::string env; // more variables for the tool, "NAME=value ..."
};

// Runs the tool with the recording library preloaded.
std::string Preloaded(const fs::path& record)
{
    const char* asan = std::getenv("ASAN_OPTIONS");
    return "LD_PRELOAD=" + ShellQuote(KESTRAWIN_RECORDER) + " KW_RECORD=" + ShellQuote(record)
           + " ASAN_OPTIONS="
           + ShellQuote(std::string(asan ? asan : "") + ":verify_asan_link_order=0");
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

int Lines(const std::string& s)
{
    return static_cast<int>(std::count(s.begin(), s.end(), '\n'));
}

} // namespace

TEST_F(Cli, EncryptsAndDecryptsLikeTheWindow)
{
    WriteFile(dir / "report.txt", "quarterly figures");
    EXPECT_EQ(Run("encrypt --password-file - report.txt", "correct horse\r\n"), 0) << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(Files(), std::vector<std::string>{"report.txt.ksw"}); // input deleted
    EXPECT_TRUE(fs::exists(dir / "xdg/kestrawin/Kestrawin Container"));

    EXPECT_EQ(Run("decrypt --keep --password-file=- report.txt.ksw", "correct horse\n"), 0) << err;
    EXPECT_EQ(ReadFile(dir / "report.txt"), "quarterly figures");
    EXPECT_EQ(Files(), (std::vector<std::string>{"report.txt", "report.txt.ksw"}));

    WriteFile(dir / "pw", "correct horse\nsecond line ignored\n");
    EXPECT_EQ(Run("decrypt --password-file pw report.txt.ksw"), 0) << err;
    EXPECT_EQ(Files(), (std::vector<std::string>{"pw", "report.txt"}));
}

TEST_F(Cli, FailuresAndUsageErrorsLeaveTheFilesAsTheyWere)
{
    fs::copy_file(fs::path(KESTRAWIN_VECTORS_DIR) / "v02_one.ksw", dir / "one.ksw");
    WriteFile(dir / "junk.ksw", "not a container at all, just text");
    fs::create_directory(dir / "folder");
    WriteFile(dir / "a", "x");
    const struct {
        const char* args;
        const char* input;
        int status;
    } cases[] = {
        {"decrypt --password-file - one.ksw", "secret\n", 1}, // case matters
        {"decrypt --password-file - junk.ksw", "Secret\n", 2},
        {"encrypt --password-file - missing.txt", "password\n", 3},
        {"encrypt --password-file - folder", "password\n", 3},
        // Usage errors: no terminal to ask on, unknown option and command, empty password.
        {"encrypt a", "", 64},
        {"encrypt --force --password-file - a", "password\n", 64},
        {"scramble a", "", 64},
        {"encrypt --password-file - a", "\n", 64},
    };
    for (const auto& c : cases) EXPECT_EQ(Run(c.args, c.input), c.status) << c.args << ": " << err;
    EXPECT_EQ(Files(), (std::vector<std::string>{"a", "folder", "junk.ksw", "one.ksw"}));
    EXPECT_EQ(ReadFile(dir / "a"), "x");
}

TEST_F(Cli, TheOutputAndItsFolderReachTheDiskBeforeTheInputGoes)
{
    // Watched from outside the process: a flush that is missing cannot be
    // seen from inside, nor by killing the process.
    for (const char* command : {"encrypt", "decrypt"}) {
        SCOPED_TRACE(command);
        const bool encrypt = std::string(command) == "encrypt";
        fs::create_directories(dir / "work");
        if (encrypt) WriteFile(dir / "work" / "in", "to be encrypted");
        const fs::path work = fs::canonical(dir / "work");
        const fs::path input = work / (encrypt ? "in" : "in.ksw");
        const fs::path output = work / (encrypt ? "in.ksw" : "in");
        env = Preloaded(dir / "record");
        ASSERT_EQ(Run(std::string(command) + " --password-file - work/" + input.filename().string(),
                      "password\n"),
                  0)
            << err;
        env.clear();
        const auto lines = SplitLines(ReadFile(dir / "record"));
        fs::remove(dir / "record");
        // Positions of: the output's own flush, its naming, the folder's flush
        // after that, the input moved aside for removal, its removal and the
        // folder's flush after that (without it a crash could bring the
        // plain text back after the user was told it was gone).
        const auto find = [&](std::size_t from, auto pred) {
            for (std::size_t i = from; i < lines.size(); ++i)
                if (pred(lines[i])) return i;
            return lines.size();
        };
        const auto starts = [](const std::string& l, const std::string& p) {
            return l.rfind(p, 0) == 0;
        };
        const std::size_t fileFlush = find(
            0, [&](const std::string& l) { return starts(l, "fsync " + work.string() + "/"); });
        const std::size_t named = find(0, [&](const std::string& l) {
            return (starts(l, "link ") || starts(l, "rename ")) && l.size() > output.string().size()
                   && l.compare(l.size() - output.string().size(), std::string::npos,
                                output.string())
                          == 0;
        });
        const std::size_t folderFlush =
            find(named, [&](const std::string& l) { return l == "fsync " + work.string(); });
        const std::size_t inputAside = find(
            0, [&](const std::string& l) { return starts(l, "rename " + input.string() + " "); });
        const std::size_t removed = find(inputAside, [&](const std::string& l) {
            return starts(l,
                          "unlink " + work.string() + "/." + input.filename().string() + ".kwdel-");
        });
        const std::size_t lastFlush =
            find(removed, [&](const std::string& l) { return l == "fsync " + work.string(); });
        std::string all;
        for (const auto& l : lines) all += l + "\n";
        SCOPED_TRACE(all);
        EXPECT_LT(fileFlush, named);
        EXPECT_LT(named, folderFlush);
        EXPECT_LT(folderFlush, inputAside);
        EXPECT_LT(inputAside, removed);
        EXPECT_LT(removed, lastFlush);
        EXPECT_LT(lastFlush, lines.size());
        EXPECT_FALSE(fs::exists(input));
        fs::remove_all(dir / "work");
        if (encrypt) {
            fs::create_directories(dir / "work");
            WriteFile(dir / "work" / "in", "to be encrypted");
            ASSERT_EQ(Run("encrypt --password-file - work/in", "password\n"), 0);
        }
    }
}

TEST_F(Cli, AnInputWrittenToOrHeldForWritingIsKeptWithStatusFour)
{
    // Written to while the output is flushed; or held open for writing by
    // another program from before the start (written to after the end).
    for (const bool held : {false, true}) {
        SCOPED_TRACE(held ? "held open for writing" : "written to during the flush");
        WriteFile(dir / "in", "first line\n");
        int writer = -1;
        if (held) {
            writer = open((dir / "in").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        } else {
            env = Preloaded(dir / "record")
                  + " KW_APPEND_ON_FLUSH=" + ShellQuote(fs::canonical(dir) / "in");
        }
        EXPECT_EQ(Run("encrypt --password-file - in", "password\n"), 4);
        env.clear();
        fs::remove(dir / "record");
        if (writer >= 0) {
            EXPECT_EQ(write(writer, "written during the flush\n", 25), 25);
            close(writer);
        }
        EXPECT_EQ(Lines(err), 1);
        EXPECT_NE(err.find("'in'"), std::string::npos) << err;
        EXPECT_NE(err.find(held ? "was open for writing in another program and was kept"
                                : "changed during the work and was kept"),
                  std::string::npos)
            << err;
        EXPECT_EQ(ReadFile(dir / "in"), "first line\nwritten during the flush\n");
        EXPECT_TRUE(fs::exists(dir / "in.ksw"));
        fs::remove(dir / "in.ksw");
    }
}

TEST_F(Cli, OtherNamesOfTheInputAreMentioned)
{
    WriteFile(dir / "a", "shared");
    fs::create_hard_link(dir / "a", dir / "b");
    fs::create_hard_link(dir / "a", dir / "c");
    EXPECT_EQ(Run("encrypt --password-file - a", "password\n"), 0) << err;
    EXPECT_EQ(Lines(err), 1);
    EXPECT_NE(err.find("2 other names"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir / "a"));
}

TEST_F(Cli, SeveralPathsOnePasswordEachFailureNamedFirstFailureSetsTheStatus)
{
    WriteFile(dir / "a.txt", "alpha");
    WriteFile(dir / "b.txt", "bravo");
    WriteFile(dir / "old.ksw", "some container");
    fs::create_directory(dir / "folder");
    // Statuses by argument order: missing (3) comes before a wrong password.
    EXPECT_EQ(
        Run("encrypt --password-file - a.txt missing.txt folder old.ksw b.txt", "one password\n"),
        3);
    EXPECT_EQ(Lines(err), 3) << err;
    EXPECT_NE(err.find("'missing.txt': the file does not exist"), std::string::npos) << err;
    EXPECT_NE(err.find("'folder': this is not a regular file"), std::string::npos) << err;
    EXPECT_NE(err.find("skipped 'old.ksw': this file is encrypted"), std::string::npos) << err;
    EXPECT_EQ(Files(), (std::vector<std::string>{"a.txt.ksw", "b.txt.ksw", "folder", "old.ksw"}));

    // Decrypting with one password: the container made with another fails
    // alone, and its status is the first failure's.
    WriteFile(dir / "c.txt", "charlie");
    EXPECT_EQ(Run("encrypt --password-file - c.txt", "other password\n"), 0) << err;
    EXPECT_EQ(Run("decrypt --password-file - a.txt.ksw c.txt.ksw b.txt.ksw", "one password\n"), 1);
    EXPECT_EQ(Lines(err), 1) << err;
    EXPECT_NE(err.find("'c.txt.ksw': the password is wrong"), std::string::npos) << err;
    EXPECT_EQ(ReadFile(dir / "a.txt"), "alpha");
    EXPECT_EQ(ReadFile(dir / "b.txt"), "bravo");
    EXPECT_EQ(Files(),
              (std::vector<std::string>{"a.txt", "b.txt", "c.txt.ksw", "folder", "old.ksw"}));

    // All succeed: 0 and silence. --keep keeps every input.
    EXPECT_EQ(Run("encrypt --keep --password-file - a.txt b.txt", "one password\n"), 0) << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(Files(), (std::vector<std::string>{"a.txt", "a.txt.ksw", "b.txt", "b.txt.ksw",
                                                 "c.txt.ksw", "folder", "old.ksw"}));
    EXPECT_EQ(Run("decrypt --password-file - folder a.txt.ksw", "one password\n"), 3);
    EXPECT_EQ(Run("decrypt --password-file - c.txt.ksw folder", "one password\n"), 1);

    // A container among the files to encrypt is left as it was, and said so,
    // but is no failure.
    EXPECT_EQ(Run("encrypt --keep --password-file - a.txt old.ksw", "one password\n"), 0);
    EXPECT_EQ(Lines(err), 1) << err;
    EXPECT_NE(err.find("skipped 'old.ksw': this file is encrypted"), std::string::npos) << err;
    EXPECT_EQ(ReadFile(dir / "old.ksw"), "some container");
}

TEST_F(Cli, AnInterruptedBatchSaysHowManyFilesWereDone)
{
    WriteFile(dir / "pw", "password\n");
    WriteFile(dir / "small", "a few bytes");
    for (const char* name : {"big1", "big2"}) WriteFile(dir / name, RandomBytes(32 << 20, 3));
    const pid_t cli = SpawnCli(
        {"encrypt", "--password-file", dir / "pw", dir / "small", dir / "big1", dir / "big2"},
        dir / "xdg", dir / "err");
    ASSERT_GT(cli, 0);
    // Once the small file is done, the large ones are still under way.
    const auto start = std::chrono::steady_clock::now();
    while (fs::exists(dir / "small") && std::chrono::steady_clock::now() - start < 60s)
        std::this_thread::sleep_for(1ms);
    kill(cli, SIGINT);
    EXPECT_EQ(Wait(cli), 130);
    int done = 0;
    for (const char* name : {"small", "big1", "big2"})
        done += !fs::exists(dir / name) && fs::exists(dir / (std::string(name) + ".ksw"));
    EXPECT_GE(done, 1);
    const std::string messages = ReadFile(dir / "err");
    EXPECT_EQ(Lines(messages), 1) << messages;
    EXPECT_NE(messages.find("interrupted: " + std::to_string(done) + " of 3 files encrypted"),
              std::string::npos)
        << messages;
}
