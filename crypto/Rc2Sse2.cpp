// SPDX-License-Identifier: Apache-2.0
// RC2-CBC decryption with SSE2 (every x86-64 processor has it): eight blocks
// per set of four registers, two sets interleaved so that the processor
// always has independent work. SSE2 has no byte shuffle, so the key words
// the mashing rounds pick are fetched one lane at a time.

#include "detail/Rc2Kernel.h"

#include <emmintrin.h>

namespace kestrawin::crypto::rc2::detail {
namespace {

struct Sse2 {
    using V = __m128i;
    static V Load(const void* p) { return _mm_loadu_si128(static_cast<const V*>(p)); }
    static void Store(void* p, V v) { _mm_storeu_si128(static_cast<V*>(p), v); }
    static V Add(V a, V b) { return _mm_add_epi16(a, b); }
    static V Sub(V a, V b) { return _mm_sub_epi16(a, b); }
    static V And(V a, V b) { return _mm_and_si128(a, b); }
    static V AndNot(V a, V b) { return _mm_andnot_si128(a, b); }
    static V Or(V a, V b) { return _mm_or_si128(a, b); }
    static V Xor(V a, V b) { return _mm_xor_si128(a, b); }
    template <int N>
    static V Rotr(V a)
    {
        return _mm_or_si128(_mm_srli_epi16(a, N), _mm_slli_epi16(a, 16 - N));
    }
    static V Lo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
    static V Hi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
    static V Lo32(V a, V b) { return _mm_unpacklo_epi32(a, b); }
    static V Hi32(V a, V b) { return _mm_unpackhi_epi32(a, b); }
    static V Lo64(V a, V b) { return _mm_unpacklo_epi64(a, b); }
    static V Hi64(V a, V b) { return _mm_unpackhi_epi64(a, b); }

    struct Keys {
        V kv[64];
        std::uint16_t k[64];
        explicit Keys(const std::uint16_t* words)
        {
            for (int i = 0; i < 64; ++i) {
                k[i] = words[i];
                kv[i] = _mm_set1_epi16(static_cast<short>(words[i]));
            }
        }
        ~Keys() { WipeKeys(this, sizeof *this); }
        Keys(const Keys&) = delete;
        Keys& operator=(const Keys&) = delete;

        [[gnu::always_inline]] V Lookup(V v) const
        {
            const V i = _mm_and_si128(v, _mm_set1_epi16(63));
            return _mm_set_epi16(static_cast<short>(k[_mm_extract_epi16(i, 7)]),
                                 static_cast<short>(k[_mm_extract_epi16(i, 6)]),
                                 static_cast<short>(k[_mm_extract_epi16(i, 5)]),
                                 static_cast<short>(k[_mm_extract_epi16(i, 4)]),
                                 static_cast<short>(k[_mm_extract_epi16(i, 3)]),
                                 static_cast<short>(k[_mm_extract_epi16(i, 2)]),
                                 static_cast<short>(k[_mm_extract_epi16(i, 1)]),
                                 static_cast<short>(k[_mm_extract_epi16(i, 0)]));
        }
    };
};

} // namespace

void CbcDecryptSse2(const std::uint16_t* k, std::uint8_t* iv, const std::uint8_t* in,
                    std::uint8_t* out, std::size_t blocks)
{
    DecryptRun<Sse2, 2>(k, iv, in, out, blocks);
}

} // namespace kestrawin::crypto::rc2::detail
