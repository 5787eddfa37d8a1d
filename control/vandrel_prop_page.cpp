#include "control/vandrel_prop_page.h"

#include "control/resource.h"

// {8728C7CB-895D-442F-8647-74F1366CDDE4}
const CLSID CLSID_VandrelPropPage = {
    0x8728c7cb, 0x895d, 0x442f, {0x86, 0x47, 0x74, 0xf1, 0x36, 0x6c, 0xdd, 0xe4}};

HRESULT CVandrelPropPage::CreateInstance(REFIID riid, void** ppv) noexcept {
    return activex::CreateObject<CVandrelPropPage>(riid, ppv);
}

CVandrelPropPage::CVandrelPropPage() noexcept
    : PropertyPageBase(IDD_PROPPAGE_VANDREL, IDS_PROPPAGE_CAPTION) {}
