// SPDX-License-Identifier: Apache-2.0
// What kestrawin-cli needs at run time: no OpenSSL legacy provider (RC2 is
// our own code), and no key pairs when it only decrypts.

#include "Fixtures.h"

#include <cstdlib>
#include <sys/wait.h>

using namespace kwtest;

namespace {

class CliRuntime : public ScratchTest {
protected:
    // Runs the tool in the scratch folder with the password on standard input
    // and extra environment variables.
    int Run(const std::string& args, const std::string& password, const std::string& env = "")
    {
        WriteFile(dir / "stdin", password + "\n");
        const std::string cmd = "cd " + ShellQuote(dir) + " && " + env + " XDG_DATA_HOME="
                                + ShellQuote(dir / "xdg") + " setsid " + ShellQuote(KESTRAWIN_CLI)
                                + " " + args + " --password-file - <stdin >/dev/null 2>stderr";
        const int status = std::system(cmd.c_str());
        err = ReadFile(dir / "stderr");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // OpenSSL looks for its providers in an empty folder: only the built-in
    // default provider remains.
    std::string WithoutLegacy()
    {
        fs::create_directories(dir / "no-providers");
        return "OPENSSL_MODULES=" + ShellQuote(dir / "no-providers");
    }
    fs::path Store() const { return dir / "xdg/kestrawin/Kestrawin Container"; }
    std::string err;
};

} // namespace

TEST_F(CliRuntime, RoundTripWithoutTheLegacyProvider)
{
    const std::string env = WithoutLegacy();
    const std::string data = RandomBytes((300 << 10) + 5, 11);
    WriteFile(dir / "data.bin", data);
    ASSERT_EQ(Run("encrypt data.bin", "a long password", env), 0) << err;
    ASSERT_EQ(Run("decrypt data.bin.ksw", "a long password", env), 0) << err;
    EXPECT_EQ(ReadFile(dir / "data.bin"), data);
    EXPECT_FALSE(fs::exists(dir / "data.bin.ksw"));
}

// Containers from Windows, with the strong (128-bit) and the base (40-bit) key.
TEST_F(CliRuntime, WindowsContainersOpenWithoutTheLegacyProvider)
{
    const std::string env = WithoutLegacy();
    const fs::path vectors = KESTRAWIN_VECTORS_DIR;
    const std::string expected = ReadFile(vectors / "text.plain");
    const struct {
        const char* file;
        const char* password;
    } cases[] = {
        {"v05_text.ksw", "éèàç€ÿ"},
        {"v07_base_text.ksw", "abcde"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        fs::copy_file(vectors / c.file, dir / "in.ksw", fs::copy_options::overwrite_existing);
        ASSERT_EQ(Run("decrypt in.ksw", c.password, env), 0) << err;
        EXPECT_EQ(ReadFile(dir / "in"), expected);
        fs::remove(dir / "in");
    }
}

TEST_F(CliRuntime, DecryptionMakesNoKeyPairs)
{
    WriteFile(dir / "note.txt", "just text");
    ASSERT_TRUE(
        kestrawin::ops::EncryptSelectedFile(SharedKeys(), (dir / "note.txt").string(), "secret6")
            .ok());
    fs::remove(dir / "note.txt");

    // No store yet: decrypting leaves none behind.
    ASSERT_EQ(Run("decrypt --keep note.txt.ksw", "secret6"), 0) << err;
    EXPECT_EQ(ReadFile(dir / "note.txt"), "just text");
    EXPECT_FALSE(fs::exists(Store()));

    // A store in place is left as it is, pairs and all.
    fs::remove(dir / "note.txt");
    WriteFile(dir / "other.txt", "x");
    ASSERT_EQ(Run("encrypt other.txt", "secret6"), 0) << err;
    ASSERT_TRUE(fs::exists(Store()));
    const std::string before = ReadFile(Store());
    ASSERT_EQ(Run("decrypt note.txt.ksw", "secret6"), 0) << err;
    EXPECT_TRUE(ReadFile(Store()) == before) << "decryption replaced the key pairs";
}
