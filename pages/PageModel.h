// SPDX-License-Identifier: Apache-2.0
#pragma once
// The window's pages without a toolkit: which page shows, what it says, when
// the work may start, and how its outcome is told. A view (the Qt window in
// ui/, a native window later) draws what the model says and tells it what
// the person did; it decides no wording and no rule of its own. Its only
// judgement is layout: where each text goes, and how a name is shortened
// to the width it has.
//
// The pages, as startup::Page numbers them:
//   MainPage     the fixed texts (words::MainLine1, MainLine2, the vendor's
//                link) with Uninstall and Update.
//   EncryptPage  two password fields (words::EnterPasswordBox,
//                VerifyPasswordBox) with Encrypt and Update.
//   DecryptPage  one password field (words::DecryptionBox, DecryptLine1,
//                DecryptLine2) with Decrypt and Update.
//   OutcomePage  the outcome (outcome()), a progress bar while busy(), a
//                Details button when outcome().details is not empty, Update
//                and Close (both disabled while busy()).
// The fixed texts are the words table's (base/Words.h); what changes with
// the work is the model's.
//
// How a view uses it:
//   1. PageModel model; then, once the window shows, model.Choose(
//      startup::ChoosePage(...)) and draw model.page() (on the outcome page,
//      model.outcome()).
//   2. Encrypt pressed: model.CheckEncryptPasswords(first, second). Refuse:
//      tell check.message (OK alone); Ask: ask check.message (Yes goes on);
//      then, going on, model.StartWork(ops::Direction::Encrypt), draw the
//      outcome page busy with model.outcome(), and run the work on
//      model.files() with the password. Decrypt likewise with
//      CheckDecryptPassword.
//   3. Closing while busy(): ask model.StopQuestion(); Yes stops the work.
//   4. The work ended: model.WorkDone(outcomes) with every file's outcome,
//      then draw model.outcome().
//   5. Escape: close when model.EscapeCloses(). Leaving the window: when
//      model.ClosingOpensProductPage(), pause and open the product page.

#include "base/Outcome.h"
#include "ops/Batch.h"
#include "startup/CommandLine.h"

#include <string>
#include <string_view>
#include <vector>

namespace kestrawin::pages {

using startup::Page;

// One line of the outcome page. A name line holds a file's name on one line
// (see OneLine); the view shortens it in its middle when it does not fit.
struct Line {
    std::string text;
    bool name = false;
};

// One file in Details: its whole path on one line, and what became of it.
// The view may shorten the path to fit a box, with the whole of it aside.
struct Detail {
    std::string path;
    std::string reason;
};

// What the outcome page says.
struct OutcomeText {
    std::vector<Line> lines;
    // The whole path of the file a name line names, on one line: for a
    // tooltip and for assistive tools. Empty: no name shown.
    std::string wholeName;
    // Every file that failed, was left as it was, or whose original stayed,
    // once each, in the order given. Empty: no Details.
    std::vector<Detail> details;

    // The lines joined by line breaks, names whole.
    [[nodiscard]] std::string Joined() const;
};

// What a password rule says of the fields.
struct Check {
    enum class Verdict {
        Go,     // start the work
        Refuse, // tell the message and stay
        Ask,    // ask the message; Yes starts the work, No stays
    };
    Verdict verdict = Verdict::Go;
    std::string message;
};

class PageModel {
public:
    // The Main page, until Choose.
    PageModel() = default;

    // The page a start shows, and the files it is for.
    void Choose(const startup::PageChoice& choice);
    [[nodiscard]] Page page() const { return page_; }
    // Every file of the start, in order: one, or a batch.
    [[nodiscard]] const std::vector<std::string>& files() const { return files_; }
    [[nodiscard]] bool batch() const { return files_.size() > 1; }

    // The Encrypt page's rules, on the two fields' UTF-8 text: both empty,
    // different (letter case counts), fewer than words::kMinimumPasswordLength
    // characters (asked).
    [[nodiscard]] Check CheckEncryptPasswords(std::string_view first,
                                              std::string_view second) const;
    // The Decrypt page's rule: not empty.
    [[nodiscard]] Check CheckDecryptPassword(std::string_view password) const;

    // The work starts: the outcome page, busy, with the waiting text.
    void StartWork(ops::Direction direction);
    [[nodiscard]] bool busy() const { return busy_; }
    [[nodiscard]] ops::Direction direction() const { return direction_; }
    // What assistive tools call the progress bar of this work.
    [[nodiscard]] std::string ProgressName() const;
    // Closing while the work runs: the question, for one file or several.
    [[nodiscard]] std::string StopQuestion() const;
    // The work ended with these outcomes, one per file in the order of
    // files(): the outcome page says what became of them.
    void WorkDone(const std::vector<ops::FileOutcome>& outcomes);

    [[nodiscard]] const OutcomeText& outcome() const { return outcome_; }

    // Escape closes the window where nothing typed would be lost: on the
    // Main page and once an outcome shows.
    [[nodiscard]] bool EscapeCloses() const;
    // Leaving the window from the Main page opens the product page after a
    // pause.
    [[nodiscard]] bool ClosingOpensProductPage() const { return page_ == Page::MainPage; }

private:
    Page page_ = Page::MainPage;
    std::vector<std::string> files_;
    ops::Direction direction_ = ops::Direction::Encrypt;
    bool busy_ = false;
    OutcomeText outcome_;
};

// The outcome of one file alone, as the outcome page tells it.
[[nodiscard]] OutcomeText FileOutcomeText(ops::Direction direction, const ops::FileOutcome& done);
// The summary of several files, and their Details.
[[nodiscard]] OutcomeText BatchOutcomeText(ops::Direction direction,
                                           const std::vector<ops::FileOutcome>& outcomes);

// A file's name or path on one line: line breaks become a return arrow
// (U+21B5), other control characters the replacement character (U+FFFD).
// Bytes that are not UTF-8 are left for the view's conversion.
[[nodiscard]] std::string OneLine(std::string_view text);

// An engine text as a line of the page: its first letter in upper case.
[[nodiscard]] std::string Sentence(std::string_view text);

// What a start says once the page shows when it could not write the
// context-menu entries: the deepest folder that exists on the way to the
// first file that failed is where writing failed.
[[nodiscard]] std::string EntriesNotWritten(const std::string& failedPath);
// What the Uninstall button says when an entry stays (its result names it).
[[nodiscard]] std::string EntryNotWritten(const Result& result);
// What assistive tools read for the Main page's message and for the Decrypt
// page's field: the page's lines as one sentence each.
[[nodiscard]] std::string MainPageSpoken();
[[nodiscard]] std::string DecryptInstructions();
// The short-password question, with the minimum length filled in.
[[nodiscard]] std::string ShortPasswordQuestion();

} // namespace kestrawin::pages
