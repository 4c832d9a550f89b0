// SPDX-License-Identifier: Apache-2.0
#pragma once
// Where a window goes among the user's open windows of this program, so that
// two never sit exactly on top of each other. The number of the window (its
// slot) comes from WindowSlot on Linux and from the windows already open on
// Windows.

namespace kestrawin::startup {

struct Placement {
    int x = 0;
    int y = 0;
};

// Where a window of width by height goes: centred in the area for number 0,
// then one step down and right per number, starting over at the centre before
// the window would leave the area.
[[nodiscard]] Placement PlaceWindow(int slot, int areaX, int areaY, int areaWidth, int areaHeight,
                                    int width, int height);

} // namespace kestrawin::startup
