// SPDX-License-Identifier: Apache-2.0
// The verbs and the file type in the user's registry, written below a scratch
// key of the test's own in place of HKEY_CURRENT_USER\Software\Classes (the
// installer's test checks the real place).

#include "shell/RegistryRegistration.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <process.h>

#include <optional>
#include <set>

using namespace kestrawin;
using namespace kestrawin::shell;

namespace {

// A key's default value when it is a string stored with its terminating zero.
std::optional<std::wstring> DefaultValue(const std::wstring& key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
        return std::nullopt;
    std::wstring data(1024, L'\0');
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    const LSTATUS status = RegQueryValueExW(handle, nullptr, nullptr, &type,
                                            reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS || type != REG_SZ || size < sizeof(wchar_t)) return std::nullopt;
    data.resize(size / sizeof(wchar_t));
    if (data.back() != L'\0') return std::nullopt;
    data.pop_back();
    return data;
}

// Every key below `key`, as paths relative to it.
void AllKeys(const std::wstring& key, const std::wstring& prefix, std::set<std::wstring>* out)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, &handle)
        != ERROR_SUCCESS)
        return;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(handle, i, name, &length, nullptr, nullptr, nullptr, nullptr)
            != ERROR_SUCCESS)
            break;
        out->insert(prefix + name);
        AllKeys(key + L"\\" + name, prefix + name + L"\\", out);
    }
    RegCloseKey(handle);
}

std::wstring WithProgram(std::wstring text, const std::wstring& program)
{
    if (const auto at = text.find(L"{}"); at != std::wstring::npos) text.replace(at, 2, program);
    return text;
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, root.c_str());
        place.classesKey = root + L"\\Classes";
        place.notifyShell = [this] { ++notified; };
        HKEY classes = nullptr; // lasting, whatever is made below it
        RegCreateKeyExW(HKEY_CURRENT_USER, place.classesKey.c_str(), 0, nullptr, 0, KEY_READ,
                        nullptr, &classes, nullptr);
        RegCloseKey(classes);
    }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, root.c_str()); }
    [[nodiscard]] std::wstring Key(const std::wstring& key) const
    {
        return place.classesKey + L"\\" + key;
    }
    void Set(const std::wstring& key, const std::wstring& value, DWORD options = 0)
    {
        HKEY handle = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Key(key).c_str(), 0, nullptr, options,
                                  KEY_SET_VALUE, nullptr, &handle, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(handle);
    }

    const std::wstring root = L"Software\\Kestrawin tests " + std::to_wstring(_getpid());
    RegistryPlace place;
    int notified = 0;
};

struct Entry {
    const wchar_t* key;
    const wchar_t* value; // {} stands for the program's path
};
const Entry kTable[] = {
    {L"*\\Shell\\Encrypt with \"Kestrawin\"", L"Encrypt with \"Kestrawin\""},
    {L"*\\Shell\\Encrypt with \"Kestrawin\"\\command", L"\"{}\" \"%1\" /crypt"},
    {L".ksw", L"Pellmora File"},
    {L"Pellmora File", L"Encrypted file"},
    {L"Pellmora File\\Shell\\Decrypt", L"Decrypt with \"Kestrawin\""},
    {L"Pellmora File\\Shell\\Decrypt\\command", L"\"{}\" \"%1\" /encrypt"},
    {L"Pellmora File\\DefaultIcon", L"{},0"},
};

} // namespace

TEST_F(Registry, EveryStartWritesExactlyTheTableForTheRunningCopyAndTellsTheShellOfChanges)
{
    const struct {
        std::wstring program;
        int notifiedSoFar;
    } starts[] = {
        {L"C:\\Program Files\\Kestrawin 1.8\\kestrawin.exe", 1}, // spaces: quoted
        {L"C:\\Program Files\\Kestrawin 1.8\\kestrawin.exe", 1}, // the same again: no change
        {L"D:\\Tools\\kestrawin.exe", 2},                        // a copy elsewhere
    };
    for (const auto& start : starts) {
        SCOPED_TRACE(testing::Message() << "notified " << start.notifiedSoFar);
        ASSERT_TRUE(RegisterInRegistry(start.program, place).ok());
        EXPECT_EQ(notified, start.notifiedSoFar);
        std::set<std::wstring> expectedKeys{L"*", L"*\\Shell", L"Pellmora File\\Shell"};
        for (const Entry& entry : kTable) {
            EXPECT_EQ(DefaultValue(Key(entry.key)), WithProgram(entry.value, start.program))
                << testing::PrintToString(std::wstring(entry.key));
            expectedKeys.insert(entry.key);
        }
        std::set<std::wstring> keys;
        AllKeys(place.classesKey, L"", &keys);
        EXPECT_EQ(keys, expectedKeys);
    }
}

TEST_F(Registry, RemovalDeletesOurThreeKeysAndNothingAroundThem)
{
    const Entry neighbours[] = {
        {L"*\\Shell", L"the verbs of every file"},
        {L"*\\Shell\\Open with another\\command", L"\"C:\\other.exe\" \"%1\""},
        {L".ksw2", L"Other File"},
        {L"Pellmora Files", L"Other files"},
        {L".txt", L"txtfile"},
    };
    for (const Entry& neighbour : neighbours) Set(neighbour.key, neighbour.value);
    ASSERT_TRUE(RegisterInRegistry(L"C:\\k\\kestrawin.exe", place).ok());

    for (const int notifiedSoFar : {2, 2}) { // a second removal finds nothing to do
        ASSERT_TRUE(UnregisterFromRegistry(place).ok());
        EXPECT_EQ(notified, notifiedSoFar);
        for (const wchar_t* ours :
             {L"*\\Shell\\Encrypt with \"Kestrawin\"", L".ksw", L"Pellmora File"}) {
            HKEY handle = nullptr;
            EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, Key(ours).c_str(), 0, KEY_READ, &handle),
                      ERROR_FILE_NOT_FOUND);
        }
        for (const Entry& neighbour : neighbours)
            EXPECT_EQ(DefaultValue(Key(neighbour.key)), neighbour.value);
    }
}

TEST_F(Registry, AKeyThatCannotBeMadeIsNamedAndNoValueLandsInAnotherKey)
{
    // Below a volatile key the registry refuses the lasting keys we make.
    Set(L"Pellmora File", L"anything", REG_OPTION_VOLATILE);
    const Result result = RegisterInRegistry(L"C:\\k\\kestrawin.exe", place);
    EXPECT_EQ(result.outcome, Outcome::OutputUnwritable);
    EXPECT_NE(result.detail.find("Failed to set data for 'HKEY_CURRENT_USER\\Software\\Kestrawin "
                                 "tests "),
              std::string::npos)
        << result.detail;
    EXPECT_NE(result.detail.find("\\Classes\\Pellmora File\\Shell\\Decrypt': "), std::string::npos)
        << result.detail;
    // Every other entry is still written, each into its own key.
    EXPECT_EQ(DefaultValue(Key(L"Pellmora File")), L"Encrypted file");
    EXPECT_EQ(DefaultValue(Key(L".ksw")), L"Pellmora File");
    EXPECT_EQ(DefaultValue(Key(L"*\\Shell\\Encrypt with \"Kestrawin\"\\command")),
              L"\"C:\\k\\kestrawin.exe\" \"%1\" /crypt");
    EXPECT_EQ(notified, 1);
}
