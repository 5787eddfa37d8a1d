// The dispatch part of a control: IDispatch (type information from the control class's type library,
// Invoke through the control's dispatch table) and IProvideClassInfo2 (the class and its event
// interface). It answers IDispatch also for the primary dispatch interface, whose IID is known only
// at run time. Holds no state beyond what it was given. Called on the control's apartment thread.
#pragma once

#include <ocidl.h>

#include "activex/control_parts.h"
#include "base/com_object.h"

namespace activex {

class DispatchPart final
    : public base::ComObject<DispatchPart, base::Lifetime::Part, IDispatch, IProvideClassInfo2,
                             base::Via<IProvideClassInfo, IProvideClassInfo2>> {
public:
    DispatchPart(IUnknown& owner, const ControlClass& control, DispatchMembers& members) noexcept
        : ComObject(owner), control_(control), members_(members) {}

    // The listed interfaces, and IDispatch for the primary dispatch interface.
    void* FindInterface(REFIID riid) noexcept;

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) noexcept override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                               DISPID* ids) noexcept override;
    STDMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) noexcept override;

    // IProvideClassInfo, IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** out) noexcept override;
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) noexcept override;

private:
    const ControlClass& control_;
    DispatchMembers& members_;
};

}  // namespace activex
