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

// Paths as the engine takes them, UTF-8, on every platform (a path's own
// narrow form is the system's code page on Windows).
std::string Utf8(const fs::path& path);
fs::path FromUtf8(const std::string& utf8);

// A path that goes to the engine as it is and to the standard library as a
// path: `dir / "name"` with `dir` a Path is one, names taken as UTF-8.
class Path : public fs::path {
public:
    Path() = default;
    Path(fs::path p) : fs::path(std::move(p)) {}
    operator std::string() const { return Utf8(*this); }
    [[nodiscard]] std::string string() const { return Utf8(*this); }

    friend Path operator/(const Path& folder, const char* name) { return folder.Child(name); }
    friend Path operator/(const Path& folder, const std::string& name)
    {
        return folder.Child(name);
    }
    friend Path operator/(const Path& folder, const fs::path& name)
    {
        return static_cast<const fs::path&>(folder) / name;
    }

private:
    [[nodiscard]] Path Child(const std::string& name) const;
};

std::string ReadFile(const fs::path& path);
void WriteFile(const fs::path& path, const std::string& bytes);
// n bytes of a fixed pseudo-random stream: the same stream gives the same bytes.
std::string RandomBytes(std::size_t n, unsigned stream = 1);
kestrawin::crypto::Bytes RandomByteVector(std::size_t n, unsigned stream = 1);
bool CreateSymlink(const fs::path& target, const fs::path& link);
// Names in a folder, sorted.
std::vector<std::string> Listing(const fs::path& folder);
// The bytes a string of hexadecimal digits spells.
kestrawin::crypto::Bytes Hex(const std::string& hex);

class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    Path dir;
};

} // namespace kwtest
