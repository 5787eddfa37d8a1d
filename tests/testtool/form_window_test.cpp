// The form's window as Mirelo shows it: window, controls, texts, positions and sizes by the
// screen's DPI, states, font, lines and tab order; the form operations the handlers use; clicks
// and ticks reaching the handlers. Also the program file's version block and icon. Needs a
// display (scripts/test runs a private Xvfb). The checks that depend on the DPI run again in a
// child process at 120 and 144 DPI (FormAtScreenDpi): at 96 DPI twips convert to whole pixels
// almost everywhere, so no rounding or scaling fault would show.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/module_file.h"
#include "harness/child_process.h"
#include "tests/support/deliverables.h"
#include "testtool/form_window.h"
#include "testtool/resource.h"
#include "tests/support/window_text.h"
#include "tests/testtool/screen_dpi.h"
#include "tests/support/hresult_matchers.h"

namespace {

using testsupport::ClassOf;
using testsupport::TextOf;

using mirelo::ButtonArray;
using mirelo::ControlArray;
using mirelo::TimerName;

int DpiX() {
    HDC dc = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(dc, LOGPIXELSX);
    ::ReleaseDC(nullptr, dc);
    return dpi;
}
int DpiY() {
    HDC dc = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
    ::ReleaseDC(nullptr, dc);
    return dpi;
}
int X(int twips) { return ::MulDiv(twips, DpiX(), 1440); }

// Set in a child process that FormAtScreenDpi started at another DPI: the DPI it must run at.
constexpr char kExpectedDpiVariable[] = "MIRELO_EXPECTED_DPI";
int ExpectedDpi() {
    const char* value = std::getenv(kExpectedDpiVariable);
    return value ? std::atoi(value) : 0;
}
int Y(int twips) { return ::MulDiv(twips, DpiY(), 1440); }

void Pump(DWORD ms) {
    const ULONGLONG end = ::GetTickCount64() + ms;
    do {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::Sleep(5);
    } while (::GetTickCount64() < end);
}

struct RecordingEvents final : mirelo::FormEvents {
    std::vector<std::pair<ButtonArray, int>> clicks;
    int ticks[2] = {0, 0};
    void OnClick(ButtonArray array, int index) noexcept override { clicks.emplace_back(array, index); }
    void OnTick(TimerName timer) noexcept override { ++ticks[timer == TimerName::kReadTimer1 ? 0 : 1]; }
};

class FormWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HR(S_OK, mirelo::FormWindow::Create(::GetModuleHandleW(nullptr), 0, false, &form));
        form->SetEvents(&events);
        if (const int dpi = ExpectedDpi()) {
            ASSERT_EQ(form->DpiX(), dpi) << "the child did not start at the DPI its parent set";
            ASSERT_EQ(form->DpiY(), dpi);
        }
    }
    HWND Child(ControlArray a, int i) { return ::GetDlgItem(form->Hwnd(), mirelo::ControlId(a, i)); }
    RECT RectInClient(HWND child) {
        RECT r;
        ::GetWindowRect(child, &r);
        ::MapWindowPoints(nullptr, form->Hwnd(), reinterpret_cast<POINT*>(&r), 2);
        return r;
    }

    std::unique_ptr<mirelo::FormWindow> form;
    RecordingEvents events;
};

TEST_F(FormWindowTest, WindowCaptionClientAreaAndBorder) {
    EXPECT_EQ(TextOf(form->Hwnd()), L"Mirelo测试小工具 V1.0.8");
    EXPECT_EQ(ClassOf(form->Hwnd()), L"Mirelo.read_timer");
    RECT client;
    ::GetClientRect(form->Hwnd(), &client);
    EXPECT_EQ(client.right, X(6585));
    EXPECT_EQ(client.bottom, Y(3840));
    const LONG style = ::GetWindowLongW(form->Hwnd(), GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME) << "one fixed size";
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(::IsWindowVisible(form->Hwnd())) << "hidden until the load handler has run";
}

struct Expected {
    ControlArray array;
    int index;
    const wchar_t* cls;
    const wchar_t* text;
    int left, top, width, height;
    bool enabled;
};

std::vector<Expected> ExpectedControls() {
    using A = ControlArray;
    std::vector<Expected> e = {
        {A::kLabel1, 0, L"Static", L"通讯块一", 1080, 60, 735, 255, true},
        {A::kLabel1, 1, L"Static", L"通讯块二", 4080, 60, 735, 255, true},
        {A::kDataInterval, 0, L"Edit", L"2160", 120, 480, 735, 375, true},
        {A::kReadInterval, 0, L"Button", L"通讯间隔", 120, 840, 1095, 375, true},
        {A::kLabel2, 0, L"Static", L"ms", 960, 600, 255, 255, true},
        {A::kDataInterval, 1, L"Edit", L"2160", 3120, 480, 735, 375, true},
        {A::kReadInterval, 1, L"Button", L"通讯间隔", 3120, 840, 1095, 375, true},
        {A::kLabel2, 1, L"Static", L"ms", 3960, 600, 255, 255, true},
        {A::kDataNum, 0, L"Edit", L"370", 1800, 480, 855, 375, true},
        {A::kReadNum, 0, L"Button", L"通道地址", 1800, 840, 1095, 375, true},
        {A::kDataNum, 1, L"Edit", L"370", 4800, 480, 975, 375, true},
        {A::kReadNum, 1, L"Button", L"通道地址", 4800, 840, 1095, 375, true},
        {A::kStart, 0, L"Button", L"开始", 120, 1320, 1095, 375, true},
        {A::kStop, 0, L"Button", L"停止", 1800, 1320, 1095, 375, false},
        {A::kStart, 1, L"Button", L"开始", 3120, 1320, 1095, 375, true},
        {A::kStop, 1, L"Button", L"停止", 4800, 1320, 1095, 375, false},
    };
    static const wchar_t* kChannels[] = {L"通道0", L"通道1", L"通道2", L"通道3",
                                         L"通道4", L"通道5", L"通道6", L"通道7"};
    for (int i = 0; i < 16; ++i) {
        const int b = i / 8, c = i % 8;
        e.push_back({A::kLabel3, i, L"Static", kChannels[c], 120 + 1440 * (c % 2) + 3000 * b,
                     2040 + 480 * (c / 2), 495, 255, true});
    }
    for (int i = 0; i < 16; ++i) {
        const int b = i / 8, c = i % 8;
        e.push_back({A::kDataValue, i, L"Edit", L"", 720 + 1440 * (c % 2) + 3000 * b, 1920 + 480 * (c / 2),
                     735, 390, true});
    }
    return e;
}

TEST_F(FormWindowTest, EveryControlWithItsTextPlaceSizeAndState) {
    const std::vector<Expected> expected = ExpectedControls();
    int children = 0;
    for (HWND c = ::GetWindow(form->Hwnd(), GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) ++children;
    EXPECT_EQ(children, static_cast<int>(expected.size())) << "nothing more on the form";

    HFONT font = reinterpret_cast<HFONT>(::SendMessageW(form->Hwnd(), WM_GETFONT, 0, 0));
    for (const Expected& e : expected) {
        SCOPED_TRACE(std::wstring(mirelo::ArrayName(e.array)) + L"(" + std::to_wstring(e.index) + L")");
        HWND c = Child(e.array, e.index);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(ClassOf(c), e.cls);
        EXPECT_EQ(TextOf(c), e.text);
        const RECT r = RectInClient(c);
        EXPECT_EQ(r.left, X(e.left));
        EXPECT_EQ(r.top, Y(e.top));
        EXPECT_EQ(r.right - r.left, X(e.width));
        EXPECT_EQ(r.bottom - r.top, Y(e.height));
        EXPECT_EQ(::IsWindowEnabled(c) != FALSE, e.enabled);
        EXPECT_TRUE(::GetWindowLongW(c, GWL_STYLE) & WS_VISIBLE);
        // One font for every control, the form's.
        HFONT own = reinterpret_cast<HFONT>(::SendMessageW(c, WM_GETFONT, 0, 0));
        ASSERT_NE(own, nullptr);
        if (!font) font = own;
        EXPECT_EQ(own, font);
        if (ClassOf(c) == L"Edit") {
            const LONG style = ::GetWindowLongW(c, GWL_STYLE);
            EXPECT_FALSE(style & ES_MULTILINE);
            EXPECT_FALSE(style & ES_READONLY);
            EXPECT_GE(static_cast<DWORD>(::SendMessageW(c, EM_GETLIMITTEXT, 0, 0)), 0x7FFFFFFEu)
                << "no length limit";
        }
    }
    LOGFONTW lf{};
    ASSERT_TRUE(::GetObjectW(font, sizeof lf, &lf));
    EXPECT_STREQ(lf.lfFaceName, L"SimSun");
    EXPECT_EQ(lf.lfHeight, -::MulDiv(9, DpiY(), 72));
}

// The text a control must show whole, measured with the control's own font: every caption, the
// boxes' first entries, and the widest reading a value box shows.
std::wstring WidestText(HWND control) {
    if (ClassOf(control) == L"Edit" && TextOf(control).empty()) return L"-32767";
    return TextOf(control);
}

TEST_F(FormWindowTest, CaptionsAndReadingsFitTheirControls) {
    const int edge = ::GetSystemMetrics(SM_CXEDGE);
    for (HWND c = ::GetWindow(form->Hwnd(), GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
        const std::wstring text = WidestText(c);
        SCOPED_TRACE(ClassOf(c) + L" " + text);
        HDC dc = ::GetDC(c);
        HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(c, WM_GETFONT, 0, 0)));
        SIZE size{};
        ASSERT_TRUE(::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size));
        ::SelectObject(dc, old);
        ::ReleaseDC(c, dc);

        RECT client;
        ::GetClientRect(c, &client);
        int room = client.right;
        if (ClassOf(c) == L"Button") {
            room -= 2 * (edge + 1);  // the raised edge and the focus rectangle inside it
        } else if (ClassOf(c) == L"Edit") {
            const LRESULT margins = ::SendMessageW(c, EM_GETMARGINS, 0, 0);
            room -= LOWORD(margins) + HIWORD(margins);
        }
        EXPECT_LE(size.cx, room) << "text " << size.cx << " px wide, room for " << room;
        EXPECT_LE(size.cy, client.bottom) << "text " << size.cy << " px high";
    }
}

// A face the font mapper cannot serve draws boxes instead of characters: every character the form
// shows must be a glyph of the font its controls use.
TEST_F(FormWindowTest, EveryCharacterShownExistsInTheFormFont) {
    HWND first = ::GetWindow(form->Hwnd(), GW_CHILD);
    ASSERT_NE(first, nullptr);
    HDC dc = ::GetDC(form->Hwnd());
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(first, WM_GETFONT, 0, 0)));
    std::vector<std::wstring> texts = {TextOf(form->Hwnd()), L"-0123456789"};
    for (HWND c = first; c; c = ::GetWindow(c, GW_HWNDNEXT)) texts.push_back(TextOf(c));
    for (const std::wstring& text : texts) {
        std::vector<WORD> glyphs(text.size() + 1, 0);
        ASSERT_EQ(::GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()), glyphs.data(),
                                     GGI_MARK_NONEXISTING_GLYPHS),
                  static_cast<DWORD>(text.size()));
        for (size_t k = 0; k < text.size(); ++k) {
            EXPECT_NE(glyphs[k], 0xFFFF) << "U+" << std::hex << static_cast<unsigned>(text[k]) << " of \""
                                         << testing::PrintToString(text) << "\" has no glyph";
        }
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(form->Hwnd(), dc);
}

// The checks above and the places in twips, again in a child process started at a higher DPI,
// where twips no longer convert to whole pixels and fonts grow: each place rounded once from its
// twips, each caption still inside its control.
class FormAtScreenDpi : public ::testing::TestWithParam<int> {};

TEST_P(FormAtScreenDpi, KeepsPlacesInTwipsAndCaptionsFit) {
    const std::string dpi = std::to_string(GetParam());
    harness::ChildResult child;
    {
        testsupport::ScopedScreenDpi screen(static_cast<DWORD>(GetParam()));
        ASSERT_TRUE(screen.Applied());
        child = harness::RunSelf(
            "--gtest_filter=FormWindowTest.WindowCaption*:FormWindowTest.EveryControl*:FormWindowTest."
            "Captions*:"
            "FormWindowTest.EveryCharacter*:FormWindowTest.LinesAre*",
            kExpectedDpiVariable, dpi.c_str());
    }
    EXPECT_EQ(child.exitCode, 0u) << child.out;
    EXPECT_NE(child.out.find("[  PASSED  ] 5 tests."), std::string::npos) << child.out;
}

INSTANTIATE_TEST_SUITE_P(HigherDpi, FormAtScreenDpi, ::testing::Values(120, 144));

TEST_F(FormWindowTest, TabOrderPassesOverDisabledButtons) {
    using A = ControlArray;
    std::vector<HWND> expected = {Child(A::kDataInterval, 0), Child(A::kReadInterval, 0),
                                  Child(A::kDataInterval, 1), Child(A::kReadInterval, 1),
                                  Child(A::kDataNum, 0),      Child(A::kReadNum, 0),
                                  Child(A::kDataNum, 1),      Child(A::kReadNum, 1),
                                  Child(A::kStart, 0),        Child(A::kStart, 1)};
    for (int i = 0; i < 16; ++i) expected.push_back(Child(A::kDataValue, i));

    auto walk = [&] {
        std::vector<HWND> order;
        HWND first = ::GetNextDlgTabItem(form->Hwnd(), nullptr, FALSE);
        for (HWND h = first; h && order.size() < 64; h = ::GetNextDlgTabItem(form->Hwnd(), h, FALSE)) {
            if (!order.empty() && h == first) break;
            order.push_back(h);
        }
        return order;
    };
    EXPECT_EQ(walk(), expected);

    // With the Stop buttons enabled they take their places after their Start buttons.
    ::EnableWindow(Child(A::kStop, 0), TRUE);
    ::EnableWindow(Child(A::kStop, 1), TRUE);
    expected.insert(expected.begin() + 9, Child(A::kStop, 0));
    expected.insert(expected.begin() + 11, Child(A::kStop, 1));
    EXPECT_EQ(walk(), expected);
}

// Clicks that swap Start and Stop, as the handlers do.
struct SwappingEvents final : mirelo::FormEvents {
    mirelo::Form* form = nullptr;
    void OnClick(ButtonArray array, int index) noexcept override {
        mirelo::Button* start = nullptr;
        mirelo::Button* stop = nullptr;
        form->ButtonAt(ButtonArray::kStart, index, &start);
        form->ButtonAt(ButtonArray::kStop, index, &stop);
        start->SetEnabled(array != ButtonArray::kStart);
        stop->SetEnabled(array == ButtonArray::kStart);
    }
    void OnTick(TimerName) noexcept override {}
};

TEST_F(FormWindowTest, FocusStartsOnTheFirstBoxAndFollowsAButtonThatDisablesItself) {
    // The keyboard focus belongs to the active window, and other test programs on the shared
    // display may take the activation at any moment: repeat with a new form until one run kept
    // it from start to end.
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::unique_ptr<mirelo::FormWindow> shown;
        ASSERT_HR(S_OK, mirelo::FormWindow::Create(::GetModuleHandleW(nullptr), 0, false, &shown));
        SwappingEvents swapping;
        swapping.form = shown.get();
        shown->SetEvents(&swapping);
        shown->Show(SW_SHOW);
        Pump(50);
        if (::GetActiveWindow() != shown->Hwnd()) continue;
        auto child = [&](ControlArray a, int i) {
            return ::GetDlgItem(shown->Hwnd(), mirelo::ControlId(a, i));
        };

        const HWND afterShow = ::GetFocus();
        ::SetFocus(child(ControlArray::kStart, 0));
        ::SendMessageW(child(ControlArray::kStart, 0), BM_CLICK, 0, 0);
        const HWND afterStart = ::GetFocus();
        ::SendMessageW(child(ControlArray::kStop, 0), BM_CLICK, 0, 0);
        const HWND afterStop = ::GetFocus();
        if (::GetActiveWindow() != shown->Hwnd()) continue;

        EXPECT_EQ(afterShow, child(ControlArray::kDataInterval, 0));
        EXPECT_FALSE(::IsWindowEnabled(child(ControlArray::kStop, 0)));
        EXPECT_EQ(afterStart, child(ControlArray::kStop, 0)) << "the keyboard goes on from Start to Stop";
        EXPECT_EQ(afterStop, child(ControlArray::kStart, 1)) << "the next enabled control in the tab order";
        return;
    }
    FAIL() << "the form never stayed the active window";
}

// Enter as the keyboard delivers it, through the program's message loop: it presses the focused
// button, and nothing when a box has the focus. The focus needs the form to be the active window,
// which other test programs on the shared display may take at any moment (a trace's console that
// opens): a run in which the form lost it is repeated.
TEST_F(FormWindowTest, EnterInTheMessageLoopPressesTheFocusedButtonOnly) {
    form->Show(SW_SHOW);
    // Whether the target held the focus from before the key until the loop had taken it.
    const auto enterOn = [&](HWND target) {
        ::SetFocus(target);
        if (::GetFocus() != target) return false;
        ::PostMessageW(target, WM_KEYDOWN, VK_RETURN, 1);
        ::PostMessageW(target, WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC0000001u));
        ::PostQuitMessage(0);
        EXPECT_EQ(mirelo::RunMessageLoop(form->Hwnd()), 0);
        return ::GetFocus() == target;
    };
    for (int attempt = 0; attempt < 5; ++attempt) {
        events.clicks.clear();
        if (!enterOn(Child(ControlArray::kReadNum, 1)) || !enterOn(Child(ControlArray::kDataNum, 1)))
            continue;
        ASSERT_EQ(events.clicks.size(), 1u);
        EXPECT_EQ(events.clicks[0], std::make_pair(ButtonArray::kReadNum, 1));
        return;
    }
    FAIL() << "the form never kept the focus";
}

TEST_F(FormWindowTest, ElementsByArrayAndIndex) {
    mirelo::TextBox* box = reinterpret_cast<mirelo::TextBox*>(1);
    EXPECT_HR(DISP_E_BADINDEX, form->Box(mirelo::BoxArray::kDataInterval, 2, &box));
    EXPECT_EQ(box, nullptr);
    EXPECT_HR(DISP_E_BADINDEX, form->Box(mirelo::BoxArray::kDataValue, 16, &box));
    EXPECT_HR(DISP_E_BADINDEX, form->Box(mirelo::BoxArray::kDataNum, -1, &box));
    mirelo::Button* button = reinterpret_cast<mirelo::Button*>(1);
    EXPECT_HR(DISP_E_BADINDEX, form->ButtonAt(ButtonArray::kStop, 2, &button));
    EXPECT_EQ(button, nullptr);

    ASSERT_HR(S_OK, form->Box(mirelo::BoxArray::kDataValue, 15, &box));
    box->SetText(L"-32767");
    EXPECT_EQ(TextOf(Child(ControlArray::kDataValue, 15)), L"-32767");
    ::SetWindowTextW(Child(ControlArray::kDataNum, 1), L" 12abc");
    ASSERT_HR(S_OK, form->Box(mirelo::BoxArray::kDataNum, 1, &box));
    EXPECT_EQ(box->Text(), L" 12abc");

    ASSERT_HR(S_OK, form->ButtonAt(ButtonArray::kStop, 1, &button));
    button->SetEnabled(true);
    EXPECT_TRUE(::IsWindowEnabled(Child(ControlArray::kStop, 1)));
}

TEST_F(FormWindowTest, ClicksReachTheHandlersWithTheirIndex) {
    ::SendMessageW(Child(ControlArray::kReadNum, 1), BM_CLICK, 0, 0);
    ::SendMessageW(Child(ControlArray::kStart, 0), BM_CLICK, 0, 0);
    ::SendMessageW(Child(ControlArray::kReadInterval, 0), BM_CLICK, 0, 0);
    ::SendMessageW(Child(ControlArray::kLabel1, 0), BM_CLICK, 0, 0);
    ASSERT_EQ(events.clicks.size(), 3u);
    EXPECT_EQ(events.clicks[0], std::make_pair(ButtonArray::kReadNum, 1));
    EXPECT_EQ(events.clicks[1], std::make_pair(ButtonArray::kStart, 0));
    EXPECT_EQ(events.clicks[2], std::make_pair(ButtonArray::kReadInterval, 0));
}

TEST_F(FormWindowTest, TimersTickOnlyWithAnIntervalWhileEnabled) {
    Pump(100);
    EXPECT_EQ(events.ticks[0] + events.ticks[1], 0) << "a new form's timers have interval 0";

    mirelo::Timer& t2 = form->TimerNamed(TimerName::kReadTimer2);
    t2.SetInterval(20);
    Pump(200);
    EXPECT_GT(events.ticks[1], 2);
    EXPECT_EQ(events.ticks[0], 0);

    t2.SetEnabled(false);
    Pump(30);
    const int stopped = events.ticks[1];
    Pump(150);
    EXPECT_EQ(events.ticks[1], stopped);

    t2.SetEnabled(true);
    t2.SetInterval(0);
    Pump(100);
    EXPECT_EQ(events.ticks[1], stopped);
}

TEST_F(FormWindowTest, LinesAreDrawnAndEndBeforeTheStrip) {
    form->Show(SW_SHOWNOACTIVATE);
    ::UpdateWindow(form->Hwnd());
    Pump(50);
    HDC dc = ::GetDC(form->Hwnd());
    const COLORREF line = ::GetSysColor(COLOR_WINDOWTEXT);
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    EXPECT_EQ(::GetPixel(dc, X(3000), Y(1560) + 2), line) << "Line1";
    EXPECT_EQ(::GetPixel(dc, X(3000) + 2, Y(1560) + 2), face);
    EXPECT_EQ(::GetPixel(dc, X(3000), Y(3840) - 1), line) << "Line1 reaches the bottom edge";
    EXPECT_EQ(::GetPixel(dc, X(300), Y(360)), line) << "Line2";
    EXPECT_EQ(::GetPixel(dc, X(300), Y(1800)), line) << "Line3";
    EXPECT_EQ(::GetPixel(dc, X(300), Y(1800) + 2), face);
    EXPECT_EQ(::GetPixel(dc, X(6000) + 3, Y(1800)), face) << "the strip right of the rules stays empty";
    ::ReleaseDC(form->Hwnd(), dc);
}

TEST_F(FormWindowTest, DestroyedFormQuitsOnlyWhenAskedTo) {
    std::unique_ptr<mirelo::FormWindow> main;
    ASSERT_HR(S_OK, mirelo::FormWindow::Create(::GetModuleHandleW(nullptr), 0, true, &main));
    form.reset();
    MSG msg;
    EXPECT_FALSE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    ::SendMessageW(main->Hwnd(), WM_CLOSE, 0, 0);
    EXPECT_EQ(main->Hwnd(), nullptr);
    ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0u);
}

// The program file: version block in Chinese (PRC) with Unicode strings, and the icon.
std::wstring MireloPath() { return base::BesideProgram(L"Mirelo.exe"); }

// Mirelo.exe of both presets.
class MireloFileOf : public testing::TestWithParam<testsupport::Preset> {};

TEST_P(MireloFileOf, VersionBlock) {
    const std::wstring path = testsupport::DeliverablePath(GetParam(), L"Mirelo.exe");
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u) << "no version block in build/" << testsupport::PresetName(GetParam())
                        << "/bin/Mirelo.exe";
    std::vector<BYTE> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    WORD* translation = nullptr;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                                 reinterpret_cast<void**>(&translation), &len));
    ASSERT_EQ(len, 4u);
    EXPECT_EQ(translation[0], 0x0804);
    EXPECT_EQ(translation[1], 1200);

    auto value = [&](const wchar_t* name) {
        wchar_t* text = nullptr;
        UINT n = 0;
        const std::wstring key = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
        if (!::VerQueryValueW(block.data(), key.c_str(), reinterpret_cast<void**>(&text), &n) || !text)
            return std::wstring(L"<none>");
        return std::wstring(text);
    };
    EXPECT_EQ(value(L"FileVersion"), L"1.00");
    EXPECT_EQ(value(L"ProductVersion"), L"1.00");
    EXPECT_EQ(value(L"InternalName"), L"Mirelo测试小工具V1.0.8");
    EXPECT_EQ(value(L"OriginalFilename"), L"Mirelo测试小工具V1.0.8.exe");
    EXPECT_EQ(value(L"ProductName"), L"Mirelo");
}

INSTANTIATE_TEST_SUITE_P(Presets, MireloFileOf,
                         testing::Values(testsupport::Preset::kThisBuild, testsupport::Preset::kOtherBuild),
                         [](const auto& test) { return std::string(testsupport::PresetName(test.param)); });

#pragma pack(push, 2)
struct IconDirEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct IconDir {
    WORD reserved, type, count;
    IconDirEntry entries[1];
};
#pragma pack(pop)

TEST(MireloFile, OneApplicationIconWithThreeImages) {
    HMODULE file = ::LoadLibraryExW(MireloPath().c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(file, nullptr);
    HRSRC group = ::FindResourceW(file, MAKEINTRESOURCEW(IDI_MIRELO), RT_GROUP_ICON);
    ASSERT_NE(group, nullptr);
    const auto* dir = static_cast<const IconDir*>(::LockResource(::LoadResource(file, group)));
    ASSERT_NE(dir, nullptr);
    ASSERT_EQ(dir->count, 3);
    const int sizes[3] = {16, 32, 48};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(dir->entries[i].width, sizes[i]);
        EXPECT_EQ(dir->entries[i].bitCount, 32);
        EXPECT_NE(
            ::FindResourceW(file, MAKEINTRESOURCEW(dir->entries[i].id), reinterpret_cast<LPCWSTR>(RT_ICON)),
            nullptr);
    }
    ::FreeLibrary(file);
}

}  // namespace
