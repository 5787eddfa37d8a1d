// Reads a board through the Vandrel control from C++, late bound by DISPID: the control is
// created by its ProgID and every member is called through IDispatch::Invoke with the fixed
// DISPIDs of its dispatch interface, so no header or type library of the control is needed.
//
// Sets the board's status port, the sampling interval and the channel count, starts sampling,
// prints five readings one interval apart and stops; the last line is "done". The program must
// have the control's bitness (a 32-bit build for the 32-bit control). Exit status 0 on success,
// 1 when the control cannot be created or a call fails (the HRESULT is printed).
#include <windows.h>
#include <oleauto.h>

#include <cstdio>

namespace {

// The members of the control's dispatch interface.
constexpr DISPID kInterval = 1;
constexpr DISPID kAddress = 2;
constexpr DISPID kGetChnlValue = 3;
constexpr DISPID kStart = 4;
constexpr DISPID kStop = 5;
constexpr DISPID kChannelNumber = 6;

constexpr LONG kBoardAddress = 356;  // status port of the board (0x164)
constexpr LONG kIntervalMs = 250;    // sampling interval, milliseconds
constexpr LONG kChannels = 4;        // 1, 4 or 8
constexpr SHORT kNoValue = 32767;    // GetChnlValue's answer for a bad index or a stale reading

// One call by DISPID; the result, if any, is coerced to vt.
HRESULT Call(IDispatch* control, DISPID id, WORD flags, VARIANT* args, UINT argCount, VARTYPE vt,
             VARIANT* result) noexcept {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {args, nullptr, argCount, 0};
    if (flags == DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &named;
        params.cNamedArgs = 1;
    }
    VARIANT out;
    ::VariantInit(&out);
    HRESULT hr = control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result ? &out : nullptr,
                                 nullptr, nullptr);
    if (SUCCEEDED(hr) && result) hr = ::VariantChangeType(result, &out, 0, vt);
    ::VariantClear(&out);
    return hr;
}

HRESULT PutLong(IDispatch* control, DISPID id, LONG value) noexcept {
    VARIANT arg;
    arg.vt = VT_I4;
    arg.lVal = value;
    return Call(control, id, DISPATCH_PROPERTYPUT, &arg, 1, VT_EMPTY, nullptr);
}

HRESULT GetLong(IDispatch* control, DISPID id, LONG* value) noexcept {
    VARIANT result;
    ::VariantInit(&result);
    const HRESULT hr = Call(control, id, DISPATCH_PROPERTYGET, nullptr, 0, VT_I4, &result);
    *value = result.lVal;
    return hr;
}

HRESULT GetChnlValue(IDispatch* control, LONG channel, SHORT* value) noexcept {
    VARIANT arg;
    arg.vt = VT_I4;
    arg.lVal = channel;
    VARIANT result;
    ::VariantInit(&result);
    const HRESULT hr = Call(control, kGetChnlValue, DISPATCH_METHOD, &arg, 1, VT_I2, &result);
    *value = result.iVal;
    return hr;
}

HRESULT Run(IDispatch* control) noexcept {
    HRESULT hr = PutLong(control, kAddress, kBoardAddress);
    if (SUCCEEDED(hr)) hr = PutLong(control, kInterval, kIntervalMs);
    if (SUCCEEDED(hr)) hr = PutLong(control, kChannelNumber, kChannels);
    LONG address = 0, interval = 0, channels = 0;
    if (SUCCEEDED(hr)) hr = GetLong(control, kAddress, &address);
    if (SUCCEEDED(hr)) hr = GetLong(control, kInterval, &interval);
    if (SUCCEEDED(hr)) hr = GetLong(control, kChannelNumber, &channels);
    if (FAILED(hr)) return hr;
    std::printf("Vandrel at port %ld, %ld channels, every %ld ms\n", address, channels, interval);

    VARIANT started;
    ::VariantInit(&started);
    hr = Call(control, kStart, DISPATCH_METHOD, nullptr, 0, VT_BOOL, &started);
    if (FAILED(hr)) return hr;
    if (started.boolVal != VARIANT_TRUE) {
        std::printf("Start failed\n");
        return E_FAIL;
    }

    // Until the first cycle has been read, every channel reads 32767.
    SHORT value = kNoValue;
    for (LONG waited = 0; waited < 20 * interval; waited += 10) {
        if (FAILED(hr = GetChnlValue(control, 0, &value)) || value != kNoValue) break;
        ::Sleep(10);
    }
    for (int reading = 1; reading <= 5 && SUCCEEDED(hr); ++reading) {
        std::printf("reading %d:", reading);
        for (LONG channel = 0; channel < channels && SUCCEEDED(hr); ++channel) {
            if (SUCCEEDED(hr = GetChnlValue(control, channel, &value))) std::printf(" %d", value);
        }
        std::printf("\n");
        ::Sleep(static_cast<DWORD>(interval));
    }
    const HRESULT stopped = Call(control, kStop, DISPATCH_METHOD, nullptr, 0, VT_EMPTY, nullptr);
    return FAILED(hr) ? hr : stopped;
}

}  // namespace

int main() {
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    CLSID clsid;
    IDispatch* control = nullptr;
    HRESULT hr = ::CLSIDFromProgID(L"VANDREL.VandrelCtrl.1", &clsid);
    if (SUCCEEDED(hr)) {
        hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&control));
    }
    if (SUCCEEDED(hr)) {
        hr = Run(control);
        control->Release();
    }
    ::CoUninitialize();
    if (FAILED(hr)) {
        std::fprintf(stderr, "Vandrel: failed with 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    std::printf("done\n");
    return 0;
}
