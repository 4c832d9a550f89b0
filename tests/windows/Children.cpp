// SPDX-License-Identifier: Apache-2.0
#include "Children.h"

#include <gtest/gtest.h>

namespace kwtest {

Child::Child(const std::vector<std::wstring>& arguments, DWORD flags, STARTUPINFOEXW* startup)
{
    std::wstring program(MAX_PATH, L'\0');
    program.resize(GetModuleFileNameW(nullptr, program.data(), MAX_PATH));
    program = program.substr(0, program.find_last_of(L'\\') + 1) + L"kestrawin_windows_helper.exe";
    std::wstring line = L"\"" + program + L"\"";
    for (const std::wstring& argument : arguments) line += L" \"" + argument + L"\"";
    STARTUPINFOEXW plain{};
    plain.StartupInfo.cb = sizeof plain.StartupInfo;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE,
                        flags | (startup ? EXTENDED_STARTUPINFO_PRESENT : 0), nullptr, nullptr,
                        startup ? &startup->StartupInfo : &plain.StartupInfo, &started)) {
        ADD_FAILURE() << "cannot start the helper: error " << GetLastError();
        return;
    }
    CloseHandle(started.hThread);
    process_ = started.hProcess;
}

Child::~Child()
{
    if (!process_) return;
    if (Running()) TerminateProcess(process_, 1);
    CloseHandle(process_);
}

bool Child::Succeeds(DWORD milliseconds) const
{
    DWORD status = 1;
    return process_ && WaitForSingleObject(process_, milliseconds) == WAIT_OBJECT_0
           && GetExitCodeProcess(process_, &status) && status == 0;
}

bool Child::Running() const
{
    return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

} // namespace kwtest
