// SPDX-License-Identifier: Apache-2.0
#include "Contrast.h"

#include <algorithm>
#include <cmath>

namespace kestrawin::ui::contrast {
namespace {

double Channel(double value)
{
    return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& colour)
{
    const QColor rgb = colour.toRgb();
    return 0.2126 * Channel(rgb.redF()) + 0.7152 * Channel(rgb.greenF())
           + 0.0722 * Channel(rgb.blueF());
}

} // namespace

double Ratio(const QColor& a, const QColor& b)
{
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor Readable(const QColor& preferred, const QColor& background)
{
    return Ratio(preferred, background) >= kMinimum ? preferred : QColor(Qt::black);
}

} // namespace kestrawin::ui::contrast
