#pragma once

#include <atomic>
#include <optional>
#include <string>

namespace kestrawin::cli {

// A flag that, once set (by a signal handler), ends a prompt that is waiting.
void SetInterruptFlag(const std::atomic<bool>* flag);

// The first line of a file ("-": standard input) without its line ending.
// Nothing when the file cannot be read.
[[nodiscard]] std::optional<std::string> ReadPasswordFile(const std::string& path, std::string* error);

// Asks on the controlling terminal without echo. Nothing when there is no
// terminal (or the user ends the input).
[[nodiscard]] std::optional<std::string> PromptPassword(const char* prompt, bool* noTerminal);

} // namespace kestrawin::cli
