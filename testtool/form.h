// The form's controls as the handlers see them: text boxes, buttons and timers, reached through
// the control arrays by element index. The window implements it (form_window.h); tests supply
// their own. Everything here is called on the form's thread.
#pragma once

#include <windows.h>

#include <string>

namespace mirelo {

enum class BoxArray { kDataInterval, kDataNum, kDataValue };
enum class ButtonArray { kReadInterval, kReadNum, kStart, kStop };
enum class TimerName { kReadTimer1, kReadTimer2 };

class TextBox {
public:
    virtual std::wstring Text() const = 0;
    virtual void SetText(const std::wstring& text) = 0;

protected:
    ~TextBox() = default;
};

class Button {
public:
    virtual void SetEnabled(bool enabled) = 0;

protected:
    ~Button() = default;
};

// A timer ticks every Interval milliseconds while it is enabled and its interval is not 0.
class Timer {
public:
    virtual void SetInterval(UINT milliseconds) = 0;
    virtual void SetEnabled(bool enabled) = 0;

protected:
    ~Timer() = default;
};

class Form {
public:
    // Element index of a control array, owned by the form; DISP_E_BADINDEX and null when the
    // array has no such element.
    [[nodiscard]] virtual HRESULT Box(BoxArray array, int index, TextBox** box) = 0;
    [[nodiscard]] virtual HRESULT ButtonAt(ButtonArray array, int index, Button** button) = 0;
    virtual Timer& TimerNamed(TimerName name) = 0;

protected:
    ~Form() = default;
};

// The events the form delivers to its handlers.
class FormEvents {
public:
    virtual void OnClick(ButtonArray array, int index) noexcept = 0;
    virtual void OnTick(TimerName timer) noexcept = 0;

protected:
    ~FormEvents() = default;
};

}  // namespace mirelo
