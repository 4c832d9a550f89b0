// kestrawin-cli's contract: names, deletion, exit statuses and messages.

#include "Fixtures.h"

#include <cstdlib>
#include <sys/wait.h>

using namespace kwtest;

namespace {

std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class Cli : public ScratchTest {
protected:
    // Runs the tool in the scratch folder without a controlling terminal.
    int Run(const std::string& args, const std::string& input = "")
    {
        WriteFile(dir / "stdin", input);
        const std::string cmd = "cd " + Quote(dir) + " && XDG_DATA_HOME=" + Quote(dir / "xdg")
            + " setsid " + Quote(KESTRAWIN_CLI) + " " + args + " <stdin >stdout 2>stderr";
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
};

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

TEST_F(Cli, ExitStatusesAndOneLineMessages)
{
    fs::copy_file(fs::path(KESTRAWIN_VECTORS_DIR) / "v02_one.ksw", dir / "one.ksw");
    EXPECT_EQ(Run("decrypt --password-file - one.ksw", "secret\n"), 1); // case matters
    EXPECT_EQ(Lines(err), 1);
    EXPECT_NE(err.find("password is wrong"), std::string::npos) << err;

    WriteFile(dir / "junk.ksw", "not a container at all, just text");
    EXPECT_EQ(Run("decrypt --password-file - junk.ksw", "Secret\n"), 2);
    EXPECT_EQ(Lines(err), 1);

    EXPECT_EQ(Run("encrypt --password-file - missing.txt", "password\n"), 3);
    EXPECT_EQ(Lines(err), 1);
    fs::create_directory(dir / "folder");
    EXPECT_EQ(Run("encrypt --password-file - folder", "password\n"), 3);
    EXPECT_EQ(Files(), (std::vector<std::string>{"folder", "junk.ksw", "one.ksw"}));

    // Usage errors: no terminal to ask on, unknown options, missing PATH, empty password.
    WriteFile(dir / "a", "x");
    EXPECT_EQ(Run("encrypt a"), 64);
    EXPECT_NE(err.find("--password-file"), std::string::npos);
    EXPECT_EQ(Run("encrypt --force --password-file - a", "password\n"), 64);
    EXPECT_EQ(Run("encrypt --password-file -", "password\n"), 64);
    EXPECT_EQ(Run("scramble a"), 64);
    EXPECT_EQ(Run("encrypt --password-file - a", "\n"), 64);
    EXPECT_TRUE(fs::exists(dir / "a"));

    EXPECT_EQ(Run("--help"), 0);
    EXPECT_NE(out.find("kestrawin-cli encrypt [--keep] [--password-file FILE] PATH"), std::string::npos);
    EXPECT_EQ(Run("--version"), 0);
    EXPECT_EQ(out.rfind("kestrawin-cli ", 0), 0u);
}

TEST_F(Cli, ShortPasswordIsAWarningNotAQuestion)
{
    WriteFile(dir / "a", "x");
    EXPECT_EQ(Run("encrypt --keep --password-file - a", "abcde\n"), 0);
    EXPECT_NE(err.find("fewer than 6 characters"), std::string::npos);
    EXPECT_EQ(Run("encrypt --keep --password-file - a", "äöüéèà\n"), 0); // six characters, twelve bytes
    EXPECT_EQ(err, "");
}

TEST_F(Cli, SeveralPathsOnePasswordEachFailureNamedFirstFailureSetsTheStatus)
{
    WriteFile(dir / "a.txt", "alpha");
    WriteFile(dir / "b.txt", "bravo");
    WriteFile(dir / "old.ksw", "some container");
    fs::create_directory(dir / "folder");
    // Statuses by argument order: missing (3) comes before a wrong password.
    EXPECT_EQ(Run("encrypt --password-file - a.txt missing.txt folder old.ksw b.txt", "one password\n"), 3);
    EXPECT_EQ(Lines(err), 3) << err;
    EXPECT_NE(err.find("'missing.txt': the file no longer exists"), std::string::npos) << err;
    EXPECT_NE(err.find("'folder': this is not a regular file"), std::string::npos) << err;
    EXPECT_NE(err.find("'old.ksw': this file is encrypted"), std::string::npos) << err;
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
    EXPECT_EQ(Files(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt.ksw", "folder", "old.ksw"}));

    // All succeed: 0 and silence. --keep keeps every input.
    EXPECT_EQ(Run("encrypt --keep --password-file - a.txt b.txt", "one password\n"), 0) << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(Files(), (std::vector<std::string>{"a.txt", "a.txt.ksw", "b.txt", "b.txt.ksw", "c.txt.ksw",
                                                 "folder", "old.ksw"}));
    EXPECT_EQ(Run("decrypt --password-file - folder a.txt.ksw", "one password\n"), 3);
    EXPECT_EQ(Run("decrypt --password-file - c.txt.ksw folder", "one password\n"), 1);
}
