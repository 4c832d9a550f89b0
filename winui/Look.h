// SPDX-License-Identifier: Apache-2.0
#pragma once
// The window's colours and fonts: its own fixed colours, or the system's
// when Windows asks for high contrast; Tahoma at 11 pixels and the title's
// bold Arial at 13.

#include <windows.h>

namespace kestrawin::winui {

struct Colours {
    COLORREF face = RGB(240, 240, 240);        // the pages, bars, password fields
    COLORREF messageArea = RGB(193, 217, 255); // the Main and Outcome pages' message
    COLORREF paper = RGB(255, 255, 255);       // title band, white areas
    COLORREF ink = RGB(0, 0, 0);               // the lines in black
    COLORREF boxFrame = RGB(200, 200, 200);
    COLORREF buttons = RGB(0, 0, 255); // the buttons' captions
    COLORREF link = RGB(0, 0, 255);
    COLORREF navy = RGB(0, 0, 128); // the outcome, the Decryption box's caption
    COLORREF olive = RGB(128, 128, 0);
    COLORREF disabled = RGB(128, 128, 128);
    // The system's window text: the Main page's second line, the typed stars.
    COLORREF windowText = RGB(0, 0, 0);
    bool highContrast = false;
};

// The contrast ratio of two colours, 1 (the same) to 21 (black on white).
[[nodiscard]] double ContrastRatio(COLORREF a, COLORREF b);
// `preferred` where it reads on `background` (4.5 and more), else black.
[[nodiscard]] COLORREF Readable(COLORREF preferred, COLORREF background);

// The window's colours: with `highContrast`, the system's window text and
// background (and its link colour, where that reads) in place of its own.
[[nodiscard]] Colours ColoursFor(bool highContrast);
// Whether Windows asks for high contrast now (SPI_GETHIGHCONTRAST).
[[nodiscard]] bool SystemHighContrast();

struct Fonts {
    HFONT text = nullptr;       // Tahoma, 11 pixels
    HFONT underlined = nullptr; // the same, underlined
    HFONT title = nullptr;      // Arial, 13 pixels, bold

    Fonts();
    ~Fonts();
    Fonts(const Fonts&) = delete;
    Fonts& operator=(const Fonts&) = delete;
};

} // namespace kestrawin::winui
