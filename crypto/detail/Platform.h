// SPDX-License-Identifier: Apache-2.0
#pragma once
// What each platform's own files give the portable code of this layer:
// CodePagesIconv.cpp or CodePagesWindows.cpp (the build picks one).

#include "base/Secret.h"

#include <optional>
#include <string_view>

namespace kestrawin::crypto::detail {

// The bytes of a UTF-8 text in a Windows code page (1250, 1251...), or
// nothing when a character has no byte there or the text is not UTF-8.
[[nodiscard]] std::optional<Secret> EncodeInCodePage(std::string_view utf8, unsigned codePage);

} // namespace kestrawin::crypto::detail
