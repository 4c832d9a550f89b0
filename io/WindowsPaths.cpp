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

std::optional<std::wstring> WideFromUtf8(std::string_view utf8)
{
    std::wstring out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        std::uint32_t c = 0;
        std::size_t length = 0;
        std::uint32_t least = 0;
        if (b < 0x80) {
            c = b;
            length = 1;
        } else if (b >= 0xC2 && b < 0xE0) {
            c = b & 0x1F;
            length = 2;
            least = 0x80;
        } else if (b >= 0xE0 && b < 0xF0) {
            c = b & 0x0F;
            length = 3;
            least = 0x800;
        } else if (b >= 0xF0 && b < 0xF5) {
            c = b & 0x07;
            length = 4;
            least = 0x10000;
        } else {
            return std::nullopt;
        }
        if (i + length > utf8.size()) return std::nullopt;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            c = (c << 6) | (next & 0x3F);
        }
        if (c < least || c > 0x10FFFF) return std::nullopt;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (c >> 10));
            out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<wchar_t>(c); // a lone surrogate included
        }
        i += length;
    }
    return out;
}

std::string Utf8FromWide(std::wstring_view wide)
{
    std::string out;
    out.reserve(wide.size() * 3);
    for (std::size_t i = 0; i < wide.size(); ++i) {
        std::uint32_t c = static_cast<std::uint16_t>(wide[i]);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < wide.size()) {
            const std::uint32_t low = static_cast<std::uint16_t>(wide[i + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

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

std::string SystemErrorText(DWORD code)
{
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                       | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message(text ? text : L"", n);
    LocalFree(text);
    while (!message.empty()
           && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '
               || message.back() == L'.'))
        message.pop_back();
    return message.empty() ? "system error " + std::to_string(code) : Utf8FromWide(message);
}

} // namespace kestrawin::io
