// The screen's logical DPI as GDI gives it to this process (96 at 100 %), for sizes set in points,
// twips or HIMETRIC. Any thread.
#pragma once

#include <windows.h>

namespace base {

// 96 both ways when the screen's device context cannot be had.
inline SIZE ScreenDpi() noexcept {
    SIZE dpi{96, 96};
    if (HDC screen = ::GetDC(nullptr)) {
        dpi.cx = ::GetDeviceCaps(screen, LOGPIXELSX);
        dpi.cy = ::GetDeviceCaps(screen, LOGPIXELSY);
        ::ReleaseDC(nullptr, screen);
    }
    return dpi;
}

}  // namespace base
