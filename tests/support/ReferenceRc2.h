// SPDX-License-Identifier: Apache-2.0
#pragma once
// RC2-CBC without padding from the platform's own library, to hold our RC2
// against: OpenSSL's legacy provider on Linux, CryptoAPI on Windows.

#include "crypto/Provider.h"

#include <cstddef>
#include <string>

namespace kwtest {

using kestrawin::crypto::Bytes;

// Empty when the reference is there; otherwise why not (the tests that need
// it are then skipped).
[[nodiscard]] std::string ReferenceRc2Missing();
// A key length in bytes brought into the range the reference takes (OpenSSL
// 1 to 128, CryptoAPI 6 to 16).
[[nodiscard]] std::size_t ReferenceRc2KeyBytes(std::size_t wanted);
// in: whole blocks; iv: 8 bytes; bits: 1 to 1024 effective key bits.
[[nodiscard]] Bytes ReferenceRc2(bool encrypt, const Bytes& key, int bits, const Bytes& iv,
                                 const Bytes& in);

} // namespace kwtest
