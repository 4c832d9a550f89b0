// SPDX-License-Identifier: Apache-2.0
#pragma once
// `kestrawin --help` and `kestrawin --version`: answered on standard output
// without a window. Only as the one argument: a file of either name is still
// reached as ./--help, and file managers always pass absolute paths.

#include <string>
#include <vector>

namespace kestrawin::startup {

enum class Information { None, Help, Version };

// `args` as ArgumentsOf gives them.
[[nodiscard]] Information InformationAskedFor(const std::vector<std::string>& args);

// The text to print for `what` (empty for None), ending in a line break.
[[nodiscard]] std::string InformationText(Information what);

// Whether the window can be shown: a display (DISPLAY or WAYLAND_DISPLAY), a Qt
// platform chosen in QT_QPA_PLATFORM, or Qt's -platform argument. Each variable
// is its value, or null when unset.
[[nodiscard]] bool CanShowWindow(const char* display, const char* waylandDisplay,
                                 const char* qtPlatform, const std::vector<std::string>& args);

// What a start without a graphical session prints instead, ending in a line break.
[[nodiscard]] std::string NoSessionMessage();

} // namespace kestrawin::startup
