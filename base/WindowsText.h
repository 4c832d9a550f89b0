// SPDX-License-Identifier: Apache-2.0
#pragma once
// Text at the edge of Windows: the program holds it in UTF-8, the system
// takes it in UTF-16. Names that Windows allows but that are no valid UTF-16
// (a lone surrogate) travel in the generalized form of UTF-8 that keeps such
// units, and come back whole. Only the Windows build has this.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace kestrawin {

// UTF-16 of a UTF-8 text (lone surrogates allowed); nothing when the bytes
// are no such text.
[[nodiscard]] std::optional<std::wstring> WideFromUtf8(std::string_view utf8);
// UTF-8 of UTF-16 units (lone surrogates kept).
[[nodiscard]] std::string Utf8FromWide(std::wstring_view wide);

// The system's words for an error code, without the final full stop.
[[nodiscard]] std::string SystemErrorText(DWORD code);

} // namespace kestrawin
