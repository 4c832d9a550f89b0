// SPDX-License-Identifier: Apache-2.0
#pragma once
// The one error model of every layer: an operation ends in an Outcome, told
// with its detail as a Result; a function that makes something returns an
// Expected, the thing or the Result that says why not. What a person reads
// for each outcome is in Words.h.

#include <optional>
#include <string>
#include <utility>

namespace kestrawin {

// Every engine operation ends in exactly one of these.
enum class Outcome {
    Success,
    WrongPassword,    // no candidate encoding of the password verifies the stored signature
    NotContainer,     // no container magic and no container structure either
    DamagedContainer, // a container whose structure or padding is broken
    InputMissing,     // the input does not exist (when it is opened)
    InputUnreadable,  // the input cannot be opened or read
    NotRegularFile,   // the input is a directory, FIFO, device, socket or symbolic link
    NoOutputName,     // the path is too short to give a plain file name
    NameTooLong,      // the output's name is longer than its folder allows
    OutputUnwritable, // the output cannot be created, written, flushed or renamed into place
    Cancelled,        // the caller asked to stop; nothing was changed
    CryptoFailure,    // the crypto provider failed (no key pair, a library call failed)
    // The output is safely on disk but the input was not deleted:
    InputChanged,     // the input, or what its name leads to, changed during the work
    InputMoved,       // the input was moved or deleted during the work
    InputKept,        // the deletion failed for another reason
    InputInUse,       // another program had the input open for writing, or opened it so
    InputIsOutput,    // the output's name was another name (hard link) of the input
    AlreadyEncrypted, // asked to encrypt a file that is already a container (.ksw)
    OutputClash,   // the output would replace another file of the same batch (named in the detail)
    OutOfMemory,   // memory ran out; nothing was changed
    InternalError, // a fault of this program (the detail says what); nothing was changed
};

// True for the outcomes that mean "done, but the input was kept".
[[nodiscard]] constexpr bool InputWasKept(Outcome o)
{
    return o == Outcome::InputChanged || o == Outcome::InputMoved || o == Outcome::InputKept
           || o == Outcome::InputInUse || o == Outcome::InputIsOutput;
}

// An outcome with the detail that explains it (a system error text, the name of
// the broken section...). Never silently dropped.
struct [[nodiscard]] Result {
    Outcome outcome = Outcome::Success;
    std::string detail;

    [[nodiscard]] bool ok() const { return outcome == Outcome::Success; }
    static Result success() { return {}; }
    static Result fail(Outcome o, std::string why = {}) { return {o, std::move(why)}; }
};

// A value, or the Result that says why there is none. Made from either; a
// successful Result given in place of a value counts as an internal error.
template <class T>
class [[nodiscard]] Expected {
public:
    Expected(T value) : value_(std::move(value)) {}
    Expected(Result failure) : failure_(std::move(failure))
    {
        if (failure_.ok())
            failure_ = Result::fail(Outcome::InternalError, "no value and no reason");
    }

    [[nodiscard]] bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    // Success when there is a value.
    [[nodiscard]] const Result& result() const { return failure_; }

    // Only when ok().
    [[nodiscard]] T& operator*() & { return *value_; }
    [[nodiscard]] const T& operator*() const& { return *value_; }
    [[nodiscard]] T&& operator*() && { return std::move(*value_); }
    [[nodiscard]] T* operator->() { return &*value_; }
    [[nodiscard]] const T* operator->() const { return &*value_; }

private:
    std::optional<T> value_;
    Result failure_;
};

} // namespace kestrawin
