// The event handlers of the form: load, a click on each button array, a tick of each timer.
// They keep no state of their own; everything lives in the form's controls and in the two
// control instances, which they reach only by DISPID.
//
// Every handler runs under one catch-all: at its first error (a conversion that overflows, a
// failing call into an instance, a control-array element that does not exist, anything thrown)
// it ends at once and silently, keeping what it had already done. The HRESULT each returns is
// that error (S_OK when the handler ran to its end); the form ignores it.
//
// Owned by the form's owner; the form, the instances and this object live on the form's thread.
#pragma once

#include <oaidl.h>

#include "testtool/form.h"

namespace mirelo {

// Values the handlers use.
inline constexpr SHORT kLoadAddress = 370;
inline constexpr SHORT kLoadChannelNumber = 8;
inline constexpr UINT kTimerInterval = 100;
inline constexpr SHORT kDefaultInterval = 2160;  // replaces a negative interval entry
inline constexpr SHORT kDefaultAddress = 0;      // replaces a negative address entry
inline constexpr int kChannelsPerBlock = 8;      // block 1's channel boxes start at this index

class FormHandlers final : public FormEvents {
public:
    // vandrel1 and vandrel2 belong to blocks 0 and 1; they must outlive this object.
    FormHandlers(Form& form, IDispatch* vandrel1, IDispatch* vandrel2) noexcept
        : form_(form), instances_{vandrel1, vandrel2} {}

    [[nodiscard]] HRESULT Load() noexcept;
    [[nodiscard]] HRESULT ReadIntervalClick(int k) noexcept;
    [[nodiscard]] HRESULT ReadNumClick(int k) noexcept;
    [[nodiscard]] HRESULT StartClick(int k) noexcept;
    [[nodiscard]] HRESULT StopClick(int k) noexcept;
    [[nodiscard]] HRESULT Tick(TimerName timer) noexcept;

    // FormEvents: the form's events, routed to the handlers above.
    void OnClick(ButtonArray array, int index) noexcept override;
    void OnTick(TimerName timer) noexcept override;

private:
    [[nodiscard]] HRESULT DoLoad();
    [[nodiscard]] HRESULT DoReadIntervalClick(int k);
    [[nodiscard]] HRESULT DoReadNumClick(int k);
    [[nodiscard]] HRESULT DoStartClick(int k);
    [[nodiscard]] HRESULT DoStopClick(int k);
    [[nodiscard]] HRESULT DoTick(TimerName timer);
    [[nodiscard]] HRESULT Instance(int block, IDispatch** instance) const noexcept;
    Timer& BlockTimer(int block) noexcept;
    [[nodiscard]] HRESULT SetButton(ButtonArray array, int k, bool enabled);

    Form& form_;
    IDispatch* instances_[2];
};

}  // namespace mirelo
