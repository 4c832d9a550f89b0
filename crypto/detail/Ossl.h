// SPDX-License-Identifier: Apache-2.0
#pragma once
// OpenSSL handles wrapped for ownership. Internal to the engine: nothing outside
// crypto/ includes this header, so no OpenSSL handle leaves the engine.

#include "base/Outcome.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <memory>
#include <string>

namespace kestrawin::crypto::detail {

template <auto Fn>
struct Deleter {
    template <typename T>
    void operator()(T* p) const
    {
        if (p) Fn(p);
    }
};

using PKey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using PKeyCtx = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX_free>>;
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, Deleter<EVP_CIPHER_CTX_free>>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using Bignum = std::unique_ptr<BIGNUM, Deleter<BN_free>>;
using SecretBignum = std::unique_ptr<BIGNUM, Deleter<BN_clear_free>>; // wiped when freed
using BnCtx = std::unique_ptr<BN_CTX, Deleter<BN_CTX_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO_free_all>>;

// The library context with the "default" provider and the algorithm fetched
// once from it.
struct Library {
    OSSL_LIB_CTX* ctx = nullptr;
    EVP_MD* sha1 = nullptr;
};

// The process-wide library, loaded on first use; a CryptoFailure saying which
// provider or algorithm is missing.
Expected<const Library*> GetLibrary();

// The text of OpenSSL's most recent error, emptying its queue.
std::string LastError(const char* what);

} // namespace kestrawin::crypto::detail
