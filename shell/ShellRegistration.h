// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "base/Outcome.h"

#include <QString>
#include <QStringList>

#include <functional>

// Offers "Encrypt with "Kestrawin"" on every file and "Decrypt with "Kestrawin""
// on .ksw files in the file managers of the Linux desktops, declares the
// container's file type and installs the icon. The files are written per user,
// for every file manager at once, and are inert where that manager is not used.
namespace kestrawin::shell {

// Where registration writes. FromProcess reads HOME and the XDG variables with
// their defaults; tests fill it in themselves.
struct Environment {
    QString home, dataHome, configHome; // XDG_DATA_HOME / XDG_CONFIG_HOME with their defaults
    QStringList configDirs, dataDirs;   // XDG_CONFIG_DIRS (default /etc/xdg), XDG_DATA_DIRS
    bool nautilusPython = false;        // Nautilus can load Python extensions (python3-nautilus)
    static Environment FromProcess();
};

// The program path to register: $APPIMAGE when set, else the running executable's
// absolute path.
QString ProgramPathForRegistration();

// Runs update-mime-database / update-desktop-database.
using ToolRunner = std::function<void(const QString& program, const QStringList& args)>;

// Runs the tool quietly with a short timeout; a missing tool is no error.
void RunToolQuietly(const QString& program, const QStringList& args);

// What a registration or a removal did.
struct ShellOutcome {
    // OutputUnwritable with the path of the first file that failed as the
    // detail (words::EntryNotWritten says it), or Success.
    Result result;
    QStringList failedPaths; // every file that failed, in the order tried
    bool changed = false;    // something on disk was written, re-pointed or deleted

    [[nodiscard]] bool ok() const { return result.ok(); }
};

// Brings every registration file up to date for `programPath`, rewriting only
// what differs. Each file is tried even when another fails. A path holding `%`
// or a line break is registered through a symbolic link, see ProgramLinkPath.
// An empty runTool means RunToolQuietly.
ShellOutcome RegisterShell(const QString& programPath, const Environment& env,
                           const ToolRunner& runTool = {});

// Deletes what registration wrote, our Thunar actions included, and nothing
// else. Every file is tried; the outcome names those that stay.
ShellOutcome UnregisterShell(const Environment& env, const ToolRunner& runTool = {});

// The icon in the program's resources, under ":/kestrawin/icons/": "kestrawin.svg"
// and "kestrawin-<N>.png" for each of kIconSizes.
inline constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};
void InitIconResources();
// The resource path of the PNG of that size, or of the SVG for size 0.
QString IconResourcePath(int size = 0);

} // namespace kestrawin::shell
