// SPDX-License-Identifier: Apache-2.0
// Wiping and protecting secrets on Windows.
#include "Secret.h"

#include <windows.h>

namespace kestrawin {

void Wipe(void* data, std::size_t n)
{
    if (data && n) SecureZeroMemory(data, n);
}

void ProtectProcessMemory()
{
    // No crash dialog and no crash report: a report would carry the process's
    // memory, passwords included, off to the error reporting service.
    SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
}

} // namespace kestrawin
