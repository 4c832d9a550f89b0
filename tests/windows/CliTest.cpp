// SPDX-License-Identifier: Apache-2.0
// kestrawin-cli.exe keeps kestrawin-cli's promises: the same statuses and
// words, names in any script, the containers of every build, and Ctrl+C.

#include "Files.h"
#include "Vectors.h"

#include <windows.h>

#include <algorithm>

using namespace kwtest;

namespace {

class CliExe : public ScratchTest {
protected:
    // Runs kestrawin-cli.exe in the scratch folder, standard input from
    // `input`; its status, standard error (line ends as on Linux) in `err`.
    DWORD Run(const std::vector<std::string>& args, const std::string& input = "",
              bool interruptOnStart = false)
    {
        WriteFile(dir / "stdin", input);
        std::wstring line = L"\"" + FromUtf8(KESTRAWIN_CLI_EXE).wstring() + L"\"";
        for (const std::string& arg : args) line += L" \"" + FromUtf8(arg).wstring() + L"\"";
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        const HANDLE in = CreateFileW((dir / "stdin").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      &inherit, OPEN_EXISTING, 0, nullptr);
        const HANDLE errors = CreateFileW((dir / "stderr").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                          &inherit, CREATE_ALWAYS, 0, nullptr);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in;
        startup.hStdOutput = errors;
        startup.hStdError = errors;
        PROCESS_INFORMATION started{};
        DWORD status = 999;
        const std::wstring folder = dir.wstring();
        if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP,
                           nullptr, folder.c_str(), &startup, &started)) {
            if (interruptOnStart) {
                Sleep(300);
                interrupted = GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, started.dwProcessId);
            }
            WaitForSingleObject(started.hProcess, 120000);
            GetExitCodeProcess(started.hProcess, &status);
            CloseHandle(started.hThread);
            CloseHandle(started.hProcess);
        }
        CloseHandle(in);
        CloseHandle(errors);
        err = ReadFile(dir / "stderr");
        err.erase(std::remove(err.begin(), err.end(), '\r'), err.end());
        fs::remove(dir / "stdin");
        fs::remove(dir / "stderr");
        return status;
    }
    std::string err;
    bool interrupted = false; // the Ctrl+Break was sent
};

} // namespace

TEST_F(CliExe, EncryptsAndDecryptsNamesInAnyScript)
{
    for (const char* name : {"report.txt", "é à ü.txt", "日本語", "emoji \xF0\x9F\x94\x90"}) {
        SCOPED_TRACE(name);
        WriteFile(dir / name, std::string("the text of ") + name);
        EXPECT_EQ(Run({"encrypt", "--password-file", "-", name}, "correct horse\r\n"), 0u) << err;
        EXPECT_EQ(err, "");
        EXPECT_EQ(Listing(dir), std::vector<std::string>{std::string(name) + ".ksw"});
        EXPECT_EQ(
            Run({"decrypt", "--password-file=-", std::string(name) + ".ksw"}, "correct horse\n"),
            0u)
            << err;
        EXPECT_EQ(Listing(dir), std::vector<std::string>{name});
        EXPECT_EQ(ReadFile(dir / name), std::string("the text of ") + name);
        fs::remove(dir / name);
    }
}

TEST_F(CliExe, AWrongPasswordIsStatusOneAndChangesNothing)
{
    WriteFile(dir / "doc", "text");
    ASSERT_EQ(Run({"encrypt", "--password-file", "-", "doc"}, "right one\n"), 0u) << err;
    const std::string container = ReadFile(dir / "doc.ksw");
    EXPECT_EQ(Run({"decrypt", "--password-file", "-", "doc.ksw"}, "wrong one\n"), 1u);
    EXPECT_EQ(err, "kestrawin-cli: cannot decrypt 'doc.ksw': the password is wrong\n");
    EXPECT_EQ(Listing(dir), std::vector<std::string>{"doc.ksw"});
    EXPECT_EQ(ReadFile(dir / "doc.ksw"), container);
    EXPECT_EQ(Run({"frobnicate"}), 64u);
    EXPECT_EQ(err, "kestrawin-cli: unknown command 'frobnicate'\nTry 'kestrawin-cli --help'.\n");
}

// The containers Windows' own provider made, and those the Linux build made
// with a fixed pair, all open.
TEST_F(CliExe, ContainersMadeOnWindowsAndOnLinuxOpen)
{
    struct Row {
        fs::path container, plaintext;
        std::string password;
    };
    std::vector<Row> rows;
    const fs::path vectors = FromUtf8(KESTRAWIN_VECTORS_DIR);
    const fs::path interop = FromUtf8(KESTRAWIN_INTEROP_DIR);
    for (const WindowsVector& v : LoadWindowsVectors(KESTRAWIN_VECTORS_DIR))
        rows.push_back({vectors / v.container, vectors / v.plaintext, v.password});
    for (const SealedVector& v : SealedVectors())
        rows.push_back({interop / v.container, vectors / v.plaintext, v.password});
    ASSERT_GE(rows.size(), 10u);
    for (const Row& row : rows) {
        SCOPED_TRACE(Utf8(row.container));
        fs::copy_file(row.container, dir / "file.ksw");
        EXPECT_EQ(Run({"decrypt", "--password-file", "-", "file.ksw"}, row.password + "\n"), 0u)
            << err;
        EXPECT_TRUE(ReadFile(dir / "file") == ReadFile(row.plaintext));
        EXPECT_EQ(Listing(dir), std::vector<std::string>{"file"});
        fs::remove(dir / "file");
    }
}

// Ctrl+Break (as Ctrl+C) stops the work: the file under way is as it was,
// and the program says so with its own status.
TEST_F(CliExe, InterruptedItStopsAndSaysSo)
{
    // The event goes through a console the test shares with the program
    // (Wine without a display has none to give).
    AllocConsole();
    const std::string big = RandomBytes(64 << 20, 7);
    WriteFile(dir / "big", big);
    const DWORD status = Run({"encrypt", "--password-file", "-", "big"}, "password\n", true);
    if (!interrupted) GTEST_SKIP() << "no console to send Ctrl+Break through";
    EXPECT_EQ(status, 130u) << err;
    EXPECT_EQ(err, "kestrawin-cli: interrupted: 0 of 1 file encrypted; the others are as they "
                   "were\n");
    EXPECT_EQ(Listing(dir), std::vector<std::string>{"big"});
    EXPECT_TRUE(ReadFile(dir / "big") == big);
}
