// SPDX-License-Identifier: Apache-2.0
#include "Reader.h"

#include "crypto/ParallelCbc.h"
#include "crypto/PasswordKeys.h"

#include <algorithm>
#include <utility>

namespace kestrawin::format {

using namespace crypto;

namespace {

// A file that fails a structural check: damaged when it starts like a
// container, otherwise not one at all. (The magic alone never decides: a
// container whose first bytes were changed still opens when the rest is sound.)
struct StructureFailure {
    bool hasMagic = false;
    Result operator()(std::string why) const
    {
        return Result::fail(hasMagic ? Outcome::DamagedContainer : Outcome::NotContainer,
                            std::move(why));
    }
};

// Decrypts only the last block, with the block before it as IV, and checks its
// padding: the cheap way to find which key recipe made a file before
// decrypting all of it.
bool LastBlockPads(ByteSource& in, const ContainerLayout& layout, const Rc2Key& key)
{
    const std::size_t tail =
        static_cast<std::size_t>(std::min<std::uint64_t>(16, layout.ciphertextLength));
    std::uint8_t buf[16] = {};
    if (!in.ReadAt(layout.ciphertextOffset + layout.ciphertextLength - tail, buf, tail).ok())
        return false;
    const ByteView iv = tail == 16 ? ByteView{buf, 8} : ByteView{};
    const ByteView block{buf + tail - 8, 8};
    Rc2Cbc cipher;
    std::uint8_t out[16];
    std::size_t n = 0;
    return cipher.Init(key, Rc2Cbc::Direction::Decrypt, iv) && cipher.Update(block, out, &n)
           && cipher.Final(out, &n);
}

constexpr const char kBadEnd[] = "the encrypted data does not end correctly";

} // namespace

Result MemorySource::ReadAt(std::uint64_t offset, std::uint8_t* buf, std::size_t n)
{
    if (offset > bytes_.size() || n > bytes_.size() - offset)
        return Result::fail(Outcome::InputUnreadable, "read past the end");
    std::copy_n(bytes_.data() + offset, n, buf);
    return Result::success();
}

Result PlanDecryption(ByteSource& in, std::string_view password, DecryptionPlan* plan)
{
    // Structure first: a damaged file is reported as damaged whatever the password.
    std::uint8_t head[kHeaderSize] = {};
    const std::size_t headBytes =
        static_cast<std::size_t>(std::min<std::uint64_t>(in.size(), kHeaderSize));
    if (Result r = in.ReadAt(0, head, headBytes); !r.ok()) return r;
    const StructureFailure Damaged{
        headBytes >= sizeof kContainerMagic
        && std::equal(head, head + sizeof kContainerMagic, kContainerMagic)};
    if (in.size() < kHeaderSize) return Damaged("shorter than the header");
    const auto header = ParseHeader({head, sizeof head});
    const auto layout = CheckLayout(*header, in.size());
    if (!layout) return Damaged(layout.result().detail);

    // Only the blob's header and modulus are needed; a longer blob is accepted.
    const std::size_t blobRead = static_cast<std::size_t>(std::min<std::uint64_t>(
        static_cast<std::uint64_t>(header->keyBlobLength), kBlobHeaderSize + kMaxKeyBits / 8));
    Bytes blobBytes(blobRead);
    if (Result r = in.ReadAt(layout->blobOffset, blobBytes.data(), blobRead); !r.ok()) return r;
    const auto blob = ParsePublicKeyBlob(blobBytes);
    if (!blob) return Damaged(blob.result().detail);
    if (static_cast<std::size_t>(header->signatureLength) != blob->modulusLE.size())
        return Damaged("the signature does not fit the key");
    Bytes signature(blob->modulusLE.size());
    if (Result r = in.ReadAt(layout->signatureOffset, signature.data(), signature.size()); !r.ok())
        return r;

    // The password: the signature tells exactly which encoding, if any, is right.
    const RsaPublicKey publicKey(blob->modulusLE, blob->exponent);
    std::optional<Sha1Digest> verified;
    const WipeOnExit wipeVerified(verified);
    for (const Secret& candidate : PasswordCandidates(password)) {
        auto hash = Sha1({candidate.bytes(), candidate.size()});
        const WipeOnExit wipeHash(hash);
        if (!hash) return Result::fail(Outcome::CryptoFailure, "cannot hash the password");
        const auto check = publicKey.VerifySha1(*hash, signature);
        if (check == RsaPublicKey::Check::Malformed) return Damaged("the signature is not valid");
        if (check == RsaPublicKey::Check::Verified) {
            verified = hash;
            break;
        }
    }
    if (!verified) return Result::fail(Outcome::WrongPassword);

    for (Rc2Recipe recipe : RecipesForKeyBits(blob->bitLength)) {
        Rc2Key candidate = DeriveRc2Key(*verified, recipe);
        const WipeOnExit wipeCandidate(candidate);
        if (LastBlockPads(in, *layout, candidate)) {
            *plan = {*layout, candidate};
            return Result::success();
        }
    }
    return Result::fail(Outcome::DamagedContainer, kBadEnd);
}

Result DecryptBytes(ByteView container, std::string_view password, Bytes* plain)
{
    if (Result r = ProviderAvailable(); !r.ok()) return r;
    MemorySource source(container);
    DecryptionPlan plan;
    const WipeOnExit wipePlan(plan);
    if (Result r = PlanDecryption(source, password, &plan); !r.ok()) return r;
    ParallelCbcDecryptor cipher;
    if (!cipher.Init(plan.key)) return Result::fail(Outcome::CryptoFailure, "cannot set up RC2");
    const auto length = static_cast<std::size_t>(plan.layout.ciphertextLength);
    plain->resize(length + Rc2Cbc::kBlock);
    std::size_t n = 0, last = 0;
    if (!cipher.Update(
            container.subspan(static_cast<std::size_t>(plan.layout.ciphertextOffset), length),
            plain->data(), &n))
        return Result::fail(Outcome::CryptoFailure, "the cipher failed");
    if (!cipher.Final(plain->data() + n, &last))
        return Result::fail(Outcome::DamagedContainer, kBadEnd);
    plain->resize(n + last);
    return Result::success();
}

} // namespace kestrawin::format
