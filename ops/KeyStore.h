#pragma once
// The per-user key container "Kestrawin Container": an exchange and a signature
// RSA key pair, kept in $XDG_DATA_HOME/kestrawin/ (folder 0700, file 0600) and
// replaced at every start. Each container file carries the public half of the
// signature pair that signed it, so files written before a regeneration keep
// opening.

#include "crypto/Outcome.h"
#include "crypto/Provider.h"

#include <string>

namespace kestrawin::ops {

inline constexpr const char* kKeyContainerName = "Kestrawin Container";
inline constexpr int kKeyPairBits = 1024; // what the Windows default provider generates

class KeyContainer {
public:
    // The folder that holds the store: $XDG_DATA_HOME/kestrawin, or
    // ~/.local/share/kestrawin when XDG_DATA_HOME is unset or not absolute.
    [[nodiscard]] static std::string DefaultFolder();

    // Opens the store in a folder, creating the folder when it is missing.
    // A store that cannot be read is noted and will be replaced by fresh pairs.
    // Fails only when the crypto provider itself is unusable.
    [[nodiscard]] static Result Acquire(const std::string& folder, KeyContainer* out);

    // Replaces both pairs and saves them atomically. When the store cannot be
    // saved (a read-only home, say), the new pairs still serve this process and
    // the result says why they were not kept.
    [[nodiscard]] Result RegenerateKeyPairs();

    [[nodiscard]] bool created() const { return created_; }      // the store did not exist
    [[nodiscard]] bool wasDamaged() const { return damaged_; }   // it existed but did not read
    [[nodiscard]] bool persisted() const { return persisted_; }  // the pairs in memory are on disk
    [[nodiscard]] const std::string& path() const { return path_; }
    [[nodiscard]] const crypto::RsaKeyPair& signatureKey() const { return signature_; }
    [[nodiscard]] const crypto::RsaKeyPair& exchangeKey() const { return exchange_; }
    [[nodiscard]] bool hasSignatureKey() const { return signature_.valid(); }

private:
    std::string path_;
    crypto::RsaKeyPair exchange_;
    crypto::RsaKeyPair signature_;
    bool created_ = false;
    bool damaged_ = false;
    bool persisted_ = false;
};

} // namespace kestrawin::ops
