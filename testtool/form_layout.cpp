#include "testtool/form_layout.h"

namespace mirelo {
namespace {

std::vector<ControlLayout> BuildControls() {
    using A = ControlArray;
    using K = ControlKind;
    std::vector<ControlLayout> controls = {
        {A::Label1, 0, K::Label, L"通讯块一", 1080, 60, 735, 255, 0, true},
        {A::Label1, 1, K::Label, L"通讯块二", 4080, 60, 735, 255, 1, true},
        {A::DataInterval, 0, K::TextBox, L"2160", 120, 480, 735, 375, 2, true},
        {A::ReadInterval, 0, K::Button, L"通讯间隔", 120, 840, 1095, 375, 3, true},
        {A::Label2, 0, K::Label, L"ms", 960, 600, 255, 255, 4, true},
        {A::DataInterval, 1, K::TextBox, L"2160", 3120, 480, 735, 375, 5, true},
        {A::ReadInterval, 1, K::Button, L"通讯间隔", 3120, 840, 1095, 375, 6, true},
        {A::Label2, 1, K::Label, L"ms", 3960, 600, 255, 255, 7, true},
        {A::DataNum, 0, K::TextBox, L"370", 1800, 480, 855, 375, 8, true},
        {A::ReadNum, 0, K::Button, L"通道地址", 1800, 840, 1095, 375, 9, true},
        {A::DataNum, 1, K::TextBox, L"370", 4800, 480, 975, 375, 10, true},
        {A::ReadNum, 1, K::Button, L"通道地址", 4800, 840, 1095, 375, 11, true},
        {A::Start, 0, K::Button, L"开始", 120, 1320, 1095, 375, 12, true},
        {A::Stop, 0, K::Button, L"停止", 1800, 1320, 1095, 375, 13, false},
        {A::Start, 1, K::Button, L"开始", 3120, 1320, 1095, 375, 14, true},
        {A::Stop, 1, K::Button, L"停止", 4800, 1320, 1095, 375, 15, false},
    };
    // The channel grid: per block four rows of two channels, each value box right of its caption.
    for (int i = 0; i < 16; ++i) {
        const int b = i / 8, c = i % 8;
        controls.push_back({A::Label3, i, K::Label, L"通道" + std::to_wstring(c),
                            120 + 1440 * (c % 2) + 3000 * b, 2040 + 480 * (c / 2), 495, 255, 16 + i, true});
    }
    for (int i = 0; i < 16; ++i) {
        const int b = i / 8, c = i % 8;
        controls.push_back({A::DataValue, i, K::TextBox, L"", 720 + 1440 * (c % 2) + 3000 * b,
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
        case BoxArray::DataInterval: return ControlArray::DataInterval;
        case BoxArray::DataNum: return ControlArray::DataNum;
        case BoxArray::DataValue: break;
    }
    return ControlArray::DataValue;
}

ControlArray ToControlArray(ButtonArray array) noexcept {
    switch (array) {
        case ButtonArray::ReadInterval: return ControlArray::ReadInterval;
        case ButtonArray::ReadNum: return ControlArray::ReadNum;
        case ButtonArray::Start: return ControlArray::Start;
        case ButtonArray::Stop: break;
    }
    return ControlArray::Stop;
}

bool ButtonFromId(int id, ButtonArray* array, int* index) noexcept {
    static constexpr ButtonArray kButtons[] = {ButtonArray::ReadInterval, ButtonArray::ReadNum,
                                               ButtonArray::Start, ButtonArray::Stop};
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
        case ControlArray::Label1: return L"Label1";
        case ControlArray::Label2: return L"Label2";
        case ControlArray::Label3: return L"Label3";
        case ControlArray::DataInterval: return L"data_interval";
        case ControlArray::ReadInterval: return L"cmd_ReadInterval";
        case ControlArray::DataNum: return L"data_num";
        case ControlArray::ReadNum: return L"cmd_ReadNum";
        case ControlArray::Start: return L"cmd_Start";
        case ControlArray::Stop: return L"cmd_Stop";
        case ControlArray::DataValue: break;
    }
    return L"data_value";
}

}  // namespace mirelo
