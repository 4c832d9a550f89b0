// SPDX-License-Identifier: Apache-2.0
// Decryption spread over threads gives exactly the bytes of one serial
// RC2-CBC pass, the padded last block included, however the input is split,
// and fails exactly where the serial pass fails.

#include "Files.h"

#include "crypto/ParallelCbc.h"
#include "crypto/PasswordKeys.h"

#include <random>

using namespace kestrawin;
using namespace kestrawin::crypto;
using namespace kwtest;

namespace {

Rc2Key TestKey(Rc2Recipe recipe = Rc2Recipe::Strong)
{
    const auto hash = Sha1(ByteView(reinterpret_cast<const std::uint8_t*>("parallel"), 8));
    return DeriveRc2Key(*hash, recipe);
}

Bytes Serial(const Rc2Key& key, Rc2Cbc::Direction direction, const Bytes& in, bool* ok)
{
    Rc2Cbc cipher;
    Bytes out(in.size() + 16);
    std::size_t a = 0, b = 0;
    *ok = cipher.Init(key, direction) && cipher.Update(in, out.data(), &a)
          && cipher.Final(out.data() + a, &b);
    out.resize(*ok ? a + b : 0);
    return out;
}

// Feeds the decryptor pieces of the given sizes (cycling), then finishes it.
Bytes Parallel(const Rc2Key& key, unsigned threads, std::size_t minPart, const Bytes& in,
               const std::vector<std::size_t>& pieces, bool* ok)
{
    ParallelCbcDecryptor cipher;
    *ok = false;
    if (!cipher.Init(key, threads, minPart)) return {};
    EXPECT_EQ(cipher.threads(), threads);
    Bytes out(in.size() + 16);
    std::size_t done = 0, produced = 0;
    for (std::size_t i = 0; done < in.size(); ++i) {
        const std::size_t n = std::min(pieces[i % pieces.size()], in.size() - done);
        std::size_t w = 0;
        if (!cipher.Update({in.data() + done, n}, out.data() + produced, &w)) return {};
        EXPECT_LE(w, n + 8);
        done += n;
        produced += w;
    }
    std::size_t last = 0;
    if (!cipher.Final(out.data() + produced, &last)) return {};
    *ok = true;
    out.resize(produced + last);
    return out;
}

} // namespace

TEST(ParallelCbc, SameBytesAsOneSerialPassForEverySplit)
{
    const std::vector<std::vector<std::size_t>> splits = {
        {1u << 30}, {8}, {1}, {7, 9}, {13}, {4096, 3}, {65536}, {8000, 24, 1},
    };
    auto splitsUsed = splits;
    for (Rc2Recipe recipe : {Rc2Recipe::Strong, Rc2Recipe::Base}) {
        const Rc2Key key = TestKey(recipe);
        if (recipe == Rc2Recipe::Base) splitsUsed = {splits[0], splits[3]};
        for (std::size_t size : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 64u, 65u, 4095u, 4096u,
                                 4097u, 20000u, 65535u, 65536u, 65537u, 200003u}) {
            const Bytes plain = RandomByteVector(size, static_cast<unsigned>(size) + 1);
            bool ok = false;
            const Bytes ciphertext = Serial(key, Rc2Cbc::Direction::Encrypt, plain, &ok);
            ASSERT_TRUE(ok);
            for (unsigned threads : {1u, 2u, 3u, 4u}) {
                for (std::size_t minPart : {std::size_t{8}, std::size_t{1000}}) {
                    for (const auto& pieces : splitsUsed) {
                        if (pieces[0] <= 8 && size > 70000)
                            continue; // slow, and covered by the smaller sizes
                        SCOPED_TRACE("size " + std::to_string(size) + ", threads "
                                     + std::to_string(threads)
                                     + ", part >= " + std::to_string(minPart) + ", first piece "
                                     + std::to_string(pieces[0]));
                        const Bytes out = Parallel(key, threads, minPart, ciphertext, pieces, &ok);
                        ASSERT_TRUE(ok);
                        ASSERT_EQ(out, plain);
                    }
                }
            }
        }
    }
}

TEST(ParallelCbc, FailsWhereTheSerialPassFails)
{
    const Rc2Key key = TestKey();
    bool ok = false;
    const Bytes good = Serial(key, Rc2Cbc::Direction::Encrypt, RandomByteVector(100000, 9), &ok);
    ASSERT_TRUE(ok);
    Bytes badPadding = good;
    badPadding[badPadding.size() - 9] ^= 0x10; // changes the last plaintext block's padding
    Bytes cut = good;
    cut.resize(cut.size() - 3);
    Bytes lastBlockOnlyBad = good;
    lastBlockOnlyBad[lastBlockOnlyBad.size() - 1] ^= 0xFF;

    for (const Bytes* in : {&badPadding, &cut, &lastBlockOnlyBad}) {
        bool serialOk = true;
        (void)Serial(key, Rc2Cbc::Direction::Decrypt, *in, &serialOk);
        EXPECT_FALSE(serialOk);
        for (unsigned threads : {1u, 3u}) {
            bool parallelOk = true;
            (void)Parallel(key, threads, 8, *in, {4096}, &parallelOk);
            EXPECT_FALSE(parallelOk);
        }
    }
    // Nothing at all is not a ciphertext either.
    bool parallelOk = true;
    (void)Parallel(key, 2, 8, {}, {1}, &parallelOk);
    EXPECT_FALSE(parallelOk);
}
