// SPDX-License-Identifier: Apache-2.0
#pragma once
// UTF-8 by hand, where a text is built one character at a time.

#include <string>

namespace kestrawin {

// Appends a code point (a lone surrogate included) as UTF-8.
void AppendUtf8(std::string& out, char32_t c);

} // namespace kestrawin
