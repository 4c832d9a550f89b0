// SPDX-License-Identifier: Apache-2.0
// RC2-CBC decryption with AVX-512BW: thirty-two blocks per set of four
// registers. The whole 64-word key table fits in two registers, so the
// mashing rounds' lookup is a single two-table word permute.

#include "detail/Rc2Kernel.h"

#include <immintrin.h>

namespace kestrawin::crypto::rc2::detail {
namespace {

struct Avx512 {
    using V = __m512i;
    static V Load(const void* p) { return _mm512_loadu_si512(p); }
    static void Store(void* p, V v) { _mm512_storeu_si512(p, v); }
    static V Add(V a, V b) { return _mm512_add_epi16(a, b); }
    static V Sub(V a, V b) { return _mm512_sub_epi16(a, b); }
    static V And(V a, V b) { return _mm512_and_si512(a, b); }
    static V AndNot(V a, V b) { return _mm512_andnot_si512(a, b); }
    static V Or(V a, V b) { return _mm512_or_si512(a, b); }
    static V Xor(V a, V b) { return _mm512_xor_si512(a, b); }
    template <int N>
    static V Rotr(V a)
    {
        return _mm512_or_si512(_mm512_srli_epi16(a, N), _mm512_slli_epi16(a, 16 - N));
    }
    static V Lo16(V a, V b) { return _mm512_unpacklo_epi16(a, b); }
    static V Hi16(V a, V b) { return _mm512_unpackhi_epi16(a, b); }
    static V Lo32(V a, V b) { return _mm512_unpacklo_epi32(a, b); }
    static V Hi32(V a, V b) { return _mm512_unpackhi_epi32(a, b); }
    static V Lo64(V a, V b) { return _mm512_unpacklo_epi64(a, b); }
    static V Hi64(V a, V b) { return _mm512_unpackhi_epi64(a, b); }

    struct Keys {
        V kv[64];
        V low, high; // k[0..31], k[32..63]
        explicit Keys(const std::uint16_t* words)
        {
            for (int i = 0; i < 64; ++i) kv[i] = _mm512_set1_epi16(static_cast<short>(words[i]));
            low = _mm512_loadu_si512(words);
            high = _mm512_loadu_si512(words + 32);
        }
        ~Keys() { WipeKeys(this, sizeof *this); }
        Keys(const Keys&) = delete;
        Keys& operator=(const Keys&) = delete;

        // The permute reads only each index's low six bits: v & 63 for free.
        [[gnu::always_inline]] V Lookup(V v) const
        {
            return _mm512_permutex2var_epi16(low, v, high);
        }
    };
};

} // namespace

void CbcDecryptAvx512(const std::uint16_t* k, std::uint8_t* iv, const std::uint8_t* in,
                      std::uint8_t* out, std::size_t blocks)
{
    DecryptRun<Avx512, 4>(k, iv, in, out, blocks);
}

} // namespace kestrawin::crypto::rc2::detail
