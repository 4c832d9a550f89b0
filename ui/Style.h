// SPDX-License-Identifier: Apache-2.0
#pragma once
// Fonts, colours and the look of the controls, so that the pixel layout of
// the pages holds on any desktop.

#include <QColor>
#include <QFont>

class QApplication;

namespace kestrawin::ui::style {

inline const QColor Face{240, 240, 240}; // notebook, bars, password fields
inline const QColor MessageArea{193, 217, 255};
inline const QColor Blue{0, 0, 255};
inline const QColor Navy{0, 0, 128};
inline const QColor Olive{128, 128, 0};

// The window's text at 11 pixels: the original face when installed, else a
// metric-compatible or narrow one, so that no text is clipped.
QFont DefaultFont();
// The title band's bold 13-pixel face.
QFont TitleFont();

// The Fusion style with password characters shown as "*", and the default font.
void Apply(QApplication& app);

} // namespace kestrawin::ui::style
