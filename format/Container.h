// SPDX-License-Identifier: Apache-2.0
#pragma once
// The container file (".ksw"), all integers little-endian:
//
//   offset      size  field
//   0           8     magic "KSW01001" (written, never required by the reader)
//   8           4     K: length of the public key blob (signed 32-bit)
//   12          4     S: length of the signature (signed 32-bit)
//   16          K     public key blob (PUBLICKEYBLOB of the signature key)
//   16+K        S     signature of the password's SHA-1, least significant byte first
//   16+K+S      rest  RC2-CBC ciphertext of the whole file, PKCS#5 padded, zero IV
//
// Public key blob:
//   0 bType 0x06, 1 bVersion 0x02, 2 reserved 0 (2 bytes), 4 aiKeyAlg 0x2400 or
//   0xA400, 8 magic "RSA1", 12 bit length, 16 public exponent, 20 modulus
//   (bitlen/8 bytes, least significant first).
//
// The parsers below take untrusted bytes and never read past what they are given.

#include "base/Outcome.h"
#include "crypto/Provider.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kestrawin::format {

using crypto::Bytes;
using crypto::ByteView;

inline constexpr char kContainerMagic[8] = {'K', 'S', 'W', '0', '1', '0', '0', '1'};
inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::size_t kBlobHeaderSize = 20;
inline constexpr std::uint32_t kMaxKeyBits = 16384;

struct ContainerHeader {
    std::int32_t keyBlobLength = 0;   // K
    std::int32_t signatureLength = 0; // S
};

[[nodiscard]] Bytes BuildHeader(std::uint32_t keyBlobLength, std::uint32_t signatureLength);

// The header's two lengths. The magic is not checked: containers whose first
// eight bytes were changed still open.
[[nodiscard]] std::optional<ContainerHeader> ParseHeader(ByteView first16);

struct ContainerLayout {
    std::uint64_t blobOffset = 0;
    std::uint64_t signatureOffset = 0;
    std::uint64_t ciphertextOffset = 0;
    std::uint64_t ciphertextLength = 0;
};

// Checks the header's lengths against the file size and the ciphertext's length
// (non-empty, whole blocks). A failure is a DamagedContainer that says why.
[[nodiscard]] Expected<ContainerLayout> CheckLayout(const ContainerHeader& header,
                                                    std::uint64_t fileSize);

struct PublicKeyBlob {
    std::uint32_t algId = 0;
    std::uint32_t bitLength = 0;
    std::uint32_t exponent = 0;
    Bytes modulusLE;
};

// The PUBLICKEYBLOB of a public key, as the container carries it.
[[nodiscard]] Bytes BuildPublicKeyBlob(std::uint32_t algId, const crypto::RsaPublicNumbers& key);

// Parses and checks a PUBLICKEYBLOB. A failure is a DamagedContainer that says why.
[[nodiscard]] Expected<PublicKeyBlob> ParsePublicKeyBlob(ByteView blob);

} // namespace kestrawin::format
