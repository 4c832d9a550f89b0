// SPDX-License-Identifier: Apache-2.0
#include "ReferenceRc2.h"

#include <windows.h>

#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace kwtest {

std::string ReferenceRc2Missing()
{
    return "";
}

std::size_t ReferenceRc2KeyBytes(std::size_t wanted)
{
    // 48 to 128 bits. (A 40-bit key gets 11 zero bytes of salt from the
    // provider, as the 40-bit recipe of the oldest containers has it.)
    return std::clamp<std::size_t>(wanted, 6, 16);
}

// The key imported as a plain key blob, its effective bits and IV set, then
// one call without the final flag (so no padding either way).
Bytes ReferenceRc2(bool encrypt, const Bytes& key, int bits, const Bytes& iv, const Bytes& in)
{
    static const HCRYPTPROV provider = [] {
        HCRYPTPROV p = 0;
        if (!CryptAcquireContextW(&p, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL,
                                  CRYPT_VERIFYCONTEXT))
            ADD_FAILURE() << "no provider";
        return p;
    }();
    Bytes blob(sizeof(BLOBHEADER) + 4 + key.size());
    BLOBHEADER header{PLAINTEXTKEYBLOB, CUR_BLOB_VERSION, 0, CALG_RC2};
    const DWORD keyLength = static_cast<DWORD>(key.size());
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, &keyLength, 4);
    std::copy(key.begin(), key.end(), blob.begin() + sizeof header + 4);
    HCRYPTKEY handle = 0;
    const DWORD effective = static_cast<DWORD>(bits);
    Bytes out = in;
    DWORD n = static_cast<DWORD>(out.size());
    const bool ok =
        CryptImportKey(provider, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &handle)
        && CryptSetKeyParam(handle, KP_EFFECTIVE_KEYLEN, reinterpret_cast<const BYTE*>(&effective),
                            0)
        && CryptSetKeyParam(handle, KP_IV, iv.data(), 0)
        && (encrypt ? CryptEncrypt(handle, 0, FALSE, 0, out.data(), &n, n)
                    : CryptDecrypt(handle, 0, FALSE, 0, out.data(), &n));
    if (!ok) ADD_FAILURE() << "CryptoAPI's RC2 failed: " << std::hex << GetLastError();
    if (handle) CryptDestroyKey(handle);
    out.resize(n);
    return out;
}

} // namespace kwtest
