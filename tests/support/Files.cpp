// SPDX-License-Identifier: Apache-2.0
#include "Files.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

namespace kwtest {

std::string Utf8(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

fs::path FromUtf8(const std::string& utf8)
{
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

Path Path::Child(const std::string& name) const
{
    return static_cast<const fs::path&>(*this) / FromUtf8(name);
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string RandomBytes(std::size_t n, unsigned stream)
{
    std::mt19937 rng(stream);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
}

kestrawin::crypto::Bytes RandomByteVector(std::size_t n, unsigned stream)
{
    const std::string s = RandomBytes(n, stream);
    return {s.begin(), s.end()};
}

kestrawin::crypto::Bytes Hex(const std::string& hex)
{
    kestrawin::crypto::Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

bool CreateSymlink(const fs::path& target, const fs::path& link)
{
    std::error_code error;
    fs::create_symlink(target, link, error);
    return !error && fs::is_symlink(link, error);
}

std::vector<std::string> Listing(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(Utf8(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

void ScratchTest::SetUp()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::temp_directory_path()
          / ("kestrawin-" + std::string(info->test_suite_name()) + "-" + info->name() + "-"
             + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
}

void ScratchTest::TearDown()
{
    std::error_code ec;
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir, ec);
}

} // namespace kwtest
