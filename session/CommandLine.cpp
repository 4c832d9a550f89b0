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

} // namespace

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
    if (ExtensionOf(arg(1)) == ".ksw" && !decryptSwitch) {
        choice.page = ErrorPage;
        choice.fileIsEncrypted = true;
        return choice;
    }
    std::string path = arg(1);
    if (path[0] != '/') path = (cwd.empty() || cwd.back() == '/' ? cwd : cwd + "/") + path;
    choice.selectedFile = path;
    choice.page = arg(2) == "/encrypt" ? DecryptPage : EncryptPage;
    return choice;
}

} // namespace kestrawin::session
