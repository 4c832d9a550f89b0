// SPDX-License-Identifier: Apache-2.0
#pragma once
// The chunk loop shared by encryption and decryption: read, cipher, write.

#include "Engine.h"
#include "crypto/ParallelCbc.h"
#include "crypto/Provider.h"
#include "io/SafeFile.h"

namespace kestrawin::ops {

// Runs `length` bytes of `in`, from its current position, through the cipher
// into `out`, then finishes the cipher. A cipher that fails to finish (a bad
// padding when decrypting) gives `finalFailure`. Cipher: crypto::Rc2Cbc or
// crypto::ParallelCbcDecryptor.
template <class Cipher>
[[nodiscard]] Result Pump(io::InputFile& in, std::uint64_t length, Cipher& cipher,
                          io::AtomicOutput& out, const OperationOptions& options,
                          Outcome finalFailure);

// Puts the finished output in place and, on success, hands the input over
// to *input (when given) for its removal. A notice of the output (access it
// could not be given) becomes the success's detail.
[[nodiscard]] Result Finish(io::AtomicOutput& out, io::InputFile& in, io::InputFile* input);

} // namespace kestrawin::ops
