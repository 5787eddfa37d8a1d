// The control module Vandrel.ocx: its module object with the class factories, and the four
// exports. Every export only calls into code that cannot throw.
#include <windows.h>
#include <olectl.h>

#include "activex/module.h"
#include "activex/registration.h"
#include "base/hresult.h"
#include "base/runtime.h"
#include "control/class_table.h"
#include "control/resource.h"
#include "control/vandrel_channels_page.h"
#include "control/vandrel_chart.h"
#include "control/vandrel_chart_page.h"
#include "control/vandrel_ctrl.h"
#include "control/vandrel_prop_page.h"
#include "vandrel_h.h"

namespace {

// The registration of the control at index of the class table, whose CLSID its factory serves.
template <size_t index>
[[nodiscard]] HRESULT UpdateControlRegistry(HINSTANCE module, BOOL add) noexcept {
    return activex::UpdateControlRegistration(module, vandrel::kControlRegistrations[index], add);
}

// The registration of the page at index of the class table, whose CLSID its factory serves.
template <size_t index>
[[nodiscard]] HRESULT UpdatePageRegistry(HINSTANCE module, BOOL add) noexcept {
    return activex::UpdatePageRegistration(module, vandrel::kPageRegistrations[index], add);
}

// The factory list in the order every walk visits it: the pages, then the controls.
const activex::ClassEntry kClasses[] = {
    {vandrel::kPageRegistrations[0].clsid, &CVandrelPropPage::CreateInstance, &UpdatePageRegistry<0>},
    {vandrel::kPageRegistrations[1].clsid, &CVandrelChannelsPage::CreateInstance, &UpdatePageRegistry<1>},
    {vandrel::kPageRegistrations[2].clsid, &CVandrelChartPage::CreateInstance, &UpdatePageRegistry<2>},
    {vandrel::kControlRegistrations[0].clsid, &CVandrelCtrl::CreateInstance, &UpdateControlRegistry<0>},
    {vandrel::kControlRegistrations[1].clsid, &CVandrelChart::CreateInstance, &UpdateControlRegistry<1>},
};

class CVandrelApp final : public activex::Module {
public:
    CVandrelApp() : Module(kClasses) {}
};

CVandrelApp g_app;

// The exports' answer for the class entries: SELFREG_E_CLASS for a failure, except a refused
// write, which keeps its own code so that the installer or person sees why (no rights).
[[nodiscard]] HRESULT ClassRegistrationResult(HRESULT hr) noexcept {
    if (SUCCEEDED(hr)) return S_OK;
    return hr == E_ACCESSDENIED ? hr : SELFREG_E_CLASS;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) noexcept {
    switch (reason) {
        case DLL_PROCESS_ATTACH: ::DisableThreadLibraryCalls(instance);
#ifndef NDEBUG
            // A debug build says where each failure it returns began, in the debugger's output.
            base::SetFailureOriginHook(&base::DebugOutputFailureOrigin);
#endif
            if (!g_app.Init(instance)) {
                g_app.Exit(false);
                return FALSE;
            }
            base::KeepModuleLoadedWhereUnloadingLeaks(instance);
            break;
        case DLL_PROCESS_DETACH:
            // reserved is set when the process ends, null when the module is freed.
            g_app.Exit(reserved != nullptr);
            if (!reserved) base::ReleaseRuntimeReserve();
            break;
        default: break;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) noexcept {
    return g_app.GetClassObject(rclsid, riid, ppv);
}

// Whether objects or server locks are alive, in both builds. Where the module stays loaded for the
// rest of the process (base/runtime.h) COM's FreeLibrary after S_OK leaves it mapped.
STDAPI DllCanUnloadNow() noexcept { return g_app.CanUnloadNow(); }

STDAPI DllRegisterServer() noexcept {
    if (FAILED(activex::RegisterModuleTypeLib(activex::Module::Instance(), LIBID_VandrelLib))) {
        return SELFREG_E_TYPELIB;
    }
    return ClassRegistrationResult(g_app.UpdateRegistry(TRUE));
}

STDAPI DllUnregisterServer() noexcept {
    if (FAILED(activex::UnregisterModuleTypeLib(LIBID_VandrelLib, vandrel::kLibMajor, vandrel::kLibMinor,
                                                vandrel::kLibLocale))) {
        return SELFREG_E_TYPELIB;
    }
    return ClassRegistrationResult(g_app.UpdateRegistry(FALSE));
}
