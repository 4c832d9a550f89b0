// SPDX-License-Identifier: Apache-2.0
#include "PageModel.h"

#include "base/Utf8.h"
#include "base/Words.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace kestrawin::pages {
namespace {

bool Encrypting(ops::Direction direction)
{
    return direction == ops::Direction::Encrypt;
}

// Characters (code points) of UTF-8 text: every byte but a continuation byte.
std::size_t Characters(std::string_view utf8)
{
    return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// The code point of the well-formed UTF-8 sequence at `at`, with its length;
// length 0 when the bytes there are not one.
std::pair<char32_t, std::size_t> Decode(std::string_view s, std::size_t at)
{
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[at + i]); };
    const unsigned char lead = b(0);
    const std::size_t length = lead < 0x80                   ? 1
                               : lead >= 0xC2 && lead < 0xE0 ? 2
                               : lead >= 0xE0 && lead < 0xF0 ? 3
                               : lead >= 0xF0 && lead < 0xF5 ? 4
                                                             : 0;
    if (length == 0 || at + length > s.size()) return {0, 0};
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((b(i) & 0xC0) != 0x80) return {0, 0};
        c = (c << 6) | (b(i) & 0x3F);
    }
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kLeast[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {0, 0};
    return {c, length};
}

// Why a file failed, in the words used for one file alone: a wrong password
// and a file that is no container both read "Invalid password!", and a file
// the stop caught is "stopped", as the page says. With `named`, the other
// file a clash is with.
std::string BatchReason(const ops::FileOutcome& o, bool named)
{
    const Outcome outcome = o.result.outcome;
    if (outcome == Outcome::Cancelled) return words::FileStopped;
    if (outcome == Outcome::WrongPassword || outcome == Outcome::NotContainer)
        return words::InvalidPassword;
    std::string reason = Sentence(OutcomeReason(outcome));
    if (named && outcome == Outcome::OutputClash) reason += " (" + o.result.detail + ')';
    return reason;
}

// The headline, then a notice of the result itself (access it could not be
// given), then what became of the input when it was kept, or that other
// names still lead to its contents.
std::vector<Line> Completed(const char* headline, const ops::FileOutcome& done)
{
    std::vector<Line> lines{{headline}};
    if (!done.result.detail.empty()) lines.push_back({Sentence(done.result.detail)});
    if (!done.inputRemoved)
        lines.push_back({Sentence(OutcomeReason(done.removal.outcome))});
    else if (done.otherNames > 0)
        lines.push_back({Sentence(OtherNamesNotice(done.otherNames))});
    return lines;
}

} // namespace

std::string OutcomeText::Joined() const
{
    std::string text;
    for (const Line& line : lines) {
        if (&line != &lines.front()) text += '\n';
        text += line.text;
    }
    return text;
}

void PageModel::Choose(const startup::PageChoice& choice)
{
    busy_ = false;
    if (choice.fileIsEncrypted) {
        page_ = Page::OutcomePage;
        outcome_ = {{{words::FileIsEncrypted}}, {}, {}};
        return;
    }
    files_ = choice.selectedFiles;
    page_ = choice.page;
}

Check PageModel::CheckEncryptPasswords(std::string_view first, std::string_view second) const
{
    if (first.empty() && second.empty()) return {Check::Verdict::Refuse, words::NoPassword};
    if (first != second) return {Check::Verdict::Refuse, words::DifferentPasswords};
    if (Characters(first) < words::kMinimumPasswordLength)
        return {Check::Verdict::Ask, ShortPasswordQuestion()};
    return {};
}

Check PageModel::CheckDecryptPassword(std::string_view password) const
{
    if (password.empty()) return {Check::Verdict::Refuse, words::NoPassword};
    return {};
}

void PageModel::StartWork(ops::Direction direction)
{
    direction_ = direction;
    busy_ = true;
    page_ = Page::OutcomePage;
    const bool encrypting = Encrypting(direction);
    const std::string waiting =
        batch() ? words::Fill(encrypting ? words::WaitEncryptingMany : words::WaitDecryptingMany,
                              {std::to_string(files_.size())})
                : std::string(encrypting ? words::WaitEncrypting : words::WaitDecrypting);
    outcome_ = {{{waiting}}, {}, {}};
}

std::string PageModel::ProgressName() const
{
    return Encrypting(direction_) ? words::EncryptionProgress : words::DecryptionProgress;
}

std::string PageModel::StopQuestion() const
{
    if (Encrypting(direction_)) return batch() ? words::StopEncryptingMany : words::StopEncrypting;
    return batch() ? words::StopDecryptingMany : words::StopDecrypting;
}

void PageModel::WorkDone(const std::vector<ops::FileOutcome>& outcomes)
{
    busy_ = false;
    page_ = Page::OutcomePage;
    if (batch())
        outcome_ = BatchOutcomeText(direction_, outcomes);
    else if (!outcomes.empty())
        outcome_ = FileOutcomeText(direction_, outcomes.front());
}

bool PageModel::EscapeCloses() const
{
    return page_ == Page::MainPage || (page_ == Page::OutcomePage && !busy_);
}

OutcomeText FileOutcomeText(ops::Direction direction, const ops::FileOutcome& done)
{
    const bool encrypting = Encrypting(direction);
    OutcomeText text;
    const Outcome outcome = done.result.outcome;
    if (outcome == Outcome::Success) {
        text.lines =
            Completed(encrypting ? words::EncryptionCompleted : words::DecryptionCompleted, done);
    } else if (outcome == Outcome::Cancelled) {
        text.lines = {{encrypting ? words::EncryptionStopped : words::DecryptionStopped},
                      {words::NothingChanged}};
    } else if (!encrypting
               && (outcome == Outcome::WrongPassword || outcome == Outcome::NotContainer)) {
        text.lines = {{words::InvalidPassword}};
    } else {
        text.lines = {{encrypting ? words::EncryptionFailed : words::DecryptionFailed},
                      {Sentence(OutcomeReason(outcome))}};
    }
    return text;
}

OutcomeText BatchOutcomeText(ops::Direction direction,
                             const std::vector<ops::FileOutcome>& outcomes)
{
    const bool encrypting = Encrypting(direction);
    const ops::BatchSummary summary = ops::Summarize(outcomes);
    OutcomeText text;
    auto name = [&text](const std::string& path) {
        text.wholeName = OneLine(path);
#ifdef _WIN32
        const std::size_t slash = text.wholeName.find_last_of("\\/");
#else
        const std::size_t slash = text.wholeName.rfind('/');
#endif
        return Line{slash == std::string::npos ? text.wholeName : text.wholeName.substr(slash + 1),
                    true};
    };

    // Stopped: the stop leads, then what was done before it. Files the stop
    // caught are as they were, so only a real failure is named. Containers
    // left as they were in an encryption are what was asked: counted apart,
    // never as failures.
    const auto cancelled = [](const ops::FileOutcome& o) {
        return o.result.outcome == Outcome::Cancelled;
    };
    const auto failed = [](const ops::FileOutcome& o) {
        return !o.ok() && o.result.outcome != Outcome::Cancelled
               && o.result.outcome != Outcome::AlreadyEncrypted;
    };
    const std::size_t worked = summary.total - summary.skipped;
    const Line doneOf{
        words::Count(encrypting ? words::SomeFilesEncrypted : words::SomeFilesDecrypted,
                     summary.succeeded, worked)};
    std::vector<Line>& lines = text.lines;
    if (std::any_of(outcomes.begin(), outcomes.end(), cancelled)) {
        lines = {{encrypting ? words::EncryptionStopped : words::DecryptionStopped}, doneOf};
        const auto failure = std::find_if(outcomes.begin(), outcomes.end(), failed);
        if (failure != outcomes.end())
            lines.insert(lines.end(), {name(failure->path), {BatchReason(*failure, false)}});
    } else if (!summary.firstFailure) {
        lines = {{encrypting ? words::EncryptionCompleted : words::DecryptionCompleted},
                 {words::Count(encrypting ? words::FilesEncrypted : words::FilesDecrypted,
                               summary.succeeded)}};
    } else {
        lines = {
            doneOf, name(summary.firstFailure->path), {BatchReason(*summary.firstFailure, false)}};
    }
    if (summary.skipped > 0)
        lines.push_back({words::Count(words::LeftAsTheyWere, summary.skipped)});
    if (summary.inputsKept > 0)
        lines.push_back({words::Count(words::OriginalsKept, summary.inputsKept)});

    for (const ops::FileOutcome& o : outcomes) {
        if (o.repeated) continue;
        std::string reason;
        if (o.result.outcome == Outcome::AlreadyEncrypted)
            reason = words::LeftAsItWas;
        else if (!o.ok())
            reason = BatchReason(o, true);
        else if (o.inputKept())
            reason = Sentence(OutcomeReason(o.removal.outcome));
        else if (!o.result.detail.empty())
            reason = Sentence(o.result.detail);
        else
            continue;
        text.details.push_back({OneLine(o.path), reason});
    }
    return text;
}

std::string OneLine(std::string_view text)
{
    std::string line;
    line.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto [c, length] = Decode(text, at);
        if (length == 0) { // not UTF-8: the view's conversion marks it
            line += text[at++];
            continue;
        }
        at += length;
        if (c == U'\n' || c == U'\r' || c == 0x0B || c == 0x0C || c == 0x85 || c == 0x2028
            || c == 0x2029)
            AppendUtf8(line, 0x21B5); // a return arrow
        else if (c < 0x20 || (c >= 0x7F && c < 0xA0))
            AppendUtf8(line, 0xFFFD);
        else
            AppendUtf8(line, c);
    }
    return line;
}

std::string Sentence(std::string_view text)
{
    std::string line(text);
    if (!line.empty() && line[0] >= 'a' && line[0] <= 'z')
        line[0] = static_cast<char>(line[0] - 'a' + 'A');
    return line;
}

std::string EntriesNotWritten(const std::string& failedPath)
{
    namespace fs = std::filesystem;
    fs::path blocked = fs::path(failedPath).parent_path();
    std::error_code error;
    while (!fs::exists(blocked, error) && blocked.has_relative_path())
        blocked = blocked.parent_path();
    return words::Fill(words::EntriesNotWritten, {blocked.string()});
}

std::string EntryNotWritten(const Result& result)
{
    return words::Fill(words::EntryNotWritten, {result.detail});
}

std::string MainPageSpoken()
{
    return std::string(words::MainLine1) + ' ' + words::MainLine2;
}

std::string DecryptInstructions()
{
    return std::string(words::DecryptLine1) + ' ' + words::DecryptLine2;
}

std::string ShortPasswordQuestion()
{
    return words::Fill(words::ShortPassword, {std::to_string(words::kMinimumPasswordLength)});
}

} // namespace kestrawin::pages
