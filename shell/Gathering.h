// SPDX-License-Identifier: Apache-2.0
#pragma once
// Several files chosen at once in the file manager, when it starts one
// process per file: the first of those processes gathers the paths of the
// others, which hand theirs over and end, so that one window and one
// password serve them all. The gathering stays open for a short while after
// each newcomer; a process that comes after it closed starts a gathering of
// its own. Toolkit-free; the Windows build implements it over a named pipe
// per user and logon session (GatheringWindows.cpp).

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace kestrawin::shell {

struct GatheringOptions {
    // Keeps gatherings apart: a program's own, tests' own.
    std::wstring name = L"Kestrawin";
    // The gathering closes after this long without a newcomer...
    std::chrono::milliseconds quiet{500};
    // ...and at the latest this long after it opened.
    std::chrono::milliseconds longest{5000};
    // How long a newcomer tries to reach a gathering that is busy before it
    // gives up and goes on alone: well past `longest`, as a lead busy with
    // other newcomers on a loaded machine still gets to it, or closes (a
    // lead that hangs is what it is for).
    std::chrono::milliseconds patience{20000};
};

class Gathering {
public:
    // Joins the gathering of `group` (the request, such as the command line's
    // switch: files to encrypt and files to decrypt gather apart) with `path`.
    // Either the path was handed over to the gathering's first process (end
    // without a window), or this process leads a gathering, which listens in
    // the background from now on, so the window can open meanwhile.
    [[nodiscard]] static Gathering Join(const std::filesystem::path& path,
                                        const std::wstring& group,
                                        const GatheringOptions& options = {});

    Gathering(Gathering&&) noexcept;
    Gathering& operator=(Gathering&&) noexcept;
    ~Gathering(); // closes the gathering: who comes after starts their own
    Gathering(const Gathering&) = delete;
    Gathering& operator=(const Gathering&) = delete;

    [[nodiscard]] bool handedOver() const { return handedOver_; }

    // For the leader: waits until the gathering has closed, then gives its
    // own path and every one handed over, each once, sorted by name without
    // regard to letter case (the order does not depend on who came first).
    // For a process that handed its path over: nothing.
    [[nodiscard]] std::vector<std::filesystem::path> Finish();

private:
    struct Listener;
    Gathering() = default;
    bool handedOver_ = false;
    std::unique_ptr<Listener> listener_;
};

} // namespace kestrawin::shell
