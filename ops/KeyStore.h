// SPDX-License-Identifier: Apache-2.0
#pragma once
// The per-user key container "Kestrawin Container": an exchange and a signature
// RSA key pair, kept in $XDG_DATA_HOME/kestrawin/ (folder 0700, file 0600) and
// replaced at every start. Each container file carries the public half of the
// signature pair that signed it, so files written before a regeneration keep
// opening.
//
// The store cannot be redirected: every folder on its way is opened relative
// to the one before without following links (a link is followed only when it
// belongs to the user or to root), every folder on the way must belong to the
// user or to root, the store's own folder to the user; modes are changed
// through descriptors, never by name. When no such folder can be had, the
// pairs live in memory only (they are replaced at every start anyway).
//
// On Windows the pairs live where the system keeps them, in the provider's
// per-user key container of that name (KeyStoreWindows.cpp); there "folder"
// below is the container's name.

#include "base/Outcome.h"
#include "crypto/Provider.h"

#include <memory>
#include <string>
#include <utility>

namespace kestrawin::ops {

inline constexpr const char* kKeyContainerName = "Kestrawin Container";
inline constexpr int kKeyPairBits = 1024; // what the Windows default provider generates

class KeyContainer {
public:
    // The folder that holds the store: $XDG_DATA_HOME/kestrawin, or
    // ~/.local/share/kestrawin when XDG_DATA_HOME is unset or not absolute,
    // the home folder being $HOME or else the user's entry in the password
    // database. Empty (keys in memory only) when there is no home at all:
    // never a shared folder.
    [[nodiscard]] static std::string DefaultFolder();

    // Opens the store in a folder, creating the folder when it is missing.
    // A store that cannot be read is noted and will be replaced by fresh pairs.
    // An empty folder, or one that fails the checks above, keeps the pairs in
    // memory only. Fails only when the crypto provider itself is unusable.
    [[nodiscard]] static Result Acquire(const std::string& folder, KeyContainer* out);

    // Pairs given by the caller, in memory only: with a given signature pair,
    // a container's bytes depend on nothing but the password and the file.
    [[nodiscard]] static KeyContainer WithPairs(crypto::RsaKeyPair exchange,
                                                crypto::RsaKeyPair signature)
    {
        KeyContainer keys;
        keys.exchange_ = std::move(exchange);
        keys.signature_ = std::move(signature);
        return keys;
    }

    // A container without pairs: decryption needs none, and an encryption
    // given it reports that there is no key pair.
    [[nodiscard]] static const KeyContainer& None()
    {
        static const KeyContainer none;
        return none;
    }
    // The shared keys of a start, or None() when it has none.
    [[nodiscard]] static const KeyContainer& OrNone(const std::shared_ptr<const KeyContainer>& keys)
    {
        return keys ? *keys : None();
    }

    // Replaces both pairs and saves them atomically. When the store cannot be
    // saved (a read-only home, say), the new pairs still serve this process and
    // the result says why they were not kept.
    [[nodiscard]] Result RegenerateKeyPairs();

    [[nodiscard]] bool created() const { return created_; }     // the store did not exist
    [[nodiscard]] bool wasDamaged() const { return damaged_; }  // it existed but did not read
    [[nodiscard]] bool persisted() const { return persisted_; } // the pairs in memory are on disk
    [[nodiscard]] const std::string& path() const { return path_; }
    [[nodiscard]] bool inMemoryOnly() const { return !place_; }
    [[nodiscard]] const crypto::RsaKeyPair& signatureKey() const { return signature_; }
    [[nodiscard]] const crypto::RsaKeyPair& exchangeKey() const { return exchange_; }
    [[nodiscard]] bool hasSignatureKey() const { return signature_.valid(); }

private:
    struct Place; // where the pairs are kept: the store's folder, held open, or a key container
    std::shared_ptr<Place> place_;
    std::string path_;
    crypto::RsaKeyPair exchange_;
    crypto::RsaKeyPair signature_;
    bool created_ = false;
    bool damaged_ = false;
    bool persisted_ = false;
};

} // namespace kestrawin::ops
