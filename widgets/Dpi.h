// Every position and size in the windows is written as its value at 96 DPI and
// goes through Scale(), so the windows keep their proportions at 125 % and
// 150 %. Tests force a DPI with SetDpiOverride.
#pragma once

#include <windows.h>

namespace zelt {

// The DPI the windows are laid out for: the override when set, else the system's.
int CurrentDpi();
// 0 returns to the system's DPI.
void SetDpiOverride(int dpi);
// A 96-DPI length at the current DPI, rounded to the nearest pixel.
int Scale(int px96);
RECT ScaleRect(int x, int y, int w, int h);

}  // namespace zelt
