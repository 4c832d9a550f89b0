// SPDX-License-Identifier: Apache-2.0
#include "RegistryRegistration.h"
#include "Registration.h"
#include "base/WindowsText.h"

#include <windows.h>

#include <shlobj.h>

namespace kestrawin::shell {
namespace {

struct Key {
    HKEY handle = nullptr;
    ~Key()
    {
        if (handle) RegCloseKey(handle);
    }
};

bool HoldsValue(HKEY key, const std::wstring& value)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS
        || type != REG_SZ || size != (value.size() + 1) * sizeof(wchar_t))
        return false;
    std::wstring stored(value.size() + 1, L'\0');
    if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(stored.data()),
                         &size)
        != ERROR_SUCCESS)
        return false;
    return stored.compare(0, value.size(), value) == 0 && stored.back() == L'\0';
}

// Creates the key (and what is missing on its way) and sets its default value
// unless it already holds exactly that. Each key is opened by its whole path:
// a key that cannot be made never has its value written into another one.
LSTATUS Write(const std::wstring& path, const std::wstring& value, bool* changed)
{
    Key key;
    DWORD disposition = 0;
    LSTATUS status =
        RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key.handle, &disposition);
    if (status != ERROR_SUCCESS) return status;
    if (disposition == REG_CREATED_NEW_KEY) *changed = true;
    if (HoldsValue(key.handle, value)) return ERROR_SUCCESS;
    // Stored with its terminating zero.
    status =
        RegSetValueExW(key.handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    if (status == ERROR_SUCCESS) *changed = true;
    return status;
}

void Notify(const RegistryPlace& place)
{
    if (place.notifyShell)
        place.notifyShell();
    else
        SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

std::wstring FullName(const RegistryPlace& place, const std::wstring& key)
{
    return L"HKEY_CURRENT_USER\\" + place.classesKey + L"\\" + key;
}

} // namespace

std::vector<RegistryEntry> RegistryEntries(const std::wstring& program)
{
    const std::wstring quoted = L"\"" + program + L"\" \"%1\"";
    const std::wstring type = kFileTypeKey;
    return {
        {kRegistryKeys[0], L"Encrypt with \"Kestrawin\""},
        {kRegistryKeys[0] + L"\\command", quoted + L" /crypt"},
        {kRegistryKeys[1], type},
        {type, L"Encrypted file"},
        {type + L"\\Shell\\Decrypt", L"Decrypt with \"Kestrawin\""},
        {type + L"\\Shell\\Decrypt\\command", quoted + L" /encrypt"},
        {type + L"\\DefaultIcon", program + L",0"},
    };
}

Result RegisterInRegistry(const std::wstring& program, const RegistryPlace& place)
{
    Result result;
    bool changed = false;
    for (const RegistryEntry& entry : RegistryEntries(program)) {
        const LSTATUS status = Write(place.classesKey + L"\\" + entry.key, entry.value, &changed);
        if (status != ERROR_SUCCESS && result.ok())
            result = Result::fail(
                Outcome::OutputUnwritable,
                words::Fill(words::EntryNotWritten, {Utf8FromWide(FullName(place, entry.key))})
                    + ": " + SystemErrorText(static_cast<DWORD>(status)));
    }
    if (changed) Notify(place);
    return result;
}

Result UnregisterFromRegistry(const RegistryPlace& place)
{
    Result result;
    bool changed = false;
    for (const std::wstring& key : kRegistryKeys) {
        const std::wstring path = place.classesKey + L"\\" + key;
        const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
        if (status == ERROR_SUCCESS)
            changed = true;
        else if (status != ERROR_FILE_NOT_FOUND && result.ok())
            result = Result::fail(Outcome::OutputUnwritable,
                                  "Failed to delete '" + Utf8FromWide(FullName(place, key))
                                      + "': " + SystemErrorText(static_cast<DWORD>(status)));
    }
    if (changed) Notify(place);
    return result;
}

std::filesystem::path RunningProgram()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

Result RegisterContextMenu(const std::filesystem::path& program)
{
    return RegisterInRegistry(program.native(), {});
}

Result UnregisterContextMenu()
{
    return UnregisterFromRegistry({});
}

} // namespace kestrawin::shell
