#include "testtool/form_window.h"

#include <utility>

#include "base/hresult.h"
#include "base/screen.h"

namespace mirelo {
namespace {

// A fixed single border with a minimise button: the layout has one size only.
constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = 0;

// The form's default font, which every control uses: 9 point SimSun, the classic face for
// Chinese dialogs (the prefix under Wine maps it onto an installed Chinese font).
constexpr int kFontPoints = 9;
constexpr wchar_t kFontFace[] = L"SimSun";

constexpr UINT_PTR kTimerIds[2] = {1, 2};

[[nodiscard]] HRESULT RegisterFormClass(HINSTANCE module, UINT iconId, WNDPROC proc) noexcept {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = module;
    wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszClassName = kFormClassName;
    if (iconId != 0) {
        wc.hIcon =
            static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(iconId), IMAGE_ICON,
                                            ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0));
        wc.hIconSm = static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(iconId), IMAGE_ICON,
                                                     ::GetSystemMetrics(SM_CXSMICON),
                                                     ::GetSystemMetrics(SM_CYSMICON), 0));
    }
    if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return base::HResultFromLastError();
    }
    return S_OK;
}

}  // namespace

std::wstring FormWindow::WindowBox::Text() const {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(hwnd_)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(hwnd_, text.data(), static_cast<int>(text.size()))));
    return text;
}

void FormWindow::WindowBox::SetText(const std::wstring& text) { ::SetWindowTextW(hwnd_, text.c_str()); }

void FormWindow::WindowButton::SetEnabled(bool enabled) { ::EnableWindow(hwnd_, enabled ? TRUE : FALSE); }

void FormWindow::WindowTimer::SetInterval(UINT milliseconds) {
    interval_ = milliseconds;
    Apply();
}

void FormWindow::WindowTimer::SetEnabled(bool enabled) {
    enabled_ = enabled;
    Apply();
}

void FormWindow::WindowTimer::Apply() noexcept {
    if (enabled_ && interval_ != 0) {
        ::SetTimer(form_, id_, interval_, nullptr);
    } else {
        ::KillTimer(form_, id_);
    }
}

HRESULT FormWindow::Create(HINSTANCE module, UINT iconId, bool quitWhenDestroyed,
                           std::unique_ptr<FormWindow>* out) {
    RETURN_HR_IF_NULL(E_POINTER, out);
    out->reset();
    std::unique_ptr<FormWindow> form(new FormWindow());
    form->quitWhenDestroyed_ = quitWhenDestroyed;
    RETURN_IF_FAILED(form->Build(module, iconId));
    *out = std::move(form);
    return S_OK;
}

FormWindow::~FormWindow() {
    if (hwnd_) {
        quitWhenDestroyed_ = false;
        ::DestroyWindow(hwnd_);
    }
}

HRESULT FormWindow::Build(HINSTANCE module, UINT iconId) noexcept {
    RETURN_IF_FAILED(RegisterFormClass(module, iconId, &FormWindow::WindowProc));

    const SIZE dpi = base::ScreenDpi();
    dpiX_ = dpi.cx;
    dpiY_ = dpi.cy;

    RECT frame{0, 0, TwipsToPixels(kClientWidthTwips, dpiX_), TwipsToPixels(kClientHeightTwips, dpiY_)};
    RETURN_LAST_ERROR_IF(!::AdjustWindowRectEx(&frame, kFormStyle, FALSE, kFormExStyle));
    // The window system picks the position, as for any new window.
    HWND hwnd = ::CreateWindowExW(kFormExStyle, kFormClassName, kFormCaption, kFormStyle, CW_USEDEFAULT,
                                  CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                  nullptr, module, this);
    RETURN_LAST_ERROR_IF(!hwnd);

    font_.reset(::CreateFontW(-::MulDiv(kFontPoints, dpiY_, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                              GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                              DEFAULT_PITCH | FF_DONTCARE, kFontFace));

    try {
        // Created in tab-index order: the z-order of child windows is the keyboard tab order.
        for (const ControlLayout& c : FormControls()) {
            const wchar_t* cls = L"STATIC";
            DWORD style = WS_CHILD | WS_VISIBLE;
            DWORD exStyle = 0;
            switch (c.kind) {
                case ControlKind::kLabel: style |= SS_LEFT | SS_NOPREFIX; break;
                case ControlKind::kTextBox:
                    cls = L"EDIT";
                    style |= WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
                    exStyle = WS_EX_CLIENTEDGE;
                    break;
                case ControlKind::kButton:
                    cls = L"BUTTON";
                    style |= WS_TABSTOP | BS_PUSHBUTTON;
                    break;
            }
            if (!c.enabled) style |= WS_DISABLED;
            const int id = ControlId(c.array, c.index);
            HWND child = ::CreateWindowExW(
                exStyle, cls, c.text.c_str(), style, TwipsToPixels(c.left, dpiX_),
                TwipsToPixels(c.top, dpiY_), TwipsToPixels(c.width, dpiX_), TwipsToPixels(c.height, dpiY_),
                hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), module, nullptr);
            RETURN_LAST_ERROR_IF(!child);
            if (font_) ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
            // The boxes have no length limit of their own: 0 lifts the edit control's default.
            if (c.kind == ControlKind::kTextBox) ::SendMessageW(child, EM_LIMITTEXT, 0, 0);
            switch (c.kind) {
                case ControlKind::kTextBox: boxes_[c.array].emplace(c.index, WindowBox(child)); break;
                case ControlKind::kButton: buttons_[c.array].emplace(c.index, WindowButton(child)); break;
                case ControlKind::kLabel: break;
            }
        }
        for (int t = 0; t < 2; ++t) timers_[t] = std::make_unique<WindowTimer>(hwnd, kTimerIds[t]);
    }
    CATCH_RETURN()
    return S_OK;
}

namespace {

// Element index of a control array in arrays (boxes_ or buttons_); DISP_E_BADINDEX when there is none.
template <typename Arrays, typename Element>
[[nodiscard]] HRESULT FindElement(Arrays& arrays, ControlArray array, int index, Element** element) {
    RETURN_HR_IF_NULL(E_POINTER, element);
    *element = nullptr;
    auto a = arrays.find(array);
    RETURN_HR_IF(DISP_E_BADINDEX, a == arrays.end());
    auto e = a->second.find(index);
    RETURN_HR_IF(DISP_E_BADINDEX, e == a->second.end());
    *element = &e->second;
    return S_OK;
}

}  // namespace

HRESULT FormWindow::Box(BoxArray array, int index, TextBox** box) {
    return FindElement(boxes_, ToControlArray(array), index, box);
}

HRESULT FormWindow::ButtonAt(ButtonArray array, int index, Button** button) {
    return FindElement(buttons_, ToControlArray(array), index, button);
}

Timer& FormWindow::TimerNamed(TimerName name) { return *timers_[name == TimerName::kReadTimer1 ? 0 : 1]; }

void FormWindow::Show(int cmdShow) noexcept {
    ::ShowWindow(hwnd_, cmdShow);
    ::UpdateWindow(hwnd_);
    if (!lastFocus_) {
        if (HWND first = ::GetNextDlgTabItem(hwnd_, nullptr, FALSE)) ::SetFocus(first);
    }
}

void FormWindow::Paint() noexcept {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd_, &ps);
    if (!dc) return;
    base::UniqueGdiObject pen(::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_WINDOWTEXT)));
    HGDIOBJ old = ::SelectObject(dc, pen ? pen.get() : ::GetStockObject(BLACK_PEN));
    for (const LineLayout& line : kFormLines) {
        ::MoveToEx(dc, TwipsToPixels(line.x1, dpiX_), TwipsToPixels(line.y1, dpiY_), nullptr);
        ::LineTo(dc, TwipsToPixels(line.x2, dpiX_), TwipsToPixels(line.y2, dpiY_));
    }
    ::SelectObject(dc, old);
    ::EndPaint(hwnd_, &ps);
}

// A button that disables itself in its click handler (Start, Stop) takes the focus with it; hand
// it to the next control in the tab order as it stands after the handler, so that the keyboard
// goes on working: from Start on to the block's Stop.
void FormWindow::KeepFocusAfterClick(HWND clicked) noexcept {
    if (!hwnd_ || ::GetActiveWindow() != hwnd_) return;
    HWND focus = ::GetFocus();
    if (focus && ::IsWindowEnabled(focus)) return;
    if (HWND next = ::GetNextDlgTabItem(hwnd_, clicked, FALSE)) ::SetFocus(next);
}

int FormWindow::FocusedButtonId() const noexcept {
    HWND focus = ::GetFocus();
    if (!focus || ::GetParent(focus) != hwnd_ || !::IsWindowEnabled(focus)) return 0;
    const int id = ::GetDlgCtrlID(focus);
    ButtonArray array;
    int index = 0;
    return ButtonFromId(id, &array, &index) ? id : 0;
}

// Keeps the keyboard focus on the form's controls across deactivation, as dialogs do.
void FormWindow::OnActivate(bool active) noexcept {
    if (!active) {
        HWND focus = ::GetFocus();
        if (focus && ::IsChild(hwnd_, focus)) lastFocus_ = focus;
        return;
    }
    HWND target =
        lastFocus_ && ::IsWindowEnabled(lastFocus_) ? lastFocus_ : ::GetNextDlgTabItem(hwnd_, nullptr, FALSE);
    if (target) ::SetFocus(target);
}

LRESULT CALLBACK FormWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<FormWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<FormWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(hwnd, message, wParam, lParam);
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT FormWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    switch (message) {
        case WM_COMMAND: {
            ButtonArray array;
            int index = 0;
            if (HIWORD(wParam) == BN_CLICKED && lParam != 0 &&
                ButtonFromId(static_cast<int>(LOWORD(wParam)), &array, &index)) {
                if (events_) events_->OnClick(array, index);
                KeepFocusAfterClick(reinterpret_cast<HWND>(lParam));
                return 0;
            }
            break;
        }
        case DM_GETDEFID:
            // The dialog keys of the message loop ask this when Enter is pressed: the focused
            // button is the default one, as a dialog makes it, so Enter presses it. Without one
            // (the focus in a box) Enter presses nothing.
            if (const int id = FocusedButtonId()) return MAKELRESULT(id, DC_HASDEFID);
            return 0;
        case WM_TIMER:
            for (int t = 0; t < 2; ++t) {
                if (wParam == kTimerIds[t]) {
                    if (events_) events_->OnTick(t == 0 ? TimerName::kReadTimer1 : TimerName::kReadTimer2);
                    return 0;
                }
            }
            break;
        case WM_PAINT: Paint(); return 0;
        case WM_ACTIVATE: OnActivate(LOWORD(wParam) != WA_INACTIVE); return 0;
        case WM_DESTROY:
            ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
            hwnd_ = nullptr;
            if (quitWhenDestroyed_) ::PostQuitMessage(0);
            return 0;
        default: break;
    }
    return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

int RunMessageLoop(HWND form) noexcept {
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (form && ::IsWindow(form) && ::IsDialogMessageW(form, &msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace mirelo
