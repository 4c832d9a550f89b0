// SPDX-License-Identifier: Apache-2.0
#include "Look.h"

#include <algorithm>
#include <cmath>

namespace kestrawin::winui {
namespace {

double Channel(int value)
{
    const double v = value / 255.0;
    return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double Luminance(COLORREF c)
{
    return 0.2126 * Channel(GetRValue(c)) + 0.7152 * Channel(GetGValue(c))
           + 0.0722 * Channel(GetBValue(c));
}

HFONT MakeFont(const wchar_t* face, int pixels, bool bold, bool underlined)
{
    return CreateFontW(-pixels, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE,
                       underlined ? TRUE : FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, face);
}

} // namespace

double ContrastRatio(COLORREF a, COLORREF b)
{
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

COLORREF Readable(COLORREF preferred, COLORREF background)
{
    return ContrastRatio(preferred, background) >= 4.5 ? preferred : RGB(0, 0, 0);
}

Colours ColoursFor(bool highContrast)
{
    Colours colours;
    colours.windowText = GetSysColor(COLOR_WINDOWTEXT);
    if (!highContrast) return colours;
    const COLORREF text = GetSysColor(COLOR_WINDOWTEXT);
    const COLORREF background = GetSysColor(COLOR_WINDOW);
    COLORREF link = GetSysColor(COLOR_HOTLIGHT);
    if (ContrastRatio(link, background) < 7) link = text;
    colours.face = colours.messageArea = colours.paper = background;
    colours.ink = colours.boxFrame = colours.buttons = colours.navy = colours.olive = text;
    colours.windowText = text;
    colours.link = link;
    colours.disabled = GetSysColor(COLOR_GRAYTEXT);
    if (ContrastRatio(colours.disabled, background) < 3) colours.disabled = text;
    colours.highContrast = true;
    return colours;
}

bool SystemHighContrast()
{
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof contrast;
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0)
           && (contrast.dwFlags & HCF_HIGHCONTRASTON);
}

Fonts::Fonts()
    : text(MakeFont(L"Tahoma", 11, false, false)), underlined(MakeFont(L"Tahoma", 11, false, true)),
      title(MakeFont(L"Arial", 13, true, false))
{}

Fonts::~Fonts()
{
    for (HFONT font : {text, underlined, title})
        if (font) DeleteObject(font);
}

} // namespace kestrawin::winui
