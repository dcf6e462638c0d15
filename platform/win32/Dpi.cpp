#include "platform/win32/Dpi.h"

namespace veldrix {

int ScreenDpi() {
    static const int dpi = [] {
        HDC screen = GetDC(nullptr);
        int value = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
        if (screen) ReleaseDC(nullptr, screen);
        return value > 0 ? value : 96;
    }();
    return dpi;
}

int Scaled(int pixels) { return MulDiv(pixels, ScreenDpi(), 96); }

RECT Scaled(const RECT& r) { return {Scaled(r.left), Scaled(r.top), Scaled(r.right), Scaled(r.bottom)}; }

}  // namespace veldrix
