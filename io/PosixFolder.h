// SPDX-License-Identifier: Apache-2.0
#pragma once
// Safe files in a folder held as a descriptor, for the code of the Linux
// build that holds its folders so (the key store).

#include "SafeFile.h"

#include <sys/types.h>

#include <string>
#include <string_view>

namespace kestrawin::io {

// The folder open as `fd` (the descriptor is duplicated).
[[nodiscard]] Folder FolderOfDescriptor(int fd);

// Writes a whole small file of this name in the folder open as `folderFd`,
// with these mode bits (the umask does not apply).
[[nodiscard]] Result WriteFileAtomically(int folderFd, const std::string& name,
                                         std::string_view bytes, mode_t permissions);

} // namespace kestrawin::io
