// SPDX-License-Identifier: Apache-2.0
#include "FileOperation.h"

#include "base/Words.h"

#include <new>

namespace kestrawin::ops {

Result UnexpectedFailure(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return Result::fail(Outcome::OutOfMemory);
    } catch (const std::exception& e) {
        return Result::fail(Outcome::InternalError, e.what());
    } catch (...) {
        return Result::fail(Outcome::InternalError);
    }
}

FileOutcome ProcessFile(Direction direction, const KeyContainer& keys, const std::string& path,
                        const Secret& password, const OperationOptions& options, bool keepInput)
{
    FileOutcome done;
    done.path = path;
    io::InputFile input;
    Result r;
    try {
        r = direction == Direction::Encrypt
                ? EncryptSelectedFile(keys, path, password, options, &input)
                : DecryptSelectedFile(path, password, options, &input);
    } catch (...) {
        // The output was discarded on the way out; the input is as it was.
        r = UnexpectedFailure(std::current_exception());
    }
    // The operation's frames held the password's digest and the keys made
    // from it; nothing of them stays on this thread's stack.
    WipeStack();
    done.result = r;
    // Only after success, and only once the output is safely on disk (the
    // engine returns success no earlier), the input goes: the very file that
    // was read, if it is still unchanged under its name.
    if (r.ok() && !keepInput) {
        Result removed;
        try {
            removed = RemoveInputFile(input, &done.otherNames, options.diskHook);
        } catch (...) {
            removed = Result::fail(Outcome::InputKept,
                                   DescribeResult(UnexpectedFailure(std::current_exception())));
        }
        done.inputRemoved = removed.ok();
        done.removal = std::move(removed);
    }
    return done;
}

} // namespace kestrawin::ops
