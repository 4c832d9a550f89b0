// SPDX-License-Identifier: Apache-2.0
#include "ReferenceRc2.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <gtest/gtest.h>

#include <algorithm>

namespace kwtest {
namespace {

// OpenSSL's RC2-CBC, in a library context of its own.
struct Library {
    OSSL_LIB_CTX* ctx = nullptr;
    EVP_CIPHER* cipher = nullptr;
    Library()
    {
        ctx = OSSL_LIB_CTX_new();
        if (ctx && OSSL_PROVIDER_load(ctx, "legacy") && OSSL_PROVIDER_load(ctx, "default"))
            cipher = EVP_CIPHER_fetch(ctx, "RC2-CBC", nullptr);
    }
};

const Library& Get()
{
    static Library library;
    return library;
}

} // namespace

std::string ReferenceRc2Missing()
{
    return Get().cipher ? "" : "OpenSSL's legacy provider is missing";
}

std::size_t ReferenceRc2KeyBytes(std::size_t wanted)
{
    return std::clamp<std::size_t>(wanted, 1, 128);
}

Bytes ReferenceRc2(bool encrypt, const Bytes& key, int bits, const Bytes& iv, const Bytes& in)
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    std::size_t effective = static_cast<std::size_t>(bits);
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_size_t(OSSL_CIPHER_PARAM_RC2_KEYBITS, &effective),
        OSSL_PARAM_construct_end(),
    };
    Bytes out(in.size() + 8);
    int n = 0, last = 0;
    // The key length and effective bits go in before the key itself.
    const bool ok = ctx && EVP_CipherInit_ex2(ctx, Get().cipher, nullptr, nullptr, encrypt, nullptr)
                    && EVP_CIPHER_CTX_set_key_length(ctx, static_cast<int>(key.size()))
                    && EVP_CIPHER_CTX_set_params(ctx, params)
                    && EVP_CipherInit_ex2(ctx, nullptr, key.data(), iv.data(), encrypt, nullptr)
                    && EVP_CIPHER_CTX_set_padding(ctx, 0)
                    && EVP_CipherUpdate(ctx, out.data(), &n, in.data(), static_cast<int>(in.size()))
                    && EVP_CipherFinal_ex(ctx, out.data() + n, &last);
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) ADD_FAILURE() << "OpenSSL's RC2 failed";
    out.resize(static_cast<std::size_t>(n + last));
    return out;
}

} // namespace kwtest
