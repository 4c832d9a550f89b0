// SPDX-License-Identifier: Apache-2.0
// Wiping, comparing and protecting secrets on Windows.
#include "Secret.h"
#include "detail/Platform.h"

#include <windows.h>

namespace kestrawin {

void Wipe(void* data, std::size_t n)
{
    if (data && n) SecureZeroMemory(data, n);
}

bool detail::SameBytes(const void* a, const void* b, std::size_t n)
{
    const auto* x = static_cast<const volatile unsigned char*>(a);
    const auto* y = static_cast<const volatile unsigned char*>(b);
    unsigned char differ = 0;
    for (std::size_t i = 0; i < n; ++i) differ = static_cast<unsigned char>(differ | (x[i] ^ y[i]));
    return differ == 0;
}

void ProtectProcessMemory()
{
    // No crash dialog and no crash report: a report would carry the process's
    // memory, passwords included, off to the error reporting service.
    SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
}

} // namespace kestrawin
