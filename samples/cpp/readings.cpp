// Reads a board through the Vandrel control from C++, late bound by DISPID: the control is
// created by its ProgID and every member is called through IDispatch::Invoke with the fixed
// DISPIDs of its dispatch interface, so no header or type library of the control is needed.
//
// Sets the board's status port, the sampling interval and the channel count, and starts sampling.
// Then it waits in a message loop: the control fires DataReady on this thread, and the handler
// drains the new cycles with ReadCycles and prints the first five whole (number, time, values),
// each once. A busy program may get one DataReady for several cycles; ReadCycles still returns
// every one. The last line is "done". The program must have the control's bitness (a 32-bit build
// for the 32-bit control). Exit status 0 on success, 1 when the control cannot be created, a call
// fails (the HRESULT is printed) or no cycle comes.
#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>

#include <cstdio>

namespace {

// The members of the control's dispatch interface.
constexpr DISPID kInterval = 1;
constexpr DISPID kAddress = 2;
constexpr DISPID kStart = 4;
constexpr DISPID kStop = 5;
constexpr DISPID kChannelNumber = 6;
constexpr DISPID kReadCycles = 8;
constexpr DISPID kLastErrorText = 14;
// The event DataReady(nCycle) of the event interface _DVandrelEvents.
constexpr DISPID kDataReady = 1;
// {0CCC30C5-82DB-4870-8B3A-F7E005ABC32E}
constexpr IID kEventsIid = {0x0CCC30C5, 0x82DB, 0x4870, {0x8B, 0x3A, 0xF7, 0xE0, 0x05, 0xAB, 0xC3, 0x2E}};

constexpr LONG kBoardAddress = 356;  // status port of the board (0x164)
constexpr LONG kIntervalMs = 250;    // sampling interval, milliseconds
constexpr LONG kChannels = 4;        // 1, 4 or 8
constexpr int kCycles = 5;           // cycles to print

// One call by DISPID with the arguments last first, as Invoke takes them; the result, if any, is
// coerced to vt.
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

// One cell of the 2-D array of ReadCycles, coerced to vt.
HRESULT Cell(SAFEARRAY* rows, LONG row, LONG column, VARTYPE vt, VARIANT* value) noexcept {
    LONG index[2] = {row, column};
    VARIANT cell;
    ::VariantInit(&cell);
    HRESULT hr = ::SafeArrayGetElement(rows, index, &cell);
    if (SUCCEEDED(hr)) hr = ::VariantChangeType(value, &cell, 0, vt);
    ::VariantClear(&cell);
    return hr;
}

// Prints the cycles that came since the last call, oldest first, until kCycles are printed.
class Printer {
public:
    explicit Printer(IDispatch* control) noexcept : control_(control) {}

    int Printed() const noexcept { return printed_; }
    HRESULT Result() const noexcept { return result_; }

    void Drain() noexcept {
        if (printed_ >= kCycles || FAILED(result_)) return;
        VARIANT args[2];
        LONG lost = 0;
        args[0].vt = VT_BYREF | VT_I4;  // Lost, by reference
        args[0].plVal = &lost;
        args[1].vt = VT_I4;  // nMaxCycles
        args[1].lVal = kCycles - printed_;
        VARIANT rows;
        ::VariantInit(&rows);
        result_ = Call(control_, kReadCycles, DISPATCH_METHOD, args, 2, VT_ARRAY | VT_VARIANT, &rows);
        if (FAILED(result_)) return;
        if (lost > 0) std::printf("%ld cycles lost: the buffer was full\n", lost);
        LONG lastRow = -1, lastColumn = -1;
        ::SafeArrayGetUBound(rows.parray, 1, &lastRow);
        ::SafeArrayGetUBound(rows.parray, 2, &lastColumn);
        for (LONG row = 0; row <= lastRow && SUCCEEDED(result_); ++row) {
            VARIANT number, time;
            ::VariantInit(&number);
            ::VariantInit(&time);
            result_ = Cell(rows.parray, row, 0, VT_I4, &number);
            if (SUCCEEDED(result_)) result_ = Cell(rows.parray, row, 1, VT_DATE, &time);
            if (FAILED(result_)) break;
            // The time is local and carries milliseconds: the fraction of the day.
            const double day = time.date - static_cast<LONG>(time.date);
            const long ms = static_cast<long>(day * 86400000.0 + 0.5);
            std::printf("cycle %ld at %02ld:%02ld:%02ld.%03ld:", number.lVal, ms / 3600000, ms / 60000 % 60,
                        ms / 1000 % 60, ms % 1000);
            for (LONG column = 2; column <= lastColumn && SUCCEEDED(result_); ++column) {
                VARIANT value;
                ::VariantInit(&value);
                if (SUCCEEDED(result_ = Cell(rows.parray, row, column, VT_I2, &value)))
                    std::printf(" %d", value.iVal);
            }
            std::printf("\n");
            ++printed_;
        }
        ::VariantClear(&rows);
    }

private:
    IDispatch* const control_;
    int printed_ = 0;
    HRESULT result_ = S_OK;
};

// The sink of the control's events: the connection point asks it for the event interface, which
// is a dispatch interface, so it answers with its IDispatch. It lives on this function's stack and
// is disconnected before it goes, so its reference count only has to be right, not free it.
class Sink final : public IDispatch {
public:
    explicit Sink(Printer& printer) noexcept : printer_(printer) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (!ppv) return E_POINTER;
        *ppv =
            IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, kEventsIid)
                ? static_cast<IDispatch*>(this)
                : nullptr;
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return --refs_; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    // DataReady(nCycle): cycle nCycle and maybe others are waiting; the status event is not used.
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) noexcept override {
        if (id == kDataReady) printer_.Drain();
        return S_OK;
    }

private:
    Printer& printer_;
    ULONG refs_ = 1;
};

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

    // Connected before Start, so that no cycle comes unannounced.
    IConnectionPointContainer* container = nullptr;
    IConnectionPoint* point = nullptr;
    hr = control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (SUCCEEDED(hr)) {
        hr = container->FindConnectionPoint(kEventsIid, &point);
        container->Release();
    }
    if (FAILED(hr)) return hr;
    Printer printer(control);
    Sink sink(printer);
    DWORD cookie = 0;
    hr = point->Advise(&sink, &cookie);

    VARIANT started;
    ::VariantInit(&started);
    if (SUCCEEDED(hr)) hr = Call(control, kStart, DISPATCH_METHOD, nullptr, 0, VT_BOOL, &started);
    if (SUCCEEDED(hr) && started.boolVal != VARIANT_TRUE) {
        VARIANT why;
        ::VariantInit(&why);
        Call(control, kLastErrorText, DISPATCH_PROPERTYGET, nullptr, 0, VT_BSTR, &why);
        std::printf("Start failed: %ls\n", why.vt == VT_BSTR && why.bstrVal ? why.bstrVal : L"");
        ::VariantClear(&why);
        hr = E_FAIL;
    }
    // The message loop that the events arrive through, for at most 40 intervals.
    const ULONGLONG giveUp = ::GetTickCount64() + 40 * kIntervalMs;
    while (SUCCEEDED(hr) && printer.Printed() < kCycles && SUCCEEDED(printer.Result()) &&
           ::GetTickCount64() < giveUp) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    if (SUCCEEDED(hr) && SUCCEEDED(printer.Result()) && printer.Printed() < kCycles) {
        std::printf("no data within %ld ms\n", 40 * kIntervalMs);
        hr = E_FAIL;
    }
    if (SUCCEEDED(hr)) hr = printer.Result();
    const HRESULT stopped = Call(control, kStop, DISPATCH_METHOD, nullptr, 0, VT_EMPTY, nullptr);
    if (cookie) point->Unadvise(cookie);
    point->Release();
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
