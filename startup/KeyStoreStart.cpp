// SPDX-License-Identifier: Apache-2.0
#include "KeyStoreStart.h"

namespace kestrawin::startup {

KeyStoreStart OpenKeyStore(const std::string& folder)
{
    KeyStoreStart start;
    auto keys = std::make_shared<ops::KeyContainer>();
    start.result = ops::KeyContainer::Acquire(folder, keys.get());
    if (!start.result.ok()) return start;
    start.result = keys->RegenerateKeyPairs();
    if (keys->hasSignatureKey()) start.keys = std::move(keys);
    return start;
}

} // namespace kestrawin::startup
