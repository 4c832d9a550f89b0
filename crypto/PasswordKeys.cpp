// SPDX-License-Identifier: Apache-2.0
#include "PasswordKeys.h"

#include "detail/Platform.h"

#include <algorithm>
#include <cstring>

namespace kestrawin::crypto {
namespace {

// Decodes one code point; false on malformed UTF-8 (overlong forms, surrogates
// and values past U+10FFFF included).
bool NextCodePoint(std::string_view s, std::size_t& i, char32_t& cp)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    int len = 0;
    char32_t min = 0;
    if (b0 < 0x80) {
        cp = b0;
        ++i;
        return true;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        return false;
    }
    if (i + static_cast<std::size_t>(len) > s.size()) return false;
    for (int k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
        if ((b & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += static_cast<std::size_t>(len);
    return true;
}

// Windows-1252 bytes 0x80 to 0x9F. The five bytes Windows leaves undefined map
// to the C1 control of the same value, as Windows' own conversion does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

bool IsValidUtf8(std::string_view s)
{
    char32_t cp;
    for (std::size_t i = 0; i < s.size();)
        if (!NextCodePoint(s, i, cp)) return false;
    return true;
}

std::optional<Secret> ToWindows1252(std::string_view utf8)
{
    Secret out;
    out.Reserve(utf8.size());
    char32_t cp;
    for (std::size_t i = 0; i < utf8.size();) {
        if (!NextCodePoint(utf8, i, cp)) return std::nullopt;
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            out.Append(static_cast<char>(cp));
            continue;
        }
        const auto* hit =
            std::find(std::begin(kCp1252High), std::end(kCp1252High), static_cast<char16_t>(cp));
        if (cp > 0xFFFF || hit == std::end(kCp1252High)) return std::nullopt;
        out.Append(static_cast<char>(0x80 + (hit - std::begin(kCp1252High))));
    }
    return out;
}

Secret PasswordBytesForEncryption(std::string_view utf8)
{
    if (auto cp1252 = ToWindows1252(utf8)) return std::move(*cp1252);
    return Secret(utf8);
}

std::vector<Secret> PasswordCandidates(std::string_view utf8)
{
    std::vector<Secret> out;
    out.reserve(4); // no reallocation: a move leaves nothing behind, but keep it simple
    auto add = [&out](Secret bytes) {
        if (std::find(out.begin(), out.end(), bytes) == out.end()) out.push_back(std::move(bytes));
    };
    if (!IsValidUtf8(utf8)) {
        add(Secret(utf8));
        return out;
    }
    if (auto cp1252 = ToWindows1252(utf8)) add(std::move(*cp1252));
    add(Secret(utf8));
    for (unsigned codePage : {1250u, 1251u})
        if (auto bytes = detail::EncodeInCodePage(utf8, codePage)) add(std::move(*bytes));
    return out;
}

std::size_t CharacterCount(std::string_view utf8)
{
    if (!IsValidUtf8(utf8)) return utf8.size();
    std::size_t count = 0;
    for (char c : utf8)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    return count;
}

Rc2Key DeriveRc2Key(const Sha1Digest& hash, Rc2Recipe recipe)
{
    Rc2Key key;
    const std::size_t take = recipe == Rc2Recipe::Base ? 5 : 16;
    std::copy_n(hash.begin(), take, key.bytes.begin()); // the rest stays zero (salt)
    key.effectiveBits = recipe == Rc2Recipe::Strong ? 128 : 40;
    return key;
}

std::vector<Rc2Recipe> RecipesForKeyBits(std::uint32_t bits)
{
    if (bits < 1024) return {Rc2Recipe::Base, Rc2Recipe::Strong, Rc2Recipe::OldStrong};
    return {Rc2Recipe::Strong, Rc2Recipe::Base, Rc2Recipe::OldStrong};
}

} // namespace kestrawin::crypto
