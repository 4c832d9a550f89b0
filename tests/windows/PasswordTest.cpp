// SPDX-License-Identifier: Apache-2.0
// kestrawin-cli's password on Windows: from a file or standard input (a pipe
// here), and asked on a console (a pseudo console here, which a helper
// process is attached to) without echo.

#include "Password.h"
#include "Children.h"
#include "Files.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

using namespace kestrawin;
using namespace kwtest;

namespace {

struct Line {
    std::string name, input;
    std::optional<std::string> password; // else the error
    std::string error;
    std::string errorOnStandardInput = {}; // when not the same
};

const std::string kLong(64 * 1024 + 1, 'a');

const Line kLines[] = {
    {"a line", "secret\nsecond line\n", "secret", ""},
    {"Windows line end", "secret\r\nsecond line\n", "secret", ""},
    {"no line end, UTF-8 kept", "p\xc3\xa4ss\xe2\x82\xac", "p\xc3\xa4ss\xe2\x82\xac", ""},
    {"empty", "", std::nullopt, "the file is empty", "standard input is empty"},
    {"too long", kLong + "\n", std::nullopt, "the first line is too long"},
};

// Standard input replaced by a pipe holding `input`, for the scope.
class PipedInput {
public:
    explicit PipedInput(const std::string& input)
    {
        HANDLE write = nullptr;
        CreatePipe(&read_, &write, nullptr, static_cast<DWORD>(input.size() + 4096));
        writer_ = std::thread([write, input] {
            DWORD written = 0;
            WriteFile(write, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
            CloseHandle(write);
        });
        saved_ = GetStdHandle(STD_INPUT_HANDLE);
        SetStdHandle(STD_INPUT_HANDLE, read_);
    }
    ~PipedInput()
    {
        SetStdHandle(STD_INPUT_HANDLE, saved_);
        CloseHandle(read_);
        writer_.join();
    }
    PipedInput(const PipedInput&) = delete;
    PipedInput& operator=(const PipedInput&) = delete;

    std::string Rest() const
    {
        std::string rest;
        char c = 0;
        DWORD got = 0;
        while (ReadFile(read_, &c, 1, &got, nullptr) && got == 1) rest += c;
        return rest;
    }

private:
    HANDLE read_ = nullptr;
    HANDLE saved_ = nullptr;
    std::thread writer_;
};

// The password read, or nothing with the reason in *error.
std::optional<std::string> Text(const Expected<Secret>& password, std::string* error)
{
    *error = password.result().detail;
    return password ? std::optional<std::string>(password->view()) : std::nullopt;
}

class Password : public ScratchTest {};

} // namespace

TEST_F(Password, TheFirstLineOfAFileOrOfStandardInputNothingPastIt)
{
    for (const Line& line : kLines) {
        SCOPED_TRACE(line.name);
        WriteFile(dir / "password", line.input);
        std::string error;
        EXPECT_EQ(Text(cli::ReadPasswordFile((dir / "password").string()), &error), line.password);
        EXPECT_EQ(error, line.error);

        PipedInput piped(line.input);
        error.clear();
        EXPECT_EQ(Text(cli::ReadPasswordFile("-"), &error), line.password);
        EXPECT_EQ(error,
                  line.errorOnStandardInput.empty() ? line.error : line.errorOnStandardInput);
        if (line.input.find("second line") != std::string::npos) {
            EXPECT_EQ(piped.Rest(), "second line\n");
        }
    }
    const auto missing = cli::ReadPasswordFile((dir / "missing").string());
    EXPECT_EQ(missing.result().outcome, Outcome::InputUnreadable);
    EXPECT_FALSE(missing.result().detail.empty());
}

namespace {

// A pseudo console that helpers are attached to one after another: what they
// show arrives in screen(), what is typed goes to Type(). Windows 10 (1809)
// and Wine have it; MinGW's headers do not declare it yet.
class PseudoConsole {
public:
    PseudoConsole()
    {
        const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        create_ = reinterpret_cast<Create>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "CreatePseudoConsole")));
        close_ = reinterpret_cast<Close>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "ClosePseudoConsole")));
        HANDLE keys = nullptr, shown = nullptr;
        if (!create_ || !close_ || !CreatePipe(&keys, &typing_, nullptr, 0)
            || !CreatePipe(&showing_, &shown, nullptr, 0)
            || FAILED(create_({80, 25}, keys, shown, 0, &console_)))
            console_ = nullptr;
        // The console holds its own copies.
        if (keys) CloseHandle(keys);
        if (shown) CloseHandle(shown);
        // The reader only reads what is there: a console that keeps its end
        // of the pipe after it is closed (as Wine's may) cannot hold it.
        reader_ = std::thread([this] {
            char chunk[512];
            DWORD got = 0, ready = 0;
            while (PeekNamedPipe(showing_, nullptr, 0, nullptr, &ready, nullptr)) {
                if (ready == 0) {
                    if (closing_.load()) break;
                    Sleep(10);
                } else if (!ReadFile(showing_, chunk, sizeof chunk, &got, nullptr) || got == 0) {
                    break;
                } else {
                    std::lock_guard lock(mutex_);
                    screen_.append(chunk, got);
                }
            }
        });
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        attributes_.resize(size);
        startup_.StartupInfo.cb = sizeof startup_;
        startup_.lpAttributeList =
            reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes_.data());
        InitializeProcThreadAttributeList(startup_.lpAttributeList, 1, 0, &size);
        UpdateProcThreadAttribute(startup_.lpAttributeList, 0, kPseudoConsoleAttribute, console_,
                                  sizeof console_, nullptr, nullptr);
    }
    ~PseudoConsole()
    {
        if (console_) close_(console_);
        CloseHandle(typing_);
        closing_.store(true);
        reader_.join();
        CloseHandle(showing_);
        DeleteProcThreadAttributeList(startup_.lpAttributeList);
    }
    PseudoConsole(const PseudoConsole&) = delete;
    PseudoConsole& operator=(const PseudoConsole&) = delete;

    [[nodiscard]] bool ready() const { return console_ != nullptr; }
    Child Start(const std::vector<std::wstring>& arguments)
    {
        return Child(arguments, 0, &startup_);
    }
    void Type(const std::string& keys)
    {
        DWORD written = 0;
        WriteFile(typing_, keys.data(), static_cast<DWORD>(keys.size()), &written, nullptr);
    }
    // True once `text` has been shown, within 20 s.
    bool Shows(const std::string& text)
    {
        for (int i = 0; i < 400; ++i, Sleep(50))
            if (screen().find(text) != std::string::npos) return true;
        return false;
    }
    std::string screen()
    {
        std::lock_guard lock(mutex_);
        return screen_;
    }

private:
    using Create = HRESULT(WINAPI*)(COORD, HANDLE, HANDLE, DWORD, void**);
    using Close = void(WINAPI*)(void*);
    static constexpr DWORD_PTR kPseudoConsoleAttribute = 0x00020016;
    Create create_ = nullptr;
    Close close_ = nullptr;
    void* console_ = nullptr;
    HANDLE typing_ = nullptr, showing_ = nullptr;
    std::thread reader_;
    std::atomic<bool> closing_{false};
    std::mutex mutex_;
    std::string screen_;
    std::vector<char> attributes_;
    STARTUPINFOEXW startup_{};
};

} // namespace

TEST_F(Password, TheConsoleIsAskedWithoutEchoWhichIsBackAfterEnterOrCtrlC)
{
    const struct {
        std::string name, typed, prompt, report;
    } rows[] = {
        {"typed", "secret\r", "", "password 736563726574"},
        {"corrected with backspace", "secrex\bt\r", "", "password 736563726574"},
        {"beyond ASCII", "p\xc3\xa4ss\xe2\x82\xac\r", "", "password 70c3a47373e282ac"},
        {"Ctrl+C", "sec", "ctrl-c", ""}, // no report: the system ends the program
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        PseudoConsole console;
        ASSERT_TRUE(console.ready());
        const fs::path report = dir / row.name, mode = dir / (row.name + " mode");
        std::vector<std::wstring> prompt{L"prompt", report.native()};
        if (!row.prompt.empty()) prompt.emplace_back(row.prompt.begin(), row.prompt.end());
        Child asking = console.Start(prompt);
        ASSERT_TRUE(console.Shows("Password:"));
        console.Type(row.typed);
        EXPECT_TRUE(asking.Succeeds() || row.report.empty());
        if (!row.report.empty()) {
            EXPECT_EQ(ReadFile(report), row.report);
        }
        EXPECT_EQ(console.screen().find(row.typed.substr(0, 3)), std::string::npos);
        // The console as the next program finds it: echo on.
        ASSERT_TRUE(console.Start({L"console-mode", mode.native()}).Succeeds());
        EXPECT_NE(std::stoul(ReadFile(mode), nullptr, 16) & ENABLE_ECHO_INPUT, 0u);
    }

    // Without a console there is nothing to ask on.
    const fs::path report = dir / "detached";
    ASSERT_TRUE(Child({L"prompt", report.native()}, DETACHED_PROCESS).Succeeds());
    EXPECT_EQ(ReadFile(report), "no console");
}
