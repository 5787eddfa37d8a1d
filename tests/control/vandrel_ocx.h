// Test access to the built Vandrel.ocx: loaded once from beside the test program, its classes
// reached through DllGetClassObject (no registry), and late-bound calls by DISPID as a client
// makes them.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/com_ptr.h"
#include "base/module_file.h"
#include "base/late_bound.h"
#include "base/variant.h"
#include "client/vandrel_ids.h"
#include "tests/support/call_site.h"
#include "tests/support/fail_fast.h"
#include "tests/support/hresult_matchers.h"

namespace testsupport {

// The identities of the module that no client needs, written out here rather than taken from its
// code; the others are the clients' copy (client/vandrel_ids.h).
// {8728C7CB-895D-442F-8647-74F1366CDDE4}
inline constexpr CLSID kPageClsid = {
    0x8728C7CB, 0x895D, 0x442F, {0x86, 0x47, 0x74, 0xF1, 0x36, 0x6C, 0xDD, 0xE4}};
// {8B99F5F7-DEAE-4074-9A88-232532E66835}
inline constexpr CLSID kChannelsPageClsid = {
    0x8B99F5F7, 0xDEAE, 0x4074, {0x9A, 0x88, 0x23, 0x25, 0x32, 0xE6, 0x68, 0x35}};
// {7AD9A13E-2E6B-4264-89E6-DBC515E57398}
inline constexpr CLSID kChartPageClsid = {
    0xC36DC61C, 0x8B26, 0x42E7, {0x8A, 0xF7, 0x55, 0x96, 0x61, 0x27, 0x72, 0x53}};
inline constexpr GUID kLibid = {0x7AD9A13E, 0x2E6B, 0x4264, {0x89, 0xE6, 0xDB, 0xC5, 0x15, 0xE5, 0x73, 0x98}};

using DllGetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using DllCanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

class VandrelOcx {
public:
    // The module, loaded on first use and kept for the rest of the program.
    static VandrelOcx& Get() {
        static VandrelOcx ocx;
        return ocx;
    }

    HMODULE Module() const { return module_; }
    std::wstring Path() const { return path_; }

    [[nodiscard]] HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) const {
        return getClassObject_(clsid, riid, ppv);
    }
    [[nodiscard]] HRESULT CanUnloadNow() const { return canUnloadNow_(); }

    // A new object; the test ends when there is none, since everything after would use it.
    template <class T>
    base::ComPtr<T> Create(REFCLSID clsid) const {
        base::ComPtr<IClassFactory> factory;
        base::ComPtr<T> object;
        HRESULT hr = GetClassObject(clsid, IID_IClassFactory, factory.put_void());
        if (SUCCEEDED(hr)) hr = factory->CreateInstance(nullptr, __uuidof(T), object.put_void());
        if (FAILED(hr) || !object) {
            char text[64];
            std::snprintf(text, sizeof text, "creating an object of Vandrel.ocx failed, hr 0x%08lX",
                          static_cast<unsigned long>(hr));
            EndTest(text);
        }
        return object;
    }

private:
    VandrelOcx() {
        path_ = base::BesideProgram(L"Vandrel.ocx");
        module_ = ::LoadLibraryW(path_.c_str());
        if (!module_) {
            ADD_FAILURE() << "cannot load Vandrel.ocx, error " << ::GetLastError();
            std::abort();
        }
        getClassObject_ = Export<DllGetClassObjectFn>("DllGetClassObject");
        canUnloadNow_ = Export<DllCanUnloadNowFn>("DllCanUnloadNow");
    }

    template <class Fn>
    Fn Export(const char* name) const {
        // Through a generic function pointer: FARPROC's own type says nothing of the signature.
        return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module_, name)));
    }

    HMODULE module_ = nullptr;
    std::wstring path_;
    DllGetClassObjectFn getClassObject_ = nullptr;
    DllCanUnloadNowFn canUnloadNow_ = nullptr;
};

inline base::ComPtr<IDispatch> CreateControl() {
    return VandrelOcx::Get().Create<IDispatch>(client::kClsidVandrel);
}

// Late-bound calls the way automation clients make them, arguments in call order.
[[nodiscard]] inline HRESULT Invoke(IDispatch* d, DISPID id, WORD flags,
                                    const std::vector<VARIANT>& argsInOrder, VARIANT* result,
                                    UINT* argErr = nullptr) {
    return base::InvokeById(d, id, flags, argsInOrder.data(), argsInOrder.size(), result, argErr);
}

inline VARIANT I4(LONG v) {
    VARIANT x;
    x.vt = VT_I4;
    x.lVal = v;
    return x;
}

[[nodiscard]] inline HRESULT Put(IDispatch* d, DISPID id, VARIANT value) {
    return base::PutProperty(d, id, value);
}

// A property's value, or a sentinel (-99999) when the get fails or returns another type.
inline LONG GetLong(IDispatch* d, DISPID id) {
    base::Variant v;
    if (FAILED(Invoke(d, id, DISPATCH_PROPERTYGET, {}, v.ptr())) || v.vt() != VT_I4) return -99999;
    return v.get().lVal;
}

inline SHORT GetChnlValue(IDispatch* d, LONG index, CallSite site = CallSite::Here()) {
    CallerTrace trace(site);
    base::Variant v;
    EXPECT_HR(S_OK, Invoke(d, client::kDispidGetChnlValue, DISPATCH_METHOD, {I4(index)}, v.ptr()));
    EXPECT_EQ(VT_I2, v.vt());
    return v.get().iVal;
}

inline VARIANT_BOOL Start(IDispatch* d, CallSite site = CallSite::Here()) {
    CallerTrace trace(site);
    base::Variant v;
    EXPECT_HR(S_OK, Invoke(d, client::kDispidStart, DISPATCH_METHOD, {}, v.ptr()));
    EXPECT_EQ(VT_BOOL, v.vt());
    return v.get().boolVal;
}

// Under a watchdog: a stop request that never reaches the sampler ends the program in seconds.
inline void Stop(IDispatch* d, CallSite site = CallSite::Here()) {
    CallerTrace trace(site);
    base::Variant v;
    WithinMs(kStopLimitMs, "Stop",
             [&] { EXPECT_HR(S_OK, Invoke(d, client::kDispidStop, DISPATCH_METHOD, {}, v.ptr())); });
    EXPECT_EQ(VT_EMPTY, v.vt());
}

// IPersistStreamInit::IsDirty as a bool.
inline bool IsDirty(IUnknown* control, CallSite site = CallSite::Here()) {
    CallerTrace trace(site);
    base::ComPtr<IPersistStreamInit> persist;
    EXPECT_HR(S_OK, control->QueryInterface(IID_IPersistStreamInit, persist.put_void()));
    return persist && persist->IsDirty() == S_OK;
}

}  // namespace testsupport
