// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// Writing the registration files: each is compared with the disk first and only
// replaced when its bytes or mode differ, through a temporary file in the same
// folder that is flushed and renamed over the target.
namespace kestrawin::shell {

enum class WriteResult { Unchanged, Written, Failed };

// Mode bits (07777) of the file at `path`, following symbolic links; -1 when it
// cannot be read.
int FileMode(const QString& path);

// Makes `path` hold exactly `bytes` with permission bits `mode`. Creates missing
// parent folders. A file whose bytes already match only has its mode corrected.
WriteResult WriteFileIfDifferent(const QString& path, const QByteArray& bytes, mode_t mode);

// Reads a whole regular file; false when it does not exist or cannot be read.
bool ReadWholeFile(const QString& path, QByteArray* bytes);

// Deletes a file or a symbolic link (never a folder): Written when something was
// deleted, Unchanged when nothing was there, Failed when it stays.
WriteResult RemoveIfPresent(const QString& path);

// Sets the modification time of `path` to now, as `touch` does for an existing path.
void TouchPath(const QString& path);

} // namespace kestrawin::shell
