// SPDX-License-Identifier: Apache-2.0
#include "FileIdentity.h"

#include "SafeFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <memory>

namespace kestrawin::io {
namespace {

std::string DeviceAndInode(const struct stat& st)
{
    return std::to_string(static_cast<unsigned long long>(st.st_dev)) + ':'
           + std::to_string(static_cast<unsigned long long>(st.st_ino));
}

std::string AbsoluteSpelling(const std::string& path)
{
    if (!path.empty() && path[0] == '/') return path;
    std::unique_ptr<char, decltype(&free)> cwd(getcwd(nullptr, 0), &free);
    return std::string(cwd ? cwd.get() : ".") + '/' + path;
}

} // namespace

FileIdentity IdentifyPath(const std::string& path)
{
    FileIdentity identity;
    const SplitPath parts = Split(path);
    struct stat st {};
    // The folder as opening it would find it (links and ".." followed by the
    // system). '?' cannot start a device number: the two kinds never meet.
    if (stat(parts.folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        identity.place = DeviceAndInode(st) + '/' + parts.name;
    else
        identity.place = '?' + AbsoluteSpelling(path);
    return identity;
}

} // namespace kestrawin::io
