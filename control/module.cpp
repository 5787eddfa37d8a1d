// The control module Vandrel.ocx: its module object with the two class factories, and the four
// exports. Every export only calls into code that cannot throw.
#include <windows.h>
#include <olectl.h>

#include "activex/module.h"
#include "activex/registration.h"
#include "base/runtime.h"
#include "control/resource.h"
#include "control/vandrel_ctrl.h"
#include "control/vandrel_prop_page.h"
#include "vandrel_h.h"

namespace {

constexpr WORD kLibMajor = 1;
constexpr WORD kLibMinor = 0;
constexpr LCID kLibLocale = 0;

HRESULT UpdateControlRegistry(HINSTANCE module, BOOL add) noexcept {
    const activex::ControlRegistration reg = {
        &CLSID_Vandrel, L"VANDREL.VandrelCtrl.1", IDS_VANDREL, IDB_TOOLBOX, CVandrelCtrl::kMiscStatus,
        &LIBID_VandrelLib, kLibMajor, kLibMinor,
    };
    return activex::UpdateControlRegistration(module, reg, add);
}

HRESULT UpdatePageRegistry(HINSTANCE module, BOOL add) noexcept {
    const activex::PageRegistration reg = {&CLSID_VandrelPropPage, IDS_VANDREL_PPG};
    return activex::UpdatePageRegistration(module, reg, add);
}

// The factory list in the order every walk visits it: the page, then the control.
const activex::ClassEntry kClasses[] = {
    {&CLSID_VandrelPropPage, L"VANDREL.VandrelPropPage.1", &CVandrelPropPage::CreateInstance, &UpdatePageRegistry},
    {&CLSID_Vandrel, L"VANDREL.VandrelCtrl.1", &CVandrelCtrl::CreateInstance, &UpdateControlRegistry},
};

class CVandrelApp final : public activex::Module {
public:
    CVandrelApp() : Module(kClasses) {}
};

CVandrelApp theApp;

// The exports' answer for the class entries: SELFREG_E_CLASS for a failure, except a refused
// write, which keeps its own code so that the installer or person sees why (no rights).
HRESULT ClassRegistrationResult(HRESULT hr) noexcept {
    if (SUCCEEDED(hr)) return S_OK;
    return hr == E_ACCESSDENIED ? hr : SELFREG_E_CLASS;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) noexcept {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            ::DisableThreadLibraryCalls(instance);
            if (!theApp.Init(instance)) {
                theApp.Exit(false);
                return FALSE;
            }
            break;
        case DLL_PROCESS_DETACH:
            // reserved is set when the process ends, null when the module is freed.
            theApp.Exit(reserved != nullptr);
            if (!reserved) base::ReleaseRuntimeReserve();
            break;
        default:
            break;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return theApp.GetClassObject(rclsid, riid, ppv);
}

STDAPI DllCanUnloadNow() { return theApp.CanUnloadNow(); }

STDAPI DllRegisterServer() {
    if (FAILED(activex::RegisterModuleTypeLib(activex::Module::Instance(), LIBID_VandrelLib))) {
        return SELFREG_E_TYPELIB;
    }
    return ClassRegistrationResult(theApp.UpdateRegistry(TRUE));
}

STDAPI DllUnregisterServer() {
    if (FAILED(activex::UnregisterModuleTypeLib(LIBID_VandrelLib, kLibMajor, kLibMinor, kLibLocale))) {
        return SELFREG_E_TYPELIB;
    }
    return ClassRegistrationResult(theApp.UpdateRegistry(FALSE));
}
