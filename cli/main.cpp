// kestrawin-cli: the engine for scripts.
//
//   kestrawin-cli encrypt [--keep] [--password-file FILE] PATH...
//   kestrawin-cli decrypt [--keep] [--password-file FILE] PATH...
//   kestrawin-cli --help | --version
//
// Several paths run side by side with one password; each failure is printed.
// Exit status, of the first path in argument order that failed: 0 success,
// 1 wrong password, 2 damaged or not a container, 3 input unreadable, not a
// regular file, already encrypted or output unwritable, 64 usage, 70 crypto
// library failure, 130 interrupted.

#include "Password.h"

#include "operations/Batch.h"
#include "crypto/PasswordKeys.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace kestrawin;

constexpr int kExitUsage = 64;
constexpr int kExitSoftware = 70;
constexpr int kExitInterrupted = 130;

std::atomic<bool> g_cancel{false};

const char kUsage[] =
    "Usage: kestrawin-cli encrypt [--keep] [--password-file FILE] PATH...\n"
    "       kestrawin-cli decrypt [--keep] [--password-file FILE] PATH...\n"
    "       kestrawin-cli --help | --version\n"
    "\n"
    "encrypt writes PATH.ksw; decrypt writes PATH less its last four characters.\n"
    "Each input is deleted once its own output is safely on disk, unless --keep is\n"
    "given. An existing file of the output's name is replaced.\n"
    "Several PATHs share one password and run side by side, one per processor;\n"
    "each is done on its own: a failure is printed with its path and reason and\n"
    "does not stop the others. In an encryption, files ending in .ksw are skipped.\n"
    "\n"
    "  --password-file FILE  the password is FILE's first line ('-': standard input);\n"
    "                        without it the password is asked on the terminal\n"
    "  --keep                keep the input file\n"
    "\n"
    "Exit status: 0 when every PATH succeeded, else that of the first failing PATH\n"
    "in argument order: 1 wrong password, 2 damaged or not an encrypted file,\n"
    "3 input unreadable, not a regular file, already encrypted or output\n"
    "unwritable, 64 usage error.\n";

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
    case Outcome::OutputUnwritable: return 3;
    case Outcome::Cancelled: return kExitInterrupted;
    case Outcome::CryptoFailure: return kExitSoftware;
    }
    return kExitSoftware;
}

void OnSignal(int)
{
    g_cancel.store(true);
}

void CatchInterrupts()
{
    struct sigaction sa{};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART: a waiting prompt must see the interruption
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    cli::SetInterruptFlag(&g_cancel);
}

struct Arguments {
    bool encrypt = true;
    bool keep = false;
    bool havePasswordFile = false;
    std::string passwordFile;
    std::vector<std::string> paths;
};

// Returns 0 when the arguments are usable, else the exit status to end with.
int Parse(int argc, char** argv, Arguments* args)
{
    if (argc < 2) return Usage("missing command");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        return -1;
    }
    if (command == "--version") {
        std::printf("kestrawin-cli %s\n", KESTRAWIN_VERSION);
        return -1;
    }
    if (command != "encrypt" && command != "decrypt")
        return Usage(("unknown command '" + command + "'").c_str());
    args->encrypt = command == "encrypt";

    bool optionsEnded = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg == "--keep") {
            args->keep = true;
        } else if (!optionsEnded && (arg == "--password-file" || arg.rfind("--password-file=", 0) == 0)) {
            if (arg == "--password-file") {
                if (i + 1 >= argc) return Usage("--password-file needs a file");
                args->passwordFile = argv[++i];
            } else {
                args->passwordFile = arg.substr(std::strlen("--password-file="));
            }
            args->havePasswordFile = true;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            return Usage(("unknown option '" + arg + "'").c_str());
        } else if (arg.empty()) {
            return Usage("an empty PATH");
        } else {
            args->paths.push_back(arg);
        }
    }
    if (args->paths.empty()) return Usage("missing PATH");
    return 0;
}

// Returns 0 with the password, else the exit status to end with.
int GetPassword(const Arguments& args, std::string* password)
{
    if (args.havePasswordFile) {
        std::string error;
        auto line = cli::ReadPasswordFile(args.passwordFile, &error);
        if (!line) {
            std::fprintf(stderr, "kestrawin-cli: cannot read the password from '%s': %s\n",
                         args.passwordFile.c_str(), error.c_str());
            return kExitUsage;
        }
        *password = *line;
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
        *password = *first;
    }
    if (password->empty()) return Usage("the password is empty");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Arguments args;
    if (int status = Parse(argc, argv, &args); status != 0) return status < 0 ? 0 : status;
    CatchInterrupts();

    std::string password;
    if (int status = GetPassword(args, &password); status != 0) return status;
    if (args.encrypt && crypto::CharacterCount(password) < 6)
        std::fputs("kestrawin-cli: warning: the password has fewer than 6 characters\n", stderr);

    // Like the window: open the key store and put fresh pairs in it. A store
    // that cannot be saved still gives usable pairs for this run.
    KeyContainer keys;
    if (Result r = KeyContainer::Acquire(KeyContainer::DefaultFolder(), &keys); !r.ok()) {
        std::fprintf(stderr, "kestrawin-cli: %s\n", DescribeResult(r).c_str());
        return ExitStatusOf(r.outcome);
    }
    if (Result r = keys.RegenerateKeyPairs(); !r.ok() && !keys.hasSignatureKey()) {
        std::fprintf(stderr, "kestrawin-cli: %s\n", DescribeResult(r).c_str());
        return ExitStatusOf(r.outcome);
    }

    operations::BatchOptions options;
    options.cancel = &g_cancel;
    options.keepInputs = args.keep;
    const bool showProgress = isatty(STDERR_FILENO) == 1;
    int lastPercent = -1;
    if (showProgress) {
        options.progress = [&](std::uint64_t done, std::uint64_t total) {
            const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
            if (percent == lastPercent) return;
            lastPercent = percent;
            std::fprintf(stderr, "\r%s: %3d%%", args.encrypt ? "Encrypting" : "Decrypting", percent);
        };
    }

    const auto direction = args.encrypt ? operations::Direction::Encrypt : operations::Direction::Decrypt;
    const std::vector<operations::FileOutcome> outcomes =
        operations::RunBatch(direction, keys, args.paths, password, options);
    std::fill(password.begin(), password.end(), '\0');
    if (showProgress && lastPercent >= 0) std::fputs("\r\033[K", stderr);

    int status = 0;
    for (const operations::FileOutcome& o : outcomes) {
        if (!o.ok()) {
            std::fprintf(stderr, "kestrawin-cli: cannot %s '%s': %s\n", args.encrypt ? "encrypt" : "decrypt",
                         o.path.c_str(), DescribeResult({o.outcome, o.detail}).c_str());
            if (status == 0) status = ExitStatusOf(o.outcome);
        } else if (!o.keptReason.empty()) {
            std::fprintf(stderr, "kestrawin-cli: warning: '%s' was kept: %s\n", o.path.c_str(),
                         o.keptReason.c_str());
        }
    }
    return status;
}
