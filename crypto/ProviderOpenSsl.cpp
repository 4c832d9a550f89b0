// SPDX-License-Identifier: Apache-2.0
// The provider on OpenSSL 3 (its default provider only): SHA-1, RSA key pairs
// and signatures in the Windows provider's byte order, random bytes.
#include "Provider.h"

#include "Rc2.h"
#include "base/Secret.h"
#include "detail/Ossl.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace kestrawin::crypto {
namespace detail {

std::string LastError(const char* what)
{
    std::string text = what;
    unsigned long code = ERR_get_error();
    if (code != 0) {
        char buf[256];
        ERR_error_string_n(code, buf, sizeof buf);
        text += ": ";
        text += buf;
    }
    ERR_clear_error();
    return text;
}

Expected<const Library*> GetLibrary()
{
    static Library lib;
    static std::string loadError;
    static std::once_flag once;
    std::call_once(once, [] {
        OSSL_LIB_CTX* ctx = OSSL_LIB_CTX_new();
        if (!ctx) {
            loadError = LastError("cannot create the OpenSSL library context");
            return;
        }
        if (!OSSL_PROVIDER_load(ctx, "default")) {
            loadError = LastError("cannot load the OpenSSL default provider");
            return;
        }
        // RC2 is our own code (Rc2.h): OpenSSL gives SHA-1, RSA and random
        // bytes, all in its default provider.
        EVP_MD* sha1 = EVP_MD_fetch(ctx, "SHA1", nullptr);
        if (!sha1) {
            loadError = LastError("SHA-1 is unavailable");
            return;
        }
        // The context and algorithm live for the whole process.
        lib.ctx = ctx;
        lib.sha1 = sha1;
    });
    if (!lib.ctx) return Result::fail(Outcome::CryptoFailure, loadError);
    return &lib;
}

} // namespace detail

using namespace detail;

Result ProviderAvailable()
{
    return GetLibrary().result();
}

namespace {

// The library, or null when it cannot be loaded (the callers' own failure
// says so).
const Library* LibraryOrNull()
{
    const auto lib = GetLibrary();
    return lib ? *lib : nullptr;
}

} // namespace

std::optional<Sha1Digest> Sha1(ByteView data)
{
    // Written straight into the value returned (a single named result), so
    // that no other copy of a password's digest stays behind on the stack.
    std::optional<Sha1Digest> digest(std::in_place);
    const Library* lib = LibraryOrNull();
    MdCtx md(lib ? EVP_MD_CTX_new() : nullptr);
    unsigned int len = 0;
    if (!md || !EVP_DigestInit_ex2(md.get(), lib->sha1, nullptr)
        || !EVP_DigestUpdate(md.get(), data.data(), data.size())
        || !EVP_DigestFinal_ex(md.get(), digest->data(), &len) || len != digest->size()) {
        ERR_clear_error();
        Wipe(digest->data(), digest->size());
        digest.reset();
    }
    return digest;
}

bool RandomBytes(std::uint8_t* out, std::size_t n)
{
    const Library* lib = LibraryOrNull();
    return lib && RAND_bytes_ex(lib->ctx, out, n, 0) == 1;
}

// ---------------------------------------------------------------- RSA pairs

struct RsaKeyPair::Impl {
    PKey key;
};

RsaKeyPair::RsaKeyPair() = default;
RsaKeyPair::~RsaKeyPair() = default;
RsaKeyPair::RsaKeyPair(RsaKeyPair&&) noexcept = default;
RsaKeyPair& RsaKeyPair::operator=(RsaKeyPair&&) noexcept = default;

Expected<RsaKeyPair> RsaKeyPair::Generate(int bits)
{
    const auto lib = GetLibrary();
    if (!lib) return lib.result();
    PKeyCtx ctx(EVP_PKEY_CTX_new_from_name((*lib)->ctx, "RSA", nullptr));
    EVP_PKEY* raw = nullptr;
    Bignum e(BN_new());
    if (!ctx || !e || !BN_set_word(e.get(), 65537) || EVP_PKEY_keygen_init(ctx.get()) <= 0
        || EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits) <= 0
        || EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), e.get()) <= 0
        || EVP_PKEY_generate(ctx.get(), &raw) <= 0) {
        return Result::fail(Outcome::CryptoFailure, LastError("RSA key generation failed"));
    }
    RsaKeyPair pair;
    pair.impl_ = std::make_unique<Impl>();
    pair.impl_->key.reset(raw);
    return pair;
}

std::string RsaKeyPair::ToPem() const
{
    if (!impl_) return {};
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio
        || !PEM_write_bio_PrivateKey(bio.get(), impl_->key.get(), nullptr, nullptr, 0, nullptr,
                                     nullptr)) {
        ERR_clear_error();
        return {};
    }
    char* data = nullptr;
    long len = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(len));
}

std::optional<RsaKeyPair> RsaKeyPair::FromPem(std::string_view pem)
{
    const Library* lib = LibraryOrNull();
    if (!lib || pem.size() > (1u << 20)) return std::nullopt;
    Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) return std::nullopt;
    PKey key(PEM_read_bio_PrivateKey_ex(bio.get(), nullptr, nullptr, nullptr, lib->ctx, nullptr));
    if (!key || !EVP_PKEY_is_a(key.get(), "RSA")) {
        ERR_clear_error();
        return std::nullopt;
    }
    RsaKeyPair pair;
    pair.impl_ = std::make_unique<Impl>();
    pair.impl_->key = std::move(key);
    return pair;
}

int RsaKeyPair::bits() const
{
    return impl_ ? EVP_PKEY_get_bits(impl_->key.get()) : 0;
}

Expected<RsaPublicNumbers> RsaKeyPair::PublicNumbers() const
{
    if (!impl_) return Result::fail(Outcome::CryptoFailure, "no key pair");
    BIGNUM* rawN = nullptr;
    BIGNUM* rawE = nullptr;
    if (!EVP_PKEY_get_bn_param(impl_->key.get(), OSSL_PKEY_PARAM_RSA_N, &rawN)
        || !EVP_PKEY_get_bn_param(impl_->key.get(), OSSL_PKEY_PARAM_RSA_E, &rawE)) {
        BN_free(rawN);
        BN_free(rawE);
        return Result::fail(Outcome::CryptoFailure, LastError("cannot read the public key"));
    }
    Bignum n(rawN), e(rawE);
    const int bitLen = EVP_PKEY_get_bits(impl_->key.get());
    const int modBytes = (bitLen + 7) / 8;
    if (BN_num_bits(e.get()) > 32 || modBytes <= 0)
        return Result::fail(Outcome::CryptoFailure, "an unusable public key");
    RsaPublicNumbers numbers;
    numbers.bits = static_cast<std::uint32_t>(bitLen);
    numbers.exponent = static_cast<std::uint32_t>(BN_get_word(e.get()));
    numbers.modulusLE.resize(static_cast<std::size_t>(modBytes));
    if (BN_bn2lebinpad(n.get(), numbers.modulusLE.data(), modBytes) != modBytes) {
        return Result::fail(Outcome::CryptoFailure, LastError("cannot read the modulus"));
    }
    return numbers;
}

Expected<Bytes> RsaKeyPair::SignSha1(const Sha1Digest& digest) const
{
    if (!impl_) return Result::fail(Outcome::CryptoFailure, "no key pair");
    const auto library = GetLibrary();
    if (!library) return library.result();
    const Library* lib = *library;
    PKeyCtx ctx(EVP_PKEY_CTX_new_from_pkey(lib->ctx, impl_->key.get(), nullptr));
    std::size_t len = 0;
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) <= 0
        || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0
        || EVP_PKEY_CTX_set_signature_md(ctx.get(), lib->sha1) <= 0
        || EVP_PKEY_sign(ctx.get(), nullptr, &len, digest.data(), digest.size()) <= 0) {
        return Result::fail(Outcome::CryptoFailure, LastError("cannot set up the signature"));
    }
    Bytes sig(len);
    if (EVP_PKEY_sign(ctx.get(), sig.data(), &len, digest.data(), digest.size()) <= 0) {
        return Result::fail(Outcome::CryptoFailure, LastError("cannot sign"));
    }
    sig.resize(len);
    // OpenSSL writes the most significant byte first; the container stores the
    // least significant first, and the length is always the modulus size.
    const std::size_t modBytes = static_cast<std::size_t>((bits() + 7) / 8);
    if (sig.size() < modBytes) sig.insert(sig.begin(), modBytes - sig.size(), 0);
    std::reverse(sig.begin(), sig.end());
    return sig;
}

bool RsaKeyPair::SamePublicKey(const RsaKeyPair& other) const
{
    return impl_ && other.impl_ && EVP_PKEY_eq(impl_->key.get(), other.impl_->key.get()) == 1;
}

// ------------------------------------------------------------ verification

namespace {

// Bytes that hold a password's digest: wiped when dropped.
struct WipedBytes : Bytes {
    using Bytes::Bytes;
    WipedBytes(const WipedBytes&) = delete;
    WipedBytes& operator=(const WipedBytes&) = delete;
    ~WipedBytes() { Wipe(data(), size()); }
};

} // namespace

RsaPublicKey::Check RsaPublicKey::VerifySha1(const Sha1Digest& digest, ByteView signatureLE) const
{
    const std::size_t k = modulusLE_.size();
    if (k == 0 || signatureLE.size() != k) return Check::Malformed;

    BnCtx bnCtx(BN_CTX_new());
    Bignum n(BN_lebin2bn(modulusLE_.data(), static_cast<int>(k), nullptr));
    Bignum s(BN_lebin2bn(signatureLE.data(), static_cast<int>(k), nullptr));
    Bignum e(BN_new());
    // The recovered block holds the digest of the password that signed: it
    // is wiped like the candidate's.
    SecretBignum m(BN_new());
    if (!bnCtx || !n || !s || !e || !m || !BN_set_word(e.get(), exponent_)) {
        ERR_clear_error();
        return Check::NotVerified;
    }
    if (BN_is_zero(n.get()) || BN_is_one(n.get()) || BN_cmp(s.get(), n.get()) >= 0)
        return Check::Malformed;
    if (!BN_mod_exp(m.get(), s.get(), e.get(), n.get(), bnCtx.get())) {
        ERR_clear_error();
        return Check::Malformed;
    }
    WipedBytes block(k);
    if (BN_bn2binpad(m.get(), block.data(), static_cast<int>(k)) != static_cast<int>(k))
        return Check::NotVerified;

    // 00 01 FF..FF 00 [DigestInfo] SHA-1: the verifier also accepts the block
    // without the DigestInfo, as the Windows provider does.
    static constexpr std::uint8_t kDigestInfo[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                                   0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
    for (bool withInfo : {true, false}) {
        const std::size_t tail = digest.size() + (withInfo ? sizeof kDigestInfo : 0);
        if (k < tail + 11) continue; // at least eight FF bytes of padding
        WipedBytes expected(k, 0xFF);
        expected[0] = 0x00;
        expected[1] = 0x01;
        expected[k - tail - 1] = 0x00;
        std::uint8_t* t = expected.data() + (k - tail);
        if (withInfo) {
            std::memcpy(t, kDigestInfo, sizeof kDigestInfo);
            t += sizeof kDigestInfo;
        }
        std::memcpy(t, digest.data(), digest.size());
        if (expected == block) return Check::Verified;
    }
    return Check::NotVerified;
}

} // namespace kestrawin::crypto
