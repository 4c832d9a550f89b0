// SPDX-License-Identifier: Apache-2.0
#pragma once
// The key containers the Windows provider keeps for each user, by name. Only
// the Windows build has them (ProviderCryptoApi.cpp); the Linux build keeps
// its pairs in a file of its own (ops/KeyStore.cpp).

#include "Provider.h"

#include <memory>
#include <optional>
#include <string>

namespace kestrawin::crypto {

enum class KeyKind { Exchange, Signature };

class SystemKeyContainer {
public:
    // Opens the user's container of this name, creating it when missing; a
    // CryptoFailure with the provider's reason when it refuses both.
    [[nodiscard]] static Expected<SystemKeyContainer> Open(const std::string& name);
    // Removes the user's container of this name with its pairs.
    [[nodiscard]] static bool Delete(const std::string& name);

    ~SystemKeyContainer();
    SystemKeyContainer(SystemKeyContainer&&) noexcept;
    SystemKeyContainer& operator=(SystemKeyContainer&&) noexcept;

    [[nodiscard]] bool created() const { return created_; } // Open made it
    // Replaces both pairs with fresh exportable ones of `bits` bits.
    [[nodiscard]] Result Regenerate(int bits);
    // The container's pair of this kind, as a pair of its own that does not
    // change when the container's does; nothing when the container holds none.
    [[nodiscard]] std::optional<RsaKeyPair> Pair(KeyKind kind) const;

private:
    friend class RsaKeyPair;
    struct Context;
    SystemKeyContainer() = default;
    // A pair of its own from a PRIVATEKEYBLOB (wiped afterwards).
    [[nodiscard]] static Expected<RsaKeyPair> ImportPair(Bytes& privateBlob);
    std::shared_ptr<Context> context_;
    bool created_ = false;
};

} // namespace kestrawin::crypto
