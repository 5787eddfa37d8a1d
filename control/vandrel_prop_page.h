// CVandrelPropPage: the control's one property page, an empty panel titled "Simple". It edits no
// property; the control's settings are reached only through its dispatch interface. Created by the
// property frame through the page's class factory and used on the frame's thread.
#pragma once

#include "activex/property_page.h"

class CVandrelPropPage final : public activex::PropertyPageBase {
public:
    // The create function of the page's class factory.
    [[nodiscard]] static HRESULT CreateInstance(REFIID riid, void** ppv) noexcept;

    CVandrelPropPage() noexcept;
};
