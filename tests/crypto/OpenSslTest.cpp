// SPDX-License-Identifier: Apache-2.0
// The provider against OpenSSL's own RSA and iconv's code pages: code that is
// not ours.

#include "Files.h"

#include "crypto/PasswordKeys.h"
#include "crypto/Provider.h"
#include "format/Container.h"

#include <functional>
#include <iconv.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

using namespace kestrawin::crypto;
using namespace kestrawin::format;
using namespace kwtest;

namespace {

// An RSA key made by OpenSSL directly, to check our signatures against code
// that is not ours.
EVP_PKEY* MakeKey()
{
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    EVP_PKEY* key = nullptr;
    EVP_PKEY_keygen_init(ctx);
    EVP_PKEY_CTX_set_rsa_keygen_bits(ctx, 1024);
    EVP_PKEY_generate(ctx, &key);
    EVP_PKEY_CTX_free(ctx);
    return key;
}

Bytes OpenSslSign(EVP_PKEY* key, const Sha1Digest& digest, bool withDigestInfo)
{
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_sign_init(ctx);
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
    if (withDigestInfo) EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha1());
    std::size_t len = 256;
    Bytes sig(len);
    EXPECT_EQ(EVP_PKEY_sign(ctx, sig.data(), &len, digest.data(), digest.size()), 1);
    EVP_PKEY_CTX_free(ctx);
    sig.resize(len);
    std::reverse(sig.begin(), sig.end());
    return sig;
}

std::string Pem(EVP_PKEY* key)
{
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<std::size_t>(n));
    BIO_free(bio);
    return pem;
}

} // namespace

TEST(Signature, InteroperatesWithOpenSslInTheWindowsByteOrder)
{
    EVP_PKEY* key = MakeKey();
    auto pair = RsaKeyPair::FromPem(Pem(key));
    ASSERT_TRUE(pair);
    const Sha1Digest digest = *Sha1(ByteView(reinterpret_cast<const std::uint8_t*>("Secret"), 6));

    const Bytes blob = BuildPublicKeyBlob(kAlgSignature, *pair->PublicNumbers());
    ASSERT_EQ(blob.size(), 148u);
    auto parsed = ParsePublicKeyBlob(blob);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->bitLength, 1024u);
    EXPECT_EQ(parsed->exponent, 65537u);
    const RsaPublicKey pub(parsed->modulusLE, parsed->exponent);

    // Ours, checked by OpenSSL: reversed back, it is a standard PKCS#1 v1.5 SHA-1 signature.
    Bytes ours = *pair->SignSha1(digest);
    ASSERT_EQ(ours.size(), 128u);
    Bytes bigEndian(ours.rbegin(), ours.rend());
    EVP_PKEY_CTX* vctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_verify_init(vctx);
    EVP_PKEY_CTX_set_rsa_padding(vctx, RSA_PKCS1_PADDING);
    EVP_PKEY_CTX_set_signature_md(vctx, EVP_sha1());
    EXPECT_EQ(
        EVP_PKEY_verify(vctx, bigEndian.data(), bigEndian.size(), digest.data(), digest.size()), 1);
    EVP_PKEY_CTX_free(vctx);

    // OpenSSL's, checked by us, with and without the DigestInfo.
    EXPECT_EQ(pub.VerifySha1(digest, OpenSslSign(key, digest, true)),
              RsaPublicKey::Check::Verified);
    EXPECT_EQ(pub.VerifySha1(digest, OpenSslSign(key, digest, false)),
              RsaPublicKey::Check::Verified);
    // Another hash, a changed byte, a wrong length.
    Sha1Digest other = digest;
    other[0] ^= 1;
    EXPECT_EQ(pub.VerifySha1(other, ours), RsaPublicKey::Check::NotVerified);
    Bytes changed = ours;
    changed[3] ^= 0x40;
    EXPECT_EQ(pub.VerifySha1(digest, changed), RsaPublicKey::Check::NotVerified);
    EXPECT_EQ(pub.VerifySha1(digest, ByteView(ours).first(127)), RsaPublicKey::Check::Malformed);
    EVP_PKEY_free(key);
}

TEST(Signature, ABrokenFrameAroundTheRightDigestIsRefused)
{
    // The digest and its DigestInfo are right; only the 00 01 FF..FF 00
    // frame around them is not. Made with the raw private key, so the block
    // is exactly what the verifier will see.
    EVP_PKEY* key = MakeKey();
    auto pair = RsaKeyPair::FromPem(Pem(key));
    ASSERT_TRUE(pair);
    auto parsed = ParsePublicKeyBlob(BuildPublicKeyBlob(kAlgSignature, *pair->PublicNumbers()));
    ASSERT_TRUE(parsed);
    const RsaPublicKey pub(parsed->modulusLE, parsed->exponent);
    const Sha1Digest digest = *Sha1(ByteView(reinterpret_cast<const std::uint8_t*>("Secret"), 6));

    static constexpr std::uint8_t kInfo[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                             0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
    const std::size_t k = 128;
    const std::size_t tail = sizeof kInfo + digest.size();
    auto frame = [&] {
        Bytes block(k, 0xFF);
        block[0] = 0x00;
        block[1] = 0x01;
        block[k - tail - 1] = 0x00;
        std::copy(std::begin(kInfo), std::end(kInfo), block.begin() + static_cast<long>(k - tail));
        std::copy(digest.begin(), digest.end(), block.end() - static_cast<long>(digest.size()));
        return block;
    };
    auto signRaw = [&](const Bytes& block) {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
        EVP_PKEY_sign_init(ctx);
        EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING);
        std::size_t len = k;
        Bytes sig(k);
        EXPECT_EQ(EVP_PKEY_sign(ctx, sig.data(), &len, block.data(), block.size()), 1);
        EVP_PKEY_CTX_free(ctx);
        std::reverse(sig.begin(), sig.end());
        return sig;
    };
    EXPECT_EQ(pub.VerifySha1(digest, signRaw(frame())), RsaPublicKey::Check::Verified);

    struct Break {
        const char* what;
        std::function<void(Bytes&)> apply;
    };
    const Break breaks[] = {
        {"block type 02", [](Bytes& b) { b[1] = 0x02; }},
        {"block type 00", [](Bytes& b) { b[1] = 0x00; }},
        {"an FE in the padding", [](Bytes& b) { b[40] = 0xFE; }},
        {"a 00 early in the padding", [](Bytes& b) { b[5] = 0x00; }},
        {"no 00 before the DigestInfo", [&](Bytes& b) { b[k - tail - 1] = 0xFF; }},
        {"first byte not 00", [](Bytes& b) { b[0] = 0x01; }},
    };
    for (const Break& brk : breaks) {
        Bytes block = frame();
        brk.apply(block);
        if (block[0] != 0) continue; // must stay below the modulus to be signed raw
        EXPECT_EQ(pub.VerifySha1(digest, signRaw(block)), RsaPublicKey::Check::NotVerified)
            << brk.what;
    }
    EVP_PKEY_free(key);
}

TEST(Password, TheWholeWindows1252HighRangeMatchesIconv)
{
    iconv_t cd = iconv_open("UTF-8", "WINDOWS-1252");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    int checked = 0;
    for (int b = 0x80; b <= 0x9F; ++b) {
        char in[1] = {static_cast<char>(b)};
        char out[8] = {};
        char* inPtr = in;
        char* outPtr = out;
        std::size_t inLeft = 1;
        std::size_t outLeft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const bool defined =
            iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
        // The five bytes without a character stand for the C1 control of the
        // same value, as Windows' own conversion has it.
        const std::string utf8 = defined
                                     ? std::string(out, sizeof out - outLeft)
                                     : std::string{static_cast<char>(0xC2), static_cast<char>(b)};
        const auto bytes = ToWindows1252(utf8);
        ASSERT_TRUE(bytes) << std::hex << b;
        EXPECT_EQ(bytes->view(), std::string(1, static_cast<char>(b))) << std::hex << b;
        EXPECT_EQ(PasswordBytesForEncryption(utf8).view(), std::string(1, static_cast<char>(b)));
        checked += defined;
    }
    iconv_close(cd);
    EXPECT_EQ(checked, 27);
}
