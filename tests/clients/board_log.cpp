// BoardLog.dll (tests only): a scriptable window onto the simulated board's access log of the
// process it is loaded into. A script creates it by its ProgID next to a Vandrel control; both bind
// the same DirectPort.dll from the build's folder, so the log holds the control's port reads, with
// times that compare between processes. Methods: StartLog(capacity), Save(path) -> count,
// Pause(ms) (a sleep for scripts, whose own sleep fails under Wine). Apartment-threaded; every call
// comes on the creating thread.
#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <cstdio>
#include <vector>

#include "base/com_object.h"
#include "base/hresult.h"
#include "base/variant.h"
#include "directport/directport.h"
#include "tests/clients/board_log.h"

namespace {

std::atomic<LONG> g_objects{0};

enum : DISPID { kStartLog = 1, kSave = 2, kPause = 3 };

struct Name {
    const wchar_t* text;
    DISPID id;
};
const Name kNames[] = {{L"StartLog", kStartLog}, {L"Save", kSave}, {L"Pause", kPause}};

// The i-th argument in call order (rgvarg holds them last first), coerced to vt.
[[nodiscard]] HRESULT Argument(const DISPPARAMS* p, UINT i, VARTYPE vt, base::Variant* out) {
    if (i >= p->cArgs) return DISP_E_BADPARAMCOUNT;
    HRESULT hr = ::VariantCopyInd(out->put(), &p->rgvarg[p->cArgs - 1 - i]);
    if (SUCCEEDED(hr)) hr = out->ChangeType(vt);
    return hr;
}

[[nodiscard]] HRESULT SaveLog(const wchar_t* path, LONG* count) {
    std::vector<DPSIM_ACCESS> log(static_cast<size_t>(DPSIM_ReadLog(nullptr, 0)));
    log.resize(static_cast<size_t>(DPSIM_ReadLog(log.data(), static_cast<int>(log.size()))));
    std::FILE* file = ::_wfopen(path, L"w");
    if (!file) return HRESULT_FROM_WIN32(ERROR_CANNOT_MAKE);
    for (const DPSIM_ACCESS& a : log) {
        std::fprintf(file, "%lu %lld %ld %ld\n", static_cast<unsigned long>(a.threadId), a.timeUs,
                     static_cast<long>(a.port), static_cast<long>(a.value));
    }
    const bool written = std::fclose(file) == 0;
    *count = static_cast<LONG>(log.size());
    return written ? S_OK : E_FAIL;
}

class BoardLog final : public base::ComObject<BoardLog, base::Lifetime::Heap, IDispatch> {
public:
    BoardLog() noexcept { ++g_objects; }
    ~BoardLog() override { --g_objects; }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override {
        RETURN_HR_IF_NULL(E_POINTER, count);
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) noexcept override {
        RETURN_HR_IF(E_POINTER, !names || !ids);
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            for (const Name& n : kNames) {
                if (i == 0 && ::_wcsicmp(n.text, names[0]) == 0) ids[0] = n.id;
            }
            if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* p, VARIANT* result,
                                     EXCEPINFO*, UINT*) noexcept override {
        RETURN_HR_IF_NULL(E_POINTER, p);
        if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
        if (result) ::VariantInit(result);
        base::Variant arg;
        switch (id) {
            case kStartLog: {
                const HRESULT hr = Argument(p, 0, VT_I4, &arg);
                if (FAILED(hr)) return hr;
                DPSIM_StartLog(arg.get().lVal);
                return S_OK;
            }
            case kSave: {
                HRESULT hr = Argument(p, 0, VT_BSTR, &arg);
                if (FAILED(hr)) return hr;
                LONG count = 0;
                hr = SaveLog(arg.get().bstrVal, &count);
                if (SUCCEEDED(hr) && result) {
                    result->vt = VT_I4;
                    result->lVal = count;
                }
                return hr;
            }
            case kPause: {
                const HRESULT hr = Argument(p, 0, VT_I4, &arg);
                if (FAILED(hr)) return hr;
                ::Sleep(static_cast<DWORD>(arg.get().lVal));
                return S_OK;
            }
            default: return DISP_E_MEMBERNOTFOUND;
        }
    }
};

// Static: the module's lifetime, not its count of objects.
class Factory final : public base::ComObject<Factory, base::Lifetime::Scoped, IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** ppv) noexcept override {
        RETURN_HR_IF_NULL(E_POINTER, ppv);
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return base::CreateObject<BoardLog>(iid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) noexcept override { return S_OK; }
};

Factory g_factory;

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* ppv) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    *ppv = nullptr;
    if (clsid != testsupport::CLSID_BoardLog) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, ppv);
}

// Stays loaded while objects live; the factory is static.
STDAPI DllCanUnloadNow() noexcept { return g_objects == 0 ? S_OK : S_FALSE; }
