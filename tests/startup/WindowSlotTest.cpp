// SPDX-License-Identifier: Apache-2.0
// Windows opened one after another each get their own place on the screen.

#include "Child.h"

#include "startup/WindowSlot.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

using namespace kestrawin::startup;

namespace {

struct Folder {
    Folder()
    {
        char name[] = "/tmp/kw-slots-XXXXXX";
        path = mkdtemp(name);
    }
    ~Folder() { std::filesystem::remove_all(path); }
    std::string path;
};

} // namespace

TEST(WindowSlot, EachOpenWindowHasItsOwnNumberAndAFreedNumberIsReused)
{
    Folder f;
    const std::string folder = f.path + "/kestrawin";
    WindowSlot first = WindowSlot::Take(folder);
    WindowSlot second = WindowSlot::Take(folder);
    WindowSlot third = WindowSlot::Take(folder);
    EXPECT_EQ(first.index(), 0);
    EXPECT_EQ(second.index(), 1);
    EXPECT_EQ(third.index(), 2);
    second = WindowSlot(); // that window closed
    EXPECT_EQ(WindowSlot::Take(folder).index(), 1);

    // A window whose process died, however, frees its number.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = kwtest::Fork([&] {
        WindowSlot held = WindowSlot::Take(folder);
        const char index = static_cast<char>(held.index());
        if (write(ready[1], &index, 1) != 1) return 1;
        pause();
        return 0;
    });
    char index = -1;
    ASSERT_EQ(read(ready[0], &index, 1), 1);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(WindowSlot::Take(folder).index(), 3);
    kill(child, SIGKILL);
    EXPECT_EQ(kwtest::Wait(child), 128 + SIGKILL);
    EXPECT_EQ(WindowSlot::Take(folder).index(), 1);

    // A folder that cannot be used gives number 0: the window still opens.
    EXPECT_EQ(WindowSlot::Take("/proc/no-such-place/kestrawin").index(), 0);
    EXPECT_EQ(WindowSlot::Take("").index(), 0);
}

TEST(WindowSlot, PlacesStepAwayFromTheCentreAndStayOnTheScreen)
{
    const Placement centre = PlaceWindow(0, 0, 0, 1000, 800, 200, 150);
    EXPECT_EQ(centre.x, 400);
    EXPECT_EQ(centre.y, 325);
    const Placement next = PlaceWindow(1, 0, 0, 1000, 800, 200, 150);
    EXPECT_GT(next.x, centre.x);
    EXPECT_GT(next.y, centre.y);
    for (int slot = 0; slot < WindowSlot::kMaxSlots; ++slot)
        for (auto [w, h] : {std::pair{1000, 800}, std::pair{320, 240}, std::pair{200, 150},
                            std::pair{150, 100}}) {
            const Placement p = PlaceWindow(slot, 10, 20, w, h, 200, 150);
            EXPECT_GE(p.x, 10);
            EXPECT_GE(p.y, 20);
            if (w >= 200) {
                EXPECT_LE(p.x + 200, 10 + w) << slot;
            }
            if (h >= 150) {
                EXPECT_LE(p.y + 150, 20 + h) << slot;
            }
        }
}
