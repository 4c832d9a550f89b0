// SPDX-License-Identifier: Apache-2.0
#pragma once
// The start-up: what every start of the program does before it shows
// anything, apart from any window. The context-menu entries are brought up to
// date, the key store is opened with fresh key pairs, and the command line
// picks the page. The window starts through here; kestrawin-cli, which writes
// no entries, opens the key store alone (KeyStoreStart.h).

#include "CommandLine.h"
#include "KeyStoreStart.h"

#include "shell/ShellRegistration.h"

#include <string>
#include <vector>

namespace kestrawin::startup {

// Everything a start takes from the world around it. Tests fill it in;
// FromProcess reads the running process.
struct Environment {
    std::vector<std::string> arguments; // after the program, empty ones left out
    std::string workingDirectory;
    shell::Environment shellEnvironment;
    QString programPath;       // what the context menus start
    std::string keyFolder;     // where the key store lives
    shell::ToolRunner runTool; // null: the real database update tools

    static Environment FromProcess(int argc, const char* const* argv);
};

struct Started {
    shell::ShellOutcome registration;
    KeyStoreStart keyStore;
};

// The context-menu entries for env.programPath, then the key store, whatever
// became of the registration: without the keys every encryption would fail.
[[nodiscard]] Started Start(const Environment& env);

// The page the command line asks for.
[[nodiscard]] PageChoice ChoosePage(const Environment& env);

} // namespace kestrawin::startup
