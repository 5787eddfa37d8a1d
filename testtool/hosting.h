// The form's hold on one control instance. The instance is created in the calling thread (the
// form's single-threaded apartment), given its client site before anything else, then loaded
// from the state the form stores for it; the handlers reach it only through its IDispatch.
// The instances are invisible at run time, so they are never activated or shown.
#pragma once

#include <oleidl.h>

#include <string>

#include "base/com_ptr.h"

namespace mirelo {

class HostedControl {
public:
    HostedControl() noexcept = default;
    HostedControl(HostedControl&&) noexcept = default;
    HostedControl& operator=(HostedControl&& other) noexcept;
    HostedControl(const HostedControl&) = delete;
    HostedControl& operator=(const HostedControl&) = delete;
    ~HostedControl() { Release(); }

    // Hosts control: SetClientSite(site), then IPersistStreamInit::Load of the stored state, then
    // takes its IDispatch. On failure the control is disconnected from the site again.
    [[nodiscard]] HRESULT Host(IUnknown* control, IOleClientSite* site) noexcept;

    // Closes the instance without saving and takes its site away; the control's last reference
    // then goes with this object's (a running control stops its sampling when destroyed).
    void Release() noexcept;

    IDispatch* Dispatch() const noexcept { return dispatch_.get(); }

private:
    base::ComPtr<IOleObject> object_;
    base::ComPtr<IDispatch> dispatch_;
};

// A stream holding the form's stored state of an instance (16 bytes), positioned at its start.
[[nodiscard]] HRESULT CreateStoredStateStream(IStream** stream) noexcept;

// Creates an instance of VandrelLib.Vandrel by its class in the calling thread and hosts it with
// a new client site whose ambient DisplayName is name.
[[nodiscard]] HRESULT CreateVandrelInstance(const wchar_t* name, HostedControl* out) noexcept;

// What the error dialog says when instance name could not be created with hr. systemText is the
// system's description of hr (may be empty); otherBitnessOnly tells that the control is registered
// only for programs of the other bitness, which an in-process server must match. A module that
// cannot be loaded for want of DirectPort.dll (the board's port-input library, imported by
// Vandrel.ocx; hr ERROR_MOD_NOT_FOUND) is named in one sentence of its own.
std::wstring MissingControlText(const wchar_t* name, HRESULT hr, const std::wstring& systemText,
                                bool otherBitnessOnly);

}  // namespace mirelo
