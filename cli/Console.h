// SPDX-License-Identifier: Apache-2.0
#pragma once
// What kestrawin-cli needs of its terminal, each platform in a file of its
// own (ConsolePosix.cpp, ConsoleWindows.cpp).

#include <atomic>

namespace kestrawin::cli {

// From now on an interruption (Ctrl+C; on Linux also SIGTERM and SIGHUP; on
// Windows also the console closing) sets `cancel` instead of ending the
// program, and ends a password prompt that is waiting.
void CatchInterrupts(std::atomic<bool>* cancel);

// True when standard error is a terminal that can redraw a line in place:
// the progress is shown there.
[[nodiscard]] bool ErrorsGoToATerminal();

} // namespace kestrawin::cli
