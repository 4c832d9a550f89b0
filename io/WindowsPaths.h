// SPDX-License-Identifier: Apache-2.0
#pragma once
// Paths at the edge of Windows: the engine holds them in UTF-8, the system
// takes them in UTF-16. Names that Windows allows but that are no valid
// UTF-16 (a lone surrogate) travel in the generalized form of UTF-8 that
// keeps such units, and come back whole. Only the Windows build has this.

#include "base/WindowsText.h"

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kestrawin::io {

using kestrawin::SystemErrorText;
using kestrawin::Utf8FromWide;
using kestrawin::WideFromUtf8;

// The absolute form of a path, as opening it resolves it (".." and "."
// taken away, relative paths against the current folder), with the prefix
// that lifts the length limit: "\\?\C:\..." or "\\?\UNC\server\share\...".
// A path that already has the prefix is taken as it stands; a device
// ("\\.\...", or a name such as NUL) keeps its device form. Nothing when the
// path is no text.
[[nodiscard]] std::optional<std::wstring> LongAbsolutePath(std::string_view utf8);

// A long absolute path parted at its last separator; the folder of a root's
// child keeps its separator ("\\?\C:\").
struct WidePathParts {
    std::wstring folder;
    std::wstring name;
};
[[nodiscard]] WidePathParts SplitLongPath(const std::wstring& path);
// A name within a folder given as above.
[[nodiscard]] std::wstring ChildPath(const std::wstring& folder, std::wstring_view name);

// A handle, closed when its owner goes.
class OwnedHandle {
public:
    OwnedHandle() = default;
    explicit OwnedHandle(HANDLE h) noexcept : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~OwnedHandle() { reset(); }
    OwnedHandle(OwnedHandle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept
    {
        if (this != &other) reset(std::exchange(other.h_, nullptr));
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    [[nodiscard]] HANDLE get() const { return h_; }
    [[nodiscard]] bool valid() const { return h_ != nullptr; }
    // Closes what is held and takes `h` instead; the last error stays as it
    // was, so that reset(CreateFileW(...)) still tells why the open failed.
    void reset(HANDLE h = nullptr) noexcept
    {
        if (h_) {
            const DWORD saved = GetLastError();
            CloseHandle(h_);
            SetLastError(saved);
        }
        h_ = h == INVALID_HANDLE_VALUE ? nullptr : h;
    }

private:
    HANDLE h_ = nullptr;
};

} // namespace kestrawin::io
