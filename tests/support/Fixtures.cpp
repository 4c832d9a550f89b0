// SPDX-License-Identifier: Apache-2.0
#include "Fixtures.h"

#include <sys/stat.h>
#include <unistd.h>

namespace kwtest {

std::string ShellQuote(const std::string& s)
{
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

unsigned Mode(const fs::path& path)
{
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

const kestrawin::ops::KeyContainer& SharedKeys()
{
    static kestrawin::ops::KeyContainer keys = [] {
        const fs::path folder =
            fs::temp_directory_path() / ("kestrawin-keys-" + std::to_string(getpid()));
        kestrawin::ops::KeyContainer k;
        EXPECT_TRUE(kestrawin::ops::KeyContainer::Acquire(folder, &k).ok());
        EXPECT_TRUE(k.RegenerateKeyPairs().ok());
        fs::remove_all(folder);
        return k;
    }();
    return keys;
}

} // namespace kwtest
