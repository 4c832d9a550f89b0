// SPDX-License-Identifier: Apache-2.0
#include "Information.h"

#include "base/Words.h"
#include "kestrawin/Version.h"

namespace kestrawin::startup {

Information InformationAskedFor(const std::vector<std::string>& args)
{
    if (args.size() != 1) return Information::None;
    if (args[0] == "--help") return Information::Help;
    if (args[0] == "--version") return Information::Version;
    return Information::None;
}

std::string InformationText(Information what)
{
    switch (what) {
    case Information::None: return {};
    case Information::Version: return "kestrawin " KESTRAWIN_VERSION "\n";
#ifdef _WIN32
    case Information::Help: return words::WindowHelpWindows;
#else
    case Information::Help: return words::WindowHelp;
#endif
    }
    return {};
}

bool CanShowWindow(const char* display, const char* waylandDisplay, const char* qtPlatform,
                   const std::vector<std::string>& args)
{
    auto set = [](const char* value) { return value && *value; };
    if (set(display) || set(waylandDisplay) || set(qtPlatform)) return true;
    for (const std::string& arg : args)
        if (arg == "-platform" || arg == "--platform") return true;
    return false;
}

std::string NoSessionMessage()
{
    return words::NoGraphicalSession;
}

} // namespace kestrawin::startup
