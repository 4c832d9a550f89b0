// SPDX-License-Identifier: Apache-2.0
#pragma once
// What the operations ask of the system apart from files' contents, the same
// on every platform (SystemPosix.cpp, SystemWindows.cpp).

#include <cstdint>
#include <optional>
#include <string>

namespace kestrawin::io {

// The size of the regular file a path names, the last name taken as it
// stands (a link is no regular file); nothing for anything else, or when it
// cannot be looked at.
[[nodiscard]] std::optional<std::uint64_t> RegularFileSize(const std::string& path);

// The processors this process may run on, at least one.
[[nodiscard]] unsigned UsableProcessors();

} // namespace kestrawin::io
