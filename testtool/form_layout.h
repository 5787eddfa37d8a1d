// The form read_timer as data: its window, every control with its array name and index, text,
// position and size in twips, tab index and initial state, and the three lines. The window is
// built from this; tools that drive a running Mirelo from outside find controls by ControlId.
// Constant data and pure functions; any thread.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "testtool/form.h"

namespace mirelo {

inline constexpr wchar_t kFormClassName[] = L"Mirelo.read_timer";
inline constexpr wchar_t kFormCaption[] = L"Mirelo测试小工具 V1.0.8";
inline constexpr int kClientWidthTwips = 6585;
inline constexpr int kClientHeightTwips = 3840;
inline constexpr int kTwipsPerInch = 1440;

// The form's control arrays, each element one child window.
enum class ControlArray {
    kLabel1,
    kLabel2,
    kLabel3,
    kDataInterval,
    kReadInterval,
    kDataNum,
    kReadNum,
    kStart,
    kStop,
    kDataValue
};
enum class ControlKind { kLabel, kTextBox, kButton };

struct ControlLayout {
    ControlArray array;
    int index;
    ControlKind kind;
    std::wstring text;
    int left, top, width, height;  // twips, in the client area
    int tabIndex;
    bool enabled;
};

struct LineLayout {
    const wchar_t* name;
    int x1, y1, x2, y2;  // twips
};

// Every control of the form, in tab-index order.
const std::vector<ControlLayout>& FormControls();

inline constexpr LineLayout kFormLines[] = {
    {L"Line1", 3000, -120, 3000, 3840},  // divider between the blocks, from past the top edge
    {L"Line2", 0, 360, 6000, 360},       // rule under the block headings
    {L"Line3", 0, 1800, 6000, 1800},     // rule between the buttons and the channel grid
};

// The child-window identifier of an array element: 0x100 per array, plus the index.
inline int ControlId(ControlArray array, int index) noexcept {
    return 0x100 * (static_cast<int>(array) + 1) + index;
}

ControlArray ToControlArray(BoxArray array) noexcept;
ControlArray ToControlArray(ButtonArray array) noexcept;

// The button array and index of a child-window identifier; false for anything but a button.
bool ButtonFromId(int id, ButtonArray* array, int* index) noexcept;

// The array's name on the form ("cmd_Start").
const wchar_t* ArrayName(ControlArray array) noexcept;

// Twips to pixels at dpi pixels per inch, rounded to the nearest pixel.
inline int TwipsToPixels(int twips, int dpi) noexcept { return ::MulDiv(twips, dpi, kTwipsPerInch); }

}  // namespace mirelo
