// The form read_timer as a plain Win32 window: the child controls of form_layout.h placed by the
// screen's DPI, the three lines, and the two timers. It implements Form for the handlers and
// delivers button clicks and timer ticks to a FormEvents sink. Owned by the program's main (or a
// test); created, called and destroyed on one thread, which runs the message loop.
#pragma once

#include <windows.h>

#include <memory>
#include <map>

#include "base/unique_handle.h"
#include "testtool/form.h"
#include "testtool/form_layout.h"

namespace mirelo {

class FormWindow final : public Form {
public:
    // Creates the window and every control, hidden. With quitWhenDestroyed the window posts
    // WM_QUIT when it is destroyed (closing the form ends the program). iconId, when not 0, is
    // the icon resource of module for the window.
    [[nodiscard]] static HRESULT Create(HINSTANCE module, UINT iconId, bool quitWhenDestroyed,
                                        std::unique_ptr<FormWindow>* out);
    ~FormWindow();
    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;

    HWND Hwnd() const noexcept { return hwnd_; }
    int DpiX() const noexcept { return dpiX_; }
    int DpiY() const noexcept { return dpiY_; }

    // Where clicks and ticks go; null drops them. The sink must outlive the window or be reset.
    void SetEvents(FormEvents* events) noexcept { events_ = events; }

    // Shows the window and puts the focus on the first control of the tab order.
    void Show(int cmdShow) noexcept;

    // Form
    [[nodiscard]] HRESULT Box(BoxArray array, int index, TextBox** box) override;
    [[nodiscard]] HRESULT ButtonAt(ButtonArray array, int index, Button** button) override;
    Timer& TimerNamed(TimerName name) override;

private:
    class WindowBox final : public TextBox {
    public:
        explicit WindowBox(HWND hwnd) noexcept : hwnd_(hwnd) {}
        std::wstring Text() const override;
        void SetText(const std::wstring& text) override;

    private:
        HWND hwnd_;
    };

    class WindowButton final : public Button {
    public:
        explicit WindowButton(HWND hwnd) noexcept : hwnd_(hwnd) {}
        void SetEnabled(bool enabled) override;

    private:
        HWND hwnd_;
    };

    class WindowTimer final : public Timer {
    public:
        WindowTimer(HWND form, UINT_PTR id) noexcept : form_(form), id_(id) {}
        void SetInterval(UINT milliseconds) override;
        void SetEnabled(bool enabled) override;

    private:
        void Apply() noexcept;
        HWND form_;
        UINT_PTR id_;
        // A new form's timers: interval 0 and enabled, which does not tick.
        UINT interval_ = 0;
        bool enabled_ = true;
    };

    FormWindow() noexcept = default;
    [[nodiscard]] HRESULT Build(HINSTANCE module, UINT iconId) noexcept;
    void Paint() noexcept;
    void OnActivate(bool active) noexcept;
    void KeepFocusAfterClick(HWND clicked) noexcept;
    // The child-window identifier of the enabled button that has the focus, or 0.
    int FocusedButtonId() const noexcept;
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) noexcept;

    HWND hwnd_ = nullptr;
    bool quitWhenDestroyed_ = false;
    int dpiX_ = 96;
    int dpiY_ = 96;
    base::UniqueGdiObject font_;
    FormEvents* events_ = nullptr;
    HWND lastFocus_ = nullptr;
    // Array elements by array, then by index.
    std::map<ControlArray, std::map<int, WindowBox>> boxes_;
    std::map<ControlArray, std::map<int, WindowButton>> buttons_;
    std::unique_ptr<WindowTimer> timers_[2];
};

// Runs the message loop until WM_QUIT, with the dialog keys on form: Tab and Shift+Tab move
// between its controls, Space and Enter press the focused button. Returns WM_QUIT's exit code.
int RunMessageLoop(HWND form) noexcept;

}  // namespace mirelo
