// Drawing shared by the controls: the palette, the interface font, gradients,
// PNG pictures from the resources (decoded with WIC) and the see-through
// background of controls that sit on a gradient panel.
#pragma once

#include <windows.h>

#include "base/ScopedWin.h"

namespace zelt {

namespace palette {
inline constexpr COLORREF kNavy = RGB(0, 0, 128);
inline constexpr COLORREF kGrey = RGB(128, 128, 128);
inline constexpr COLORREF kText = RGB(0, 0, 0);
// Panel: a quiet top-to-bottom gradient.
inline constexpr COLORREF kPanelTop = RGB(250, 251, 253);
inline constexpr COLORREF kPanelBottom = RGB(229, 234, 242);
// Header strip: accent blue, darker at the top.
inline constexpr COLORREF kStripTop = RGB(38, 84, 156);
inline constexpr COLORREF kStripBottom = RGB(62, 116, 196);
inline constexpr COLORREF kStripText = RGB(255, 255, 255);
// Buttons in their four states.
inline constexpr COLORREF kButtonTop = RGB(253, 253, 253);
inline constexpr COLORREF kButtonBottom = RGB(232, 234, 238);
inline constexpr COLORREF kButtonBorder = RGB(173, 178, 186);
inline constexpr COLORREF kHotTop = RGB(240, 247, 254);
inline constexpr COLORREF kHotBottom = RGB(215, 233, 250);
inline constexpr COLORREF kHotBorder = RGB(0, 120, 215);
inline constexpr COLORREF kDownTop = RGB(204, 228, 247);
inline constexpr COLORREF kDownBottom = RGB(190, 220, 245);
inline constexpr COLORREF kDownBorder = RGB(0, 84, 153);
inline constexpr COLORREF kDisabledText = RGB(160, 160, 160);
// Progress bar fill.
inline constexpr COLORREF kBarTop = RGB(96, 178, 96);
inline constexpr COLORREF kBarBottom = RGB(50, 140, 50);
}  // namespace palette

// High contrast: while the system's high-contrast mode is on, every drawing
// takes the system's colours (a solid face and its text, the caption, the
// highlight) instead of the gradients and the designed colours. Windows
// follow a change of the mode at their next paint (TForm repaints them all
// on WM_SYSCOLORCHANGE and WM_SETTINGCHANGE).
bool HighContrast();
// -1 follows the system; 0 or 1 force the mode (tests).
void SetHighContrastOverride(int mode);
// `designed` normally; the system colour `sysIndex` (COLOR_*) in high contrast.
COLORREF SchemeColour(COLORREF designed, int sysIndex);
// A top-to-bottom gradient normally; solid in the system colour `sysIndex`
// in high contrast.
void FillScheme(HDC dc, const RECT& rc, COLORREF from, COLORREF to, int sysIndex);

// The interface font: "MS Sans Serif", height -11 at 96 DPI (8 points at
// others), Cyrillic character set. Shared, never freed by callers.
HFONT UiFont(bool bold = false);

// Fills rc with a two-colour gradient, top to bottom (or left to right).
void FillGradient(HDC dc, const RECT& rc, COLORREF from, COLORREF to, bool vertical = true);
void FillSolid(HDC dc, const RECT& rc, COLORREF colour);
void FrameRect(HDC dc, const RECT& rc, COLORREF colour);
// Rounded frame of one pixel with corners cut by `radius` pixels.
void FrameRounded(HDC dc, const RECT& rc, COLORREF colour, int radius);

// The extent of a text drawn in `font` on the window (DrawText with
// DT_CALCRECT | DT_NOPREFIX and `format`); an empty text is one line high
// and no wider than nothing.
SIZE TextExtent(HWND window, const std::wstring& text, HFONT font, UINT format);

// Paints what the parent shows behind `child` into the child's DC, so a
// control on a gradient looks transparent. The parent answers WM_PRINTCLIENT.
void PaintParentBackground(HWND child, HDC dc);

// The answer to WM_CTLCOLORSTATIC/WM_CTLCOLORBTN for a button-class control
// on a gradient: a brush holding a picture of the parent behind it (kept in
// `holder`), transparent text mode and the text colour (greyed when disabled).
HBRUSH SeeThroughBrush(HWND control, HDC dc, TScopedBrush& holder, COLORREF text);

// A PNG of resource type "PNG" decoded to a 32-bit premultiplied bitmap of
// size96 x size96 pixels at 96 DPI, scaled to the current DPI: the picture
// drawn for that size (resource NAME_<pixels>) where there is one, else the
// 100 % picture scaled. Empty when the resource is missing or cannot be decoded.
TScopedBitmap LoadPngResource(const char* name, int size96);
// Draws a 32-bit premultiplied bitmap at x, y with its alpha channel.
void DrawAlphaBitmap(HDC dc, HBITMAP bmp, int x, int y, bool faded = false);
SIZE BitmapSize(HBITMAP bmp);

}  // namespace zelt
