// Hosting a control instance: the client site's ambient properties, and the order in which the
// form connects, loads and later lets go of an instance, against a recording fake control.
#include <gtest/gtest.h>

#include <ocidl.h>
#include <olectl.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/com_object.h"
#include "base/com_ptr.h"
#include "base/variant.h"
#include "testtool/client_site.h"
#include "testtool/hosting.h"
#include "tests/support/hresult_matchers.h"

namespace {

using Log = std::vector<std::string>;

VARIANT Sentinel() {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = 0x5EED;
    return v;
}

[[nodiscard]] HRESULT GetAmbient(IOleClientSite* site, DISPID id, VARIANT* result,
                                 WORD flags = DISPATCH_PROPERTYGET) {
    base::ComPtr<IDispatch> ambients;
    HRESULT hr = site->QueryInterface(IID_IDispatch, ambients.put_void());
    if (FAILED(hr)) return hr;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    return ambients->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &none, result, nullptr, nullptr);
}

base::ComPtr<IOleClientSite> MakeSite(const wchar_t* name) {
    return base::ComPtr<IOleClientSite>::Attach(mirelo::ClientSite::Make(name));
}

TEST(ClientSite, AnswersTheAmbientsOfARunningForm) {
    auto site = MakeSite(L"Vandrel2");
    ASSERT_TRUE(site);
    VARIANT v = Sentinel();
    ASSERT_HR(S_OK, GetAmbient(site.get(), DISPID_AMBIENT_USERMODE, &v));
    EXPECT_EQ(v.vt, VT_BOOL);
    EXPECT_EQ(v.boolVal, VARIANT_TRUE);

    v = Sentinel();
    ASSERT_HR(S_OK,
              GetAmbient(site.get(), DISPID_AMBIENT_USERMODE, &v, DISPATCH_METHOD | DISPATCH_PROPERTYGET));
    EXPECT_EQ(v.boolVal, VARIANT_TRUE);

    v = Sentinel();
    ASSERT_HR(S_OK, GetAmbient(site.get(), DISPID_AMBIENT_LOCALEID, &v));
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(static_cast<LCID>(v.lVal), ::GetUserDefaultLCID());

    base::Variant name;
    ASSERT_HR(S_OK, GetAmbient(site.get(), DISPID_AMBIENT_DISPLAYNAME, name.ptr()));
    ASSERT_EQ(name.vt(), VT_BSTR);
    EXPECT_STREQ(name.get().bstrVal, L"Vandrel2");
}

TEST(ClientSite, RefusesWhatItDoesNotHave) {
    auto site = MakeSite(L"Vandrel1");
    for (DISPID id : {DISPID_AMBIENT_BACKCOLOR, DISPID_AMBIENT_UIDEAD, DISPID_AMBIENT_FONT, 12345}) {
        VARIANT v = Sentinel();
        EXPECT_HR(DISP_E_MEMBERNOTFOUND, GetAmbient(site.get(), id, &v)) << id;
        EXPECT_EQ(v.lVal, 0x5EED) << "result untouched";
    }
    VARIANT v = Sentinel();
    EXPECT_HR(DISP_E_MEMBERNOTFOUND,
              GetAmbient(site.get(), DISPID_AMBIENT_USERMODE, &v, DISPATCH_PROPERTYPUT));

    base::ComPtr<IDispatch> ambients;
    ASSERT_HR(S_OK, site.As(&ambients));
    base::Variant arg(static_cast<LONG>(1));
    DISPPARAMS one{arg.ptr(), nullptr, 1, 0};
    EXPECT_HR(DISP_E_BADPARAMCOUNT, ambients->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, 0,
                                                     DISPATCH_PROPERTYGET, &one, &v, nullptr, nullptr));

    DISPID ids[2] = {7, 7};
    LPOLESTR names[2] = {const_cast<LPOLESTR>(L"UserMode"), const_cast<LPOLESTR>(L"X")};
    EXPECT_HR(DISP_E_UNKNOWNNAME, ambients->GetIDsOfNames(IID_NULL, names, 2, 0, ids));
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
    UINT count = 9;
    EXPECT_HR(S_OK, ambients->GetTypeInfoCount(&count));
    EXPECT_EQ(count, 0u);

    IMoniker* moniker = reinterpret_cast<IMoniker*>(1);
    EXPECT_HR(E_NOTIMPL, site->GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_OBJFULL, &moniker));
    EXPECT_EQ(moniker, nullptr);
    IOleContainer* container = reinterpret_cast<IOleContainer*>(1);
    EXPECT_HR(E_NOINTERFACE, site->GetContainer(&container));
    EXPECT_EQ(container, nullptr);
}

TEST(ClientSite, KeepsOneIdentity) {
    auto site = MakeSite(L"Vandrel1");
    base::ComPtr<IUnknown> fromSite, fromDispatch;
    base::ComPtr<IDispatch> dispatch;
    ASSERT_HR(S_OK, site.As(&fromSite));
    ASSERT_HR(S_OK, site.As(&dispatch));
    ASSERT_HR(S_OK, dispatch.As(&fromDispatch));
    EXPECT_EQ(fromSite.get(), fromDispatch.get());

    void* p = reinterpret_cast<void*>(1);
    EXPECT_HR(E_NOINTERFACE, site->QueryInterface(IID_IOleInPlaceSite, &p));
    EXPECT_EQ(p, nullptr);
    EXPECT_HR(E_POINTER, site->QueryInterface(IID_IOleClientSite, nullptr));
}

TEST(StoredState, IsTheSixteenBytesOfVersionExtentAndStockMask) {
    base::ComPtr<IStream> stream;
    ASSERT_HR(S_OK, mirelo::CreateStoredStateStream(stream.put()));
    unsigned char bytes[32] = {};
    ULONG got = 0;
    ASSERT_HR(S_OK, stream->Read(bytes, sizeof bytes, &got));
    ASSERT_EQ(got, 16u);
    const unsigned char expected[16] = {0x00, 0x00, 0x01, 0x00, 0x69, 0x03, 0x00, 0x00,
                                        0x95, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(bytes, expected, 16), 0);
}

// A control that records what its container does to it. Within Load it looks at its site the
// way a control does that needs UserMode while it loads.
class FakeControl final
    : public base::ComObject<FakeControl, base::Lifetime::Heap, IOleObject, IPersistStreamInit, IDispatch> {
public:
    explicit FakeControl(Log* log) : log_(log) {}
    HRESULT loadResult = S_OK;
    bool offerPersistence = true;
    std::vector<unsigned char> loaded;
    IOleClientSite* site = nullptr;

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* s) noexcept override {
        log_->push_back(s ? "SetClientSite(site)" : "SetClientSite(null)");
        if (s) s->AddRef();
        if (site) site->Release();
        site = s;
        return S_OK;
    }
    STDMETHODIMP GetClientSite(IOleClientSite** s) noexcept override {
        *s = site;
        if (site) site->AddRef();
        return S_OK;
    }
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) noexcept override { return Note("SetHostNames"); }
    STDMETHODIMP Close(DWORD option) noexcept override {
        return Note(option == OLECLOSE_NOSAVE ? "Close(NOSAVE)" : "Close(other)");
    }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) noexcept override { return Note("SetMoniker", E_NOTIMPL); }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) noexcept override {
        return Note("GetMoniker", E_NOTIMPL);
    }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) noexcept override {
        return Note("InitFromData", E_NOTIMPL);
    }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) noexcept override {
        return Note("GetClipboardData", E_NOTIMPL);
    }
    STDMETHODIMP DoVerb(LONG, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) noexcept override {
        return Note("DoVerb");
    }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB**) noexcept override { return Note("EnumVerbs", E_NOTIMPL); }
    STDMETHODIMP Update() noexcept override { return Note("Update"); }
    STDMETHODIMP IsUpToDate() noexcept override { return Note("IsUpToDate"); }
    STDMETHODIMP GetUserClassID(CLSID*) noexcept override { return Note("GetUserClassID", E_NOTIMPL); }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR*) noexcept override { return Note("GetUserType", E_NOTIMPL); }
    STDMETHODIMP SetExtent(DWORD, SIZEL*) noexcept override { return Note("SetExtent"); }
    STDMETHODIMP GetExtent(DWORD, SIZEL*) noexcept override { return Note("GetExtent", E_NOTIMPL); }
    STDMETHODIMP Advise(IAdviseSink*, DWORD*) noexcept override { return Note("Advise", E_NOTIMPL); }
    STDMETHODIMP Unadvise(DWORD) noexcept override { return Note("Unadvise", E_NOTIMPL); }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA**) noexcept override { return Note("EnumAdvise", E_NOTIMPL); }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD* status) noexcept override {
        *status = 0x20591;
        return S_OK;
    }
    STDMETHODIMP SetColorScheme(LOGPALETTE*) noexcept override { return Note("SetColorScheme", E_NOTIMPL); }

    // IPersistStreamInit
    STDMETHODIMP GetClassID(CLSID*) noexcept override { return Note("GetClassID", E_NOTIMPL); }
    STDMETHODIMP IsDirty() noexcept override { return Note("IsDirty", S_FALSE); }
    STDMETHODIMP Load(LPSTREAM stream) noexcept override {
        std::string entry = "Load";
        if (site) {
            base::ComPtr<IDispatch> ambients;
            VARIANT v;
            ::VariantInit(&v);
            DISPPARAMS none{nullptr, nullptr, 0, 0};
            if (SUCCEEDED(site->QueryInterface(IID_IDispatch, ambients.put_void())) &&
                SUCCEEDED(ambients->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none,
                                           &v, nullptr, nullptr)) &&
                v.vt == VT_BOOL && v.boolVal == VARIANT_TRUE) {
                entry += " in user mode";
            }
        }
        unsigned char chunk[64];
        ULONG got = 0;
        while (SUCCEEDED(stream->Read(chunk, sizeof chunk, &got)) && got > 0)
            loaded.insert(loaded.end(), chunk, chunk + got);
        return Note(entry.c_str(), loadResult);
    }
    STDMETHODIMP Save(LPSTREAM, BOOL) noexcept override { return Note("Save"); }
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) noexcept override { return Note("GetSizeMax", E_NOTIMPL); }
    STDMETHODIMP InitNew() noexcept override { return Note("InitNew"); }

    // IDispatch: never called by the hosting itself.
    STDMETHODIMP GetTypeInfoCount(UINT*) noexcept override { return Note("GetTypeInfoCount", E_NOTIMPL); }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override {
        return Note("GetTypeInfo", E_NOTIMPL);
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override {
        return Note("GetIDsOfNames", E_NOTIMPL);
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) noexcept override {
        return Note("Invoke", E_NOTIMPL);
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (riid == IID_IPersistStreamInit && !offerPersistence) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return ComObject::QueryInterface(riid, ppv);
    }

private:
    [[nodiscard]] HRESULT Note(const char* what, HRESULT hr = S_OK) noexcept {
        log_->push_back(what);
        return hr;
    }
    Log* log_;
};

class HostingTest : public ::testing::Test {
protected:
    Log log;
    base::ComPtr<FakeControl> control = base::ComPtr<FakeControl>::Attach(FakeControl::Make(&log));
    base::ComPtr<IOleClientSite> site = MakeSite(L"Vandrel1");
};

TEST_F(HostingTest, SiteFirstThenStoredStateThenDispatchOnly) {
    {
        mirelo::HostedControl hosted;
        ASSERT_HR(S_OK, hosted.Host(static_cast<IOleObject*>(control.get()), site.get()));
        EXPECT_EQ(log, (Log{"SetClientSite(site)", "Load in user mode"}))
            << "no activation, no extent, no verbs";
        EXPECT_EQ(control->site, site.get());
        const std::vector<unsigned char> expected = {0x00, 0x00, 0x01, 0x00, 0x69, 0x03, 0x00, 0x00,
                                                     0x95, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
        EXPECT_EQ(control->loaded, expected);
        EXPECT_EQ(hosted.Dispatch(), static_cast<IDispatch*>(control.get()));
        log.clear();
    }
    EXPECT_EQ(log, (Log{"Close(NOSAVE)", "SetClientSite(null)"}));
    EXPECT_EQ(control->RefCount(), 1u) << "the form keeps no reference once the instance is released";
}

TEST_F(HostingTest, AFailedLoadDisconnectsTheSiteAgain) {
    control->loadResult = E_UNEXPECTED;
    mirelo::HostedControl hosted;
    EXPECT_HR(E_UNEXPECTED, hosted.Host(static_cast<IOleObject*>(control.get()), site.get()));
    EXPECT_EQ(log, (Log{"SetClientSite(site)", "Load in user mode", "Close(NOSAVE)", "SetClientSite(null)"}));
    EXPECT_EQ(hosted.Dispatch(), nullptr);
    EXPECT_EQ(control->RefCount(), 1u);
}

TEST_F(HostingTest, AControlThatCannotLoadStateIsRefused) {
    control->offerPersistence = false;
    mirelo::HostedControl hosted;
    EXPECT_HR(E_NOINTERFACE, hosted.Host(static_cast<IOleObject*>(control.get()), site.get()));
    EXPECT_EQ(log, (Log{"SetClientSite(site)", "Close(NOSAVE)", "SetClientSite(null)"}));
    EXPECT_HR(E_POINTER, hosted.Host(nullptr, site.get()));
}

TEST_F(HostingTest, MovingAHostedControlKeepsOneHold) {
    mirelo::HostedControl a;
    ASSERT_HR(S_OK, a.Host(static_cast<IOleObject*>(control.get()), site.get()));
    mirelo::HostedControl b = std::move(a);
    EXPECT_EQ(a.Dispatch(), nullptr);
    EXPECT_NE(b.Dispatch(), nullptr);
    log.clear();
    b.Release();
    b.Release();
    EXPECT_EQ(log, (Log{"Close(NOSAVE)", "SetClientSite(null)"}));
}

TEST(MissingControl, TheDialogNamesTheInstanceTheCodeAndWhatToDo) {
    const std::wstring text =
        mirelo::MissingControlText(L"Vandrel2", REGDB_E_CLASSNOTREG, L"Class not registered", false);
    EXPECT_EQ(
        L"The control Vandrel2 (VandrelLib.Vandrel, Vandrel.ocx) could not be created: 0x80040154 "
        L"Class not registered\nRegister Vandrel.ocx with regsvr32 and start Mirelo again.",
        text);
}

TEST(MissingControl, AControlOfTheOtherBitnessNamesTheMireloToRun) {
    const std::wstring text = mirelo::MissingControlText(L"Vandrel1", REGDB_E_CLASSNOTREG, L"", true);
    const std::wstring own = sizeof(void*) == 8 ? L"64" : L"32", other = sizeof(void*) == 8 ? L"32" : L"64";
    EXPECT_EQ(L"The control Vandrel1 (VandrelLib.Vandrel, Vandrel.ocx) is registered for " + other +
                  L"-bit programs only, and this Mirelo is " + own + L"-bit.\nRun the " + other +
                  L"-bit Mirelo.exe that comes with that Vandrel.ocx, or register the " + own +
                  L"-bit Vandrel.ocx with regsvr32.",
              text);
}

TEST(MissingControl, AMissingDirectPortIsOneSentenceNamingIt) {
    const std::wstring text = mirelo::MissingControlText(L"Vandrel1", HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND),
                                                         L"The module was not found.", false);
    EXPECT_EQ(0u, text.find(L"Vandrel.ocx could not be loaded because DirectPort.dll"));
    EXPECT_EQ(std::wstring::npos, text.find(L'\n'));
    EXPECT_EQ(std::wstring::npos, text.find(L". "));  // one sentence
    EXPECT_EQ(text.size() - 1, text.rfind(L'.'));
}

}  // namespace
