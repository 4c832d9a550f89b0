// SPDX-License-Identifier: Apache-2.0
// kestrawin-cli.exe: the arguments come in UTF-16 and go on in UTF-8 (names
// that are no valid UTF-16 kept whole), and what the program prints in UTF-8
// reads as such on the console. The console is left as it was found.
#include "Cli.h"

#include "io/WindowsPaths.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

// The console's output code page and modes, put back when the program ends.
class ConsoleState {
public:
    ConsoleState() : codePage_(GetConsoleOutputCP())
    {
        for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
            const HANDLE h = GetStdHandle(which);
            DWORD mode = 0;
            if (h && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode))
                saved_.push_back({h, mode});
        }
        if (codePage_ != 0) SetConsoleOutputCP(CP_UTF8);
    }
    ~ConsoleState()
    {
        if (codePage_ != 0) SetConsoleOutputCP(codePage_);
        for (const auto& [h, mode] : saved_) SetConsoleMode(h, mode);
    }
    ConsoleState(const ConsoleState&) = delete;
    ConsoleState& operator=(const ConsoleState&) = delete;

private:
    UINT codePage_;
    std::vector<std::pair<HANDLE, DWORD>> saved_;
};

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(kestrawin::io::Utf8FromWide(argv[i]));
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    const ConsoleState console;
    const int status = kestrawin::cli::RunCli(argc, pointers.data());
    std::fflush(stdout); // while the console still reads UTF-8
    std::fflush(stderr);
    return status;
}
