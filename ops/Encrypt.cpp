// SPDX-License-Identifier: Apache-2.0
#include "Engine.h"
#include "Stream.h"

#include "base/Words.h"
#include "format/Writer.h"

#include <utility>

namespace kestrawin::ops {

using namespace crypto;

std::string ContainerNameOf(const std::string& path)
{
    return path + std::string(words::kContainerExtension);
}

Result EncryptSelectedFile(const KeyContainer& keys, const std::string& path,
                           const Secret& password, const OperationOptions& options,
                           io::InputFile* input)
{
    if (Result r = ProviderAvailable(); !r.ok()) return r;
    if (!keys.hasSignatureKey())
        return Result::fail(Outcome::CryptoFailure, "no signature key pair");

    io::InputFile in;
    if (Result r = in.Open(path); !r.ok()) return r;

    format::EncryptionPlan plan;
    const WipeOnExit wipeKey(plan.key);
    if (Result r = format::PlanEncryption(keys.signatureKey(), password.view(), &plan); !r.ok())
        return r;
    Rc2Cbc cipher;
    if (!cipher.Init(plan.key, Rc2Cbc::Direction::Encrypt))
        return Result::fail(Outcome::CryptoFailure, "cannot set up RC2");

    // Beside the input, in the folder it was opened in.
    io::AtomicOutput out(in.folder(), ContainerNameOf(in.name()), options.diskHook);
    out.TakeTraitsOf(in);
    if (Result r = out.Open(); !r.ok()) return r;
    if (Result r = out.Write(plan.head.data(), plan.head.size()); !r.ok()) return r;

    if (Result r = Pump(in, in.size(), cipher, out, options, Outcome::CryptoFailure); !r.ok())
        return r;
    return Finish(out, in, input);
}

} // namespace kestrawin::ops
