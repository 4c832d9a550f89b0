// SPDX-License-Identifier: Apache-2.0
#include "Words.h"

namespace kestrawin {

std::string_view OutcomeReason(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Success: return "done";
    case Outcome::WrongPassword: return "the password is wrong";
    case Outcome::NotContainer: return "this is not an encrypted file";
    case Outcome::DamagedContainer: return "the encrypted file is damaged";
    case Outcome::InputMissing: return "the file does not exist";
    case Outcome::InputUnreadable: return "the file cannot be read";
    case Outcome::NotRegularFile: return "this is not a regular file";
    case Outcome::NoOutputName: return "the file name is too short";
    case Outcome::NameTooLong: return "the file name is too long";
    case Outcome::OutputUnwritable: return "the result cannot be written";
    case Outcome::Cancelled: return "cancelled";
    case Outcome::CryptoFailure: return "the encryption library failed";
    case Outcome::InputChanged: return "the original file changed during the work and was kept";
    case Outcome::InputMoved: return "the original file was moved or deleted during the work";
    case Outcome::InputKept: return "the original file could not be deleted and was kept";
    case Outcome::InputInUse:
        return "the original file was open for writing in another program and was kept";
    case Outcome::InputIsOutput:
        return "the result took the place of another name (hard link) of the original file, "
               "which was kept";
    case Outcome::AlreadyEncrypted: return "this file is encrypted";
    case Outcome::OutputClash: return "its result would replace another chosen file";
    case Outcome::OutOfMemory: return "there is not enough memory";
    case Outcome::InternalError: return "an internal error occurred";
    }
    return "unknown error";
}

std::string DescribeResult(const Result& result)
{
    std::string text(OutcomeReason(result.outcome));
    if (!result.detail.empty()) {
        text += " (";
        text += result.detail;
        text += ')';
    }
    return text;
}

std::string OtherNamesNotice(std::uint64_t otherNames)
{
    const std::string count = std::to_string(otherNames);
    return "the original contents are still readable under " + count
           + (otherNames == 1 ? " other name (hard link)" : " other names (hard links)");
}

namespace words {

std::string Fill(std::string_view text, std::initializer_list<std::string_view> values)
{
    std::string filled;
    filled.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        const auto place = static_cast<std::size_t>(next - '1');
        if (text[i] == '%' && next >= '1' && next <= '9' && place < values.size()) {
            filled += values.begin()[place];
            ++i;
        } else {
            filled += text[i];
        }
    }
    return filled;
}

std::string Count(const Counted& text, std::size_t n)
{
    return Fill(n == 1 ? text.one : text.many, {std::to_string(n)});
}

std::string Count(const Counted& text, std::size_t n, std::size_t of)
{
    return Fill(of == 1 ? text.one : text.many, {std::to_string(n), std::to_string(of)});
}

} // namespace words
} // namespace kestrawin
