// SPDX-License-Identifier: Apache-2.0
#include "Password.h"

#include "base/Words.h"
#include "io/FileDescriptor.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace kestrawin::cli {
namespace {

const std::atomic<bool>* g_interrupt = nullptr;

// Reads one line from a descriptor, a byte at a time so that nothing past the
// line is consumed. False when nothing could be read at all (*error is then
// `whenEmpty`).
constexpr std::size_t kLongestLine = 64 * 1024;

bool ReadLine(int fd, Secret* line, std::string* error, const char* whenEmpty)
{
    line->Clear();
    line->Reserve(kLongestLine + 1); // filled in place: no copies left behind
    bool any = false;
    for (;;) {
        char c = 0;
        const ssize_t r = read(fd, &c, 1);
        if (r < 0) {
            if (errno == EINTR && !(g_interrupt && g_interrupt->load())) continue;
            if (error) *error = std::strerror(errno);
            return false;
        }
        if (r == 0) break;
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

} // namespace

void SetInterruptFlag(const std::atomic<bool>* flag)
{
    g_interrupt = flag;
}

namespace {

std::optional<Secret> ReadPasswordLine(const std::string& path, std::string* error)
{
    io::FileDescriptor file; // standard input stays open
    if (path != "-") {
        file.reset(open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!file.valid()) {
            *error = std::strerror(errno);
            return std::nullopt;
        }
    }
    Secret line;
    const bool ok = path == "-" ? ReadLine(STDIN_FILENO, &line, error, words::CliStandardInputEmpty)
                                : ReadLine(file.get(), &line, error, words::CliPasswordFileEmpty);
    if (!ok) return std::nullopt;
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
    const io::FileDescriptor terminal(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    const int tty = terminal.get();
    if (!terminal.valid()) {
        *noTerminal = true;
        return std::nullopt;
    }
    termios saved{};
    const bool isTerminal = tcgetattr(tty, &saved) == 0;
    if (!isTerminal) {
        *noTerminal = true;
        return std::nullopt;
    }
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    if (write(tty, prompt, std::strlen(prompt)) < 0) return std::nullopt;
    tcsetattr(tty, TCSAFLUSH, &quiet);
    Secret line;
    std::string error;
    const bool ok = ReadLine(tty, &line, &error, "");
    tcsetattr(tty, TCSAFLUSH, &saved);
    if (!ok) return std::nullopt;
    return line;
}

} // namespace kestrawin::cli
