// SPDX-License-Identifier: Apache-2.0
#pragma once
// File and byte helpers for tests on every platform, and a scratch folder per
// test.

#include "crypto/Provider.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kwtest {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path);
void WriteFile(const fs::path& path, const std::string& bytes);
// n bytes of a fixed pseudo-random stream: the same stream gives the same bytes.
std::string RandomBytes(std::size_t n, unsigned stream = 1);
kestrawin::crypto::Bytes RandomByteVector(std::size_t n, unsigned stream = 1);
// Names in a folder, sorted.
std::vector<std::string> Listing(const fs::path& folder);
// The bytes a string of hexadecimal digits spells.
kestrawin::crypto::Bytes Hex(const std::string& hex);

class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    fs::path dir;
};

} // namespace kwtest
