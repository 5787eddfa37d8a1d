// CVandrelCtrl: the Vandrel ActiveX control, a thin shell around one CChannelSampler.
//
// It exposes the sampler through the dispatch interface _DVandrel: three properties (Interval,
// Address, ChannelNumber) whose changes stop, set and restart a running sampler and then mirror
// back the value the sampler took, and three methods (GetChnlValue, Start, Stop) that forward to
// it. It fires no events, persists none of its settings (only the version and the standard set)
// and shows a fixed picture while the host's form is designed.
//
// The control owns its sampler and its picture. It lives in the single-threaded apartment of the
// host thread that created it; the sampler's own thread is the only other thread involved, and the
// control never touches it directly. Destruction stops the sampler's thread first. A sampler that
// could not be set up fails the control's creation (FinalConstruct) with the sampler's error.
#pragma once

#include "activex/control.h"
#include "base/unique_handle.h"
#include "engine/channel_sampler.h"

class CVandrelCtrl final : public activex::Control<CVandrelCtrl> {
public:
    // The create function of the control's class factory.
    static HRESULT CreateInstance(REFIID riid, void** ppv) noexcept;

    // The members of _DVandrel by DISPID, with their help strings.
    static const activex::DispatchEntry<CVandrelCtrl> kDispatchMap[6];

    static constexpr DWORD kMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE |
                                         OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE |
                                         OLEMISC_INVISIBLEATRUNTIME | OLEMISC_SETCLIENTSITEFIRST;
    // The value that registration writes and that containers have always read.
    static_assert(kMiscStatus == 0x20591, "MiscStatus of the registered control");
    static const ULONG kVersion = 0x00010000;  // the type library's 1.0

    // createEvent makes the sampler's stop event; tests substitute one that fails.
    explicit CVandrelCtrl(CChannelSampler::EventCreator createEvent = ::CreateEventA) noexcept;
    ~CVandrelCtrl() override;

    // Run by CreateObject before the first QueryInterface.
    HRESULT FinalConstruct() noexcept override { return m_Sampler.SetupResult(); }

protected:
    HRESULT ExchangeProperties(activex::PropExchange& px) noexcept override;
    void Draw(HDC dc, const RECT& bounds, const RECT& invalid) noexcept override;

private:
    // Methods of _DVandrel.
    SHORT GetChnlValue(LONG nChnlIndex) noexcept;
    BOOL Start() noexcept;
    void Stop() noexcept;

    // Change handlers, run after the dispatch layer stored the new value in the field.
    void OnIntervalChanged() noexcept;
    void OnAddressChanged() noexcept;
    void OnChannelNumberChanged() noexcept;
    void ApplySetting(LONG& field, LONG (CChannelSampler::*get)() const noexcept,
                      void (CChannelSampler::*set)(LONG) noexcept) noexcept;

    LONG m_Interval;
    LONG m_Address;
    base::UniqueGdiObject m_Bitmap;
    CChannelSampler m_Sampler;
    LONG m_ChannelNumber;
};
