// SPDX-License-Identifier: Apache-2.0
#pragma once
// Fonts, colours and the look of the controls, so that the pixel layout of
// the pages holds on any desktop.

#include <QColor>
#include <QFont>
#include <QString>

class QApplication;
class QPalette;

namespace kestrawin::ui::style {

inline const QColor Face{240, 240, 240}; // notebook, bars, password fields
inline const QColor MessageArea{193, 217, 255};
inline const QColor Blue{0, 0, 255};
inline const QColor Navy{0, 0, 128};
inline const QColor Olive{128, 128, 0};

// The colours the window is drawn in. Its own, fixed ones; or, when the
// desktop asks for high contrast, the desktop's text and background colours
// in their place (the sizes stay as they are).
struct Colours {
    QColor face = Face;               // notebook, bars, password fields
    QColor messageArea = MessageArea; // the Main and Error pages' message
    QColor paper{255, 255, 255};      // title band, the pages' white areas, the boxes
    QColor ink{0, 0, 0};              // the lines in black
    QColor boxFrame{200, 200, 200};
    QColor buttons = Blue; // the buttons' captions
    QColor link = Blue;
    QColor navy = Navy;   // the status text, the Decryption box's caption
    QColor olive = Olive; // the title
    bool highContrast = false;
};

// The window's colours under a desktop with these colours and this theme
// (see DesktopThemeName): high contrast when the theme's name says so
// ("HighContrast", and white on black for "HighContrastInverse" or a
// ":dark" variant), or when the desktop's own text and background are
// black and white.
[[nodiscard]] Colours ColoursFor(const QPalette& desktop, const QString& themeName);

// The name of the GTK theme the desktop asks for: $GTK_THEME, else the theme
// of the GTK that the toolkit loaded, else gtk-theme-name in GTK's
// settings.ini under `configHome`.
[[nodiscard]] QString DesktopThemeName(const QString& configHome);

// The window's text at 11 pixels: the original face when installed, else a
// metric-compatible or narrow one, so that no text is clipped.
QFont DefaultFont();
// The title band's bold 13-pixel face.
QFont TitleFont();

// The Fusion style with password characters shown as "*", and the default font.
void Apply(QApplication& app);

} // namespace kestrawin::ui::style
