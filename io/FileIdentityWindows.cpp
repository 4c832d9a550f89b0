// SPDX-License-Identifier: Apache-2.0
// Which file a path names on Windows. The folder is what opening the path
// reaches (".." taken away first, as Windows does, then links and junctions
// followed by the system), known by its volume and file number; the name in
// it is compared as the folder compares names: without regard to case, and
// an existing file's short 8.3 name as its long one.
#include "FileIdentity.h"

#include "SafeFile.h"
#include "WindowsPaths.h"

#include <cstring>
#include <cwchar>

namespace kestrawin::io {
namespace {

std::wstring Upper(const std::wstring& name)
{
    if (name.empty()) return name;
    std::wstring out(name.size(), L'\0');
    const int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name.c_str(),
                                static_cast<int>(name.size()), out.data(),
                                static_cast<int>(out.size()), nullptr, nullptr, 0);
    return n == static_cast<int>(name.size()) ? out : name;
}

std::string Hex(std::uint64_t value)
{
    static const char digits[] = "0123456789abcdef";
    std::string s(16, '0');
    for (int i = 15; i >= 0; --i, value >>= 4) s[static_cast<std::size_t>(i)] = digits[value & 15];
    return s;
}

} // namespace

FileIdentity IdentifyPath(const std::string& path)
{
    FileIdentity identity;
    const std::optional<std::wstring> full = LongAbsolutePath(path);
    if (!full) {
        identity.place = '?' + path;
        return identity;
    }
    const WidePathParts parts = SplitLongPath(*full);
    const OwnedHandle folder(CreateFileW(parts.folder.c_str(), FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                         nullptr));
    FILE_ID_INFO id{};
    BY_HANDLE_FILE_INFORMATION info{};
    std::string key;
    if (folder.valid() && GetFileInformationByHandle(folder.get(), &info)
        && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (GetFileInformationByHandleEx(folder.get(), FileIdInfo, &id, sizeof id)) {
            std::uint64_t halves[2] = {};
            std::memcpy(halves, id.FileId.Identifier, sizeof halves);
            key = Hex(id.VolumeSerialNumber) + ':' + Hex(halves[1]) + Hex(halves[0]);
        } else {
            key =
                Hex(info.dwVolumeSerialNumber) + ':'
                + Hex((static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
        }
    }
    // The name as the folder holds it, when it holds it (a pattern is no name).
    std::wstring name = parts.name;
    WIN32_FIND_DATAW found{};
    if (name.find_first_of(L"*?") == std::wstring::npos) {
        const HANDLE search = FindFirstFileExW(full->c_str(), FindExInfoBasic, &found,
                                               FindExSearchNameMatch, nullptr, 0);
        if (search != INVALID_HANDLE_VALUE) {
            name = found.cFileName;
            FindClose(search);
        }
    }
    // '?' cannot start a volume number: the two kinds never meet.
    identity.place =
        key.empty() ? '?' + Utf8FromWide(Upper(*full)) : key + '/' + Utf8FromWide(Upper(name));
    return identity;
}

} // namespace kestrawin::io
