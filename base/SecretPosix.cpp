// SPDX-License-Identifier: Apache-2.0
// Wiping and protecting secrets on Linux: a wipe the compiler keeps, no core
// dumps.
#include "Secret.h"

#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>

namespace kestrawin {

void Wipe(void* data, std::size_t n)
{
    if (data && n) explicit_bzero(data, n);
}

void ProtectProcessMemory()
{
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTRAWIN_ASAN 1
#endif
#endif
#if !defined(__SANITIZE_ADDRESS__) && !defined(KESTRAWIN_ASAN)
    // (Left out of sanitizer builds: their leak checker attaches to the process.)
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

} // namespace kestrawin
