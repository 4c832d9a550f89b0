// SPDX-License-Identifier: Apache-2.0
#include "WindowsText.h"
#include "Utf8.h"

#include <cstdint>

namespace kestrawin {

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
        AppendUtf8(out, c);
    }
    return out;
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

} // namespace kestrawin
