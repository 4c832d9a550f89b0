// SPDX-License-Identifier: Apache-2.0
#include "Container.h"

#include <algorithm>
#include <cstring>

namespace kestrawin::format {

using namespace crypto;

namespace {

std::uint32_t LE32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8)
           | (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void Put32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

} // namespace

Bytes BuildHeader(std::uint32_t keyBlobLength, std::uint32_t signatureLength)
{
    Bytes header(kHeaderSize, 0);
    std::memcpy(header.data(), kContainerMagic, sizeof kContainerMagic);
    Put32(header.data() + 8, keyBlobLength);
    Put32(header.data() + 12, signatureLength);
    return header;
}

std::optional<ContainerHeader> ParseHeader(ByteView first16)
{
    if (first16.size() < kHeaderSize) return std::nullopt;
    ContainerHeader h;
    h.keyBlobLength = static_cast<std::int32_t>(LE32(first16.data() + 8));
    h.signatureLength = static_cast<std::int32_t>(LE32(first16.data() + 12));
    return h;
}

Expected<ContainerLayout> CheckLayout(const ContainerHeader& h, std::uint64_t fileSize)
{
    auto fail = [](const char* text) { return Result::fail(Outcome::DamagedContainer, text); };
    if (fileSize < kHeaderSize) return fail("shorter than the header");
    if (h.keyBlobLength <= 0) return fail("no public key");
    if (h.signatureLength <= 0) return fail("no signature");
    ContainerLayout l;
    l.blobOffset = kHeaderSize;
    l.signatureOffset = l.blobOffset + static_cast<std::uint64_t>(h.keyBlobLength);
    l.ciphertextOffset = l.signatureOffset + static_cast<std::uint64_t>(h.signatureLength);
    if (l.ciphertextOffset > fileSize) return fail("a section runs past the end of the file");
    l.ciphertextLength = fileSize - l.ciphertextOffset;
    if (l.ciphertextLength == 0) return fail("no encrypted data");
    if (l.ciphertextLength % Rc2Cbc::kBlock != 0) return fail("encrypted data cut short");
    return l;
}

Bytes BuildPublicKeyBlob(std::uint32_t algId, const RsaPublicNumbers& key)
{
    Bytes blob(kBlobHeaderSize + key.modulusLE.size(), 0);
    std::uint8_t* p = blob.data();
    p[0] = 0x06; // PUBLICKEYBLOB
    p[1] = 0x02; // version 2; two reserved bytes stay zero
    Put32(p + 4, algId);
    Put32(p + 8, 0x31415352); // "RSA1"
    Put32(p + 12, key.bits);
    Put32(p + 16, key.exponent);
    std::copy(key.modulusLE.begin(), key.modulusLE.end(), p + kBlobHeaderSize);
    return blob;
}

Expected<PublicKeyBlob> ParsePublicKeyBlob(ByteView blob)
{
    auto fail = [](const char* text) { return Result::fail(Outcome::DamagedContainer, text); };
    if (blob.size() < kBlobHeaderSize) return fail("public key too short");
    const std::uint8_t* p = blob.data();
    if (p[0] != 0x06 || p[1] != 0x02 || p[2] != 0 || p[3] != 0) return fail("not a public key");
    PublicKeyBlob key;
    key.algId = LE32(p + 4);
    if (key.algId != kAlgSignature && key.algId != kAlgKeyExchange) return fail("not an RSA key");
    if (LE32(p + 8) != 0x31415352) return fail("not an RSA public key");
    key.bitLength = LE32(p + 12);
    key.exponent = LE32(p + 16);
    if (key.bitLength == 0 || key.bitLength % 8 != 0 || key.bitLength > kMaxKeyBits)
        return fail("unusable key length");
    const std::size_t modBytes = key.bitLength / 8;
    if (blob.size() < kBlobHeaderSize + modBytes) return fail("public key cut short");
    if (key.exponent == 0) return fail("unusable public exponent");
    key.modulusLE.assign(p + kBlobHeaderSize, p + kBlobHeaderSize + modBytes);
    return key;
}

} // namespace kestrawin::format
