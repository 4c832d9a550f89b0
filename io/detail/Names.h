// SPDX-License-Identifier: Apache-2.0
#pragma once
// The names this layer gives its own files (SafeFile.cpp), for each
// platform's file of it.

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrawin::io::detail {

inline constexpr std::string_view kTempMarker = ".kwtmp-";
inline constexpr std::string_view kAsideMarker = ".kwdel-";
inline constexpr std::size_t kRandomLetters = 10;
inline constexpr std::size_t kCheckLetters = 6;
inline constexpr std::size_t kTempSuffix = kRandomLetters + kCheckLetters;
// The longest name a folder holds: bytes on Linux, UTF-16 units on Windows
// (a UTF-8 name never has fewer bytes than units).
inline constexpr std::size_t kMaxName = 255;

// ".<name><marker>", ten random letters and six that check everything
// before them; the name cut short (never inside a UTF-8 sequence) to fit.
[[nodiscard]] std::string MarkedNameFor(const std::string& name, std::string_view marker);
// True only for names MarkedNameFor made with this marker.
[[nodiscard]] bool IsOurMarkedName(std::string_view name, std::string_view marker);

} // namespace kestrawin::io::detail
