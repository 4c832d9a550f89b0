// kestrawin-cli: the engine for scripts.
//
//   kestrawin-cli encrypt [--keep] [--password-file FILE] PATH
//   kestrawin-cli decrypt [--keep] [--password-file FILE] PATH
//   kestrawin-cli --help | --version
//
// Exit status: see kUsage; the man page and the README give the same list.

#include "Password.h"

#include "crypto/Engine.h"
#include "crypto/PasswordKeys.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

using namespace kestrawin;

constexpr int kExitUsage = 64;
constexpr int kExitSoftware = 70;
constexpr int kExitInterrupted = 130;

std::atomic<bool> g_cancel{false};

const char kUsage[] =
    "Usage: kestrawin-cli encrypt [--keep] [--password-file FILE] PATH\n"
    "       kestrawin-cli decrypt [--keep] [--password-file FILE] PATH\n"
    "       kestrawin-cli --help | --version\n"
    "\n"
    "encrypt writes PATH.ksw; decrypt writes PATH less its last four characters.\n"
    "The input is deleted once its output is safely on disk, unless --keep is given.\n"
    "An existing file of the output's name is replaced.\n"
    "\n"
    "  --password-file FILE  the password is FILE's first line ('-': standard input);\n"
    "                        without it the password is asked on the terminal\n"
    "  --keep                keep the input file\n"
    "\n"
    "Exit status:\n"
    "    0  success\n"
    "    1  wrong password\n"
    "    2  damaged, or not an encrypted file\n"
    "    3  the input is unreadable or not a regular file, or the output unwritable\n"
    "    4  done, but the input was kept\n"
    "   64  usage error\n"
    "   70  internal error: the crypto library failed\n"
    "  130  interrupted; nothing was changed\n";

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
    std::string path;
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
    bool havePath = false;
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
        } else if (havePath) {
            return Usage("only one PATH may be given");
        } else {
            args->path = arg;
            havePath = true;
        }
    }
    if (!havePath || args->path.empty()) return Usage("missing PATH");
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

    OperationOptions options;
    options.cancel = &g_cancel;
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

    const Result result = args.encrypt ? EncryptSelectedFile(keys, args.path, password, options)
                                       : DecryptSelectedFile(args.path, password, options);
    if (showProgress && lastPercent >= 0) std::fputs("\r\033[K", stderr);
    if (!result.ok()) {
        std::fprintf(stderr, "kestrawin-cli: cannot %s '%s': %s\n",
                     args.encrypt ? "encrypt" : "decrypt", args.path.c_str(),
                     DescribeResult(result).c_str());
        return ExitStatusOf(result.outcome);
    }
    if (!args.keep) {
        if (Result removed = RemoveInputFile(args.path); !removed.ok())
            std::fprintf(stderr, "kestrawin-cli: warning: '%s' was kept: %s\n", args.path.c_str(),
                         removed.detail.c_str());
    }
    return 0;
}
