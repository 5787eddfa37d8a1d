#include "testtool/handlers.h"

#include <string>

#include "base/hresult.h"
#include "client/vandrel_ids.h"
#include "testtool/dispatch_calls.h"
#include "testtool/entry.h"

namespace mirelo {
namespace {

// The catch-all every handler runs under.
template <typename Body>
[[nodiscard]] HRESULT RunHandler(Body&& body) noexcept try {
    return body();
}
CATCH_RETURN()

}  // namespace

HRESULT FormHandlers::Load() noexcept {
    return RunHandler([&] { return DoLoad(); });
}
HRESULT FormHandlers::ReadIntervalClick(int k) noexcept {
    return RunHandler([&] { return DoReadIntervalClick(k); });
}
HRESULT FormHandlers::ReadNumClick(int k) noexcept {
    return RunHandler([&] { return DoReadNumClick(k); });
}
HRESULT FormHandlers::StartClick(int k) noexcept {
    return RunHandler([&] { return DoStartClick(k); });
}
HRESULT FormHandlers::StopClick(int k) noexcept {
    return RunHandler([&] { return DoStopClick(k); });
}
HRESULT FormHandlers::Tick(TimerName timer) noexcept {
    return RunHandler([&] { return DoTick(timer); });
}

void FormHandlers::OnClick(ButtonArray array, int index) noexcept {
    switch (array) {
        case ButtonArray::kReadInterval: LOG_IF_FAILED(ReadIntervalClick(index)); break;
        case ButtonArray::kReadNum: LOG_IF_FAILED(ReadNumClick(index)); break;
        case ButtonArray::kStart: LOG_IF_FAILED(StartClick(index)); break;
        case ButtonArray::kStop: LOG_IF_FAILED(StopClick(index)); break;
    }
}

void FormHandlers::OnTick(TimerName timer) noexcept { LOG_IF_FAILED(Tick(timer)); }

HRESULT FormHandlers::Instance(int block, IDispatch** instance) const noexcept {
    *instance = nullptr;
    RETURN_HR_IF(DISP_E_BADINDEX, block != 0 && block != 1);
    RETURN_HR_IF_NULL(E_POINTER, instances_[block]);
    *instance = instances_[block];
    return S_OK;
}

Timer& FormHandlers::BlockTimer(int block) noexcept {
    return form_.TimerNamed(block == 0 ? TimerName::kReadTimer1 : TimerName::kReadTimer2);
}

HRESULT FormHandlers::SetButton(ButtonArray array, int k, bool enabled) {
    Button* button = nullptr;
    RETURN_IF_FAILED(form_.ButtonAt(array, k, &button));
    button->SetEnabled(enabled);
    return S_OK;
}

HRESULT FormHandlers::DoLoad() {
    for (int block = 0; block < 2; ++block) {
        IDispatch* instance = nullptr;
        RETURN_IF_FAILED(Instance(block, &instance));
        RETURN_IF_FAILED(PutI2(instance, client::kDispidAddress, kLoadAddress));
        RETURN_IF_FAILED(PutI2(instance, client::kDispidChannelNumber, kLoadChannelNumber));
    }
    for (int block = 0; block < 2; ++block) {
        Timer& timer = BlockTimer(block);
        timer.SetInterval(kTimerInterval);
        timer.SetEnabled(false);
    }
    return S_OK;
}

HRESULT FormHandlers::DoReadIntervalClick(int k) {
    TextBox* box = nullptr;
    RETURN_IF_FAILED(form_.Box(BoxArray::kDataInterval, k, &box));
    SHORT value = 0;
    RETURN_IF_FAILED(ConvertEntry(box->Text(), &value));
    if (value < 0) {
        value = kDefaultInterval;
        box->SetText(std::to_wstring(kDefaultInterval));
    }
    IDispatch* instance = nullptr;
    RETURN_IF_FAILED(Instance(k, &instance));
    return PutI2(instance, client::kDispidInterval, value);
}

HRESULT FormHandlers::DoReadNumClick(int k) {
    TextBox* box = nullptr;
    RETURN_IF_FAILED(form_.Box(BoxArray::kDataNum, k, &box));
    SHORT value = 0;
    RETURN_IF_FAILED(ConvertEntry(box->Text(), &value));
    // Unlike the interval box, the address box keeps what was typed.
    if (value < 0) value = kDefaultAddress;
    IDispatch* instance = nullptr;
    RETURN_IF_FAILED(Instance(k, &instance));
    return PutI2(instance, client::kDispidAddress, value);
}

// The instance is called before the timer runs, so the first tick already finds it started.
HRESULT FormHandlers::DoStartClick(int k) {
    IDispatch* instance = nullptr;
    RETURN_IF_FAILED(Instance(k, &instance));
    // Start's own result is ignored: the block runs whether or not sampling could start.
    RETURN_IF_FAILED(CallIgnoringResult(instance, client::kDispidStart));
    BlockTimer(k).SetEnabled(true);
    RETURN_IF_FAILED(SetButton(ButtonArray::kStart, k, false));
    return SetButton(ButtonArray::kStop, k, true);
}

// The timer goes off before the instance stops, so no tick reads a stopping instance.
HRESULT FormHandlers::DoStopClick(int k) {
    IDispatch* instance = nullptr;
    RETURN_IF_FAILED(Instance(k, &instance));
    BlockTimer(k).SetEnabled(false);
    RETURN_IF_FAILED(CallVoid(instance, client::kDispidStop));
    RETURN_IF_FAILED(SetButton(ButtonArray::kStop, k, false));
    return SetButton(ButtonArray::kStart, k, true);
}

HRESULT FormHandlers::DoTick(TimerName timer) {
    const int block = timer == TimerName::kReadTimer1 ? 0 : 1;
    const int offset = block * kChannelsPerBlock;
    IDispatch* instance = nullptr;
    RETURN_IF_FAILED(Instance(block, &instance));
    // The count is read afresh on every tick: another client may have changed it.
    LONG count = 0;
    RETURN_IF_FAILED(GetI4(instance, client::kDispidChannelNumber, &count));
    const LONGLONG last = static_cast<LONGLONG>(count) - 1;
    RETURN_HR_IF(DISP_E_OVERFLOW, last < -32768 || last > 32767);
    for (LONG i = 0; i <= last; ++i) {
        TextBox* box = nullptr;
        RETURN_IF_FAILED(form_.Box(BoxArray::kDataValue, i + offset, &box));
        SHORT value = 0;
        RETURN_IF_FAILED(CallI2WithI4(instance, client::kDispidGetChnlValue, i, &value));
        box->SetText(std::to_wstring(value));
    }
    return S_OK;
}

}  // namespace mirelo
