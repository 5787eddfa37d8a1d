#include "testtool/hosting.h"

#include <ocidl.h>

#include <cstdint>
#include <cwchar>
#include <utility>

#include "base/hresult.h"
#include "client/vandrel_ids.h"
#include "testtool/client_site.h"

namespace mirelo {
namespace {

// The control's persisted state as the form keeps it for each instance, little-endian: format
// version 0x00010000, extent 873 x 661 HIMETRIC, stock-property mask 0.
constexpr uint8_t kStoredState[16] = {
    0x00, 0x00, 0x01, 0x00,  // version
    0x69, 0x03, 0x00, 0x00,  // 873
    0x95, 0x02, 0x00, 0x00,  // 661
    0x00, 0x00, 0x00, 0x00,  // no stock properties
};

}  // namespace

HostedControl& HostedControl::operator=(HostedControl&& other) noexcept {
    if (this != &other) {
        Release();
        object_ = std::move(other.object_);
        dispatch_ = std::move(other.dispatch_);
    }
    return *this;
}

HRESULT HostedControl::Host(IUnknown* control, IOleClientSite* site) noexcept {
    Release();
    RETURN_HR_IF_NULL(E_POINTER, control);
    RETURN_IF_FAILED(control->QueryInterface(IID_IOleObject, object_.put_void()));
    HRESULT hr = object_->SetClientSite(site);
    base::ComPtr<IPersistStreamInit> persist;
    base::ComPtr<IStream> state;
    if (SUCCEEDED(hr)) hr = control->QueryInterface(IID_IPersistStreamInit, persist.put_void());
    if (SUCCEEDED(hr)) hr = CreateStoredStateStream(state.put());
    if (SUCCEEDED(hr)) hr = persist->Load(state.get());
    if (SUCCEEDED(hr)) hr = control->QueryInterface(IID_IDispatch, dispatch_.put_void());
    if (FAILED(hr)) Release();
    return hr;
}

void HostedControl::Release() noexcept {
    dispatch_.reset();
    if (object_) {
        LOG_IF_FAILED(object_->Close(OLECLOSE_NOSAVE));
        LOG_IF_FAILED(object_->SetClientSite(nullptr));
        object_.reset();
    }
}

[[nodiscard]] HRESULT CreateStoredStateStream(IStream** stream) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, stream);
    *stream = nullptr;
    base::ComPtr<IStream> s;
    RETURN_IF_FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, s.put()));
    ULONG written = 0;
    RETURN_IF_FAILED(s->Write(kStoredState, sizeof kStoredState, &written));
    RETURN_HR_IF(STG_E_MEDIUMFULL, written != sizeof kStoredState);
    const LARGE_INTEGER start{};
    RETURN_IF_FAILED(s->Seek(start, STREAM_SEEK_SET, nullptr));
    *stream = s.Detach();
    return S_OK;
}

[[nodiscard]] HRESULT CreateVandrelInstance(const wchar_t* name, HostedControl* out) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, out);
    base::ComPtr<IOleClientSite> site =
        base::ComPtr<IOleClientSite>::Attach(ClientSite::Make(name ? name : L""));
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, site.get());
    base::ComPtr<IUnknown> control;
    RETURN_IF_FAILED(::CoCreateInstance(client::kClsidVandrel, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                        control.put_void()));
    return out->Host(control.get(), site.get());
}

std::wstring MissingControlText(const wchar_t* name, HRESULT hr, const std::wstring& systemText,
                                bool otherBitnessOnly) {
    const int own = sizeof(void*) == 8 ? 64 : 32, other = 96 - own;
    const std::wstring head = std::wstring(L"The control ") + name + L" (VandrelLib.Vandrel, Vandrel.ocx)";
    if (otherBitnessOnly) {
        return head + L" is registered for " + std::to_wstring(other) +
               L"-bit programs only, and this Mirelo is " + std::to_wstring(own) + L"-bit.\nRun the " +
               std::to_wstring(other) +
               L"-bit Mirelo.exe that comes with that Vandrel.ocx, or register the " + std::to_wstring(own) +
               L"-bit Vandrel.ocx with regsvr32.";
    }
    if (hr == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)) {
        return L"Vandrel.ocx could not be loaded because DirectPort.dll, the board's port-input library, "
               L"was not found: install the board's DirectPort.dll (or the installer's Simulated board "
               L"feature) and start Mirelo again.";
    }
    wchar_t code[16];
    std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    std::wstring text = head + L" could not be created: " + code;
    if (!systemText.empty()) text += L" " + systemText;
    return text + L"\nRegister Vandrel.ocx with regsvr32 and start Mirelo again.";
}

}  // namespace mirelo
