// Mirelo: the form read_timer with two Vandrel control instances side by side. One thread, a
// single-threaded apartment: it creates the form and the instances, runs the load handler, shows
// the form and then serves clicks and ticks until the form is closed.
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <memory>
#include <string>

#include "base/inproc_server.h"
#include "base/registry_view.h"
#include "base/text.h"
#include "client/vandrel_ids.h"
#include "testtool/form_window.h"
#include "testtool/handlers.h"
#include "testtool/hosting.h"
#include "testtool/resource.h"

namespace {

class OleApartment {
public:
    OleApartment() noexcept : hr_(::OleInitialize(nullptr)) {}
    ~OleApartment() {
        if (SUCCEEDED(hr_)) ::OleUninitialize();
    }
    [[nodiscard]] HRESULT Result() const noexcept { return hr_; }

private:
    HRESULT hr_;
};

// Like any program whose form holds a control that cannot be created: say so and end.
void ReportMissingControl(const wchar_t* name, HRESULT hr) {
    const std::wstring systemText = base::SystemMessage(hr);
    const bool otherBitnessOnly =
        hr == REGDB_E_CLASSNOTREG && base::RegisteredForOtherBitnessOnly(client::kClsidVandrel);
    const std::wstring text = mirelo::MissingControlText(name, hr, systemText, otherBitnessOnly);
    ::MessageBoxW(nullptr, text.c_str(), mirelo::kFormCaption, MB_OK | MB_ICONERROR);
}

int RunMirelo(HINSTANCE instance, int cmdShow) {
    OleApartment apartment;
    if (FAILED(apartment.Result())) return 1;

    std::unique_ptr<mirelo::FormWindow> form;
    if (FAILED(mirelo::FormWindow::Create(instance, IDI_MIRELO, true, &form))) return 1;

    mirelo::HostedControl vandrel1, vandrel2;
    static constexpr const wchar_t* kNames[2] = {L"Vandrel1", L"Vandrel2"};
    mirelo::HostedControl* hosted[2] = {&vandrel1, &vandrel2};
    for (int i = 0; i < 2; ++i) {
        const HRESULT hr = mirelo::CreateVandrelInstance(kNames[i], hosted[i]);
        if (FAILED(hr)) {
            // Without registration the control is the Vandrel.ocx beside Mirelo (the portable folder).
            ReportMissingControl(kNames[i], base::ExplainCreateFailure(client::kClsidVandrel, hr,
                                                                       base::BesideProgram(L"Vandrel.ocx")));
            return 1;
        }
    }

    mirelo::FormHandlers handlers(*form, vandrel1.Dispatch(), vandrel2.Dispatch());
    LOG_IF_FAILED(handlers.Load());
    form->SetEvents(&handlers);
    form->Show(cmdShow);
    const int code = mirelo::RunMessageLoop(form->Hwnd());
    // The window is gone; the instances go before the apartment does.
    form->SetEvents(nullptr);
    vandrel2.Release();
    vandrel1.Release();
    return code;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int cmdShow) {
    try {
        return RunMirelo(instance, cmdShow);
    } catch (...) {
        return 1;
    }
}
