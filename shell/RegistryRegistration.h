// SPDX-License-Identifier: Apache-2.0
#pragma once
// The verbs and the container's file type in the Windows registry. They are
// written per user, below HKEY_CURRENT_USER\Software\Classes: the user's half
// of HKEY_CLASSES_ROOT, which the shell reads first and a standard user may
// write (new keys under HKEY_CLASSES_ROOT itself land in the machine's half,
// which needs an administrator).

#include "base/Outcome.h"
#include "base/Words.h"

#include <functional>
#include <string>
#include <vector>

namespace kestrawin::shell {

// One key and its unnamed default value (REG_SZ).
struct RegistryEntry {
    std::wstring key; // below the classes key
    std::wstring value;
};

// What registration writes for `program`, in the order written.
[[nodiscard]] std::vector<RegistryEntry> RegistryEntries(const std::wstring& program);

// The keys removal deletes, each with everything below it. "*\Shell" and
// everything else around them stay.
inline constexpr const wchar_t* kFileTypeKey = L"Pellmora File";
inline const std::wstring kRegistryKeys[] = {
    L"*\\Shell\\Encrypt with \"Kestrawin\"",
    std::wstring(words::kContainerExtension.begin(), words::kContainerExtension.end()),
    kFileTypeKey,
};

struct RegistryPlace {
    // Below HKEY_CURRENT_USER; tests use a scratch key of their own.
    std::wstring classesKey = L"Software\\Classes";
    // Called once after a registration or removal that changed anything;
    // null: SHChangeNotify(SHCNE_ASSOCCHANGED), which makes Explorer read the
    // file types again.
    std::function<void()> notifyShell;
};

[[nodiscard]] Result RegisterInRegistry(const std::wstring& program, const RegistryPlace& place);
[[nodiscard]] Result UnregisterFromRegistry(const RegistryPlace& place);

} // namespace kestrawin::shell
