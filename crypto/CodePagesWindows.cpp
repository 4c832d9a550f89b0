// SPDX-License-Identifier: Apache-2.0
// Windows code pages on Windows, through the system's own conversion.
#include "detail/Platform.h"

#include <windows.h>

#include <climits>
#include <vector>

namespace kestrawin::crypto::detail {

std::optional<Secret> EncodeInCodePage(std::string_view utf8, unsigned codePage)
{
    if (utf8.empty()) return Secret();
    if (utf8.size() > INT_MAX / 4) return std::nullopt;
    const int inLength = static_cast<int>(utf8.size());
    // UTF-16 first (refusing malformed UTF-8), then the code page, refusing
    // any character that would need the default character or a best fit.
    std::vector<wchar_t> wide(utf8.size());
    const int wideLength = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLength,
                                               wide.data(), inLength);
    std::optional<Secret> result;
    if (wideLength > 0) {
        Secret out;
        out.Resize(static_cast<std::size_t>(wideLength) * 4);
        BOOL usedDefault = FALSE;
        const int n =
            WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, out.data(),
                                static_cast<int>(out.size()), nullptr, &usedDefault);
        if (n > 0 && !usedDefault) {
            out.Resize(static_cast<std::size_t>(n));
            result = std::move(out);
        }
    }
    Wipe(wide.data(), wide.size() * sizeof(wchar_t));
    return result;
}

} // namespace kestrawin::crypto::detail
