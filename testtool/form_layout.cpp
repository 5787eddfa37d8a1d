#include "testtool/form_layout.h"

namespace mirelo {
namespace {

std::vector<ControlLayout> BuildControls() {
    using A = ControlArray;
    using K = ControlKind;
    std::vector<ControlLayout> controls = {
        {A::kLabel1, 0, K::kLabel, L"通讯块一", 1080, 60, 735, 255, 0, true},
        {A::kLabel1, 1, K::kLabel, L"通讯块二", 4080, 60, 735, 255, 1, true},
        {A::kDataInterval, 0, K::kTextBox, L"2160", 120, 480, 735, 375, 2, true},
        {A::kReadInterval, 0, K::kButton, L"通讯间隔", 120, 840, 1095, 375, 3, true},
        {A::kLabel2, 0, K::kLabel, L"ms", 960, 600, 255, 255, 4, true},
        {A::kDataInterval, 1, K::kTextBox, L"2160", 3120, 480, 735, 375, 5, true},
        {A::kReadInterval, 1, K::kButton, L"通讯间隔", 3120, 840, 1095, 375, 6, true},
        {A::kLabel2, 1, K::kLabel, L"ms", 3960, 600, 255, 255, 7, true},
        {A::kDataNum, 0, K::kTextBox, L"370", 1800, 480, 855, 375, 8, true},
        {A::kReadNum, 0, K::kButton, L"通道地址", 1800, 840, 1095, 375, 9, true},
        {A::kDataNum, 1, K::kTextBox, L"370", 4800, 480, 975, 375, 10, true},
        {A::kReadNum, 1, K::kButton, L"通道地址", 4800, 840, 1095, 375, 11, true},
        {A::kStart, 0, K::kButton, L"开始", 120, 1320, 1095, 375, 12, true},
        {A::kStop, 0, K::kButton, L"停止", 1800, 1320, 1095, 375, 13, false},
        {A::kStart, 1, K::kButton, L"开始", 3120, 1320, 1095, 375, 14, true},
        {A::kStop, 1, K::kButton, L"停止", 4800, 1320, 1095, 375, 15, false},
    };
    // The channel grid: per block four rows of two channels, each value box right of its caption.
    for (int i = 0; i < 16; ++i) {
        const int b = i / 8, c = i % 8;
        controls.push_back({A::kLabel3, i, K::kLabel, L"通道" + std::to_wstring(c),
                            120 + 1440 * (c % 2) + 3000 * b, 2040 + 480 * (c / 2), 495, 255, 16 + i, true});
    }
    for (int i = 0; i < 16; ++i) {
        const int b = i / 8, c = i % 8;
        controls.push_back({A::kDataValue, i, K::kTextBox, L"", 720 + 1440 * (c % 2) + 3000 * b,
                            1920 + 480 * (c / 2), 735, 390, 32 + i, true});
    }
    return controls;
}

}  // namespace

const std::vector<ControlLayout>& FormControls() {
    static const std::vector<ControlLayout> controls = BuildControls();
    return controls;
}

ControlArray ToControlArray(BoxArray array) noexcept {
    switch (array) {
        case BoxArray::kDataInterval: return ControlArray::kDataInterval;
        case BoxArray::kDataNum: return ControlArray::kDataNum;
        case BoxArray::kDataValue: break;
    }
    return ControlArray::kDataValue;
}

ControlArray ToControlArray(ButtonArray array) noexcept {
    switch (array) {
        case ButtonArray::kReadInterval: return ControlArray::kReadInterval;
        case ButtonArray::kReadNum: return ControlArray::kReadNum;
        case ButtonArray::kStart: return ControlArray::kStart;
        case ButtonArray::kStop: break;
    }
    return ControlArray::kStop;
}

bool ButtonFromId(int id, ButtonArray* array, int* index) noexcept {
    static constexpr ButtonArray kButtons[] = {ButtonArray::kReadInterval, ButtonArray::kReadNum,
                                               ButtonArray::kStart, ButtonArray::kStop};
    for (ButtonArray b : kButtons) {
        for (int k = 0; k < 2; ++k) {
            if (ControlId(ToControlArray(b), k) == id) {
                *array = b;
                *index = k;
                return true;
            }
        }
    }
    return false;
}

const wchar_t* ArrayName(ControlArray array) noexcept {
    switch (array) {
        case ControlArray::kLabel1: return L"Label1";
        case ControlArray::kLabel2: return L"Label2";
        case ControlArray::kLabel3: return L"Label3";
        case ControlArray::kDataInterval: return L"data_interval";
        case ControlArray::kReadInterval: return L"cmd_ReadInterval";
        case ControlArray::kDataNum: return L"data_num";
        case ControlArray::kReadNum: return L"cmd_ReadNum";
        case ControlArray::kStart: return L"cmd_Start";
        case ControlArray::kStop: return L"cmd_Stop";
        case ControlArray::kDataValue: break;
    }
    return L"data_value";
}

}  // namespace mirelo
