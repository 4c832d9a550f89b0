// SPDX-License-Identifier: Apache-2.0
#pragma once
// One file, start to end: the engine's operation and, once its output is
// safely on disk, the deletion of the input. The window's workers, the batch
// runner and kestrawin-cli all go through here, so every safety rule of the
// engine applies to every file whichever way it was started.

#include "Engine.h"

#include <cstdint>
#include <exception>
#include <string>

namespace kestrawin::ops {

enum class Direction { Encrypt, Decrypt };

// What became of one file.
struct FileOutcome {
    std::string path;
    // The operation's: on success the output is safely on disk. A detail on
    // success is a notice about the output (access it could not be given).
    Result result;
    // After success, the deletion of the input: Success when it was deleted
    // (or kept as asked), else why it stayed (InputChanged, InputMoved,
    // InputKept...).
    Result removal;
    bool inputRemoved = false;    // on success: the input was deleted
    std::uint64_t otherNames = 0; // other hard links to the deleted input
    // In a batch: the same file as an earlier path, whose outcome this is.
    bool repeated = false;

    [[nodiscard]] bool ok() const { return result.ok(); }
    // Done, but the input stayed against the wish to delete it.
    [[nodiscard]] bool inputKept() const { return ok() && InputWasKept(removal.outcome); }
};

// Encrypts or decrypts `path`; on success deletes it unless `keepInput`.
// `keys` is only used when encrypting. Throws nothing: what escapes the
// operation ends as UnexpectedFailure says (nothing was changed then).
[[nodiscard]] FileOutcome ProcessFile(Direction direction, const KeyContainer& keys,
                                      const std::string& path, const Secret& password,
                                      const OperationOptions& options = {}, bool keepInput = false);

// An exception that escaped an operation, as an outcome: OutOfMemory, or an
// InternalError with the exception's text.
[[nodiscard]] Result UnexpectedFailure(const std::exception_ptr& error);

} // namespace kestrawin::ops
