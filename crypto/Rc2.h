// SPDX-License-Identifier: Apache-2.0
#pragma once
// RC2 (RFC 2268) and its CBC mode, without OpenSSL.
//
// Encryption is serial by nature: each block needs the previous block's
// result, so it runs one block at a time, as fast as the chain of rounds
// allows. Decryption of a CBC run has no such chain (every plaintext block
// comes from two ciphertext blocks), so it runs many blocks at once in SIMD
// registers, on the widest path the processor offers.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kestrawin::crypto::rc2 {

inline constexpr std::size_t kBlock = 8;

// The expanded key: 64 words. Wiped when dropped.
struct Schedule {
    std::array<std::uint16_t, 64> k{};

    Schedule() = default;
    Schedule(const Schedule&) = default;
    Schedule& operator=(const Schedule&) = default;
    ~Schedule();
};

// Key expansion for 1 to 128 key bytes and 1 to 1024 effective key bits.
// False (and *out untouched) outside those ranges.
[[nodiscard]] bool ExpandKey(std::span<const std::uint8_t> key, int effectiveBits, Schedule* out);

void EncryptBlock(const Schedule& s, const std::uint8_t in[kBlock], std::uint8_t out[kBlock]);
void DecryptBlock(const Schedule& s, const std::uint8_t in[kBlock], std::uint8_t out[kBlock]);

// CBC over whole blocks. iv holds the chaining block and receives the last
// ciphertext block, so consecutive calls continue one message. out may be in
// (in place) or a buffer that does not overlap it.
void CbcEncrypt(const Schedule& s, std::uint8_t iv[kBlock], const std::uint8_t* in,
                std::uint8_t* out, std::size_t blocks);

// The ways to decrypt many blocks at once.
enum class Path { Scalar, Sse2, Avx2, Avx512 };
inline constexpr Path kAllPaths[] = {Path::Scalar, Path::Sse2, Path::Avx2, Path::Avx512};

[[nodiscard]] const char* PathName(Path path);
// Whether this build has the path and this processor can run it.
[[nodiscard]] bool PathAvailable(Path path);
// The fastest available path.
[[nodiscard]] Path BestPath();
// The path CbcDecrypt without one uses: BestPath() unless forced. Forcing an
// unavailable path is refused. std::nullopt goes back to the best.
[[nodiscard]] bool ForcePath(std::optional<Path> path);
[[nodiscard]] Path CurrentPath();

void CbcDecrypt(const Schedule& s, std::uint8_t iv[kBlock], const std::uint8_t* in,
                std::uint8_t* out, std::size_t blocks);
// The same on a given path, which must be available.
void CbcDecrypt(const Schedule& s, std::uint8_t iv[kBlock], const std::uint8_t* in,
                std::uint8_t* out, std::size_t blocks, Path path);

} // namespace kestrawin::crypto::rc2
