// SPDX-License-Identifier: Apache-2.0
#pragma once
// The SIMD decryption kernel shared by the vector paths. Each path's file
// defines an Ops type for its registers and includes this header; everything
// here has internal linkage, so each file keeps its own copy compiled for its
// own instruction set.
//
// A set of four vectors holds whole blocks as loaded from memory. ToLanes
// turns it into four vectors of one 16-bit word each (word i of many blocks),
// the rounds run on those lanes, and FromLanes turns them back. Wider
// registers do the same within each 128-bit lane, which permutes the blocks
// among the lanes, but FromLanes undoes exactly that permutation.
//
// Ops provides: V, Load, Store, Add, Sub, And, AndNot (~a & b), Or, Xor,
// Rotr<n>, Lo16/Hi16/Lo32/Hi32/Lo64/Hi64 (interleaves within 128-bit lanes),
// and Keys: kv[64] (each key word in every lane) and Lookup(v) (k[v & 63]
// in every lane).

#include "Rc2Paths.h"

#include <cstring>

namespace kestrawin::crypto::rc2::detail {
namespace {

constexpr std::size_t kBytesPerBlock = 8;

// Clears key material on the stack; the volatile stores are not optimised away.
inline void WipeKeys(void* p, std::size_t n)
{
    volatile std::uint8_t* b = static_cast<volatile std::uint8_t*>(p);
    for (std::size_t i = 0; i < n; ++i) b[i] = 0;
}

template <class Ops>
[[gnu::always_inline]] inline void ToLanes(const typename Ops::V x[4], typename Ops::V r[4])
{
    using V = typename Ops::V;
    const V t0 = Ops::Lo16(x[0], x[1]), t1 = Ops::Hi16(x[0], x[1]);
    const V t2 = Ops::Lo16(x[2], x[3]), t3 = Ops::Hi16(x[2], x[3]);
    const V u0 = Ops::Lo16(t0, t1), u1 = Ops::Hi16(t0, t1);
    const V u2 = Ops::Lo16(t2, t3), u3 = Ops::Hi16(t2, t3);
    r[0] = Ops::Lo64(u0, u2);
    r[1] = Ops::Hi64(u0, u2);
    r[2] = Ops::Lo64(u1, u3);
    r[3] = Ops::Hi64(u1, u3);
}

template <class Ops>
[[gnu::always_inline]] inline void FromLanes(const typename Ops::V r[4], typename Ops::V x[4])
{
    using V = typename Ops::V;
    const V a0 = Ops::Lo16(r[0], r[1]), a1 = Ops::Hi16(r[0], r[1]);
    const V a2 = Ops::Lo16(r[2], r[3]), a3 = Ops::Hi16(r[2], r[3]);
    x[0] = Ops::Lo32(a0, a2);
    x[1] = Ops::Hi32(a0, a2);
    x[2] = Ops::Lo32(a1, a3);
    x[3] = Ops::Hi32(a1, a3);
}

// (a & b) | (~a & c): the bits of b where a is set, of c elsewhere.
template <class Ops>
[[gnu::always_inline]] inline typename Ops::V Select(typename Ops::V a, typename Ops::V b,
                                                     typename Ops::V c)
{
    return Ops::Or(Ops::And(a, b), Ops::AndNot(a, c));
}

// One inverse mixing round on G sets, with key words k[base .. base + 3].
template <class Ops, int G>
[[gnu::always_inline]] inline void RMix(const typename Ops::Keys& keys, typename Ops::V (&r)[G][4],
                                        int base)
{
#pragma GCC unroll 8
    for (int g = 0; g < G; ++g)
        r[g][3] = Ops::Sub(Ops::Sub(Ops::template Rotr<5>(r[g][3]), keys.kv[base + 3]),
                           Select<Ops>(r[g][2], r[g][1], r[g][0]));
#pragma GCC unroll 8
    for (int g = 0; g < G; ++g)
        r[g][2] = Ops::Sub(Ops::Sub(Ops::template Rotr<3>(r[g][2]), keys.kv[base + 2]),
                           Select<Ops>(r[g][1], r[g][0], r[g][3]));
#pragma GCC unroll 8
    for (int g = 0; g < G; ++g)
        r[g][1] = Ops::Sub(Ops::Sub(Ops::template Rotr<2>(r[g][1]), keys.kv[base + 1]),
                           Select<Ops>(r[g][0], r[g][3], r[g][2]));
#pragma GCC unroll 8
    for (int g = 0; g < G; ++g)
        r[g][0] = Ops::Sub(Ops::Sub(Ops::template Rotr<1>(r[g][0]), keys.kv[base]),
                           Select<Ops>(r[g][3], r[g][2], r[g][1]));
}

// The inverse mashing round: each word less the key word its neighbour picks.
template <class Ops, int G>
[[gnu::always_inline]] inline void RMash(const typename Ops::Keys& keys, typename Ops::V (&r)[G][4])
{
#pragma GCC unroll 8
    for (int g = 0; g < G; ++g) r[g][3] = Ops::Sub(r[g][3], keys.Lookup(r[g][2]));
#pragma GCC unroll 8
    for (int g = 0; g < G; ++g) r[g][2] = Ops::Sub(r[g][2], keys.Lookup(r[g][1]));
#pragma GCC unroll 8
    for (int g = 0; g < G; ++g) r[g][1] = Ops::Sub(r[g][1], keys.Lookup(r[g][0]));
#pragma GCC unroll 8
    for (int g = 0; g < G; ++g) r[g][0] = Ops::Sub(r[g][0], keys.Lookup(r[g][3]));
}

// Decrypts as many whole groups of G sets as `blocks` holds; returns the
// blocks done. iv is the chaining block in and out; out may equal in.
template <class Ops, int G>
std::size_t DecryptGroups(const typename Ops::Keys& keys, std::uint8_t* iv, const std::uint8_t* in,
                          std::uint8_t* out, std::size_t blocks)
{
    using V = typename Ops::V;
    constexpr std::size_t kVec = sizeof(V);
    constexpr std::size_t kPerGroup = G * 4 * kVec / kBytesPerBlock;
    // The chaining block followed by the group's ciphertext: the ciphertext
    // is copied before anything is written, so decrypting in place works.
    alignas(64) std::uint8_t chain[(kPerGroup + 1) * kBytesPerBlock];
    std::size_t done = 0;
    for (; blocks - done >= kPerGroup; done += kPerGroup) {
        const std::uint8_t* src = in + done * kBytesPerBlock;
        std::uint8_t* dst = out + done * kBytesPerBlock;
        std::memcpy(chain, iv, kBytesPerBlock);
        std::memcpy(chain + kBytesPerBlock, src, kPerGroup * kBytesPerBlock);

        V r[G][4];
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g) {
            V x[4];
#pragma GCC unroll 4
            for (int v = 0; v < 4; ++v)
                x[v] = Ops::Load(chain + kBytesPerBlock + (g * 4 + v) * kVec);
            ToLanes<Ops>(x, r[g]);
        }
#pragma GCC unroll 8
        for (int i = 15; i >= 11; --i) RMix<Ops, G>(keys, r, 4 * i);
        RMash<Ops, G>(keys, r);
#pragma GCC unroll 8
        for (int i = 10; i >= 5; --i) RMix<Ops, G>(keys, r, 4 * i);
        RMash<Ops, G>(keys, r);
#pragma GCC unroll 8
        for (int i = 4; i >= 0; --i) RMix<Ops, G>(keys, r, 4 * i);
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g) {
            V x[4];
            FromLanes<Ops>(r[g], x);
#pragma GCC unroll 4
            for (int v = 0; v < 4; ++v)
                Ops::Store(dst + (g * 4 + v) * kVec,
                           Ops::Xor(x[v], Ops::Load(chain + (g * 4 + v) * kVec)));
        }
        std::memcpy(iv, chain + kPerGroup * kBytesPerBlock, kBytesPerBlock);
    }
    return done;
}

// A path's whole run: big groups, then single sets, then the scalar code for
// the blocks too few to fill a set.
template <class Ops, int G>
void DecryptRun(const std::uint16_t* k, std::uint8_t* iv, const std::uint8_t* in, std::uint8_t* out,
                std::size_t blocks)
{
    const typename Ops::Keys keys(k);
    std::size_t done = DecryptGroups<Ops, G>(keys, iv, in, out, blocks);
    if constexpr (G > 1)
        done += DecryptGroups<Ops, 1>(keys, iv, in + done * kBytesPerBlock,
                                      out + done * kBytesPerBlock, blocks - done);
    if (done < blocks)
        CbcDecryptScalar(k, iv, in + done * kBytesPerBlock, out + done * kBytesPerBlock,
                         blocks - done);
}

} // namespace
} // namespace kestrawin::crypto::rc2::detail
