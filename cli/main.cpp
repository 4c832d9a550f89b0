// SPDX-License-Identifier: Apache-2.0
// kestrawin-cli: the engine for scripts.
//
//   kestrawin-cli encrypt [--keep] [--password-file FILE] PATH...
//   kestrawin-cli decrypt [--keep] [--password-file FILE] PATH...
//   kestrawin-cli --help | --version
//
// Several paths run side by side with one password; each failure is printed.
// Exit status: see kUsage; the man page and the README give the same list.

#include "Cli.h"
#include "Console.h"
#include "Password.h"

#include "kestrawin/Version.h"

#include "crypto/PasswordKeys.h"
#include "ops/Batch.h"
#include "ops/Engine.h"
#include "session/KeyStoreStart.h"

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

const char kUsage[] =
    "Usage: kestrawin-cli encrypt [--keep] [--password-file FILE] PATH...\n"
    "       kestrawin-cli decrypt [--keep] [--password-file FILE] PATH...\n"
    "       kestrawin-cli --help | --version\n"
    "\n"
    "encrypt writes PATH.ksw; decrypt writes PATH less the last four characters\n"
    "of its file name. Each input is deleted once its own output is safely on\n"
    "disk, unless --keep is given, and only if it is still the very file that was\n"
    "read: an input changed, replaced, moved or deleted meanwhile is left alone.\n"
    "An existing file of the output's name is replaced, unless it is one of the\n"
    "PATHs (or another PATH's output): that PATH then fails and the other stays.\n"
    "Several PATHs share one password and run side by side, one per processor;\n"
    "each is done on its own: a failure is printed with its path and reason and\n"
    "does not stop the others. PATHs that lead to the same file count once.\n"
    "In an encryption, files ending in .ksw are skipped: said so, but no failure.\n"
    "\n"
    "  --password-file FILE  the password is FILE's first line ('-': standard input);\n"
    "                        without it the password is asked on the terminal\n"
    "  --keep                keep the input file\n"
    "\n"
    "With several PATHs the status is that of the first PATH, in argument order,\n"
    "that failed. Interrupted, the files done before stay done and a line says\n"
    "how many they are.\n"
    "\n"
    "Exit status:\n"
    "    0  success\n"
    "    1  wrong password\n"
    "    2  damaged, or not an encrypted file\n"
    "    3  the input is unreadable or not a regular file, or the output unwritable\n"
    "    4  done, but the input was kept\n"
    "   64  usage error\n"
    "   70  internal error (the crypto library failed) or out of memory\n"
    "  130  interrupted; files not done yet are as they were\n";

int Usage(const char* problem)
{
    std::fprintf(stderr, "kestrawin-cli: %s\n", problem);
    std::fputs("Try 'kestrawin-cli --help'.\n", stderr);
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
    if (argc < 2) return Parsed::Exit(Usage("missing command"));
    const std::string command = argv[1];
    if (command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        return Parsed::Exit(0);
    }
    if (command == "--version") {
        std::printf("kestrawin-cli %s\n", KESTRAWIN_VERSION);
        return Parsed::Exit(0);
    }
    if (command != "encrypt" && command != "decrypt")
        return Parsed::Exit(Usage(("unknown command '" + command + "'").c_str()));
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
                if (i + 1 >= argc) return Parsed::Exit(Usage("--password-file needs a file"));
                args->passwordFile = argv[++i];
            } else {
                args->passwordFile = arg.substr(std::strlen("--password-file="));
            }
            args->havePasswordFile = true;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            return Parsed::Exit(Usage(("unknown option '" + arg + "'").c_str()));
        } else if (arg.empty()) {
            return Parsed::Exit(Usage("an empty PATH"));
        } else {
            args->paths.push_back(arg);
        }
    }
    if (args->paths.empty()) return Parsed::Exit(Usage("missing PATH"));
    return Parsed::Run();
}

// Returns 0 with the password, else the exit status to end with.
int GetPassword(const Arguments& args, Secret* password)
{
    if (args.havePasswordFile) {
        std::string error;
        auto line = cli::ReadPasswordFile(args.passwordFile, &error);
        if (!line) {
            std::fprintf(stderr, "kestrawin-cli: cannot read the password from '%s': %s\n",
                         args.passwordFile.c_str(), error.c_str());
            return kExitUsage;
        }
        *password = std::move(*line);
    } else {
        bool noTerminal = false;
        auto first = cli::PromptPassword("Password: ", &noTerminal);
        if (noTerminal) return Usage("no terminal to ask the password on; use --password-file");
        if (!first) return g_cancel ? kExitInterrupted : Usage("no password given");
        if (args.encrypt) {
            auto second = cli::PromptPassword("Verify the password: ", &noTerminal);
            if (!second) return g_cancel ? kExitInterrupted : Usage("no password given");
            if (*first != *second) {
                std::fputs("kestrawin-cli: the two passwords differ\n", stderr);
                return kExitUsage;
            }
        }
        *password = std::move(*first);
    }
    if (password->empty()) return Usage("the password is empty");
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
    if (args.encrypt && crypto::CharacterCount(password.view()) < 6)
        std::fputs("kestrawin-cli: warning: the password has fewer than 6 characters\n", stderr);

    // Encryption, like the window, opens the key store with fresh pairs in it;
    // a store that cannot be saved still gives usable pairs for this run.
    // Decryption needs no key pairs (the container carries its public key), so
    // it leaves the store alone and skips the costly key generation.
    session::KeyStoreStart keyStore;
    if (args.encrypt) {
        keyStore = session::OpenKeyStore(KeyContainer::DefaultFolder());
        if (!keyStore.keys) {
            std::fprintf(stderr, "kestrawin-cli: %s\n", DescribeResult(keyStore.result).c_str());
            return ExitStatusOf(keyStore.result.outcome);
        }
    }
    static const KeyContainer noKeys;
    const KeyContainer& keys = keyStore.keys ? *keyStore.keys : noKeys;

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
            std::fprintf(stderr, "\r%s: %3d%%", args.encrypt ? "Encrypting" : "Decrypting",
                         percent);
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
        if (o.outcome == Outcome::AlreadyEncrypted) {
            std::fprintf(stderr, "kestrawin-cli: skipped '%s': %s\n", o.path.c_str(),
                         DescribeResult({o.outcome, o.detail}).c_str());
        } else if (o.outcome == Outcome::Cancelled) {
            interrupted = true; // the count below says it for all of them
            if (status == 0) status = kExitInterrupted;
        } else if (!o.ok()) {
            std::fprintf(stderr, "kestrawin-cli: cannot %s '%s': %s\n",
                         args.encrypt ? "encrypt" : "decrypt", o.path.c_str(),
                         DescribeResult({o.outcome, o.detail}).c_str());
            if (status == 0) status = ExitStatusOf(o.outcome);
        } else if (InputWasKept(o.keptOutcome)) {
            std::fprintf(stderr, "kestrawin-cli: '%s': %s\n", o.path.c_str(),
                         DescribeResult({o.keptOutcome, o.keptReason}).c_str());
            if (status == 0) status = ExitStatusOf(o.keptOutcome);
        } else {
            // Done, but with something to know: access the result could not
            // be given, other names that still lead to the plain text.
            if (!o.detail.empty())
                std::fprintf(stderr, "kestrawin-cli: warning: '%s': %s\n", o.path.c_str(),
                             o.detail.c_str());
            if (o.otherNames > 0)
                std::fprintf(stderr, "kestrawin-cli: warning: '%s': %s\n", o.path.c_str(),
                             OtherNamesNotice(o.otherNames).c_str());
        }
    }
    if (interrupted) {
        const ops::BatchSummary summary = ops::Summarize(outcomes);
        const std::size_t files = summary.total - summary.skipped;
        std::fprintf(stderr,
                     "kestrawin-cli: interrupted: %zu of %zu %s %s; the others are as they were\n",
                     summary.succeeded, files, files == 1 ? "file" : "files",
                     args.encrypt ? "encrypted" : "decrypted");
    }
    return status;
}
