// SPDX-License-Identifier: Apache-2.0
// Our RC2 against the standard's known answers and, for every decryption
// path, against the platform library's RC2-CBC (ReferenceRc2.h) on random
// keys, effective key sizes, IVs and lengths. Without that library the
// comparisons are skipped (the known answers still run).

#include "Files.h"
#include "ReferenceRc2.h"

#include "crypto/Provider.h"
#include "crypto/Rc2.h"

#include <algorithm>
#include <random>

using namespace kestrawin::crypto;
using kwtest::Hex;
namespace rc2 = kestrawin::crypto::rc2;

namespace {

#define REQUIRE_REFERENCE()                                                                        \
    if (const std::string why = kwtest::ReferenceRc2Missing(); !why.empty()) GTEST_SKIP() << why

std::vector<rc2::Path> AvailablePaths()
{
    std::vector<rc2::Path> paths;
    for (rc2::Path p : rc2::kAllPaths)
        if (rc2::PathAvailable(p)) paths.push_back(p);
    return paths;
}

Bytes RandomBytesOf(std::mt19937& rng, std::size_t n)
{
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
}

rc2::Schedule Expand(const Bytes& key, int bits)
{
    rc2::Schedule s;
    EXPECT_TRUE(rc2::ExpandKey(key, bits, &s));
    return s;
}

Bytes OurEncrypt(const rc2::Schedule& s, Bytes iv, const Bytes& in)
{
    Bytes out(in.size());
    rc2::CbcEncrypt(s, iv.data(), in.data(), out.data(), in.size() / 8);
    return out;
}

// Decrypts on one path, into a separate buffer or in place, in one call or
// in two that continue each other at `split` blocks.
Bytes OurDecrypt(const rc2::Schedule& s, Bytes iv, const Bytes& in, rc2::Path path, bool inPlace,
                 std::size_t split)
{
    const std::size_t blocks = in.size() / 8;
    split = std::min(split, blocks);
    Bytes out = inPlace ? in : Bytes(in.size(), 0xEE);
    const std::uint8_t* src = inPlace ? out.data() : in.data();
    rc2::CbcDecrypt(s, iv.data(), src, out.data(), split, path);
    rc2::CbcDecrypt(s, iv.data(), src + split * 8, out.data() + split * 8, blocks - split, path);
    if (blocks > 0 && !std::equal(iv.begin(), iv.end(), in.end() - 8))
        ADD_FAILURE() << "the chaining block is not the last ciphertext block";
    return out;
}

} // namespace

// RFC 2268's vectors: key, effective bits, plaintext, ciphertext.
TEST(Rc2Cipher, KnownAnswersOfTheStandard)
{
    struct Vector {
        const char* key;
        int bits;
        const char* plain;
        const char* cipher;
    };
    const Vector vectors[] = {
        {"0000000000000000", 63, "0000000000000000", "ebb773f993278eff"},
        {"ffffffffffffffff", 64, "ffffffffffffffff", "278b27e42e2f0d49"},
        {"3000000000000000", 64, "1000000000000001", "30649edf9be7d2c2"},
        {"88", 64, "0000000000000000", "61a8a244adacccf0"},
        {"88bca90e90875a", 64, "0000000000000000", "6ccf4308974c267f"},
        {"88bca90e90875a7f0f79c384627bafb2", 64, "0000000000000000", "1a807d272bbe5db1"},
        {"88bca90e90875a7f0f79c384627bafb2", 128, "0000000000000000", "2269552ab0f85ca6"},
        {"88bca90e90875a7f0f79c384627bafb216f80a6f85920584c42fceb0be255daf1e", 129,
         "0000000000000000", "5b78d3a43dfff1f1"},
    };
    for (const Vector& v : vectors) {
        SCOPED_TRACE(v.key);
        const rc2::Schedule s = Expand(Hex(v.key), v.bits);
        const Bytes plain = Hex(v.plain), cipher = Hex(v.cipher);
        Bytes out(8);
        rc2::EncryptBlock(s, plain.data(), out.data());
        EXPECT_EQ(out, cipher);
        rc2::DecryptBlock(s, cipher.data(), out.data());
        EXPECT_EQ(out, plain);
        // With a zero IV, the first CBC block is the plain block cipher.
        for (rc2::Path path : AvailablePaths()) {
            Bytes many(8 * 200, 0);
            std::copy(cipher.begin(), cipher.end(), many.begin());
            Bytes iv(8, 0);
            rc2::CbcDecrypt(s, iv.data(), many.data(), many.data(), 200, path);
            EXPECT_EQ(Bytes(many.begin(), many.begin() + 8), plain) << rc2::PathName(path);
        }
    }
}

TEST(Rc2Cipher, RefusesKeysOutsideItsRange)
{
    rc2::Schedule s;
    const Bytes key(129, 1);
    EXPECT_FALSE(rc2::ExpandKey({}, 64, &s));
    EXPECT_FALSE(rc2::ExpandKey(key, 64, &s));
    EXPECT_FALSE(rc2::ExpandKey({key.data(), 16}, 0, &s));
    EXPECT_FALSE(rc2::ExpandKey({key.data(), 16}, 1025, &s));
    EXPECT_TRUE(rc2::ExpandKey({key.data(), 128}, 1024, &s));
    EXPECT_TRUE(rc2::ExpandKey({key.data(), 1}, 1, &s));
}

// Every key length and effective size gives the reference's bytes both ways.
TEST(Rc2Cipher, MatchesTheReferenceForEveryKeySize)
{
    REQUIRE_REFERENCE();
    std::mt19937 rng(2268);
    const auto paths = AvailablePaths();
    for (int round = 0; round < 400; ++round) {
        const std::size_t keyLen =
            kwtest::ReferenceRc2KeyBytes(round < 128 ? round + 1 : 1 + rng() % 128);
        const int bits =
            round < 128 ? static_cast<int>(1 + rng() % 1024)
                        : static_cast<int>(round % 2 ? 1 + rng() % 1024 : 1 + (round * 7) % 1024);
        const Bytes key = RandomBytesOf(rng, keyLen), iv = RandomBytesOf(rng, 8);
        const Bytes plain = RandomBytesOf(rng, 8 * (1 + rng() % 80));
        SCOPED_TRACE(testing::Message() << "key bytes " << keyLen << ", bits " << bits);
        const rc2::Schedule s = Expand(key, bits);
        const Bytes cipher = kwtest::ReferenceRc2(true, key, bits, iv, plain);
        ASSERT_EQ(OurEncrypt(s, iv, plain), cipher);
        const rc2::Path path = paths[static_cast<std::size_t>(round) % paths.size()];
        ASSERT_EQ(OurDecrypt(s, iv, cipher, path, round % 2 == 0, SIZE_MAX), plain)
            << rc2::PathName(path);
    }
    // The boundary sizes on their own: 1 and 1024 effective bits, 1 and 128 key bytes.
    for (std::size_t keyLen : {kwtest::ReferenceRc2KeyBytes(1), kwtest::ReferenceRc2KeyBytes(128)})
        for (int bits : {1, 8, 9, 1023, 1024}) {
            const Bytes key = RandomBytesOf(rng, keyLen), iv = RandomBytesOf(rng, 8);
            const Bytes plain = RandomBytesOf(rng, 64);
            const Bytes cipher = kwtest::ReferenceRc2(true, key, bits, iv, plain);
            EXPECT_EQ(OurEncrypt(Expand(key, bits), iv, plain), cipher) << keyLen << "/" << bits;
        }
}

// Each decryption path on lengths around its group sizes and up to a few
// hundred KiB, in place and apart, in one call and in two.
TEST(Rc2Cipher, EveryDecryptionPathMatchesTheReference)
{
    REQUIRE_REFERENCE();
    std::mt19937 rng(8);
    std::vector<std::size_t> blockCounts{0, 1, 2, 3};
    // A SIMD set holds 8, 16 or 32 blocks and a group two or four sets:
    // lengths ending just before, on and after their multiples.
    for (std::size_t g : {8u, 16u, 24u, 32u, 48u, 64u, 96u, 128u})
        for (std::size_t d : {g - 1, g, g + 1, 2 * g + 7, 3 * g - 1}) blockCounts.push_back(d);
    blockCounts.push_back((300u << 10) / 8 + 5); // about 300 KiB
    for (rc2::Path path : AvailablePaths()) {
        SCOPED_TRACE(rc2::PathName(path));
        for (std::size_t blocks : blockCounts) {
            const std::size_t keyLen = kwtest::ReferenceRc2KeyBytes(1 + rng() % 128);
            const int bits = static_cast<int>(1 + rng() % 1024);
            const Bytes key = RandomBytesOf(rng, keyLen), iv = RandomBytesOf(rng, 8);
            const Bytes plain = RandomBytesOf(rng, blocks * 8);
            const Bytes cipher = kwtest::ReferenceRc2(true, key, bits, iv, plain);
            const rc2::Schedule s = Expand(key, bits);
            ASSERT_EQ(OurEncrypt(s, iv, plain), cipher) << blocks << " blocks";
            const std::size_t split = blocks == 0 ? 0 : rng() % blocks;
            ASSERT_EQ(OurDecrypt(s, iv, cipher, path, false, SIZE_MAX), plain)
                << blocks << " blocks";
            ASSERT_EQ(OurDecrypt(s, iv, cipher, path, true, SIZE_MAX), plain)
                << blocks << " in place";
            ASSERT_EQ(OurDecrypt(s, iv, cipher, path, blocks % 2 == 1, split), plain)
                << blocks << " blocks split at " << split;
        }
    }
}

TEST(Rc2Cipher, EncryptsInPlaceAndAcrossCalls)
{
    REQUIRE_REFERENCE();
    std::mt19937 rng(5);
    const Bytes key = RandomBytesOf(rng, 16), iv = RandomBytesOf(rng, 8);
    const Bytes plain = RandomBytesOf(rng, 8 * 1000);
    const Bytes expected = kwtest::ReferenceRc2(true, key, 128, iv, plain);
    const rc2::Schedule s = Expand(key, 128);
    Bytes data = plain, chain = iv;
    rc2::CbcEncrypt(s, chain.data(), data.data(), data.data(), 377);
    rc2::CbcEncrypt(s, chain.data(), data.data() + 377 * 8, data.data() + 377 * 8, 1000 - 377);
    EXPECT_EQ(data, expected);
    EXPECT_EQ(chain, Bytes(expected.end() - 8, expected.end()));
}

// The streaming cipher the engine uses, with padding, against the reference
// with padding, and a forced path reaching it.
TEST(Rc2Cipher, StreamingCipherPadsLikeTheReferenceOnEveryPath)
{
    REQUIRE_REFERENCE();
    std::mt19937 rng(77);
    for (rc2::Path path : AvailablePaths()) {
        ASSERT_TRUE(rc2::ForcePath(path));
        EXPECT_EQ(rc2::CurrentPath(), path);
        for (std::size_t len : {0u, 1u, 7u, 8u, 9u, 255u, 256u, 257u, 4099u, 70000u}) {
            Rc2Key key;
            for (auto& b : key.bytes) b = static_cast<std::uint8_t>(rng());
            key.effectiveBits = len % 2 ? 40 : 128;
            const Bytes plain = RandomBytesOf(rng, len);
            Bytes padded = plain;
            padded.insert(padded.end(), 8 - len % 8, static_cast<std::uint8_t>(8 - len % 8));
            const Bytes keyBytes(key.bytes.begin(), key.bytes.end()), zero(8, 0);
            const Bytes expected =
                kwtest::ReferenceRc2(true, keyBytes, key.effectiveBits, zero, padded);

            for (auto direction : {Rc2Cbc::Direction::Encrypt, Rc2Cbc::Direction::Decrypt}) {
                const Bytes& in = direction == Rc2Cbc::Direction::Encrypt ? plain : expected;
                const Bytes& want = direction == Rc2Cbc::Direction::Encrypt ? expected : plain;
                Rc2Cbc cipher;
                ASSERT_TRUE(cipher.Init(key, direction));
                Bytes out(in.size() + 8);
                std::size_t done = 0, pos = 0;
                while (pos < in.size()) { // uneven pieces
                    const std::size_t piece =
                        std::min<std::size_t>(in.size() - pos, 1 + rng() % 5000);
                    std::size_t n = 0;
                    ASSERT_TRUE(cipher.Update({in.data() + pos, piece}, out.data() + done, &n));
                    done += n;
                    pos += piece;
                }
                std::size_t n = 0;
                ASSERT_TRUE(cipher.Final(out.data() + done, &n));
                out.resize(done + n);
                EXPECT_EQ(out, want) << rc2::PathName(path) << ", " << len << " bytes";
            }
        }
    }
    ASSERT_TRUE(rc2::ForcePath(std::nullopt));
    EXPECT_EQ(rc2::CurrentPath(), rc2::BestPath());
}

TEST(Rc2Cipher, StreamingDecryptionRejectsBadEndings)
{
    Rc2Key key;
    key.bytes.fill(3);
    auto decrypt = [&](const Bytes& in) {
        Rc2Cbc cipher;
        Bytes out(in.size() + 8);
        std::size_t a = 0, b = 0;
        return cipher.Init(key, Rc2Cbc::Direction::Decrypt) && cipher.Update(in, out.data(), &a)
               && cipher.Final(out.data() + a, &b);
    };
    auto encryptRaw = [&](Bytes block) { // one block, no padding added
        rc2::Schedule s = Expand(Bytes(key.bytes.begin(), key.bytes.end()), 128);
        Bytes iv(8, 0);
        rc2::CbcEncrypt(s, iv.data(), block.data(), block.data(), block.size() / 8);
        return block;
    };
    EXPECT_TRUE(decrypt(encryptRaw({1, 2, 3, 4, 5, 6, 7, 1})));
    EXPECT_TRUE(decrypt(encryptRaw(Bytes(8, 8))));
    EXPECT_FALSE(decrypt(encryptRaw({1, 2, 3, 4, 5, 6, 7, 0}))); // pad of zero
    EXPECT_FALSE(decrypt(encryptRaw({1, 2, 3, 4, 5, 6, 7, 9}))); // pad longer than a block
    EXPECT_FALSE(decrypt(encryptRaw({1, 2, 3, 4, 5, 6, 1, 2}))); // pad bytes differ
    EXPECT_FALSE(decrypt({}));                                   // nothing at all
    EXPECT_FALSE(decrypt(Bytes(12, 0)));                         // not whole blocks
}
