// SPDX-License-Identifier: Apache-2.0
#include "CommandLine.h"

namespace kestrawin::session {
namespace {

// Letters A to Z only, as the original comparison does.
bool EqualsIgnoringAsciiCase(const std::string& a, const char* b)
{
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return i == a.size() && b[i] == '\0';
}

std::string Absolute(const std::string& path, const std::string& cwd)
{
    if (path[0] == '/') return path;
    return (cwd.empty() || cwd.back() == '/' ? cwd : cwd + "/") + path;
}

} // namespace

bool IsSwitch(const std::string& arg)
{
    return EqualsIgnoringAsciiCase(arg, "/crypt") || EqualsIgnoringAsciiCase(arg, "/encrypt");
}

std::vector<std::string> ArgumentsOf(int argc, const char* const* argv)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        if (argv[i] && argv[i][0] != '\0') args.emplace_back(argv[i]);
    return args;
}

std::string ExtensionOf(const std::string& path)
{
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return path.substr(dot);
}

PageChoice ChoosePage(const std::vector<std::string>& args, const std::string& cwd)
{
    auto arg = [&args](std::size_t i) { return i <= args.size() ? args[i - 1] : std::string(); };
    const bool decryptSwitch = args.size() >= 2 && EqualsIgnoringAsciiCase(arg(2), "/encrypt");
    PageChoice choice;
    if (args.empty()) return choice;
    if (args.size() >= 2 && !IsSwitch(arg(2))) {
        // A batch: the files are every argument but the switches; the last
        // argument says what to do with them.
        for (const std::string& a : args) {
            if (IsSwitch(a)) continue;
            const std::string path = Absolute(a, cwd);
            bool seen = false;
            for (const std::string& s : choice.selectedFiles) seen = seen || s == path;
            if (!seen) choice.selectedFiles.push_back(path);
        }
        choice.selectedFile = choice.selectedFiles.front();
        choice.page = args.back() == "/encrypt" ? DecryptPage : EncryptPage;
        return choice;
    }
    if (ExtensionOf(arg(1)) == ".ksw" && !decryptSwitch) {
        choice.page = ErrorPage;
        choice.fileIsEncrypted = true;
        return choice;
    }
    choice.selectedFile = Absolute(arg(1), cwd);
    choice.selectedFiles = {choice.selectedFile};
    choice.page = arg(2) == "/encrypt" ? DecryptPage : EncryptPage;
    return choice;
}

} // namespace kestrawin::session
