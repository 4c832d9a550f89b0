// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "base/Outcome.h"
#include "base/Secret.h"

#include <atomic>
#include <optional>
#include <string>

namespace kestrawin::cli {

// A flag that, once set (by a signal handler), ends a prompt that is waiting.
void SetInterruptFlag(const std::atomic<bool>* flag);

// The first line of a file (read straight into a Secret, so that no copy of
// the password is left behind) ("-": standard input) without its line ending;
// InputUnreadable, saying why, when the file cannot be read.
[[nodiscard]] Expected<Secret> ReadPasswordFile(const std::string& path);

// Asks on the controlling terminal without echo. Nothing when there is no
// terminal (or the user ends the input).
[[nodiscard]] std::optional<Secret> PromptPassword(const char* prompt, bool* noTerminal);

} // namespace kestrawin::cli
