// SPDX-License-Identifier: Apache-2.0
// Containers and the system's own CryptoAPI calls, both ways: ours open
// through the calls a container's first writer made, and theirs open in ours.

#include "Files.h"
#include "Vectors.h"

#include "base/Words.h"
#include "crypto/PasswordKeys.h"
#include "format/Container.h"
#include "format/Reader.h"
#include "format/Writer.h"

#include <windows.h>

#include <wincrypt.h>

using namespace kestrawin;
using namespace kwtest;

namespace {

// The system's default provider of the container's type, as its first writer used it.
struct System {
    HCRYPTPROV provider = 0;
    System()
    {
        EXPECT_TRUE(
            CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    }
    ~System() { CryptReleaseContext(provider, 0); }

    // The password's hash and the RC2 key derived from it with flags 0.
    void PasswordKeys(const std::string& password, HCRYPTHASH* hash, HCRYPTKEY* key) const
    {
        const Secret bytes = crypto::PasswordBytesForEncryption(password);
        EXPECT_TRUE(CryptCreateHash(provider, CALG_SHA1, 0, 0, hash));
        EXPECT_TRUE(CryptHashData(*hash, bytes.bytes(), static_cast<DWORD>(bytes.size()), 0));
        EXPECT_TRUE(CryptDeriveKey(provider, CALG_RC2, *hash, 0, key));
    }

    // Verifies the signature with the stored public key, then decrypts in one
    // final call. Nothing when the signature does not verify.
    std::optional<crypto::Bytes> Open(const crypto::Bytes& container,
                                      const std::string& password) const
    {
        const auto header = format::ParseHeader(container);
        const std::size_t k = static_cast<std::size_t>(header->keyBlobLength);
        const std::size_t s = static_cast<std::size_t>(header->signatureLength);
        HCRYPTHASH hash = 0;
        HCRYPTKEY key = 0, publicKey = 0;
        PasswordKeys(password, &hash, &key);
        EXPECT_TRUE(CryptImportKey(provider, container.data() + 16, static_cast<DWORD>(k), 0,
                                   CRYPT_EXPORTABLE, &publicKey));
        std::optional<crypto::Bytes> plain;
        if (CryptVerifySignatureA(hash, container.data() + 16 + k, static_cast<DWORD>(s), publicKey,
                                  nullptr, 0)) {
            crypto::Bytes data(container.begin() + static_cast<std::ptrdiff_t>(16 + k + s),
                               container.end());
            DWORD n = static_cast<DWORD>(data.size());
            EXPECT_TRUE(CryptDecrypt(key, 0, TRUE, 0, data.data(), &n));
            data.resize(n);
            plain = data;
        }
        CryptDestroyKey(publicKey);
        CryptDestroyKey(key);
        CryptDestroyHash(hash);
        return plain;
    }

    // A container the way its first writer made one, with a fresh signature pair.
    crypto::Bytes Seal(const crypto::Bytes& plain, const std::string& password) const
    {
        HCRYPTKEY pair = 0, key = 0;
        HCRYPTHASH hash = 0;
        EXPECT_TRUE(CryptGenKey(provider, AT_SIGNATURE, CRYPT_EXPORTABLE, &pair));
        PasswordKeys(password, &hash, &key);
        DWORD k = 0, s = 0;
        CryptExportKey(pair, 0, PUBLICKEYBLOB, 0, nullptr, &k);
        crypto::Bytes blob(k);
        EXPECT_TRUE(CryptExportKey(pair, 0, PUBLICKEYBLOB, 0, blob.data(), &k));
        CryptSignHashA(hash, AT_SIGNATURE, nullptr, 0, nullptr, &s);
        crypto::Bytes signature(s);
        EXPECT_TRUE(CryptSignHashA(hash, AT_SIGNATURE, nullptr, 0, signature.data(), &s));
        DWORD n = static_cast<DWORD>(plain.size()), m = n;
        CryptEncrypt(key, 0, TRUE, 0, nullptr, &m, 0);
        crypto::Bytes data(plain);
        data.resize(m);
        EXPECT_TRUE(CryptEncrypt(key, 0, TRUE, 0, data.data(), &n, m));
        crypto::Bytes out = format::BuildHeader(k, s);
        for (const crypto::Bytes* part : {&blob, &signature, &data})
            out.insert(out.end(), part->begin(), part->end());
        CryptDestroyKey(key);
        CryptDestroyHash(hash);
        CryptDestroyKey(pair);
        return out;
    }
};

struct Row {
    std::size_t size;
    const char* password;
};
constexpr Row kRows[] = {
    {0, "Kestrawin"}, {1, "éèàç€ÿ"}, {7, "pässw0rd"}, {8, "x"}, {1000, "Secret"}};

} // namespace

TEST(SystemCalls, OurContainersOpenThroughThem)
{
    const System system;
    // Written with the fixed pair (the bytes every build writes) and with a fresh one.
    const auto fixed =
        crypto::RsaKeyPair::FromPem(ReadFile(fs::path(KESTRAWIN_INTEROP_DIR) / "signer.pem"));
    const auto fresh = crypto::RsaKeyPair::Generate(1024);
    ASSERT_TRUE(fixed && fresh);
    for (const Row& row : kRows)
        for (const crypto::RsaKeyPair* signer : {&*fixed, &*fresh}) {
            SCOPED_TRACE(row.size);
            const crypto::Bytes plain = RandomByteVector(row.size, static_cast<unsigned>(row.size));
            crypto::Bytes container;
            ASSERT_TRUE(format::EncryptBytes(*signer, row.password, plain, &container).ok());
            EXPECT_EQ(system.Open(container, row.password), plain);
            EXPECT_EQ(system.Open(container, "wrong!"), std::nullopt);
        }
}

TEST(SystemCalls, TheirContainersOpenInOurs)
{
    const System system;
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.size);
        const crypto::Bytes plain = RandomByteVector(row.size, static_cast<unsigned>(row.size));
        const crypto::Bytes container = system.Seal(plain, row.password);
        crypto::Bytes opened;
        const Result r = format::DecryptBytes(container, row.password, &opened);
        ASSERT_TRUE(r.ok()) << DescribeResult(r);
        EXPECT_EQ(opened, plain);
        EXPECT_EQ(format::DecryptBytes(container, "wrong!", &opened).outcome,
                  Outcome::WrongPassword);
    }
}
