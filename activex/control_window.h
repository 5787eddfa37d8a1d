// The child window of an in-place active control: made in the container's window, painted with the
// control's Picture, moved and clipped to the rectangles the container gives. Its window class is
// the module's own, registered on first use and given back when the module is unloaded.
//
// Owned by the OLE object part; made, called and destroyed on the control's apartment thread, where
// its window procedure runs.
#pragma once

#include <windows.h>

#include "activex/control_parts.h"

namespace activex {

class ControlWindow {
public:
    explicit ControlWindow(Picture& picture) noexcept : picture_(picture) {}
    ~ControlWindow() { Destroy(); }
    ControlWindow(const ControlWindow&) = delete;
    ControlWindow& operator=(const ControlWindow&) = delete;

    // A hidden child of parent at pos, clipped to clip (rectangles in parent's client coordinates).
    [[nodiscard]] HRESULT Create(HWND parent, const RECT& pos, const RECT& clip) noexcept;
    void Destroy() noexcept;
    HWND get() const noexcept { return hwnd_; }

    // Each does nothing while there is no window.
    void SetRects(const RECT& pos, const RECT& clip) noexcept;
    void Show(bool visible) noexcept;
    // Asks for a repaint of the whole window; false when there is none.
    bool Invalidate() noexcept;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;
    void OnPaint(HWND hwnd) noexcept;

    Picture& picture_;
    HWND hwnd_ = nullptr;
};

}  // namespace activex
