// SPDX-License-Identifier: Apache-2.0
#pragma once
// kestrawin-cli itself (main.cpp), started by each platform's entry:
// MainPosix.cpp, or MainWindows.cpp with the arguments in UTF-8.

namespace kestrawin::cli {

// Runs the program on its arguments (argv[0] the program); the exit status.
[[nodiscard]] int RunCli(int argc, char** argv);

} // namespace kestrawin::cli
