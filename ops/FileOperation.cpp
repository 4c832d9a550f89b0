// SPDX-License-Identifier: Apache-2.0
#include "FileOperation.h"

namespace kestrawin::ops {

FileOutcome ProcessFile(Direction direction, const KeyContainer& keys, const std::string& path,
                        const Secret& password, const OperationOptions& options, bool keepInput)
{
    FileOutcome done;
    done.path = path;
    io::InputFile input;
    const Result r = direction == Direction::Encrypt
                         ? EncryptSelectedFile(keys, path, password, options, &input)
                         : DecryptSelectedFile(path, password, options, &input);
    // The operation's frames held the password's digest and the keys made
    // from it; nothing of them stays on this thread's stack.
    WipeStack();
    done.outcome = r.outcome;
    done.detail = r.detail;
    // Only after success, and only once the output is safely on disk (the
    // engine returns success no earlier), the input goes: the very file that
    // was read, if it is still unchanged under its name.
    if (r.ok() && !keepInput) {
        const Result removed = RemoveInputFile(input, &done.otherNames, options.diskHook);
        done.inputRemoved = removed.ok();
        done.keptOutcome = removed.outcome;
        done.keptReason = removed.detail;
    }
    return done;
}

} // namespace kestrawin::ops
