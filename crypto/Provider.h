// SPDX-License-Identifier: Apache-2.0
#pragma once
// The crypto provider: SHA-1, RSA key pairs and signatures in the Windows
// provider's byte order, random bytes, and RC2-CBC on our own cipher (Rc2.h).
// One implementation file per platform, chosen by the build: OpenSSL 3 (its
// default provider only) on Linux, the system's CryptoAPI on Windows. The
// types own their library objects; none of them is visible outside the engine.
// A failure of the library is a CryptoFailure, with its reason as the detail.

#include "base/Outcome.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kestrawin::crypto {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;
using Sha1Digest = std::array<std::uint8_t, 20>;

// Loads the library's provider; fails when SHA-1 is unavailable.
[[nodiscard]] Result ProviderAvailable();

[[nodiscard]] std::optional<Sha1Digest> Sha1(ByteView data);

// Algorithm identifiers carried in a public key blob.
inline constexpr std::uint32_t kAlgSignature = 0x00002400;   // CALG_RSA_SIGN
inline constexpr std::uint32_t kAlgKeyExchange = 0x0000A400; // CALG_RSA_KEYX

// The public half of an RSA key: its size in bits, public exponent and
// modulus (least significant byte first, bits / 8 bytes rounded up).
struct RsaPublicNumbers {
    std::uint32_t bits = 0;
    std::uint32_t exponent = 0;
    Bytes modulusLE;
};

// An RSA key pair (private and public halves).
class RsaKeyPair {
public:
    RsaKeyPair();
    ~RsaKeyPair();
    RsaKeyPair(RsaKeyPair&&) noexcept;
    RsaKeyPair& operator=(RsaKeyPair&&) noexcept;

    // A fresh pair with public exponent 65537.
    [[nodiscard]] static Expected<RsaKeyPair> Generate(int bits);
    // PKCS#8 PEM of the private key, and back.
    [[nodiscard]] std::string ToPem() const;
    [[nodiscard]] static std::optional<RsaKeyPair> FromPem(std::string_view pem);

    [[nodiscard]] bool valid() const { return impl_ != nullptr; }
    [[nodiscard]] int bits() const;
    // The public half's numbers (format::BuildPublicKeyBlob lays them out).
    [[nodiscard]] Expected<RsaPublicNumbers> PublicNumbers() const;
    // PKCS#1 v1.5 signature of a SHA-1 value, least significant byte first, as
    // the Windows provider stores it.
    [[nodiscard]] Expected<Bytes> SignSha1(const Sha1Digest& digest) const;
    // True when both pairs hold the same public key.
    [[nodiscard]] bool SamePublicKey(const RsaKeyPair& other) const;

private:
    friend class SystemKeyContainer; // the Windows key containers make pairs too
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A public key read from a container: modulus (least significant byte first)
// and exponent. Verification works on the numbers directly.
class RsaPublicKey {
public:
    RsaPublicKey(Bytes modulusLE, std::uint32_t exponent)
        : modulusLE_(std::move(modulusLE)), exponent_(exponent)
    {}

    [[nodiscard]] std::size_t modulusBytes() const { return modulusLE_.size(); }

    enum class Check { Verified, NotVerified, Malformed };
    // Verifies a signature stored least significant byte first against a SHA-1
    // value. Accepts the PKCS#1 v1.5 block with and without the DigestInfo.
    // Malformed: the signature's length is not the modulus size or its value is
    // not below the modulus, so no password can ever verify it.
    [[nodiscard]] Check VerifySha1(const Sha1Digest& digest, ByteView signatureLE) const;

private:
    Bytes modulusLE_;
    std::uint32_t exponent_;
};

// The RC2 key schedule input: 16 key bytes and the effective key bits.
struct Rc2Key {
    std::array<std::uint8_t, 16> bytes{};
    int effectiveBits = 128;
};

// RC2-CBC with PKCS#5 padding and an all-zero IV (unless one is given), in
// streaming form: any split of the input gives the bytes of one whole call.
class Rc2Cbc {
public:
    enum class Direction { Encrypt, Decrypt };

    Rc2Cbc();
    ~Rc2Cbc();
    Rc2Cbc(const Rc2Cbc&) = delete;
    Rc2Cbc& operator=(const Rc2Cbc&) = delete;

    // iv: 8 bytes, or empty for zeros. Decrypting with padding off gives the raw
    // blocks (used to look at the last block alone).
    [[nodiscard]] bool Init(const Rc2Key& key, Direction direction, ByteView iv = {},
                            bool padding = true);
    // Starts a new message with the same key, direction and padding and
    // another IV (8 bytes); nothing is carried over from the previous one.
    [[nodiscard]] bool Restart(ByteView iv);
    // out must hold in.size() + 8 bytes. *written receives the bytes produced.
    [[nodiscard]] bool Update(ByteView in, std::uint8_t* out, std::size_t* written);
    // out must hold 8 bytes. Fails on a bad padding when decrypting.
    [[nodiscard]] bool Final(std::uint8_t* out, std::size_t* written);

    static constexpr std::size_t kBlock = 8;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Cryptographically strong random bytes.
[[nodiscard]] bool RandomBytes(std::uint8_t* out, std::size_t n);

} // namespace kestrawin::crypto
