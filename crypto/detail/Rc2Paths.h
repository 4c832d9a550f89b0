// SPDX-License-Identifier: Apache-2.0
#pragma once
// The CBC decryption paths behind rc2::CbcDecrypt. Each SIMD path lives in a
// file of its own, compiled for its instruction set, and is only called when
// the processor has it. They take the schedule as a plain array so that no
// shared inline code gets compiled for an instruction set the caller lacks.

#include <cstddef>
#include <cstdint>

namespace kestrawin::crypto::rc2::detail {

using DecryptFn = void (*)(const std::uint16_t* k, std::uint8_t* iv, const std::uint8_t* in,
                           std::uint8_t* out, std::size_t blocks);

void CbcDecryptScalar(const std::uint16_t* k, std::uint8_t* iv, const std::uint8_t* in,
                      std::uint8_t* out, std::size_t blocks);
#if defined(KESTRAWIN_RC2_X86)
void CbcDecryptSse2(const std::uint16_t* k, std::uint8_t* iv, const std::uint8_t* in,
                    std::uint8_t* out, std::size_t blocks);
void CbcDecryptAvx2(const std::uint16_t* k, std::uint8_t* iv, const std::uint8_t* in,
                    std::uint8_t* out, std::size_t blocks);
void CbcDecryptAvx512(const std::uint16_t* k, std::uint8_t* iv, const std::uint8_t* in,
                      std::uint8_t* out, std::size_t blocks);
#endif

} // namespace kestrawin::crypto::rc2::detail
