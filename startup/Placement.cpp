// SPDX-License-Identifier: Apache-2.0
#include "Placement.h"

#include <algorithm>

namespace kestrawin::startup {
namespace {

constexpr int kStep = 28; // about a title bar: the window below stays visible

} // namespace

Placement PlaceWindow(int slot, int areaX, int areaY, int areaWidth, int areaHeight, int width,
                      int height)
{
    const int roomX = std::max(0, (areaWidth - width) / 2);
    const int roomY = std::max(0, (areaHeight - height) / 2);
    const int steps = std::max(1, std::min(roomX, roomY) / kStep + 1);
    const int offset = (std::max(slot, 0) % steps) * kStep;
    return {areaX + roomX + offset, areaY + roomY + offset};
}

} // namespace kestrawin::startup
