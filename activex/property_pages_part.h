// The property-pages part of a control: ISpecifyPropertyPages (the pages of the control class) and
// the platform's modal property frame on those pages for the control, which the properties verb
// opens when the container shows none of its own. Holds nothing of its own. Called on the control's
// apartment thread; the frame runs its own message loop there.
#pragma once

#include <ocidl.h>

#include "activex/control_parts.h"
#include "base/com_object.h"

namespace activex {

class PropertyPagesPart final
    : public base::ComObject<PropertyPagesPart, base::Lifetime::Part, ISpecifyPropertyPages>,
      public PropertyFrame {
public:
    PropertyPagesPart(IUnknown& owner, const ControlClass& control) noexcept
        : ComObject(owner), owner_(owner), control_(control) {}

    // PropertyFrame: captioned with the user type name.
    [[nodiscard]] HRESULT ShowPropertyFrame(HWND owner, LCID lcid) noexcept override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pages) noexcept override;

private:
    IUnknown& owner_;
    const ControlClass& control_;
};

}  // namespace activex
