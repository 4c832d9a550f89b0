// SPDX-License-Identifier: Apache-2.0
#pragma once
// Shared helpers for the engine tests: the file helpers of Files.h, file
// modes, shell quoting, and one key store generated once for the whole run.

#include "Files.h"

#include "base/Words.h"
#include "ops/Engine.h"

#include <string>

namespace kestrawin {
// Outcomes in failure messages by their words, not their bytes.
inline void PrintTo(Outcome outcome, std::ostream* os)
{
    *os << OutcomeReason(outcome);
}
} // namespace kestrawin

namespace kwtest {

unsigned Mode(const fs::path& path);
// s in single quotes for /bin/sh, whatever it holds.
std::string ShellQuote(const std::string& s);

// A key store in a scratch folder, shared by all tests (key generation is the
// slow part).
const kestrawin::ops::KeyContainer& SharedKeys();

} // namespace kwtest
