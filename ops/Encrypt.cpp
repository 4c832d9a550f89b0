#include "Engine.h"
#include "Stream.h"

#include "crypto/PasswordKeys.h"
#include "format/Container.h"

namespace kestrawin::ops {

using namespace crypto;

std::string ContainerNameOf(const std::string& path)
{
    return path + ".ksw";
}

Result EncryptSelectedFile(const KeyContainer& keys, const std::string& path,
                           const std::string& password, const OperationOptions& options)
{
    std::string error;
    if (!ProviderAvailable(&error)) return Result::fail(Outcome::CryptoFailure, error);
    if (!keys.hasSignatureKey())
        return Result::fail(Outcome::CryptoFailure, "no signature key pair");

    io::InputFile in;
    if (Result r = in.Open(path); !r.ok()) return r;

    const std::string bytes = PasswordBytesForEncryption(password);
    const auto hash = Sha1({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    if (!hash) return Result::fail(Outcome::CryptoFailure, "cannot hash the password");
    const Bytes blob = keys.signatureKey().PublicKeyBlob(kAlgSignature);
    const Bytes signature = keys.signatureKey().SignSha1(*hash);
    if (blob.empty() || signature.empty())
        return Result::fail(Outcome::CryptoFailure, "cannot sign the password");
    Rc2Cbc cipher;
    if (!cipher.Init(DeriveRc2Key(*hash, Rc2Recipe::Strong), Rc2Cbc::Direction::Encrypt))
        return Result::fail(Outcome::CryptoFailure, "cannot set up RC2");

    io::AtomicOutput out(ContainerNameOf(path), options.diskHook);
    if (Result r = out.Open(in.permissions()); !r.ok()) return r;
    const Bytes header = format::BuildHeader(static_cast<std::uint32_t>(blob.size()),
                                     static_cast<std::uint32_t>(signature.size()));
    for (const Bytes* part : {&header, &blob, &signature})
        if (Result r = out.Write(part->data(), part->size()); !r.ok()) return r;

    if (Result r = Pump(in, in.size(), cipher, out, options, Outcome::CryptoFailure);
        !r.ok())
        return r;
    return out.Commit();
}

} // namespace kestrawin::ops
