// SPDX-License-Identifier: Apache-2.0
#pragma once
// The user's registry as the tests read it back.

#include <windows.h>

#include <string>

namespace kwtest {

// A key's default value under HKEY_CURRENT_USER, or "(none)".
inline std::wstring RegistryValue(const std::wstring& key)
{
    wchar_t data[1024] = {};
    DWORD size = sizeof data;
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, data, &size)
        != ERROR_SUCCESS)
        return L"(none)";
    return data;
}

} // namespace kwtest
