// SPDX-License-Identifier: Apache-2.0
#include "Rc2.h"

#include "detail/Rc2Paths.h"

#include <atomic>
#include <bit>
#include <cstring>

namespace kestrawin::crypto::rc2 {
namespace {

// The key expansion's byte permutation, from the digits of pi.
constexpr std::uint8_t kPiTable[256] = {
    0xd9, 0x78, 0xf9, 0xc4, 0x19, 0xdd, 0xb5, 0xed, 0x28, 0xe9, 0xfd, 0x79, 0x4a, 0xa0, 0xd8, 0x9d,
    0xc6, 0x7e, 0x37, 0x83, 0x2b, 0x76, 0x53, 0x8e, 0x62, 0x4c, 0x64, 0x88, 0x44, 0x8b, 0xfb, 0xa2,
    0x17, 0x9a, 0x59, 0xf5, 0x87, 0xb3, 0x4f, 0x13, 0x61, 0x45, 0x6d, 0x8d, 0x09, 0x81, 0x7d, 0x32,
    0xbd, 0x8f, 0x40, 0xeb, 0x86, 0xb7, 0x7b, 0x0b, 0xf0, 0x95, 0x21, 0x22, 0x5c, 0x6b, 0x4e, 0x82,
    0x54, 0xd6, 0x65, 0x93, 0xce, 0x60, 0xb2, 0x1c, 0x73, 0x56, 0xc0, 0x14, 0xa7, 0x8c, 0xf1, 0xdc,
    0x12, 0x75, 0xca, 0x1f, 0x3b, 0xbe, 0xe4, 0xd1, 0x42, 0x3d, 0xd4, 0x30, 0xa3, 0x3c, 0xb6, 0x26,
    0x6f, 0xbf, 0x0e, 0xda, 0x46, 0x69, 0x07, 0x57, 0x27, 0xf2, 0x1d, 0x9b, 0xbc, 0x94, 0x43, 0x03,
    0xf8, 0x11, 0xc7, 0xf6, 0x90, 0xef, 0x3e, 0xe7, 0x06, 0xc3, 0xd5, 0x2f, 0xc8, 0x66, 0x1e, 0xd7,
    0x08, 0xe8, 0xea, 0xde, 0x80, 0x52, 0xee, 0xf7, 0x84, 0xaa, 0x72, 0xac, 0x35, 0x4d, 0x6a, 0x2a,
    0x96, 0x1a, 0xd2, 0x71, 0x5a, 0x15, 0x49, 0x74, 0x4b, 0x9f, 0xd0, 0x5e, 0x04, 0x18, 0xa4, 0xec,
    0xc2, 0xe0, 0x41, 0x6e, 0x0f, 0x51, 0xcb, 0xcc, 0x24, 0x91, 0xaf, 0x50, 0xa1, 0xf4, 0x70, 0x39,
    0x99, 0x7c, 0x3a, 0x85, 0x23, 0xb8, 0xb4, 0x7a, 0xfc, 0x02, 0x36, 0x5b, 0x25, 0x55, 0x97, 0x31,
    0x2d, 0x5d, 0xfa, 0x98, 0xe3, 0x8a, 0x92, 0xae, 0x05, 0xdf, 0x29, 0x10, 0x67, 0x6c, 0xba, 0xc9,
    0xd3, 0x00, 0xe6, 0xcf, 0xe1, 0x9e, 0xa8, 0x2c, 0x63, 0x16, 0x01, 0x3f, 0x58, 0xe2, 0x89, 0xa9,
    0x0d, 0x38, 0x34, 0x1b, 0xab, 0x33, 0xff, 0xb0, 0xbb, 0x48, 0x0c, 0x5f, 0xb9, 0xb1, 0xcd, 0x2e,
    0xc5, 0xf3, 0xdb, 0x47, 0xe5, 0xa5, 0x9c, 0x77, 0x0a, 0xa6, 0x20, 0x68, 0xfe, 0x7f, 0xc1, 0xad,
};

void Wipe(void* p, std::size_t n)
{
    volatile std::uint8_t* b = static_cast<volatile std::uint8_t*>(p);
    for (std::size_t i = 0; i < n; ++i) b[i] = 0;
}

inline std::uint16_t Rotl(std::uint16_t x, int n)
{
    return static_cast<std::uint16_t>((x << n) | (x >> (16 - n)));
}

inline std::uint16_t Rotr(std::uint16_t x, int n)
{
    return static_cast<std::uint16_t>((x >> n) | (x << (16 - n)));
}

// Words are little-endian in the block.
inline std::uint16_t Load16(const std::uint8_t* p)
{
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    if constexpr (std::endian::native == std::endian::big)
        v = static_cast<std::uint16_t>((v << 8) | (v >> 8));
    return v;
}

inline void Store16(std::uint8_t* p, std::uint16_t v)
{
    if constexpr (std::endian::native == std::endian::big)
        v = static_cast<std::uint16_t>((v << 8) | (v >> 8));
    std::memcpy(p, &v, 2);
}

struct Words {
    std::uint16_t r0, r1, r2, r3;
};

inline Words LoadBlock(const std::uint8_t* p)
{
    return {Load16(p), Load16(p + 2), Load16(p + 4), Load16(p + 6)};
}

inline void StoreBlock(std::uint8_t* p, const Words& w)
{
    Store16(p, w.r0);
    Store16(p + 2, w.r1);
    Store16(p + 4, w.r2);
    Store16(p + 6, w.r3);
}

// Sixteen mixing rounds with two mashing rounds after the fifth and the
// eleventh. Each word depends on the word updated just before it, so a block
// is one long chain. The code keeps that chain at four steps a word: the key
// word is added to the old value and the select is written as
// c ^ (a & (b ^ c)), so only "and, xor, add, rotate" wait for the newest word.
#define KESTRAWIN_RC2_MIX(j)                                                                       \
    r0 = Rotl(static_cast<std::uint16_t>(static_cast<std::uint16_t>(r0 + k[(j)])                   \
                                         + (r1 ^ (r3 & (r2 ^ r1)))),                               \
              1);                                                                                  \
    r1 = Rotl(static_cast<std::uint16_t>(static_cast<std::uint16_t>(r1 + k[(j) + 1])               \
                                         + (r2 ^ (r0 & (r3 ^ r2)))),                               \
              2);                                                                                  \
    r2 = Rotl(static_cast<std::uint16_t>(static_cast<std::uint16_t>(r2 + k[(j) + 2])               \
                                         + (r3 ^ (r1 & (r0 ^ r3)))),                               \
              3);                                                                                  \
    r3 = Rotl(static_cast<std::uint16_t>(static_cast<std::uint16_t>(r3 + k[(j) + 3])               \
                                         + (r0 ^ (r2 & (r1 ^ r0)))),                               \
              5);

#define KESTRAWIN_RC2_MASH()                                                                       \
    r0 = static_cast<std::uint16_t>(r0 + k[r3 & 63]);                                              \
    r1 = static_cast<std::uint16_t>(r1 + k[r0 & 63]);                                              \
    r2 = static_cast<std::uint16_t>(r2 + k[r1 & 63]);                                              \
    r3 = static_cast<std::uint16_t>(r3 + k[r2 & 63]);

inline void Encrypt(const std::uint16_t* k, Words& w)
{
    std::uint16_t r0 = w.r0, r1 = w.r1, r2 = w.r2, r3 = w.r3;
    // Five mixing rounds, a mashing round, six mixing rounds, a mashing round,
    // five mixing rounds (the macros are statements; kept out of the
    // formatter, which cannot settle on a layout for them).
    // clang-format off
    KESTRAWIN_RC2_MIX(0)  KESTRAWIN_RC2_MIX(4)  KESTRAWIN_RC2_MIX(8)  KESTRAWIN_RC2_MIX(12)
    KESTRAWIN_RC2_MIX(16)
    KESTRAWIN_RC2_MASH()
    KESTRAWIN_RC2_MIX(20) KESTRAWIN_RC2_MIX(24) KESTRAWIN_RC2_MIX(28) KESTRAWIN_RC2_MIX(32)
    KESTRAWIN_RC2_MIX(36) KESTRAWIN_RC2_MIX(40)
    KESTRAWIN_RC2_MASH()
    KESTRAWIN_RC2_MIX(44) KESTRAWIN_RC2_MIX(48) KESTRAWIN_RC2_MIX(52) KESTRAWIN_RC2_MIX(56)
    KESTRAWIN_RC2_MIX(60)
        // clang-format on
        w = {r0, r1, r2, r3};
}

#undef KESTRAWIN_RC2_MIX
#undef KESTRAWIN_RC2_MASH

inline void Decrypt(const std::uint16_t* k, Words& w)
{
    std::uint16_t r0 = w.r0, r1 = w.r1, r2 = w.r2, r3 = w.r3;
    auto rmix = [&](int j) {
        r3 = static_cast<std::uint16_t>(Rotr(r3, 5) - k[j + 3] - ((r2 & r1) | (~r2 & r0)));
        r2 = static_cast<std::uint16_t>(Rotr(r2, 3) - k[j + 2] - ((r1 & r0) | (~r1 & r3)));
        r1 = static_cast<std::uint16_t>(Rotr(r1, 2) - k[j + 1] - ((r0 & r3) | (~r0 & r2)));
        r0 = static_cast<std::uint16_t>(Rotr(r0, 1) - k[j] - ((r3 & r2) | (~r3 & r1)));
    };
    auto rmash = [&] {
        r3 = static_cast<std::uint16_t>(r3 - k[r2 & 63]);
        r2 = static_cast<std::uint16_t>(r2 - k[r1 & 63]);
        r1 = static_cast<std::uint16_t>(r1 - k[r0 & 63]);
        r0 = static_cast<std::uint16_t>(r0 - k[r3 & 63]);
    };
    for (int i = 15; i >= 11; --i) rmix(4 * i);
    rmash();
    for (int i = 10; i >= 5; --i) rmix(4 * i);
    rmash();
    for (int i = 4; i >= 0; --i) rmix(4 * i);
    w = {r0, r1, r2, r3};
}

std::atomic<int> g_forced{-1};

} // namespace

Schedule::~Schedule()
{
    Wipe(k.data(), sizeof k);
}

bool ExpandKey(std::span<const std::uint8_t> key, int effectiveBits, Schedule* out)
{
    if (key.empty() || key.size() > 128 || effectiveBits < 1 || effectiveBits > 1024) return false;
    std::uint8_t l[128];
    const std::size_t t = key.size();
    std::memcpy(l, key.data(), t);
    for (std::size_t i = t; i < 128; ++i)
        l[i] = kPiTable[static_cast<std::uint8_t>(l[i - 1] + l[i - t])];
    // Reduce the key to its effective bits, then spread them back over all
    // 128 bytes.
    const int t8 = (effectiveBits + 7) / 8;
    const std::uint8_t tm = static_cast<std::uint8_t>(0xFF >> (8 * t8 - effectiveBits));
    l[128 - t8] = kPiTable[l[128 - t8] & tm];
    for (int i = 127 - t8; i >= 0; --i) l[i] = kPiTable[l[i + 1] ^ l[i + t8]];
    for (int i = 0; i < 64; ++i)
        out->k[i] = static_cast<std::uint16_t>(l[2 * i] | (l[2 * i + 1] << 8));
    Wipe(l, sizeof l);
    return true;
}

void EncryptBlock(const Schedule& s, const std::uint8_t in[kBlock], std::uint8_t out[kBlock])
{
    Words w = LoadBlock(in);
    Encrypt(s.k.data(), w);
    StoreBlock(out, w);
}

void DecryptBlock(const Schedule& s, const std::uint8_t in[kBlock], std::uint8_t out[kBlock])
{
    Words w = LoadBlock(in);
    Decrypt(s.k.data(), w);
    StoreBlock(out, w);
}

void CbcEncrypt(const Schedule& s, std::uint8_t iv[kBlock], const std::uint8_t* in,
                std::uint8_t* out, std::size_t blocks)
{
    const std::uint16_t* k = s.k.data();
    Words chain = LoadBlock(iv);
    for (std::size_t b = 0; b < blocks; ++b) {
        const Words p = LoadBlock(in + b * kBlock);
        chain.r0 ^= p.r0;
        chain.r1 ^= p.r1;
        chain.r2 ^= p.r2;
        chain.r3 ^= p.r3;
        Encrypt(k, chain);
        StoreBlock(out + b * kBlock, chain);
    }
    StoreBlock(iv, chain);
}

namespace detail {

// Two blocks at a time, so that two independent chains fill the processor.
void CbcDecryptScalar(const std::uint16_t* k, std::uint8_t* iv, const std::uint8_t* in,
                      std::uint8_t* out, std::size_t blocks)
{
    Words previous = LoadBlock(iv);
    std::size_t b = 0;
    for (; b + 2 <= blocks; b += 2) {
        const Words c0 = LoadBlock(in + b * kBlock);
        const Words c1 = LoadBlock(in + (b + 1) * kBlock);
        Words p0 = c0, p1 = c1;
        Decrypt(k, p0);
        Decrypt(k, p1);
        p0 = {static_cast<std::uint16_t>(p0.r0 ^ previous.r0),
              static_cast<std::uint16_t>(p0.r1 ^ previous.r1),
              static_cast<std::uint16_t>(p0.r2 ^ previous.r2),
              static_cast<std::uint16_t>(p0.r3 ^ previous.r3)};
        p1 = {static_cast<std::uint16_t>(p1.r0 ^ c0.r0), static_cast<std::uint16_t>(p1.r1 ^ c0.r1),
              static_cast<std::uint16_t>(p1.r2 ^ c0.r2), static_cast<std::uint16_t>(p1.r3 ^ c0.r3)};
        StoreBlock(out + b * kBlock, p0);
        StoreBlock(out + (b + 1) * kBlock, p1);
        previous = c1;
    }
    for (; b < blocks; ++b) {
        const Words c = LoadBlock(in + b * kBlock);
        Words p = c;
        Decrypt(k, p);
        p = {static_cast<std::uint16_t>(p.r0 ^ previous.r0),
             static_cast<std::uint16_t>(p.r1 ^ previous.r1),
             static_cast<std::uint16_t>(p.r2 ^ previous.r2),
             static_cast<std::uint16_t>(p.r3 ^ previous.r3)};
        StoreBlock(out + b * kBlock, p);
        previous = c;
    }
    StoreBlock(iv, previous);
}

} // namespace detail

const char* PathName(Path path)
{
    switch (path) {
    case Path::Scalar: return "scalar";
    case Path::Sse2: return "SSE2";
    case Path::Avx2: return "AVX2";
    case Path::Avx512: return "AVX-512BW";
    }
    return "?";
}

bool PathAvailable(Path path)
{
    switch (path) {
    case Path::Scalar: return true;
#if defined(KESTRAWIN_RC2_X86)
    case Path::Sse2: return __builtin_cpu_supports("sse2");
    case Path::Avx2: return __builtin_cpu_supports("avx2");
    case Path::Avx512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
#else
    default: return false;
#endif
    }
    return false;
}

Path BestPath()
{
    static const Path best = [] {
        for (Path p : {Path::Avx512, Path::Avx2, Path::Sse2})
            if (PathAvailable(p)) return p;
        return Path::Scalar;
    }();
    return best;
}

bool ForcePath(std::optional<Path> path)
{
    if (path && !PathAvailable(*path)) return false;
    g_forced.store(path ? static_cast<int>(*path) : -1);
    return true;
}

Path CurrentPath()
{
    const int forced = g_forced.load(std::memory_order_relaxed);
    return forced < 0 ? BestPath() : static_cast<Path>(forced);
}

void CbcDecrypt(const Schedule& s, std::uint8_t iv[kBlock], const std::uint8_t* in,
                std::uint8_t* out, std::size_t blocks)
{
    CbcDecrypt(s, iv, in, out, blocks, CurrentPath());
}

void CbcDecrypt(const Schedule& s, std::uint8_t iv[kBlock], const std::uint8_t* in,
                std::uint8_t* out, std::size_t blocks, Path path)
{
    if (blocks == 0) return;
    switch (path) {
#if defined(KESTRAWIN_RC2_X86)
    case Path::Sse2: return detail::CbcDecryptSse2(s.k.data(), iv, in, out, blocks);
    case Path::Avx2: return detail::CbcDecryptAvx2(s.k.data(), iv, in, out, blocks);
    case Path::Avx512: return detail::CbcDecryptAvx512(s.k.data(), iv, in, out, blocks);
#endif
    default: return detail::CbcDecryptScalar(s.k.data(), iv, in, out, blocks);
    }
}

} // namespace kestrawin::crypto::rc2
