// SPDX-License-Identifier: Apache-2.0
// Entry of kestrawin.exe: --help and --version, the gathering of the files
// Explorer starts one process each for, the window and the message loop.

#include "base/Secret.h"
#include "base/Words.h"
#include "io/WindowsPaths.h"
#include "shell/Gathering.h"
#include "startup/CommandLine.h"
#include "startup/Information.h"
#include "winui/MainWindow.h"

#include <windows.h>

#include <shellapi.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace kestrawin;

// The arguments after the program, UTF-8, empty ones left out.
std::vector<std::string> Arguments(std::vector<std::wstring>& wide)
{
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; argv && i < count; ++i) {
        if (argv[i][0] == L'\0') continue;
        wide.emplace_back(argv[i]);
        arguments.push_back(io::Utf8FromWide(argv[i]));
    }
    LocalFree(argv);
    return arguments;
}

// Printed where the program was started from (a console, or a pipe), else
// shown in a box.
bool Tell(const std::string& text)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if ((!out || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS))
        out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out && out != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        return WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)
               && written == text.size();
    }
    MessageBoxW(nullptr, winui::Wide(text).c_str(), winui::Wide(words::ApplicationTitle).c_str(),
                MB_OK);
    return true;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show)
{
    // Before any password can be typed.
    ProtectProcessMemory();
    std::vector<std::wstring> wide;
    std::vector<std::string> arguments = Arguments(wide);
    const startup::Information asked = startup::InformationAskedFor(arguments);
    if (asked != startup::Information::None) return Tell(startup::InformationText(asked)) ? 0 : 1;

    // Explorer starts one process per chosen file ("FILE" /crypt): the first
    // gathers the others' files, which hand theirs over and end here.
    std::optional<shell::Gathering> gathering;
    if (arguments.size() == 2 && startup::IsSwitch(arguments[1])) {
        std::wstring group = wide[1];
        for (wchar_t& c : group)
            if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        gathering.emplace(shell::Gathering::Join(std::filesystem::path(wide[0]), group));
        if (gathering->handedOver()) return 0;
    }

    winui::WindowEnvironment environment = winui::WindowEnvironment::FromProcess(arguments);
    // The entries and the key pairs are made while the others come.
    winui::MainWindow window(std::move(environment));
    if (!window.hwnd()) return 1;
    if (gathering) {
        const std::vector<std::filesystem::path> files = gathering->Finish();
        if (files.size() > 1) {
            std::vector<std::string> all;
            for (const std::filesystem::path& file : files)
                all.push_back(io::Utf8FromWide(file.native()));
            all.push_back(arguments[1]);
            window.UseArguments(std::move(all));
        }
    }
    window.Show(show);
    return winui::RunMessageLoop(window);
}
