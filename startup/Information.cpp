// SPDX-License-Identifier: Apache-2.0
#include "Information.h"

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
    case Information::Help:
        return "Usage: kestrawin                 the main page (with the Uninstall button)\n"
               "       kestrawin FILE [/crypt]   encrypt FILE: the window asks for the password twice\n"
               "       kestrawin FILE /encrypt   decrypt the container FILE\n"
               "       kestrawin --help | --version\n"
               "\n"
               "Kestrawin is meant to be started from the file manager's context menu:\n"
               "\"Encrypt with \"Kestrawin\"\" on any file, \"Decrypt with \"Kestrawin\"\" on .ksw files.\n"
               "Every start writes those entries for the current user, pointing at this\n"
               "program file; the Uninstall button on the main page removes them.\n"
               "The window needs a graphical session (X11 or Wayland).\n"
               "A file named --help or --version is reached as ./--help or ./--version.\n"
               "For scripts and terminals: kestrawin-cli --help.\n";
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
    return "kestrawin: cannot open the window: there is no graphical session\n"
           "(neither DISPLAY nor WAYLAND_DISPLAY is set). Start it from your desktop:\n"
           "its application menu, a file manager's context menu or a terminal there.\n"
           "Without a window, kestrawin-cli encrypts and decrypts (kestrawin-cli --help).\n";
}

} // namespace kestrawin::startup
