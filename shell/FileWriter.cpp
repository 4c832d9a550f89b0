// SPDX-License-Identifier: Apache-2.0
#include "shell/FileWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kestrawin::shell {
namespace {

QFileDevice::Permissions ToPermissions(mode_t mode)
{
    QFileDevice::Permissions p;
    if (mode & S_IRUSR) p |= QFileDevice::ReadOwner | QFileDevice::ReadUser;
    if (mode & S_IWUSR) p |= QFileDevice::WriteOwner | QFileDevice::WriteUser;
    if (mode & S_IXUSR) p |= QFileDevice::ExeOwner | QFileDevice::ExeUser;
    if (mode & S_IRGRP) p |= QFileDevice::ReadGroup;
    if (mode & S_IWGRP) p |= QFileDevice::WriteGroup;
    if (mode & S_IXGRP) p |= QFileDevice::ExeGroup;
    if (mode & S_IROTH) p |= QFileDevice::ReadOther;
    if (mode & S_IWOTH) p |= QFileDevice::WriteOther;
    if (mode & S_IXOTH) p |= QFileDevice::ExeOther;
    return p;
}

// Files larger than this are certainly not ours; they are replaced unread.
constexpr qint64 kMaxCompareSize = 4 * 1024 * 1024;

} // namespace

int FileMode(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return -1;
    return static_cast<int>(st.st_mode & 07777);
}

bool ReadWholeFile(const QString& path, QByteArray* bytes)
{
    QFile file(path);
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > kMaxCompareSize || !file.open(QIODevice::ReadOnly))
        return false;
    *bytes = file.readAll();
    return file.error() == QFileDevice::NoError;
}

WriteResult WriteFileIfDifferent(const QString& path, const QByteArray& bytes, mode_t mode)
{
    QByteArray current;
    if (ReadWholeFile(path, &current) && current == bytes) {
        if (FileMode(path) == static_cast<int>(mode)) return WriteResult::Unchanged;
        return ::chmod(QFile::encodeName(path).constData(), mode) == 0 ? WriteResult::Written
                                                                       : WriteResult::Failed;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) return WriteResult::Failed;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return WriteResult::Failed;
    // The temporary file gets the final mode before it is renamed into place, so
    // the target never exists with other permissions; umask does not matter.
    // An uncommitted QSaveFile discards its temporary file.
    if (file.write(bytes) != bytes.size() || !file.setPermissions(ToPermissions(mode)))
        return WriteResult::Failed;
    return file.commit() ? WriteResult::Written : WriteResult::Failed;
}

WriteResult RemoveIfPresent(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        return WriteResult::Unchanged; // a folder is nobody's registration file
    if (::unlink(QFile::encodeName(path).constData()) == 0) return WriteResult::Written;
    return errno == ENOENT || errno == ENOTDIR ? WriteResult::Unchanged : WriteResult::Failed;
}

void TouchPath(const QString& path)
{
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), nullptr, 0);
}

} // namespace kestrawin::shell
