// SPDX-License-Identifier: Apache-2.0
#pragma once
// The container writer apart from files: everything that goes before the
// ciphertext, and the key that encrypts the rest. EncryptSelectedFile streams a
// file after it; EncryptBytes makes a whole container in memory. For a given
// signature pair, password and plaintext both give the same bytes on every
// platform: nothing random goes into a container besides the pair.

#include "Container.h"
#include "base/Outcome.h"

#include <string_view>

namespace kestrawin::format {

struct EncryptionPlan {
    Bytes head; // the header, the signer's public key blob, the password's signature
    crypto::Rc2Key key;
};

// Hashes the password (UTF-8, hashed as Windows-1252 when it can be) and
// signs the hash with the signer's pair.
[[nodiscard]] Result PlanEncryption(const crypto::RsaKeyPair& signer, std::string_view password,
                                    EncryptionPlan* plan);

// A whole container in memory: the bytes EncryptSelectedFile writes for the
// same signer, password and file.
[[nodiscard]] Result EncryptBytes(const crypto::RsaKeyPair& signer, std::string_view password,
                                  ByteView plain, Bytes* container);

} // namespace kestrawin::format
