// SPDX-License-Identifier: Apache-2.0
#pragma once
// The helper program (Helper.cpp), started as a child of a Windows test.

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace kwtest {

class Child {
public:
    // Starts the helper beside the running test program with these
    // arguments (each quoted); creation flags and attributes as for
    // CreateProcessW. A child that failed to start fails the test.
    explicit Child(const std::vector<std::wstring>& arguments, DWORD flags = 0,
                   STARTUPINFOEXW* startup = nullptr);
    ~Child(); // ends a child still running
    Child(Child&& other) noexcept : process_(std::exchange(other.process_, nullptr)) {}
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // True when it ended within the time, with status 0.
    [[nodiscard]] bool Succeeds(DWORD milliseconds = 20000) const;
    [[nodiscard]] bool Running() const;

private:
    HANDLE process_ = nullptr;
};

} // namespace kwtest
