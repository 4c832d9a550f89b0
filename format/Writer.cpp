// SPDX-License-Identifier: Apache-2.0
#include "Writer.h"

#include "crypto/PasswordKeys.h"

#include <optional>

namespace kestrawin::format {

using namespace crypto;

Result PlanEncryption(const RsaKeyPair& signer, std::string_view password, EncryptionPlan* plan)
{
    // The digest is made in place: assigning it would leave the returned
    // value behind on the stack, unwiped.
    const Secret bytes = PasswordBytesForEncryption(password);
    std::optional<Sha1Digest> hash = Sha1({bytes.bytes(), bytes.size()});
    const WipeOnExit wipeHash(hash);
    if (!hash) return Result::fail(Outcome::CryptoFailure, "cannot hash the password");
    const auto publicKey = signer.PublicNumbers();
    if (!publicKey) return publicKey.result();
    const Bytes blob = BuildPublicKeyBlob(kAlgSignature, *publicKey);
    const auto signing = signer.SignSha1(*hash);
    if (!signing) return signing.result();
    const Bytes& signature = *signing;

    plan->head = BuildHeader(static_cast<std::uint32_t>(blob.size()),
                             static_cast<std::uint32_t>(signature.size()));
    plan->head.insert(plan->head.end(), blob.begin(), blob.end());
    plan->head.insert(plan->head.end(), signature.begin(), signature.end());
    plan->key = DeriveRc2Key(*hash, Rc2Recipe::Strong);
    return Result::success();
}

Result EncryptBytes(const RsaKeyPair& signer, std::string_view password, ByteView plain,
                    Bytes* container)
{
    if (Result r = ProviderAvailable(); !r.ok()) return r;
    EncryptionPlan plan;
    const WipeOnExit wipeKey(plan.key);
    if (Result r = PlanEncryption(signer, password, &plan); !r.ok()) return r;
    Rc2Cbc cipher;
    if (!cipher.Init(plan.key, Rc2Cbc::Direction::Encrypt))
        return Result::fail(Outcome::CryptoFailure, "cannot set up RC2");
    *container = std::move(plan.head);
    const std::size_t start = container->size();
    container->resize(start + plain.size() + Rc2Cbc::kBlock);
    std::size_t n = 0, last = 0;
    if (!cipher.Update(plain, container->data() + start, &n)
        || !cipher.Final(container->data() + start + n, &last))
        return Result::fail(Outcome::CryptoFailure, "the cipher failed");
    container->resize(start + n + last);
    return Result::success();
}

} // namespace kestrawin::format
