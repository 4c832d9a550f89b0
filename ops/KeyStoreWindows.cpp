// SPDX-License-Identifier: Apache-2.0
// The key store on Windows: the provider's per-user key container "Kestrawin
// Container", which the system keeps private to the user. Its two pairs are
// replaced at every start; the pairs handed out are copies of their own, so a
// later start elsewhere never changes a pair in use.
#include "KeyStore.h"

#include "crypto/SystemKeyContainer.h"

namespace kestrawin::ops {

struct KeyContainer::Place {
    crypto::SystemKeyContainer container;
};

std::string KeyContainer::DefaultFolder()
{
    return kKeyContainerName;
}

Result KeyContainer::Acquire(const std::string& folder, KeyContainer* out)
{
    if (Result r = crypto::ProviderAvailable(); !r.ok()) return r;

    KeyContainer store;
    auto container = folder.empty() ? Expected<crypto::SystemKeyContainer>(
                         Result::fail(Outcome::CryptoFailure, "no key container named"))
                                    : crypto::SystemKeyContainer::Open(folder);
    if (!container) {
        // A container the system will not give us leaves the pairs in memory only.
        *out = std::move(store);
        return Result::success();
    }
    store.path_ = folder;
    store.created_ = container->created();
    if (!store.created_) {
        auto exchange = container->Pair(crypto::KeyKind::Exchange);
        auto signature = container->Pair(crypto::KeyKind::Signature);
        if (exchange && signature) {
            store.exchange_ = std::move(*exchange);
            store.signature_ = std::move(*signature);
            store.persisted_ = true;
        } else {
            store.damaged_ = true;
        }
    }
    store.place_ = std::make_shared<Place>(Place{std::move(*container)});
    *out = std::move(store);
    return Result::success();
}

Result KeyContainer::RegenerateKeyPairs()
{
    persisted_ = false;
    if (!place_) {
        auto exchange = crypto::RsaKeyPair::Generate(kKeyPairBits);
        if (!exchange) return exchange.result();
        auto signature = crypto::RsaKeyPair::Generate(kKeyPairBits);
        if (!signature) return signature.result();
        exchange_ = std::move(*exchange);
        signature_ = std::move(*signature);
        return Result::fail(Outcome::OutputUnwritable,
                            "no key container for the keys; they are kept in memory");
    }
    if (Result r = place_->container.Regenerate(kKeyPairBits); !r.ok()) return r;
    auto exchange = place_->container.Pair(crypto::KeyKind::Exchange);
    auto signature = place_->container.Pair(crypto::KeyKind::Signature);
    if (!exchange || !signature)
        return Result::fail(Outcome::CryptoFailure, "the new key pairs cannot be read back");
    exchange_ = std::move(*exchange);
    signature_ = std::move(*signature);
    persisted_ = true;
    return Result::success();
}

} // namespace kestrawin::ops
