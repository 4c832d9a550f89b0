// SPDX-License-Identifier: Apache-2.0
// kestrawin-cli: the engine for scripts.
//
//   kestrawin-cli encrypt [--keep] [--password-file FILE] PATH...
//   kestrawin-cli decrypt [--keep] [--password-file FILE] PATH...
//   kestrawin-cli -h | --help | --version
//
// Several paths run side by side with one password; each failure is printed.
// Exit status: see words::CliUsage; the man page and the README give the same list.

#include "Cli.h"
#include "Console.h"
#include "Password.h"

#include "kestrawin/Version.h"

#include "base/Words.h"
#include "crypto/PasswordKeys.h"
#include "ops/Batch.h"
#include "ops/Engine.h"
#include "startup/KeyStoreStart.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace kestrawin;
using namespace kestrawin::ops;

constexpr int kExitInputKept = 4;
constexpr int kExitUsage = 64;
constexpr int kExitSoftware = 70;
constexpr int kExitInterrupted = 130;

std::atomic<bool> g_cancel{false};

// A line on standard error, after the program's name.
void Say(const std::string& line)
{
    std::fprintf(stderr, "%s: %s\n", words::CliName, line.c_str());
}

int Usage(const std::string& problem)
{
    Say(problem);
    std::fprintf(stderr, "%s\n", words::CliTryHelp);
    return kExitUsage;
}

int ExitStatusOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Success: return 0;
    case Outcome::WrongPassword: return 1;
    case Outcome::NotContainer:
    case Outcome::DamagedContainer: return 2;
    case Outcome::InputMissing:
    case Outcome::InputUnreadable:
    case Outcome::NotRegularFile:
    case Outcome::NoOutputName:
    case Outcome::AlreadyEncrypted:
    case Outcome::NameTooLong:
    case Outcome::OutputClash:
    case Outcome::OutputUnwritable: return 3;
    case Outcome::Cancelled: return kExitInterrupted;
    case Outcome::CryptoFailure:
    case Outcome::OutOfMemory:
    case Outcome::InternalError: return kExitSoftware;
    case Outcome::InputChanged:
    case Outcome::InputMoved:
    case Outcome::InputKept:
    case Outcome::InputInUse:
    case Outcome::InputIsOutput: return kExitInputKept;
    }
    return kExitSoftware;
}

struct Arguments {
    bool encrypt = true;
    bool keep = false;
    bool havePasswordFile = false;
    std::string passwordFile;
    std::vector<std::string> paths;
};

// What the command line asks for: an operation to run, or the end of the
// program with a status (help or version printed, or a usage error told).
struct Parsed {
    enum class Next { Run, Exit };
    Next next = Next::Run;
    int exitStatus = 0;

    static Parsed Run() { return {}; }
    static Parsed Exit(int status) { return {Next::Exit, status}; }
};

Parsed Parse(int argc, char** argv, Arguments* args)
{
    if (argc < 2) return Parsed::Exit(Usage(words::CliMissingCommand));
    const std::string command = argv[1];
    if (command == "--help" || command == "-h") {
        std::fputs(words::CliUsage, stdout);
        return Parsed::Exit(0);
    }
    if (command == "--version") {
        std::printf("kestrawin-cli %s\n", KESTRAWIN_VERSION);
        return Parsed::Exit(0);
    }
    if (command != "encrypt" && command != "decrypt")
        return Parsed::Exit(Usage(words::Fill(words::CliUnknownCommand, {command})));
    args->encrypt = command == "encrypt";

    bool optionsEnded = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg == "--keep") {
            args->keep = true;
        } else if (!optionsEnded
                   && (arg == "--password-file" || arg.rfind("--password-file=", 0) == 0)) {
            if (arg == "--password-file") {
                if (i + 1 >= argc) return Parsed::Exit(Usage(words::CliPasswordFileNeedsFile));
                args->passwordFile = argv[++i];
            } else {
                args->passwordFile = arg.substr(std::strlen("--password-file="));
            }
            args->havePasswordFile = true;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            return Parsed::Exit(Usage(words::Fill(words::CliUnknownOption, {arg})));
        } else if (arg.empty()) {
            return Parsed::Exit(Usage(words::CliEmptyPath));
        } else {
            args->paths.push_back(arg);
        }
    }
    if (args->paths.empty()) return Parsed::Exit(Usage(words::CliMissingPath));
    return Parsed::Run();
}

// Returns 0 with the password, else the exit status to end with.
int GetPassword(const Arguments& args, Secret* password)
{
    if (args.havePasswordFile) {
        auto line = cli::ReadPasswordFile(args.passwordFile);
        if (!line) {
            Say(words::Fill(words::CliPasswordUnreadable,
                            {args.passwordFile, line.result().detail}));
            return kExitUsage;
        }
        *password = std::move(*line);
    } else {
        bool noTerminal = false;
        auto first = cli::PromptPassword(words::CliPasswordPrompt, &noTerminal);
        if (noTerminal) return Usage(words::CliNoTerminal);
        if (!first) return g_cancel ? kExitInterrupted : Usage(words::CliNoPassword);
        if (args.encrypt) {
            auto second = cli::PromptPassword(words::CliVerifyPrompt, &noTerminal);
            if (!second) return g_cancel ? kExitInterrupted : Usage(words::CliNoPassword);
            if (*first != *second) {
                Say(words::CliPasswordsDiffer);
                return kExitUsage;
            }
        }
        *password = std::move(*first);
    }
    if (password->empty()) return Usage(words::CliEmptyPassword);
    return 0;
}

} // namespace

int kestrawin::cli::RunCli(int argc, char** argv)
{
    ProtectProcessMemory();
    Arguments args;
    if (const Parsed parsed = Parse(argc, argv, &args); parsed.next == Parsed::Next::Exit)
        return parsed.exitStatus;
    cli::CatchInterrupts(&g_cancel);

    Secret password;
    if (int status = GetPassword(args, &password); status != 0) return status;
    if (args.encrypt && crypto::CharacterCount(password.view()) < words::kMinimumPasswordLength)
        Say(words::CliWarning
            + words::Fill(words::CliShortPassword,
                          {std::to_string(words::kMinimumPasswordLength)}));

    // Encryption, like the window, opens the key store with fresh pairs in it;
    // a store that cannot be saved still gives usable pairs for this run.
    // Decryption needs no key pairs (the container carries its public key), so
    // it leaves the store alone and skips the costly key generation.
    startup::KeyStoreStart keyStore;
    if (args.encrypt) {
        keyStore = startup::OpenKeyStore(KeyContainer::DefaultFolder());
        if (!keyStore.keys) {
            Say(DescribeResult(keyStore.result));
            return ExitStatusOf(keyStore.result.outcome);
        }
    }
    const KeyContainer& keys = KeyContainer::OrNone(keyStore.keys);

    ops::BatchOptions options;
    options.cancel = &g_cancel;
    options.keepInputs = args.keep;
    const bool showProgress = cli::ErrorsGoToATerminal();
    int lastPercent = -1;
    if (showProgress) {
        options.progress = [&](std::uint64_t done, std::uint64_t total) {
            const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
            if (percent == lastPercent) return;
            lastPercent = percent;
            std::fprintf(stderr, "\r%s: %3d%%",
                         args.encrypt ? words::CliEncrypting : words::CliDecrypting, percent);
        };
    }

    const auto direction = args.encrypt ? ops::Direction::Encrypt : ops::Direction::Decrypt;
    const std::vector<ops::FileOutcome> outcomes =
        ops::RunBatch(direction, keys, args.paths, password, options);
    password.Clear();
    if (showProgress && lastPercent >= 0) std::fputs("\r\033[K", stderr);

    int status = 0;
    bool interrupted = false;
    for (const ops::FileOutcome& o : outcomes) {
        const Outcome outcome = o.result.outcome;
        if (outcome == Outcome::AlreadyEncrypted) {
            Say(words::Fill(words::CliSkipped, {o.path, DescribeResult(o.result)}));
        } else if (outcome == Outcome::Cancelled) {
            interrupted = true; // the count below says it for all of them
            if (status == 0) status = kExitInterrupted;
        } else if (!o.ok()) {
            Say(words::Fill(args.encrypt ? words::CliCannotEncrypt : words::CliCannotDecrypt,
                            {o.path, DescribeResult(o.result)}));
            if (status == 0) status = ExitStatusOf(outcome);
        } else if (o.inputKept()) {
            Say(words::Fill(words::CliFileNotice, {o.path, DescribeResult(o.removal)}));
            if (status == 0) status = ExitStatusOf(o.removal.outcome);
        } else {
            // Done, but with something to know: access the result could not
            // be given, other names that still lead to the plain text.
            if (!o.result.detail.empty())
                Say(words::CliWarning
                    + words::Fill(words::CliFileNotice, {o.path, o.result.detail}));
            if (o.otherNames > 0)
                Say(words::CliWarning
                    + words::Fill(words::CliFileNotice, {o.path, OtherNamesNotice(o.otherNames)}));
        }
    }
    if (interrupted) {
        const ops::BatchSummary summary = ops::Summarize(outcomes);
        const std::size_t files = summary.total - summary.skipped;
        Say(words::Fill(
            words::CliInterrupted,
            {words::Count(args.encrypt ? words::SomeFilesEncrypted : words::SomeFilesDecrypted,
                          summary.succeeded, files)}));
    }
    return status;
}
