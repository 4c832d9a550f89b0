// SPDX-License-Identifier: Apache-2.0
// The key store on Windows: the user's key container of the system's provider.

#include "Files.h"

#include "crypto/SystemKeyContainer.h"
#include "format/Reader.h"
#include "format/Writer.h"
#include "ops/KeyStore.h"

#include <process.h>

#include <optional>

using namespace kestrawin;
using namespace kestrawin::ops;

namespace {

crypto::Bytes Seal(const KeyContainer& keys, const std::string& password)
{
    crypto::Bytes container;
    const crypto::Bytes plain{1, 2, 3};
    EXPECT_TRUE(format::EncryptBytes(keys.signatureKey(), password, plain, &container).ok());
    return container;
}

} // namespace

TEST(KeyStore, TheUsersKeyContainerIsCreatedOnceAndRegeneratedAtEveryStart)
{
    const std::string name = "Kestrawin Container test " + std::to_string(_getpid());
    (void)crypto::SystemKeyContainer::Delete(name);

    crypto::Bytes sealed;
    std::optional<crypto::RsaPublicNumbers> firstKey;
    {
        KeyContainer first;
        ASSERT_TRUE(KeyContainer::Acquire(name, &first).ok());
        EXPECT_TRUE(first.created());
        EXPECT_FALSE(first.inMemoryOnly());
        EXPECT_FALSE(first.hasSignatureKey());
        ASSERT_TRUE(first.RegenerateKeyPairs().ok());
        EXPECT_TRUE(first.persisted());
        EXPECT_EQ(first.signatureKey().bits(), kKeyPairBits);
        sealed = Seal(first, "before");
        firstKey = *first.signatureKey().PublicNumbers();
    } // (Wine writes a container's pairs out when the process lets go of it)

    // The next start finds the container and its pairs, then replaces them;
    // what was sealed before still opens.
    KeyContainer second;
    ASSERT_TRUE(KeyContainer::Acquire(name, &second).ok());
    EXPECT_FALSE(second.created());
    EXPECT_FALSE(second.wasDamaged());
    EXPECT_TRUE(second.persisted());
    ASSERT_TRUE(firstKey);
    EXPECT_EQ(second.signatureKey().PublicNumbers()->modulusLE, firstKey->modulusLE);
    EXPECT_FALSE(second.exchangeKey().SamePublicKey(second.signatureKey()));
    ASSERT_TRUE(second.RegenerateKeyPairs().ok());
    EXPECT_NE(second.signatureKey().PublicNumbers()->modulusLE, firstKey->modulusLE);
    crypto::Bytes plain;
    EXPECT_TRUE(format::DecryptBytes(sealed, "before", &plain).ok());
    EXPECT_TRUE(format::DecryptBytes(Seal(second, "after"), "after", &plain).ok());
    second = KeyContainer();

    EXPECT_TRUE(crypto::SystemKeyContainer::Delete(name));
    KeyContainer third;
    ASSERT_TRUE(KeyContainer::Acquire(name, &third).ok());
    EXPECT_TRUE(third.created());
    EXPECT_TRUE(crypto::SystemKeyContainer::Delete(name));
}

TEST(KeyStore, WithoutAContainerThePairsLiveInMemory)
{
    KeyContainer keys;
    ASSERT_TRUE(KeyContainer::Acquire("", &keys).ok());
    EXPECT_TRUE(keys.inMemoryOnly());
    EXPECT_EQ(keys.RegenerateKeyPairs().outcome, Outcome::OutputUnwritable);
    EXPECT_FALSE(keys.persisted());
    crypto::Bytes plain;
    EXPECT_TRUE(format::DecryptBytes(Seal(keys, "memory"), "memory", &plain).ok());
}
