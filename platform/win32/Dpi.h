#pragma once
// The display's scale. The program is system-DPI aware (its manifest says
// so): Windows draws it at the display's own resolution instead of
// stretching a 96-DPI bitmap, so every pixel size of the layout and its fonts
// is scaled here, once, by the DPI the system had when the program started.
#include <windows.h>

namespace veldrix {

// Pixels per logical inch of the screen (96 at 100 %, 120 at 125 %, 144 at 150 %).
int ScreenDpi();
// A length of the 96-DPI layout at the screen's DPI.
int Scaled(int pixels);
RECT Scaled(const RECT& r);

}  // namespace veldrix
