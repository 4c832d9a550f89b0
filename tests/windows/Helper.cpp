// SPDX-License-Identifier: Apache-2.0
// A small program the Windows tests start as a child, and the installer's
// test installs as a stand-in for the programs:
//
//   helper gather NAME GROUP PATH OUT QUIET_MS LINGER_MS
//       joins the gathering NAME of GROUP with PATH; writes "handed", or
//       "lead" and the gathered paths (UTF-8, a line each), to OUT; then
//       stays LINGER_MS more, as a window would
//   helper register | unregister
//       the verbs and the file type for this very program, as a start does
//   helper prompt OUT [ctrl-c]
//       asks for a password on the console; writes "password <hex>", "none"
//       or "no console" to OUT; with "ctrl-c", presses Ctrl+C meanwhile and
//       has no handler of its own, so the system ends it
//   helper console-mode OUT
//       writes the console's input mode (hexadecimal) to OUT
//   helper killed-at N encrypt|decrypt PATH PEM OUT
//       encrypts (with the pair in PEM) or decrypts PATH and deletes it, as
//       the programs do, but ends abruptly just before the Nth step that
//       changes the disk, after writing that step's number to OUT; status 0
//       when it ran to its end
#include "Password.h"

#include "ops/Engine.h"
#include "shell/Gathering.h"
#include "shell/Registration.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>

using namespace kestrawin;

namespace {

std::string Utf8(const std::wstring& text)
{
    std::string out(text.size() * 4 + 1, '\0');
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                      out.data(), static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

// Whole or not at all: a test may be waiting for the file to appear.
int Report(const std::wstring& path, const std::string& text)
{
    const std::wstring partial = path + L".partial";
    FILE* file = _wfopen(partial.c_str(), L"wb");
    if (!file) return 2;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written) return 2;
    return MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 2;
}

std::string Hex(std::string_view bytes)
{
    std::string hex;
    for (const unsigned char c : bytes) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", c);
        hex += two;
    }
    return hex;
}

int Gather(wchar_t** argv)
{
    shell::GatheringOptions options;
    options.name = argv[2];
    options.quiet = std::chrono::milliseconds(_wtoi(argv[6]));
    options.longest = options.quiet * 5;
    shell::Gathering gathering = shell::Gathering::Join(argv[4], argv[3], options);
    std::string text = gathering.handedOver() ? "handed\n" : "lead\n";
    for (const auto& path : gathering.Finish()) text += Utf8(path.native()) + "\n";
    const int status = Report(argv[5], text);
    Sleep(static_cast<DWORD>(_wtoi(argv[7])));
    return status;
}

int Prompt(const std::wstring& out, bool interrupt)
{
    if (interrupt) {
        std::thread([] {
            Sleep(500);
            GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        }).detach();
    }
    bool noConsole = false;
    const auto password = cli::PromptPassword("Password: ", &noConsole);
    return Report(out, noConsole  ? "no console"
                       : password ? "password " + Hex(password->view())
                                  : "none");
}

int KilledAt(wchar_t** argv)
{
    const int killAt = _wtoi(argv[2]);
    const bool decrypt = std::wstring(argv[3]) == L"decrypt";
    const std::string path = Utf8(argv[4]);
    std::string pem;
    if (FILE* file = _wfopen(argv[5], L"rb")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            pem.append(buffer, n);
        std::fclose(file);
    }
    auto exchange = crypto::RsaKeyPair::FromPem(pem), signature = crypto::RsaKeyPair::FromPem(pem);
    if (!exchange || !signature) return 2;
    const auto keys = ops::KeyContainer::WithPairs(std::move(*exchange), std::move(*signature));
    int steps = 0;
    const std::wstring out = argv[6];
    ops::OperationOptions options;
    options.chunkSize = 4096;
    options.diskHook = [&](io::DiskStep step, std::uint64_t) {
        if (++steps == killAt) {
            if (Report(out, std::to_string(static_cast<int>(step))) != 0) return EIO;
            TerminateProcess(GetCurrentProcess(), 137);
        }
        return 0;
    };
    io::InputFile read;
    const Result done = decrypt ? ops::DecryptSelectedFile(path, "password", options, &read)
                                : ops::EncryptSelectedFile(keys, path, "password", options, &read);
    return done.ok() && ops::RemoveInputFile(read, nullptr, options.diskHook).ok() ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"gather" && argc == 8) return Gather(argv);
    if (mode == L"register" && argc == 2)
        return shell::RegisterContextMenu(shell::RunningProgram()).ok() ? 0 : 1;
    if (mode == L"unregister" && argc == 2) return shell::UnregisterContextMenu().ok() ? 0 : 1;
    if (mode == L"prompt" && (argc == 3 || argc == 4))
        return Prompt(argv[2], argc == 4 && std::wstring(argv[3]) == L"ctrl-c");
    if (mode == L"killed-at" && argc == 7) return KilledAt(argv);
    if (mode == L"console-mode" && argc == 3) {
        const HANDLE in =
            CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD consoleMode = 0;
        if (in == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &consoleMode)) return 2;
        char text[16];
        std::snprintf(text, sizeof text, "%lx", static_cast<unsigned long>(consoleMode));
        return Report(argv[2], text);
    }
    std::fputs("usage: see the top of tests/windows/Helper.cpp\n", stderr);
    return 64;
}
