#include "Outcome.h"

namespace kestrawin {

std::string_view OutcomeReason(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Success: return "done";
    case Outcome::WrongPassword: return "the password is wrong";
    case Outcome::NotContainer: return "this is not an encrypted file";
    case Outcome::DamagedContainer: return "the encrypted file is damaged";
    case Outcome::InputMissing: return "the file no longer exists";
    case Outcome::InputUnreadable: return "the file cannot be read";
    case Outcome::NotRegularFile: return "this is not a regular file";
    case Outcome::NoOutputName: return "the file name is too short";
    case Outcome::NameTooLong: return "the file name is too long";
    case Outcome::OutputUnwritable: return "the result cannot be written";
    case Outcome::Cancelled: return "cancelled";
    case Outcome::CryptoFailure: return "the encryption library failed";
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

} // namespace kestrawin
