// SPDX-License-Identifier: Apache-2.0
#pragma once
// Text colours that stay readable on the window's fixed backgrounds whatever
// the desktop's colour scheme.

#include <QColor>

namespace kestrawin::ui::contrast {

// The least contrast for ordinary text.
inline constexpr double kMinimum = 4.5;

// The contrast ratio of two colours, from 1 (the same) to 21 (black on white),
// by their relative luminance.
[[nodiscard]] double Ratio(const QColor& a, const QColor& b);

// `preferred` (the desktop's text colour) where it reads on `background`,
// black where it does not.
[[nodiscard]] QColor Readable(const QColor& preferred, const QColor& background);

} // namespace kestrawin::ui::contrast
