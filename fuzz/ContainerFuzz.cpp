// SPDX-License-Identifier: Apache-2.0
// The container reader on hostile bytes: header, K and S, the key blob, the
// signature, the key recipe and the ciphertext with its padding. Each input is
// a whole ".ksw" file, read from memory by the same code that reads files.
//
// Beyond the sanitizers, every input must end in one of the outcomes a file
// can give, and a successful decryption must be exact: encrypting the result
// again with the key found gives back the ciphertext byte for byte.
//
// The same bytes also drive our RC2 against OpenSSL's (legacy provider): a
// key of 1 to 128 bytes, 1 to 1024 effective bits, an IV and a message taken
// from the input must give OpenSSL's bytes when encrypted, and decrypt back on
// every path this processor has, in place and into another buffer.

#include "base/Words.h"
#include "crypto/Rc2.h"
#include "format/Container.h"
#include "format/Reader.h"

#include "Vectors.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace kestrawin;

// The passwords of the containers in tests/data, from their sidecars. Tried in
// turn while the signature says "wrong password", so that every corpus file
// (the damaged ones are derived from those containers) can reach its
// ciphertext.
std::vector<std::string> g_passwords;

[[noreturn]] void Broken(const char* what, const Result& r)
{
    std::fprintf(stderr, "broken invariant: %s (%s)\n", what, DescribeResult(r).c_str());
    std::abort();
}

bool HasMagic(crypto::ByteView bytes)
{
    return bytes.size() >= sizeof format::kContainerMagic
           && std::memcmp(bytes.data(), format::kContainerMagic, sizeof format::kContainerMagic)
                  == 0;
}

void CheckExact(crypto::ByteView container, const std::string& password, const crypto::Bytes& plain)
{
    format::MemorySource source(container);
    format::DecryptionPlan plan;
    const Result r = format::PlanDecryption(source, password, &plan);
    if (!r.ok()) Broken("a decrypted container no longer plans", r);
    const std::size_t length = static_cast<std::size_t>(plan.layout.ciphertextLength);
    if (plain.size() >= length || plain.size() + crypto::Rc2Cbc::kBlock < length)
        Broken("the plaintext length does not fit the ciphertext", r);

    crypto::Rc2Cbc cipher;
    crypto::Bytes again(plain.size() + crypto::Rc2Cbc::kBlock);
    std::size_t n = 0, last = 0;
    if (!cipher.Init(plan.key, crypto::Rc2Cbc::Direction::Encrypt)
        || !cipher.Update(plain, again.data(), &n) || !cipher.Final(again.data() + n, &last)
        || n + last != length
        || !std::equal(again.begin(), again.begin() + static_cast<std::ptrdiff_t>(length),
                       container.begin()
                           + static_cast<std::ptrdiff_t>(plan.layout.ciphertextOffset)))
        Broken("encrypting the plaintext again does not give the ciphertext", r);
}

const EVP_CIPHER* OpenSslRc2()
{
    static const EVP_CIPHER* cipher = [] {
        OSSL_LIB_CTX* ctx = OSSL_LIB_CTX_new();
        if (!ctx || !OSSL_PROVIDER_load(ctx, "legacy") || !OSSL_PROVIDER_load(ctx, "default")) {
            std::fprintf(stderr, "OpenSSL's legacy provider is missing: RC2 is not compared\n");
            return static_cast<EVP_CIPHER*>(nullptr);
        }
        return EVP_CIPHER_fetch(ctx, "RC2-CBC", nullptr);
    }();
    return cipher;
}

void CompareRc2(const std::uint8_t* data, std::size_t size)
{
    const EVP_CIPHER* oracle = OpenSslRc2();
    if (!oracle || size < 3) return;
    const std::size_t keyLen = 1 + data[0] % 128;
    const int bits = 1 + ((data[1] << 8) | data[2]) % 1024;
    // Key, IV and message follow, wrapping around a short input.
    auto byteAt = [&](std::size_t i) { return data[3 + i % (size > 3 ? size - 3 : 1)]; };
    crypto::Bytes key(keyLen), iv(8);
    for (std::size_t i = 0; i < keyLen; ++i) key[i] = size > 3 ? byteAt(i) : 0;
    for (std::size_t i = 0; i < 8; ++i) iv[i] = size > 3 ? byteAt(keyLen + i) : 0;
    const std::size_t rest = size > 3 + keyLen + 8 ? size - 3 - keyLen - 8 : 0;
    const crypto::Bytes plain(data + size - rest, data + size - rest % 8);

    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    std::size_t effective = static_cast<std::size_t>(bits);
    OSSL_PARAM params[] = {OSSL_PARAM_construct_size_t(OSSL_CIPHER_PARAM_RC2_KEYBITS, &effective),
                           OSSL_PARAM_construct_end()};
    crypto::Bytes expected(plain.size() + 8);
    int n = 0;
    if (!ctx || !EVP_CipherInit_ex2(ctx, oracle, nullptr, nullptr, 1, nullptr)
        || !EVP_CIPHER_CTX_set_key_length(ctx, static_cast<int>(keyLen))
        || !EVP_CIPHER_CTX_set_params(ctx, params)
        || !EVP_CipherInit_ex2(ctx, nullptr, key.data(), iv.data(), 1, nullptr)
        || !EVP_CIPHER_CTX_set_padding(ctx, 0)
        || !EVP_CipherUpdate(ctx, expected.data(), &n, plain.data(),
                             static_cast<int>(plain.size()))) {
        std::fprintf(stderr, "OpenSSL's RC2 failed\n");
        std::abort();
    }
    EVP_CIPHER_CTX_free(ctx);
    expected.resize(static_cast<std::size_t>(n));

    crypto::rc2::Schedule schedule;
    if (!crypto::rc2::ExpandKey(key, bits, &schedule)) {
        std::fprintf(stderr, "a key in range was refused\n");
        std::abort();
    }
    const std::size_t blocks = plain.size() / 8;
    crypto::Bytes ours(plain.size()), chain = iv;
    crypto::rc2::CbcEncrypt(schedule, chain.data(), plain.data(), ours.data(), blocks);
    if (ours != expected) {
        std::fprintf(stderr, "our RC2 encryption differs from OpenSSL's\n");
        std::abort();
    }
    for (crypto::rc2::Path path : crypto::rc2::kAllPaths) {
        if (!crypto::rc2::PathAvailable(path)) continue;
        crypto::Bytes apart(plain.size()), inPlace = expected;
        crypto::Bytes ivA = iv, ivB = iv;
        crypto::rc2::CbcDecrypt(schedule, ivA.data(), expected.data(), apart.data(), blocks, path);
        crypto::rc2::CbcDecrypt(schedule, ivB.data(), inPlace.data(), inPlace.data(), blocks, path);
        if (apart != plain || inPlace != plain || ivA != ivB) {
            std::fprintf(stderr, "RC2 decryption on the %s path differs\n",
                         crypto::rc2::PathName(path));
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::string error;
    for (const kwtest::WindowsVector& v : kwtest::LoadWindowsVectors(KESTRAWIN_VECTORS_DIR, &error))
        g_passwords.push_back(v.password);
    if (g_passwords.empty()) {
        std::fprintf(stderr, "no passwords from the vectors' sidecars: %s\n", error.c_str());
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CompareRc2(data, size);
    const crypto::ByteView container(data, size);
    crypto::Bytes plain;
    for (const std::string& password : g_passwords) {
        const Result r = format::DecryptBytes(container, password, &plain);
        switch (r.outcome) {
        case Outcome::WrongPassword: continue;
        case Outcome::Success: CheckExact(container, password, plain); return 0;
        case Outcome::NotContainer:
            if (HasMagic(container)) Broken("a file with the magic called no container", r);
            return 0;
        case Outcome::DamagedContainer: return 0;
        default: Broken("an outcome that bytes alone cannot give", r);
        }
    }
    return 0;
}
