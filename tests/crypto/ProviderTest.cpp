// SPDX-License-Identifier: Apache-2.0
// The provider layer against known answers, on every platform (the checks
// against the platform's own library are in OpenSslTest.cpp and
// CryptoApiTest.cpp).

#include "Files.h"
#include "Vectors.h"

#include "crypto/PasswordKeys.h"
#include "crypto/Provider.h"
#include "format/Container.h"

#include <algorithm>

using namespace kestrawin::crypto;
using namespace kestrawin::format;
using namespace kwtest;

namespace {

std::string AsHex(const std::string& bytes)
{
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

Bytes Decrypt(const Rc2Key& key, ByteView data)
{
    Rc2Cbc cipher;
    Bytes out(data.size() + 8);
    std::size_t a = 0, b = 0;
    if (!cipher.Init(key, Rc2Cbc::Direction::Decrypt) || !cipher.Update(data, out.data(), &a)
        || !cipher.Final(out.data() + a, &b))
        return {};
    out.resize(a + b);
    return out;
}

Rc2Key KeyFromHex(const std::string& hex, int bits)
{
    Rc2Key key;
    const Bytes b = Hex(hex);
    std::copy(b.begin(), b.end(), key.bytes.begin());
    key.effectiveBits = bits;
    return key;
}

Bytes Ciphertext(const std::string& vector)
{
    const std::string file = ReadFile(fs::path(KESTRAWIN_VECTORS_DIR) / vector);
    const Bytes bytes(file.begin(), file.end());
    const auto header = ParseHeader(bytes);
    return Bytes(bytes.begin() + 16 + header->keyBlobLength + header->signatureLength, bytes.end());
}

} // namespace

TEST(Rc2, KnownAnswersForBothRecipes)
{
    const std::string text = ReadFile(fs::path(KESTRAWIN_VECTORS_DIR) / "text.plain");
    const Bytes plain(text.begin(), text.end());
    // Strong: 16 hash bytes at 128 bits.
    EXPECT_EQ(
        Decrypt(KeyFromHex("62537d54af1a712f906e0d7d45fd0a7c", 128), Ciphertext("v05_text.ksw")),
        plain);
    // Base: 5 hash bytes and 11 zeros at 40 effective bits. The effective bits
    // must reach the key schedule: at 128 bits the same key gives garbage.
    const Rc2Key base = KeyFromHex("03de6c570b0000000000000000000000", 40);
    EXPECT_EQ(Decrypt(base, Ciphertext("v07_base_text.ksw")), plain);
    Rc2Key wrongBits = base;
    wrongBits.effectiveBits = 128;
    EXPECT_NE(Decrypt(wrongBits, Ciphertext("v07_base_text.ksw")), plain);
    // The recipes give exactly those schedule inputs.
    Sha1Digest h{};
    const Bytes sha = Hex("03de6c570bfe24bfc328ccd7ca46b76eadaf4334");
    std::copy(sha.begin(), sha.end(), h.begin());
    EXPECT_EQ(DeriveRc2Key(h, Rc2Recipe::Base).bytes, base.bytes);
    EXPECT_EQ(DeriveRc2Key(h, Rc2Recipe::Base).effectiveBits, 40);
    EXPECT_EQ(DeriveRc2Key(h, Rc2Recipe::Strong).effectiveBits, 128);
}

TEST(Rc2, AnySplitGivesTheBytesOfOneCall)
{
    const std::string data = RandomBytes(1000, 7);
    const Rc2Key key = KeyFromHex("00112233445566778899aabbccddeeff", 128);
    auto encrypt = [&](std::size_t piece) {
        Rc2Cbc cipher;
        EXPECT_TRUE(cipher.Init(key, Rc2Cbc::Direction::Encrypt));
        Bytes out;
        std::uint8_t buf[1100];
        for (std::size_t at = 0; at < data.size(); at += piece) {
            const std::size_t n = std::min(piece, data.size() - at);
            std::size_t got = 0;
            EXPECT_TRUE(cipher.Update({reinterpret_cast<const std::uint8_t*>(data.data()) + at, n},
                                      buf, &got));
            out.insert(out.end(), buf, buf + got);
        }
        std::size_t got = 0;
        EXPECT_TRUE(cipher.Final(buf, &got));
        out.insert(out.end(), buf, buf + got);
        return out;
    };
    const Bytes whole = encrypt(data.size());
    EXPECT_EQ(whole.size(), 1008u); // PKCS#5 always adds 1 to 8 bytes
    for (std::size_t piece : {1u, 7u, 8u, 9u, 13u, 999u}) EXPECT_EQ(encrypt(piece), whole) << piece;
}

TEST(Password, EncodingsFollowTheWindowsCodePages)
{
    const auto hex = [](const kestrawin::Secret& s) { return AsHex(std::string(s.view())); };
    EXPECT_EQ(hex(PasswordBytesForEncryption("éèàç€ÿ")), "e9e8e0e780ff");
    EXPECT_EQ(hex(PasswordBytesForEncryption("pässw")), "70e4737377");
    // Not all in Windows-1252: UTF-8 as it is.
    EXPECT_EQ(PasswordBytesForEncryption("пароль").view(), "пароль");
    // Decryption tries Windows-1252, UTF-8, then Central European and Cyrillic.
    const auto candidates = PasswordCandidates("é");
    ASSERT_GE(candidates.size(), 2u);
    EXPECT_EQ(hex(candidates[0]), "e9");
    EXPECT_EQ(hex(candidates[1]), "c3a9");
    const auto cyrillic = PasswordCandidates("пароль");
    EXPECT_EQ(cyrillic.front().view(), "пароль");
    EXPECT_NE(
        std::find(cyrillic.begin(), cyrillic.end(), kestrawin::Secret("\xef\xe0\xf0\xee\xeb\xfc")),
        cyrillic.end());
    // ASCII is the same in every encoding: tried once.
    EXPECT_EQ(PasswordCandidates("Secret").size(), 1u);
    // Bytes that are not UTF-8 are taken as they are.
    const auto raw = PasswordCandidates("\xff\xfe");
    ASSERT_EQ(raw.size(), 1u);
    EXPECT_EQ(raw[0].view(), "\xff\xfe");
    EXPECT_EQ(CharacterCount("pässw"), 5u);
    EXPECT_EQ(CharacterCount("€€€€€€"), 6u);
}

TEST(Secret, GrowsComparesAndClearsLikeAString)
{
    kestrawin::Secret s;
    std::string expected;
    for (int i = 0; i < 300; ++i) { // through several regrowths
        const char c = static_cast<char>('a' + i % 26);
        s.Append(c);
        expected.push_back(c);
    }
    EXPECT_EQ(s.view(), expected);
    kestrawin::Secret copy = s.Copy();
    EXPECT_TRUE(copy == s);
    copy.PopBack();
    EXPECT_FALSE(copy == s); // a prefix is not the same password
    EXPECT_TRUE(kestrawin::Secret("") == kestrawin::Secret());
    kestrawin::Secret moved = std::move(s);
    EXPECT_EQ(moved.view(), expected);
    moved.Resize(3);
    EXPECT_EQ(moved.view(), "abc");
    moved.Clear();
    EXPECT_TRUE(moved.empty());
}

TEST(PasswordEncoding, EveryVectorsPasswordIsHashedAsItsSidecarSays)
{
    std::string error;
    const auto vectors = LoadWindowsVectors(KESTRAWIN_VECTORS_DIR, &error);
    ASSERT_EQ(error, "");
    ASSERT_GE(vectors.size(), 6u);
    for (const WindowsVector& v : vectors) {
        if (v.passwordCp1252Hex.empty()) continue;
        std::string hex;
        const kestrawin::Secret bytes = PasswordBytesForEncryption(v.password);
        for (char c : bytes.view()) {
            static const char digits[] = "0123456789abcdef";
            hex += digits[static_cast<unsigned char>(c) >> 4];
            hex += digits[static_cast<unsigned char>(c) & 15];
        }
        EXPECT_EQ(hex, v.passwordCp1252Hex) << v.name;
    }
}

TEST(ProviderErrors, TheLibrarysOwnReasonReachesTheCaller)
{
    const auto tiny = RsaKeyPair::Generate(16); // far below what any library accepts
    EXPECT_FALSE(tiny);
    EXPECT_EQ(tiny.result().outcome, kestrawin::Outcome::CryptoFailure);
    const std::string& error = tiny.result().detail;
    const std::string prefix = "RSA key generation failed: ";
    ASSERT_EQ(error.rfind(prefix, 0), 0u) << error;
    EXPECT_GT(error.size(), prefix.size()) << "the library's own words are missing";

    RsaKeyPair none;
    for (const kestrawin::Result& r :
         {none.PublicNumbers().result(), none.SignSha1(Sha1Digest{}).result()}) {
        EXPECT_EQ(r.outcome, kestrawin::Outcome::CryptoFailure);
        EXPECT_EQ(r.detail, "no key pair");
    }
}

TEST(ProviderErrors, TheBlobWriterAndParserAgreeOnEveryField)
{
    RsaPublicNumbers numbers;
    numbers.bits = 1024;
    numbers.exponent = 65537;
    numbers.modulusLE.assign(128, 0xA5);
    numbers.modulusLE.back() = 0xC3;
    const Bytes blob = BuildPublicKeyBlob(kAlgKeyExchange, numbers);
    ASSERT_EQ(blob.size(), kBlobHeaderSize + 128);
    const auto parsed = ParsePublicKeyBlob(blob);
    ASSERT_TRUE(parsed) << parsed.result().detail;
    EXPECT_EQ(parsed->algId, kAlgKeyExchange);
    EXPECT_EQ(parsed->bitLength, 1024u);
    EXPECT_EQ(parsed->exponent, 65537u);
    EXPECT_EQ(parsed->modulusLE, numbers.modulusLE);
}
