// SPDX-License-Identifier: Apache-2.0
#pragma once
// Which of the user's open windows this one is. Each window holds a lock on
// one numbered file in a per-user folder for as long as it lives (the lock
// dies with the process, however it ends); a new window takes the lowest free
// number and is placed that many steps away from the centre, so two windows
// never sit exactly on top of each other.

#include "Placement.h"

#include <string>

namespace kestrawin::startup {

class WindowSlot {
public:
    WindowSlot() = default;
    ~WindowSlot();
    WindowSlot(WindowSlot&& other) noexcept;
    WindowSlot& operator=(WindowSlot&& other) noexcept;
    WindowSlot(const WindowSlot&) = delete;
    WindowSlot& operator=(const WindowSlot&) = delete;

    // Takes the lowest free number in `folder` (created, private to the
    // user). Number 0 without a lock when the folder cannot be used.
    [[nodiscard]] static WindowSlot Take(const std::string& folder);
    [[nodiscard]] int index() const { return index_; }

    // $XDG_RUNTIME_DIR/kestrawin, else a private folder under /tmp.
    [[nodiscard]] static std::string DefaultFolder();

    static constexpr int kMaxSlots = 64;

private:
    int fd_ = -1;
    int index_ = 0;
};

} // namespace kestrawin::startup
