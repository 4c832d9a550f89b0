// SPDX-License-Identifier: Apache-2.0
// kestrawin.exe started as Explorer starts it for several chosen files: one
// process per file, each with the file and /crypt. The processes meet in one
// window, whose start wrote the context-menu entries for the user.

#include "Files.h"
#include "UserRegistry.h"

#include "base/Words.h"
#include "shell/RegistryRegistration.h"
#include "winui/MainWindow.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

namespace ids = kestrawin::winui::controls;
namespace fs = std::filesystem;
using kwtest::RegistryValue;

namespace {

constexpr const wchar_t* kProgram = L"" KESTRAWIN_WINDOW_EXE;

HANDLE Start(const std::wstring& file, const wchar_t* verb)
{
    std::wstring line = L"\"" + std::wstring(kProgram) + L"\" \"" + file + L"\" " + verb;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(kProgram, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

std::wstring Text(HWND window)
{
    wchar_t text[512] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000,
                        nullptr);
    return text;
}

template <typename Done>
bool WaitFor(Done done, int ms = 30000)
{
    for (int waited = 0; !done(); waited += 50) {
        if (waited > ms) return false;
        Sleep(50);
    }
    return true;
}

class ProgramTest : public kwtest::ScratchTest {};

TEST_F(ProgramTest, FilesChosenTogetherMeetInOneWindowThatWroteTheEntries)
{
    // A name with a space and letters beyond any code page's reach of ASCII.
    const std::string two = "zwei \xC3\x84\xE2\x82\xAC.txt";
    const std::vector<std::string> rows[] = {{"one.txt", two}, {two}};
    for (const std::vector<std::string>& names : rows) {
        SCOPED_TRACE(names.size());
        std::vector<HANDLE> processes;
        for (const std::string& name : names) {
            kwtest::WriteFile(dir / name, name);
            processes.push_back(Start((dir / name).wstring(), L"/crypt"));
            ASSERT_NE(processes.back(), nullptr);
        }
        // None outlives the test, whatever fails.
        struct Ender {
            std::vector<HANDLE>& processes;
            ~Ender()
            {
                for (HANDLE process : processes) TerminateProcess(process, 1);
            }
        } ender{processes};
        HANDLE leader = processes.front();
        if (processes.size() == 2) {
            // Whichever came second hands its file over and ends; the other leads.
            const DWORD ended =
                WaitForMultipleObjects(2, processes.data(), FALSE, 40000) - WAIT_OBJECT_0;
            ASSERT_LT(ended, 2U);
            DWORD status = 1;
            GetExitCodeProcess(processes[ended], &status);
            EXPECT_EQ(status, 0U);
            leader = processes[1 - ended];
            EXPECT_EQ(WaitForSingleObject(leader, 0), static_cast<DWORD>(WAIT_TIMEOUT));
        }

        HWND window = nullptr;
        // Shown once the entries are written and the others have come.
        ASSERT_TRUE(WaitFor([&] {
            window = FindWindowW(L"KestrawinWindow", nullptr);
            return window && IsWindowVisible(window);
        }));
        EXPECT_EQ(RegistryValue(L"Software\\Classes\\.ksw"), L"Pellmora File");
        EXPECT_EQ(
            RegistryValue(L"Software\\Classes\\*\\Shell\\Encrypt with \"Kestrawin\"\\command"),
            L"\"" + fs::path(kProgram).make_preferred().wstring() + L"\" \"%1\" /crypt");

        for (const int field : {ids::Password, ids::PasswordAgain})
            SendMessageW(GetDlgItem(window, field), WM_SETTEXT, 0,
                         reinterpret_cast<LPARAM>(L"secret"));
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(ids::EncryptButton, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, ids::EncryptButton)));
        std::string summary = kestrawin::words::EncryptionCompleted;
        if (names.size() == 2)
            summary += "\n" + kestrawin::words::Count(kestrawin::words::FilesEncrypted, 2);
        EXPECT_TRUE(WaitFor([&] {
            return Text(GetDlgItem(window, ids::OutcomeText)) == kestrawin::winui::Wide(summary);
        }));
        for (const std::string& name : names) {
            EXPECT_TRUE(fs::exists(dir / (name + ".ksw"))) << name;
            EXPECT_FALSE(fs::exists(dir / name)) << name;
        }

        // Close ends the program.
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(ids::CloseButton, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, ids::CloseButton)));
        EXPECT_EQ(WaitForSingleObject(leader, 20000), WAIT_OBJECT_0);
        // The user's entries as they were before: none.
        EXPECT_TRUE(kestrawin::shell::UnregisterFromRegistry({}).ok());
    }
}

} // namespace

namespace {

// What the program writes to a file given as its standard output.
std::string Printed(const wchar_t* argument, const fs::path& file)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             0, nullptr);
    std::wstring line = L"\"" + std::wstring(kProgram) + L"\" " + argument;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = out;
    PROCESS_INFORMATION process{};
    const bool started = CreateProcessW(kProgram, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    CloseHandle(out);
    if (!started) return "(not started)";
    DWORD status = 1;
    WaitForSingleObject(process.hProcess, 20000);
    GetExitCodeProcess(process.hProcess, &status);
    TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return (status == 0 ? "" : "(status " + std::to_string(status) + ") ") + kwtest::ReadFile(file);
}

TEST_F(ProgramTest, HelpAndVersionAreAnsweredWithoutAWindow)
{
    EXPECT_EQ(Printed(L"--version", dir / "version"), "kestrawin " KESTRAWIN_VERSION "\n");
    EXPECT_EQ(Printed(L"--help", dir / "help"), kestrawin::words::WindowHelpWindows);
}

} // namespace
