// SPDX-License-Identifier: Apache-2.0
// Passwords for kestrawin-cli on Windows. The prompt asks on the console
// (CONIN$/CONOUT$, like /dev/tty: standard input may be redirected) with echo
// off, reads UTF-16 and hands out UTF-8; Ctrl+C puts the echo back before
// anything else happens. Password files and standard input are read a byte
// at a time, up to the first line's end, or from the console when standard
// input is one.
#include "Password.h"

#include "base/Words.h"

#include <windows.h>

#include <climits>
#include <vector>

namespace kestrawin::cli {
namespace {

const std::atomic<bool>* g_interrupt = nullptr;

constexpr std::size_t kLongestLine = 64 * 1024;

// The console whose echo a Ctrl+C must put back, while a prompt runs.
HANDLE g_promptConsole = nullptr;
DWORD g_savedMode = 0;

BOOL WINAPI RestoreEcho(DWORD)
{
    if (g_promptConsole) SetConsoleMode(g_promptConsole, g_savedMode);
    return FALSE; // the program's own handler, or the system's, comes next
}

struct Handle {
    HANDLE h = nullptr;
    explicit Handle(HANDLE handle) : h(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~Handle()
    {
        if (h) CloseHandle(h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

std::string SystemMessage(DWORD code)
{
    char* text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                       | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message(text ? text : "", n);
    LocalFree(text);
    while (!message.empty()
           && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '
               || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "system error " + std::to_string(code) : message;
}

std::wstring Wide(std::string_view utf8)
{
    if (utf8.empty() || utf8.size() > INT_MAX) return {};
    std::wstring out(utf8.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                      static_cast<int>(utf8.size()), out.data(),
                                      static_cast<int>(out.size()));
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

// A line of UTF-16 being typed, in room reserved up front (no copies left
// behind when it grows) and wiped when dropped.
class WideLine {
public:
    WideLine() { units_.reserve(kLongestLine + 1); }
    ~WideLine() { Wipe(units_.data(), units_.capacity() * sizeof(wchar_t)); }
    WideLine(const WideLine&) = delete;
    WideLine& operator=(const WideLine&) = delete;

    bool Append(wchar_t c)
    {
        if (units_.size() >= kLongestLine) return false;
        units_.push_back(c);
        return true;
    }
    void EraseLast()
    {
        if (units_.empty()) return;
        const bool lowSurrogate = units_.back() >= 0xDC00 && units_.back() <= 0xDFFF;
        units_.back() = 0;
        units_.pop_back();
        if (lowSurrogate && !units_.empty() && units_.back() >= 0xD800 && units_.back() <= 0xDBFF) {
            units_.back() = 0;
            units_.pop_back();
        }
    }
    [[nodiscard]] bool empty() const { return units_.empty(); }

    // The line in UTF-8 (unpaired surrogates become U+FFFD).
    [[nodiscard]] Secret Utf8() const
    {
        Secret out;
        if (units_.empty()) return out;
        const int length = static_cast<int>(units_.size());
        out.Resize(units_.size() * 3);
        const int n = WideCharToMultiByte(CP_UTF8, 0, units_.data(), length, out.data(),
                                          static_cast<int>(out.size()), nullptr, nullptr);
        out.Resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return out;
    }

private:
    std::vector<wchar_t> units_;
};

enum class LineEnd { Line, EndOfInput, Interrupted, TooLong, Failed };

// Reads one line from a console, editing keys applied (the console applies
// them itself when it echoes; without echo some consoles pass them on).
LineEnd ReadConsoleLine(HANDLE console, WideLine* line)
{
    wchar_t chunk[128];
    LineEnd end = LineEnd::Failed;
    for (bool reading = true; reading;) {
        DWORD n = 0;
        if (!ReadConsoleW(console, chunk, static_cast<DWORD>(std::size(chunk)), &n, nullptr)) {
            end =
                GetLastError() == ERROR_OPERATION_ABORTED ? LineEnd::Interrupted : LineEnd::Failed;
            break;
        }
        // Ctrl+C ends a read with nothing in it.
        if (n == 0 || (g_interrupt && g_interrupt->load())) {
            end = LineEnd::Interrupted;
            break;
        }
        for (DWORD i = 0; i < n && reading; ++i) {
            const wchar_t c = chunk[i];
            if (c == L'\n') {
                end = LineEnd::Line;
                reading = false;
            } else if (c == L'\x1a' && line->empty()) { // Ctrl+Z: the end of input
                end = LineEnd::EndOfInput;
                reading = false;
            } else if (c == L'\b' || c == L'\x7f') {
                line->EraseLast();
            } else if (c != L'\r' && !line->Append(c)) {
                end = LineEnd::TooLong;
                reading = false;
            }
        }
    }
    Wipe(chunk, sizeof chunk);
    return end;
}

// Reads one line from a file or pipe, a byte at a time so that nothing past
// the line is consumed. False when nothing could be read at all (*error is
// then `whenEmpty`).
bool ReadFileLine(HANDLE file, Secret* line, std::string* error, const char* whenEmpty)
{
    line->Clear();
    line->Reserve(kLongestLine + 1); // filled in place: no copies left behind
    bool any = false;
    for (;;) {
        char c = 0;
        DWORD got = 0;
        if (!ReadFile(file, &c, 1, &got, nullptr)) {
            const DWORD code = GetLastError();
            if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) break;
            if (error) *error = SystemMessage(code);
            return false;
        }
        if (got == 0 || (g_interrupt && g_interrupt->load())) break;
        any = true;
        if (c == '\n') break;
        if (line->size() >= kLongestLine) {
            Wipe(&c, 1);
            if (error) *error = words::CliFirstLineTooLong;
            return false;
        }
        line->Append(c);
        Wipe(&c, 1);
    }
    if (!line->empty() && line->view().back() == '\r') line->PopBack();
    if (!any && error) *error = whenEmpty;
    return any;
}

bool IsConsole(HANDLE handle)
{
    DWORD mode = 0;
    return handle && GetConsoleMode(handle, &mode);
}

} // namespace

void SetInterruptFlag(const std::atomic<bool>* flag)
{
    g_interrupt = flag;
}

namespace {

std::optional<Secret> ReadPasswordLine(const std::string& path, std::string* error)
{
    Secret line;
    if (path == "-") {
        const HANDLE input = GetStdHandle(STD_INPUT_HANDLE); // stays open
        if (IsConsole(input)) {
            WideLine typed;
            const LineEnd end = ReadConsoleLine(input, &typed);
            if (end == LineEnd::Line) return typed.Utf8();
            *error =
                end == LineEnd::TooLong ? words::CliFirstLineTooLong : words::CliStandardInputEmpty;
            return std::nullopt;
        }
        if (!input || input == INVALID_HANDLE_VALUE) {
            *error = SystemMessage(ERROR_INVALID_HANDLE);
            return std::nullopt;
        }
        if (!ReadFileLine(input, &line, error, words::CliStandardInputEmpty)) return std::nullopt;
        return line;
    }
    const std::wstring name = Wide(path);
    const Handle file(name.empty() ? INVALID_HANDLE_VALUE
                                   : CreateFileW(name.c_str(), GENERIC_READ,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.h) {
        *error = SystemMessage(name.empty() ? ERROR_INVALID_NAME : GetLastError());
        return std::nullopt;
    }
    if (!ReadFileLine(file.h, &line, error, words::CliPasswordFileEmpty)) return std::nullopt;
    return line;
}

} // namespace

Expected<Secret> ReadPasswordFile(const std::string& path)
{
    std::string error;
    auto line = ReadPasswordLine(path, &error);
    if (!line) return Result::fail(Outcome::InputUnreadable, error);
    return std::move(*line);
}

std::optional<Secret> PromptPassword(const char* prompt, bool* noTerminal)
{
    *noTerminal = false;
    const Handle in(CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr));
    const Handle out(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                 nullptr));
    DWORD saved = 0;
    if (!in.h || !out.h || !GetConsoleMode(in.h, &saved)) {
        *noTerminal = true;
        return std::nullopt;
    }
    const std::wstring text = Wide(prompt);
    DWORD written = 0;
    if (!WriteConsoleW(out.h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        return std::nullopt;

    g_savedMode = saved;
    g_promptConsole = in.h;
    SetConsoleCtrlHandler(RestoreEcho, TRUE);
    SetConsoleMode(in.h, (saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT
                             | ENABLE_PROCESSED_INPUT);
    WideLine typed;
    const LineEnd end = ReadConsoleLine(in.h, &typed);
    SetConsoleMode(in.h, saved);
    SetConsoleCtrlHandler(RestoreEcho, FALSE);
    g_promptConsole = nullptr;
    WriteConsoleW(out.h, L"\r\n", 2, &written, nullptr); // the Enter that was not echoed

    if (end == LineEnd::Interrupted && g_interrupt) {
        // The console runs the program's Ctrl+C handler on a thread of its
        // own, which may not have set the flag yet.
        for (int i = 0; i < 100 && !g_interrupt->load(); ++i) Sleep(10);
    }
    if (end != LineEnd::Line) return std::nullopt;
    return typed.Utf8();
}

} // namespace kestrawin::cli
