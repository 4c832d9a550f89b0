// SPDX-License-Identifier: Apache-2.0
#pragma once
// The start-up session: what every start of the program does before it shows
// anything, apart from any window. The context-menu entries are brought up to
// date, the key store is opened with fresh key pairs, and the command line
// picks the page. The window and kestrawin-cli both start through here.

#include "CommandLine.h"

#include "crypto/Outcome.h"
#include "ops/KeyStore.h"
#include "shell/ShellRegistration.h"

#include <memory>
#include <string>
#include <vector>

namespace kestrawin::session {

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

// The key store of this run. The keys are shared: whoever encrypts holds them
// for as long as it works, whatever becomes of the session.
struct KeyStoreStart {
    std::shared_ptr<const ops::KeyContainer> keys; // null when no signature pair is usable
    Result result;                                 // why not, or why the pairs were not kept
};

// Opens the store in `folder` and puts fresh pairs in it. A store that cannot
// be saved still gives pairs for this run (with the reason in `result`).
[[nodiscard]] KeyStoreStart OpenKeyStore(const std::string& folder);

struct Startup {
    shell::RegisterOutcome registration;
    KeyStoreStart keyStore;
};

// The context-menu entries for env.programPath, then the key store, whatever
// became of the registration: without the keys every encryption would fail.
[[nodiscard]] Startup Start(const Environment& env);

// The page the command line asks for.
[[nodiscard]] PageChoice ChoosePage(const Environment& env);

} // namespace kestrawin::session
