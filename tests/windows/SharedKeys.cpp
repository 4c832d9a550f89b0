// SPDX-License-Identifier: Apache-2.0
// The key pairs the engine tests share on Windows: made once, in memory (the
// user's key container is the key store's own test's business).
#include "Fixtures.h"

namespace kwtest {

const kestrawin::ops::KeyContainer& SharedKeys()
{
    static const kestrawin::ops::KeyContainer keys = [] {
        auto exchange = kestrawin::crypto::RsaKeyPair::Generate(kestrawin::ops::kKeyPairBits);
        auto signature = kestrawin::crypto::RsaKeyPair::Generate(kestrawin::ops::kKeyPairBits);
        EXPECT_TRUE(exchange && signature);
        return kestrawin::ops::KeyContainer::WithPairs(std::move(*exchange), std::move(*signature));
    }();
    return keys;
}

} // namespace kwtest
