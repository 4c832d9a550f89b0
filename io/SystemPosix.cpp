// SPDX-License-Identifier: Apache-2.0
#include "System.h"

#include <sched.h>
#include <sys/stat.h>

#include <algorithm>
#include <thread>

namespace kestrawin::io {

std::optional<std::uint64_t> RegularFileSize(const std::string& path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return static_cast<std::uint64_t>(st.st_size);
    return std::nullopt;
}

unsigned UsableProcessors()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

} // namespace kestrawin::io
