// SPDX-License-Identifier: Apache-2.0
#pragma once
// The context menu's two verbs and the container's file type, as every start
// and the Uninstall button see them, whatever the platform keeps them in.
// Toolkit-free: paths are the system's own (UTF-16 on Windows), outcomes the
// engine's. The Windows build implements it over the registry
// (RegistryRegistration.cpp).

#include "base/Outcome.h"

#include <filesystem>

namespace kestrawin::shell {

// The running program file, as the system reports it: what the verbs start.
[[nodiscard]] std::filesystem::path RunningProgram();

// Points both verbs, the file type and its icon at `program` for the current
// user, rewriting only what differs, and tells the file manager when anything
// changed. Every entry is tried even when another fails; the result names the
// first that failed.
[[nodiscard]] Result RegisterContextMenu(const std::filesystem::path& program);

// Removes exactly what RegisterContextMenu writes; what is already gone is no
// failure.
[[nodiscard]] Result UnregisterContextMenu();

} // namespace kestrawin::shell
