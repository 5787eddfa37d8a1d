#include "control/vandrel_prop_page.h"

#include "control/resource.h"

HRESULT CVandrelPropPage::CreateInstance(REFIID riid, void** ppv) noexcept {
    return base::CreateObject<CVandrelPropPage>(riid, ppv);
}

CVandrelPropPage::CVandrelPropPage() noexcept
    : PropertyPageBase(IDD_PROPPAGE_VANDREL, IDS_PROPPAGE_CAPTION) {}
