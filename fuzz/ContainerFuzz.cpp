// The container reader on hostile bytes: header, K and S, the key blob, the
// signature, the key recipe and the ciphertext with its padding. Each input is
// a whole ".ksw" file, read from memory by the same code that reads files.
//
// Beyond the sanitizers, every input must end in one of the outcomes a file
// can give, and a successful decryption must be exact: encrypting the result
// again with the key found gives back the ciphertext byte for byte.

#include "format/Container.h"
#include "format/Reader.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using namespace kestrawin;
using namespace kestrawin::ops;

// The passwords of the containers in tests/data: the first is the one the
// damaged containers were derived from. Tried in turn while the signature
// says "wrong password", so that every corpus file can reach its ciphertext.
const char* const kPasswords[] = {"éèàç€ÿ", "q", "Secret", "pässw", "é", "abcde"};

[[noreturn]] void Broken(const char* what, const Result& r)
{
    std::fprintf(stderr, "broken invariant: %s (%s)\n", what, DescribeResult(r).c_str());
    std::abort();
}

bool HasMagic(crypto::ByteView bytes)
{
    return bytes.size() >= sizeof format::kContainerMagic
        && std::memcmp(bytes.data(), format::kContainerMagic, sizeof format::kContainerMagic) == 0;
}

void CheckExact(crypto::ByteView container, const std::string& password, const crypto::Bytes& plain)
{
    format::MemorySource source(container);
    format::DecryptionPlan plan;
    const Result r = format::PlanDecryption(source, password, &plan);
    if (!r.ok()) Broken("a decrypted container no longer plans", r);
    const std::size_t length = static_cast<std::size_t>(plan.layout.ciphertextLength);
    if (plain.size() >= length || plain.size() + crypto::Rc2Cbc::kBlock < length)
        Broken("the plaintext length does not fit the ciphertext", r);

    crypto::Rc2Cbc cipher;
    crypto::Bytes again(plain.size() + crypto::Rc2Cbc::kBlock);
    std::size_t n = 0, last = 0;
    if (!cipher.Init(plan.key, crypto::Rc2Cbc::Direction::Encrypt)
        || !cipher.Update(plain, again.data(), &n) || !cipher.Final(again.data() + n, &last)
        || n + last != length
        || !std::equal(again.begin(), again.begin() + static_cast<std::ptrdiff_t>(length),
                       container.begin() + static_cast<std::ptrdiff_t>(plan.layout.ciphertextOffset)))
        Broken("encrypting the plaintext again does not give the ciphertext", r);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const crypto::ByteView container(data, size);
    crypto::Bytes plain;
    for (const char* password : kPasswords) {
        const Result r = format::DecryptBytes(container, password, &plain);
        switch (r.outcome) {
        case Outcome::WrongPassword:
            continue;
        case Outcome::Success:
            CheckExact(container, password, plain);
            return 0;
        case Outcome::NotContainer:
            if (HasMagic(container)) Broken("a file with the magic called no container", r);
            return 0;
        case Outcome::DamagedContainer:
            return 0;
        default:
            Broken("an outcome that bytes alone cannot give", r);
        }
    }
    return 0;
}
