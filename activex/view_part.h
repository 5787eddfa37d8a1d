// The view part of a control: IViewObject2 for containers that draw the control themselves (print,
// snapshot, design surface) and its one view advise sink, which learns of redraws while the control
// has no window. Holds the sink and what it asked for. Called on the control's apartment thread.
#pragma once

#include <oleidl.h>

#include "activex/control_parts.h"
#include "base/com_object.h"
#include "base/com_ptr.h"

namespace activex {

class ViewPart final : public base::ComObject<ViewPart, base::Lifetime::Part, IViewObject2,
                                              base::Via<IViewObject, IViewObject2>> {
public:
    ViewPart(IUnknown& owner, Picture& picture, const ExtentSource& extent) noexcept
        : ComObject(owner), picture_(picture), extent_(extent) {}

    // Tells the advise sink, if there is one, that the picture changed.
    void SendViewChange() noexcept;
    // Lets go of the sink (the control is going away).
    void Disconnect() noexcept { sink_.reset(); }

    // IViewObject, IViewObject2
    STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* target, HDC targetDc,
                      HDC dc, LPCRECTL bounds, LPCRECTL wbounds, BOOL(STDMETHODCALLTYPE* cont)(ULONG_PTR),
                      ULONG_PTR contArg) noexcept override;
    STDMETHODIMP GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* target, HDC targetDc,
                             LOGPALETTE** colors) noexcept override;
    STDMETHODIMP Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze) noexcept override;
    STDMETHODIMP Unfreeze(DWORD freeze) noexcept override;
    STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) noexcept override;
    STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) noexcept override;
    STDMETHODIMP GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* target, LPSIZEL size) noexcept override;

private:
    Picture& picture_;
    const ExtentSource& extent_;
    base::ComPtr<IAdviseSink> sink_;
    DWORD aspects_ = 0;
    DWORD flags_ = 0;
};

}  // namespace activex
