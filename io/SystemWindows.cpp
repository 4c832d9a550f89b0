// SPDX-License-Identifier: Apache-2.0
#include "System.h"

#include "WindowsPaths.h"

#include <algorithm>
#include <bit>
#include <thread>

namespace kestrawin::io {

std::optional<std::uint64_t> RegularFileSize(const std::string& path)
{
    const std::optional<std::wstring> full = LongAbsolutePath(path);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!full || !GetFileAttributesExW(full->c_str(), GetFileExInfoStandard, &data)
        || (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
        return std::nullopt;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

unsigned UsableProcessors()
{
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0)
        return static_cast<unsigned>(std::popcount(static_cast<std::uint64_t>(process)));
    return std::max(1u, std::thread::hardware_concurrency());
}

} // namespace kestrawin::io
