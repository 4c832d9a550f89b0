// SPDX-License-Identifier: Apache-2.0
#include "Engine.h"
#include "Stream.h"

#include "crypto/PasswordKeys.h"
#include "format/Container.h"

#include <optional>
#include <utility>

namespace kestrawin::ops {

using namespace crypto;

std::string ContainerNameOf(const std::string& path)
{
    return path + ".ksw";
}

Result EncryptSelectedFile(const KeyContainer& keys, const std::string& path,
                           const Secret& password, const OperationOptions& options,
                           io::InputFile* input)
{
    std::string error;
    if (!ProviderAvailable(&error)) return Result::fail(Outcome::CryptoFailure, error);
    if (!keys.hasSignatureKey())
        return Result::fail(Outcome::CryptoFailure, "no signature key pair");

    io::InputFile in;
    if (Result r = in.Open(path); !r.ok()) return r;

    // The digest is made in place: assigning it would leave the returned
    // value behind on the stack, unwiped.
    const Secret bytes = PasswordBytesForEncryption(password.view());
    std::optional<Sha1Digest> hash = Sha1({bytes.bytes(), bytes.size()});
    const WipeOnExit wipeHash(hash);
    if (!hash) return Result::fail(Outcome::CryptoFailure, "cannot hash the password");
    std::string why;
    const auto publicKey = keys.signatureKey().PublicNumbers(&why);
    if (!publicKey) return Result::fail(Outcome::CryptoFailure, why);
    const Bytes blob = format::BuildPublicKeyBlob(kAlgSignature, *publicKey);
    const Bytes signature = keys.signatureKey().SignSha1(*hash, &why);
    if (signature.empty()) return Result::fail(Outcome::CryptoFailure, why);
    Rc2Cbc cipher;
    Rc2Key key = DeriveRc2Key(*hash, Rc2Recipe::Strong);
    const WipeOnExit wipeKey(key);
    if (!cipher.Init(key, Rc2Cbc::Direction::Encrypt))
        return Result::fail(Outcome::CryptoFailure, "cannot set up RC2");

    // Beside the input, in the folder it was opened in.
    io::AtomicOutput out(in.folderFd(), ContainerNameOf(in.name()), options.diskHook);
    out.KeepOwner(in.owner(), in.group());
    if (Result r = out.Open(in.permissions()); !r.ok()) return r;
    const Bytes header = format::BuildHeader(static_cast<std::uint32_t>(blob.size()),
                                             static_cast<std::uint32_t>(signature.size()));
    for (const Bytes* part : {&header, &blob, &signature})
        if (Result r = out.Write(part->data(), part->size()); !r.ok()) return r;

    if (Result r = Pump(in, in.size(), cipher, out, options, Outcome::CryptoFailure); !r.ok())
        return r;
    if (Result r = out.Commit(); !r.ok()) return r;
    if (input) *input = std::move(in);
    return Result::success();
}

} // namespace kestrawin::ops
