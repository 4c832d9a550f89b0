// SPDX-License-Identifier: Apache-2.0
// RC2-CBC decryption with AVX2: sixteen blocks per set of four registers.
// The mashing rounds' key lookup (k[v & 63] in every 16-bit lane) is done
// with byte shuffles: the 128-byte table is eight 16-byte slices, and a chain
// of shuffles with a falling index picks each lane's slice (see Lookup).

#include "detail/Rc2Kernel.h"

#include <immintrin.h>

namespace kestrawin::crypto::rc2::detail {
namespace {

struct Avx2 {
    using V = __m256i;
    static V Load(const void* p) { return _mm256_loadu_si256(static_cast<const V*>(p)); }
    static void Store(void* p, V v) { _mm256_storeu_si256(static_cast<V*>(p), v); }
    static V Add(V a, V b) { return _mm256_add_epi16(a, b); }
    static V Sub(V a, V b) { return _mm256_sub_epi16(a, b); }
    static V And(V a, V b) { return _mm256_and_si256(a, b); }
    static V AndNot(V a, V b) { return _mm256_andnot_si256(a, b); }
    static V Or(V a, V b) { return _mm256_or_si256(a, b); }
    static V Xor(V a, V b) { return _mm256_xor_si256(a, b); }
    template <int N>
    static V Rotr(V a)
    {
        return _mm256_or_si256(_mm256_srli_epi16(a, N), _mm256_slli_epi16(a, 16 - N));
    }
    static V Lo16(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
    static V Hi16(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
    static V Lo32(V a, V b) { return _mm256_unpacklo_epi32(a, b); }
    static V Hi32(V a, V b) { return _mm256_unpackhi_epi32(a, b); }
    static V Lo64(V a, V b) { return _mm256_unpacklo_epi64(a, b); }
    static V Hi64(V a, V b) { return _mm256_unpackhi_epi64(a, b); }

    struct Keys {
        V kv[64];
        // Slice s holds the bytes of k[8s .. 8s + 7] XORed with slice s - 1's,
        // in both 128-bit lanes.
        V slice[8];
        explicit Keys(const std::uint16_t* words)
        {
            for (int i = 0; i < 64; ++i) kv[i] = _mm256_set1_epi16(static_cast<short>(words[i]));
            __m128i previous = _mm_setzero_si128();
            for (int s = 0; s < 8; ++s) {
                const __m128i raw =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 8 * s));
                slice[s] = _mm256_broadcastsi128_si256(_mm_xor_si128(raw, previous));
                previous = raw;
            }
        }
        ~Keys() { WipeKeys(this, sizeof *this); }
        Keys(const Keys&) = delete;
        Keys& operator=(const Keys&) = delete;

        // Lane value i = v & 63 wants bytes 2i and 2i + 1 of the table. Those
        // byte indexes (0..127) go into the lane's two bytes; each step
        // shuffles one slice and lowers the indexes by 16. While an index is
        // still >= 0 the shuffle picks byte (index & 15) of that slice, and
        // once it is negative the shuffle gives zero; XORing the steps
        // telescopes the slices' differences into slice (2i / 16) itself.
        [[gnu::always_inline]] V Lookup(V v) const
        {
            const V twice = _mm256_slli_epi16(_mm256_and_si256(v, _mm256_set1_epi16(63)), 1);
            V index = _mm256_add_epi16(_mm256_or_si256(twice, _mm256_slli_epi16(twice, 8)),
                                       _mm256_set1_epi16(0x0100));
            const V sixteen = _mm256_set1_epi8(16);
            V result = _mm256_shuffle_epi8(slice[0], index);
#pragma GCC unroll 8
            for (int s = 1; s < 8; ++s) {
                index = _mm256_sub_epi8(index, sixteen);
                result = _mm256_xor_si256(result, _mm256_shuffle_epi8(slice[s], index));
            }
            return result;
        }
    };
};

} // namespace

void CbcDecryptAvx2(const std::uint16_t* k, std::uint8_t* iv, const std::uint8_t* in,
                    std::uint8_t* out, std::size_t blocks)
{
    // Two sets at a time: with three or four, more of the state spills out of
    // the sixteen registers, and that measured slower than what the extra
    // independent work gains (the same holds for SSE2).
    DecryptRun<Avx2, 2>(k, iv, in, out, blocks);
}

} // namespace kestrawin::crypto::rc2::detail
