// Mirelo end to end: the real Vandrel.ocx, registered in the prefix, sampling simulated boards;
// Mirelo started as its own process and operated from here through window messages only, as an
// operator would. Leaves a screenshot of the running tool in build/<preset>/test-artifacts/, one
// per configuration (mirelo-running-wow64.bmp): win32 and wow64 run the same build side by side.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "base/unique_handle.h"
#include "harness/run_process.h"
#include "testtool/remote.h"
#include "tests/support/run_process.h"
#include "tests/support/sim_helpers.h"
#include "tests/testtool/screen_dpi.h"
#include "tests/support/call_site.h"

namespace {

using mirelo::ControlArray;
namespace remote = mirelo::remote;

// Two boards with fixed words, so every value the tool shows can be checked exactly:
// 370 (what the form sets at load) and 380.
constexpr wchar_t kBoards[] =
    L"370:words=0/1/1023/0x8005/12345/0xFFFF/100/0x8064;380:words=11/22/33/44/55/66/77/88";
const std::vector<std::wstring> kBoard370 = {L"0",     L"1",      L"1023", L"-5",
                                             L"12345", L"-32767", L"100",  L"-100"};
const std::vector<std::wstring> kBoard380 = {L"11", L"22", L"33", L"44", L"55", L"66", L"77", L"88"};

bool VandrelRegistered() {
    base::UniqueHkey key;
    return ::RegOpenKeyExW(HKEY_CLASSES_ROOT,
                           L"CLSID\\{E4DE41E5-20F5-4A71-91C1-BC0686540ACF}\\InprocServer32", 0, KEY_READ,
                           key.put()) == ERROR_SUCCESS;
}

// The pixels of the form's client area, as a 24-bit BMP file.
bool SaveScreenshot(HWND form, const std::wstring& path) {
    const RECT r = remote::ClientRectOnScreen(form);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = ::GetDC(nullptr);
    base::UniqueMemoryDc memory(::CreateCompatibleDC(screen));
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    base::UniqueGdiObject dib(::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    bool ok = memory && dib;
    if (ok) {
        HGDIOBJ old = ::SelectObject(memory.get(), dib.get());
        ok = ::BitBlt(memory.get(), 0, 0, w, h, screen, r.left, r.top, SRCCOPY) != FALSE;
        ::SelectObject(memory.get(), old);
        ::GdiFlush();
    }
    ::ReleaseDC(nullptr, screen);
    if (!ok) return false;
    const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
    const DWORD imageSize = stride * static_cast<DWORD>(h);
    BITMAPFILEHEADER file{0x4D42,
                          static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + imageSize),
                          0, 0, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER))};
    info.bmiHeader.biSizeImage = imageSize;
    base::UniqueFile out(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return out && ::WriteFile(out.get(), &file, sizeof file, &written, nullptr) &&
           ::WriteFile(out.get(), &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr) &&
           ::WriteFile(out.get(), bits, imageSize, &written, nullptr);
}

class MireloEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        wasRegistered_ = VandrelRegistered();
        registerCode_ = harness::RunProcess(testsupport::SystemTool(L"regsvr32.exe") + L" /s \"" +
                                            testsupport::BinFolder() + L"Vandrel.ocx\"")
                            .exitCode;
    }
    static void TearDownTestSuite() {
        // Leave the prefix's registry as it was found.
        if (!wasRegistered_)
            harness::RunProcess(testsupport::SystemTool(L"regsvr32.exe") + L" /u /s \"" +
                                testsupport::BinFolder() + L"Vandrel.ocx\"");
    }

    void SetUp() override { StartMirelo(); }

    void StartMirelo(testsupport::CallSite caller = testsupport::CallSite::Here()) {
        const testsupport::CallerTrace fromCaller(caller);
        ASSERT_EQ(registerCode_, 0u) << "regsvr32 Vandrel.ocx";
        std::wstring command = L"\"" + testsupport::BinFolder() + L"Mirelo.exe\"";
        std::vector<wchar_t> environment = harness::EnvironmentWith({{L"DIRECTPORT_SIM", kBoards}});
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                                     CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &si, &pi));
        process_.reset(pi.hProcess);
        base::UniqueThread thread(pi.hThread);
        form_ = remote::WaitForForm(pi.dwProcessId, 30000);
        ASSERT_NE(form_, nullptr) << "Mirelo showed no window (is Vandrel.ocx registered?)";
    }

    void TearDown() override {
        if (!process_) return;
        if (form_ && ::IsWindow(form_)) ::PostMessageW(form_, WM_CLOSE, 0, 0);
        if (::WaitForSingleObject(process_.get(), 20000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "Mirelo did not end after its window was closed";
            ::TerminateProcess(process_.get(), 1);
            return;
        }
        DWORD code = 0xFFFFFFFF;
        ::GetExitCodeProcess(process_.get(), &code);
        EXPECT_EQ(code, 0u);
    }

    std::wstring Text(ControlArray a, int i) { return remote::Text(form_, a, i); }
    std::vector<std::wstring> Values(int block) {
        std::vector<std::wstring> v;
        for (int c = 0; c < 8; ++c) v.push_back(Text(ControlArray::kDataValue, block * 8 + c));
        return v;
    }
    bool Enabled(ControlArray a, int i) { return ::IsWindowEnabled(remote::Element(form_, a, i)) != FALSE; }
    bool ShowsWithin(int block, const std::vector<std::wstring>& expected, DWORD ms = 5000) {
        return testsupport::WaitUntil([&] { return Values(block) == expected; }, ms);
    }
    void Type(ControlArray a, int i, const wchar_t* text) { ASSERT_TRUE(remote::SetText(form_, a, i, text)); }
    void Click(ControlArray a, int i) { ASSERT_TRUE(remote::Click(form_, a, i)); }

    static inline bool wasRegistered_ = false;
    static inline DWORD registerCode_ = 0xFFFFFFFF;
    base::UniqueProcess process_;
    HWND form_ = nullptr;
};

int X(int twips) {
    HDC dc = ::GetDC(nullptr);
    const int v = ::MulDiv(twips, ::GetDeviceCaps(dc, LOGPIXELSX), 1440);
    ::ReleaseDC(nullptr, dc);
    return v;
}
int Y(int twips) {
    HDC dc = ::GetDC(nullptr);
    const int v = ::MulDiv(twips, ::GetDeviceCaps(dc, LOGPIXELSY), 1440);
    ::ReleaseDC(nullptr, dc);
    return v;
}

TEST_F(MireloEndToEnd, FreshToolShowsItsFormAsLaidOut) {
    wchar_t caption[64] = {};
    ::GetWindowTextW(form_, caption, 64);
    EXPECT_STREQ(caption, L"Mirelo测试小工具 V1.0.8");
    RECT client;
    ::GetClientRect(form_, &client);
    EXPECT_EQ(client.right, X(6585));
    EXPECT_EQ(client.bottom, Y(3840));

    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(Text(ControlArray::kDataInterval, k), L"2160");
        EXPECT_EQ(Text(ControlArray::kDataNum, k), L"370");
        EXPECT_EQ(Text(ControlArray::kStart, k), L"开始");
        EXPECT_EQ(Text(ControlArray::kStop, k), L"停止");
        EXPECT_TRUE(Enabled(ControlArray::kStart, k));
        EXPECT_FALSE(Enabled(ControlArray::kStop, k));
        EXPECT_EQ(Text(ControlArray::kLabel1, k), k == 0 ? L"通讯块一" : L"通讯块二");
    }
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(Text(ControlArray::kDataValue, i), L"");
        EXPECT_EQ(Text(ControlArray::kLabel3, i), L"通道" + std::to_wstring(i % 8));
    }

    // A sample of places and sizes, one of each kind and both data_num widths.
    struct Place {
        ControlArray array;
        int index, left, top, width, height;
    } places[] = {{ControlArray::kLabel1, 1, 4080, 60, 735, 255},
                  {ControlArray::kDataNum, 0, 1800, 480, 855, 375},
                  {ControlArray::kDataNum, 1, 4800, 480, 975, 375},
                  {ControlArray::kStop, 1, 4800, 1320, 1095, 375},
                  {ControlArray::kLabel3, 13, 3000 + 1560, 2040 + 960, 495, 255},
                  {ControlArray::kDataValue, 15, 3000 + 2160, 1920 + 1440, 735, 390}};
    for (const Place& p : places) {
        RECT r;
        ::GetWindowRect(remote::Element(form_, p.array, p.index), &r);
        ::MapWindowPoints(nullptr, form_, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ(r.left, X(p.left));
        EXPECT_EQ(r.top, Y(p.top));
        EXPECT_EQ(r.right - r.left, X(p.width));
        EXPECT_EQ(r.bottom - r.top, Y(p.height));
    }

    // The keyboard's way through the form; the disabled Stop buttons are passed over.
    using A = ControlArray;
    std::vector<HWND> expected;
    for (auto [a, i] : std::vector<std::pair<A, int>>{{A::kDataInterval, 0},
                                                      {A::kReadInterval, 0},
                                                      {A::kDataInterval, 1},
                                                      {A::kReadInterval, 1},
                                                      {A::kDataNum, 0},
                                                      {A::kReadNum, 0},
                                                      {A::kDataNum, 1},
                                                      {A::kReadNum, 1},
                                                      {A::kStart, 0},
                                                      {A::kStart, 1}}) {
        expected.push_back(remote::Element(form_, a, i));
    }
    for (int i = 0; i < 16; ++i) expected.push_back(remote::Element(form_, A::kDataValue, i));
    std::vector<HWND> order;
    HWND first = ::GetNextDlgTabItem(form_, nullptr, FALSE);
    for (HWND h = first; h && order.size() < 64; h = ::GetNextDlgTabItem(form_, h, FALSE)) {
        if (!order.empty() && h == first) break;
        order.push_back(h);
    }
    EXPECT_EQ(order, expected);
}

TEST_F(MireloEndToEnd, StartFillsItsBlockOnlyAndStopKeepsTheLastValues) {
    Click(ControlArray::kStart, 0);
    EXPECT_FALSE(Enabled(ControlArray::kStart, 0));
    EXPECT_TRUE(Enabled(ControlArray::kStop, 0));
    EXPECT_TRUE(ShowsWithin(0, kBoard370)) << "block 0 shows the board's channels";
    EXPECT_EQ(Values(1), std::vector<std::wstring>(8)) << "block 1 untouched";
    EXPECT_TRUE(Enabled(ControlArray::kStart, 1));

    // A box edited by hand is overwritten at the next tick.
    Type(ControlArray::kDataValue, 3, L"typed");
    EXPECT_TRUE(ShowsWithin(0, kBoard370, 1000));

    Click(ControlArray::kStop, 0);
    EXPECT_TRUE(Enabled(ControlArray::kStart, 0));
    EXPECT_FALSE(Enabled(ControlArray::kStop, 0));
    Type(ControlArray::kDataValue, 7, L"kept");
    ::Sleep(500);
    std::vector<std::wstring> after = kBoard370;
    after[7] = L"kept";
    EXPECT_EQ(Values(0), after) << "no more ticks once stopped";
}

TEST_F(MireloEndToEnd, BothBlocksRunAtOnceAtTheSameAddress) {
    Click(ControlArray::kStart, 0);
    Click(ControlArray::kStart, 1);
    EXPECT_TRUE(ShowsWithin(0, kBoard370));
    EXPECT_TRUE(ShowsWithin(1, kBoard370));
    // Both samplers keep taking turns at the board: a few intervals on, both are still fresh.
    ::Sleep(2 * 2160 + 500);
    EXPECT_EQ(Values(0), kBoard370);
    EXPECT_EQ(Values(1), kBoard370);

    const std::wstring artifacts = testsupport::BinFolder() + L"..\\test-artifacts";
    ::CreateDirectoryW(artifacts.c_str(), nullptr);
    const wchar_t* const configuration =
        sizeof(void*) == 8 ? L"win64" : (testsupport::IsWow64() ? L"wow64" : L"win32");
    EXPECT_TRUE(SaveScreenshot(form_, artifacts + L"\\mirelo-running-" + configuration + L".bmp"));
}

TEST_F(MireloEndToEnd, AddressAndIntervalEntriesReachTheRunningInstance) {
    Click(ControlArray::kStart, 1);
    ASSERT_TRUE(ShowsWithin(1, kBoard370));

    // A new address restarts the running instance on the other board.
    Type(ControlArray::kDataNum, 1, L" 380abc");
    Click(ControlArray::kReadNum, 1);
    EXPECT_TRUE(ShowsWithin(1, kBoard380));
    EXPECT_EQ(Text(ControlArray::kDataNum, 1), L" 380abc") << "the address box keeps what was typed";

    // An interval entry that overflows changes nothing; a negative one is rewritten.
    Type(ControlArray::kDataInterval, 1, L"40000");
    Click(ControlArray::kReadInterval, 1);
    EXPECT_EQ(Text(ControlArray::kDataInterval, 1), L"40000");
    Type(ControlArray::kDataInterval, 1, L"-1");
    Click(ControlArray::kReadInterval, 1);
    EXPECT_EQ(Text(ControlArray::kDataInterval, 1), L"2160");
    Type(ControlArray::kDataInterval, 1, L"250");
    Click(ControlArray::kReadInterval, 1);
    EXPECT_TRUE(ShowsWithin(1, kBoard380)) << "still sampling after the restart";
    EXPECT_TRUE(Enabled(ControlArray::kStop, 1));
    EXPECT_EQ(Values(0), std::vector<std::wstring>(8));
}

// The operator's keyboard, through Mirelo's own message loop: Tab walks the tab order from the
// first box, Space and Enter press the focused button, and the focus goes on from a button that
// disables itself.
TEST_F(MireloEndToEnd, TabWalksTheFormAndSpaceAndEnterPressTheFocusedButton) {
    using A = ControlArray;
    const auto element = [&](A a, int i) { return remote::Element(form_, a, i); };
    const auto focusBecomes = [&](HWND expected) {
        return testsupport::WaitUntil([&] { return remote::FocusedWindow(form_) == expected; }, 3000);
    };
    const auto press = [&](UINT key) { return remote::PressKey(form_, key); };
    ASSERT_TRUE(focusBecomes(element(A::kDataInterval, 0))) << "a new form's focus is on its first box";

    const std::pair<A, int> walk[] = {{A::kReadInterval, 0}, {A::kDataInterval, 1}, {A::kReadInterval, 1},
                                      {A::kDataNum, 0},      {A::kReadNum, 0},      {A::kDataNum, 1},
                                      {A::kReadNum, 1},      {A::kStart, 0}};
    for (const auto& [a, i] : walk) {
        ASSERT_TRUE(press(VK_TAB));
        ASSERT_TRUE(focusBecomes(element(a, i))) << "Tab to " << mirelo::ArrayName(a) << i;
    }

    ASSERT_TRUE(press(VK_SPACE));
    EXPECT_TRUE(ShowsWithin(0, kBoard370)) << "Space pressed Start";
    EXPECT_FALSE(Enabled(A::kStart, 0));
    EXPECT_TRUE(focusBecomes(element(A::kStop, 0))) << "from Start on to its Stop";

    ASSERT_TRUE(press(VK_RETURN));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return Enabled(A::kStart, 0); }, 3000)) << "Enter pressed Stop";
    EXPECT_FALSE(Enabled(A::kStop, 0));
    EXPECT_TRUE(focusBecomes(element(A::kStart, 1)));

    ASSERT_TRUE(press(VK_RETURN));
    EXPECT_TRUE(ShowsWithin(1, kBoard370)) << "Enter pressed the second Start";
    EXPECT_TRUE(focusBecomes(element(A::kStop, 1)));
    ASSERT_TRUE(press(VK_SPACE));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return Enabled(A::kStart, 1); }, 3000)) << "Space pressed Stop";

    // Enter in a box presses nothing: no button has the focus.
    ASSERT_TRUE(focusBecomes(element(A::kDataValue, 0)));
    ASSERT_TRUE(press(VK_RETURN));
    ::Sleep(300);
    EXPECT_TRUE(Enabled(A::kStart, 0));
    EXPECT_TRUE(Enabled(A::kStart, 1));
    EXPECT_FALSE(Enabled(A::kStop, 0));
    EXPECT_FALSE(Enabled(A::kStop, 1));
}

// Mirelo started at a higher screen DPI: the form and every control keep their places and sizes
// in twips, each rounded once to the screen's pixels. The twips come from the layout table, whose
// values the form's own test checks; the DPI of the prefix goes back once the form is up.
class MireloAtScreenDpi : public MireloEndToEnd, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        testsupport::ScopedScreenDpi screen(static_cast<DWORD>(GetParam()));
        ASSERT_TRUE(screen.Applied());
        StartMirelo();
    }
    int Pixels(int twips) const { return ::MulDiv(twips, GetParam(), 1440); }
};

TEST_P(MireloAtScreenDpi, EveryControlKeepsItsPlaceInTwips) {
    RECT client;
    ::GetClientRect(form_, &client);
    EXPECT_EQ(client.right, Pixels(6585));
    EXPECT_EQ(client.bottom, Pixels(3840));
    for (const mirelo::ControlLayout& c : mirelo::FormControls()) {
        SCOPED_TRACE(std::wstring(mirelo::ArrayName(c.array)) + L"(" + std::to_wstring(c.index) + L")");
        HWND element = remote::Element(form_, c.array, c.index);
        ASSERT_NE(element, nullptr);
        RECT r;
        ::GetWindowRect(element, &r);
        ::MapWindowPoints(nullptr, form_, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ(r.left, Pixels(c.left));
        EXPECT_EQ(r.top, Pixels(c.top));
        EXPECT_EQ(r.right - r.left, Pixels(c.width));
        EXPECT_EQ(r.bottom - r.top, Pixels(c.height));
    }
}

INSTANTIATE_TEST_SUITE_P(HigherDpi, MireloAtScreenDpi, ::testing::Values(120, 144));

}  // namespace
