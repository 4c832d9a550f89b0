// SPDX-License-Identifier: Apache-2.0
#include "CommandLine.h"

#include "base/Words.h"
#include "io/FileIdentity.h"

#ifdef _WIN32
#include "io/WindowsPaths.h"
#else
#include <sys/stat.h>
#endif

namespace kestrawin::startup {
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

#ifdef _WIN32
// Explorer passes whole paths ("C:\folder\file", "\\server\share\file");
// a path from a console may be relative, to the current folder.
constexpr const char* kSeparators = "\\/:";

bool IsAbsolute(const std::string& path)
{
    return path[0] == '\\' || path[0] == '/' || (path.size() > 1 && path[1] == ':');
}

std::string Absolute(const std::string& path, const std::string& cwd)
{
    if (IsAbsolute(path)) return path;
    const bool ends = !cwd.empty() && (cwd.back() == '\\' || cwd.back() == '/');
    return (cwd.empty() || ends ? cwd : cwd + "\\") + path;
}

// Whether the path names something: a file, a folder or a link.
bool Exists(const std::string& path)
{
    const auto wide = io::LongAbsolutePath(path);
    return wide && GetFileAttributesW(wide->c_str()) != INVALID_FILE_ATTRIBUTES;
}
#else
constexpr const char* kSeparators = "/";

std::string Absolute(const std::string& path, const std::string& cwd)
{
    if (path[0] == '/') return path;
    return (cwd.empty() || cwd.back() == '/' ? cwd : cwd + "/") + path;
}

// Whether the path names something: a file, a folder or a link.
bool Exists(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}
#endif

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
    const std::size_t slash = path.find_last_of(kSeparators);
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return path.substr(dot);
}

PageChoice ChoosePage(const std::vector<std::string>& args, const std::string& cwd)
{
    PageChoice choice;
    if (args.empty()) return choice;
    // Unless a switch comes second: an argument after the first is a file
    // when it names something that exists; one that is the same file as an
    // earlier one is left out; any other argument stays where it is.
    std::vector<std::string> kept = args;
    if (args.size() >= 2 && !IsSwitch(args[1])) {
        kept = {args.front()};
        std::vector<std::string> files = {Absolute(args.front(), cwd)};
        io::IdentityIndex seen;
        seen.Add(io::IdentifyPath(files.front()), 0);
        for (std::size_t i = 1; i < args.size(); ++i) {
            const std::string path = Absolute(args[i], cwd);
            if (IsSwitch(args[i]) || !Exists(path)) {
                kept.push_back(args[i]);
                continue;
            }
            const io::FileIdentity identity = io::IdentifyPath(path);
            if (seen.Find(identity)) continue;
            seen.Add(identity, files.size());
            files.push_back(path);
            kept.push_back(args[i]);
        }
        if (files.size() > 1) {
            // A batch: the last argument says what to do with them all.
            choice.selectedFiles = std::move(files);
            choice.selectedFile = choice.selectedFiles.front();
            choice.page = args.back() == "/encrypt" ? DecryptPage : EncryptPage;
            return choice;
        }
    }
    // One file.
    auto arg = [&kept](std::size_t i) { return i <= kept.size() ? kept[i - 1] : std::string(); };
    const bool decryptSwitch = kept.size() >= 2 && EqualsIgnoringAsciiCase(arg(2), "/encrypt");
    if (ExtensionOf(arg(1)) == words::kContainerExtension && !decryptSwitch) {
        choice.page = OutcomePage;
        choice.fileIsEncrypted = true;
        return choice;
    }
    choice.selectedFile = Absolute(arg(1), cwd);
    choice.selectedFiles = {choice.selectedFile};
    choice.page = arg(2) == "/encrypt" ? DecryptPage : EncryptPage;
    return choice;
}

} // namespace kestrawin::startup
