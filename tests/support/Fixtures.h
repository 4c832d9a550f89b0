// SPDX-License-Identifier: Apache-2.0
#pragma once
// Shared helpers for the engine tests: a scratch folder per test, file
// helpers, and one key store generated once for the whole run.

#include "ops/Engine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kestrawin {
// Outcomes in failure messages by their words, not their bytes.
inline void PrintTo(Outcome outcome, std::ostream* os)
{
    *os << OutcomeReason(outcome);
}
} // namespace kestrawin

namespace kwtest {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path);
void WriteFile(const fs::path& path, const std::string& bytes);
std::string RandomBytes(std::size_t n, unsigned stream = 1);
// Names in a folder, sorted.
std::vector<std::string> Listing(const fs::path& folder);
unsigned Mode(const fs::path& path);
// The bytes a string of hexadecimal digits spells.
kestrawin::crypto::Bytes Hex(const std::string& hex);
// s in single quotes for /bin/sh, whatever it holds.
std::string ShellQuote(const std::string& s);

// A key store in a scratch folder, shared by all tests (key generation is the
// slow part).
const kestrawin::ops::KeyContainer& SharedKeys();

class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    fs::path dir;
};

} // namespace kwtest
