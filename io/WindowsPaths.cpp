// SPDX-License-Identifier: Apache-2.0
#include "WindowsPaths.h"

#include <cstdint>

namespace kestrawin::io {
namespace {

bool StartsWith(std::wstring_view s, std::wstring_view prefix)
{
    return s.substr(0, prefix.size()) == prefix;
}

constexpr std::wstring_view kLongPrefix = L"\\\\?\\";
constexpr std::wstring_view kLongUncPrefix = L"\\\\?\\UNC\\";
constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";

} // namespace

std::optional<std::wstring> LongAbsolutePath(std::string_view utf8)
{
    std::optional<std::wstring> wide = WideFromUtf8(utf8);
    if (!wide || wide->empty() || wide->find(L'\0') != std::wstring::npos) return std::nullopt;
    if (StartsWith(*wide, kLongPrefix)) return wide;
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            GetFullPathNameW(wide->c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) return std::nullopt;
        if (n < full.size()) {
            full.resize(n);
            break;
        }
        full.resize(n);
    }
    if (StartsWith(full, kDevicePrefix)) return full;
    if (StartsWith(full, L"\\\\")) return std::wstring(kLongUncPrefix) + full.substr(2);
    return std::wstring(kLongPrefix) + full;
}

WidePathParts SplitLongPath(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return {L".", path};
    WidePathParts parts{path.substr(0, slash), path.substr(slash + 1)};
    // "\\?\C:" names no folder: its root is "\\?\C:\". So is a share's.
    const bool driveRoot = !parts.folder.empty() && parts.folder.back() == L':';
    const bool shareRoot =
        StartsWith(parts.folder, kLongUncPrefix)
        && parts.folder.find(L'\\', kLongUncPrefix.size()) == parts.folder.rfind(L'\\');
    if (driveRoot || shareRoot || parts.folder.empty()) parts.folder += L'\\';
    return parts;
}

std::wstring ChildPath(const std::wstring& folder, std::wstring_view name)
{
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    path += name;
    return path;
}

} // namespace kestrawin::io
