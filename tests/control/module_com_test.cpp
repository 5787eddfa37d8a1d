// The module as a COM server: its class objects and when it may be unloaded, the control's COM
// identity and OLE answers, and the type information it gives through its interfaces.
#include <gtest/gtest.h>

#include <windows.h>
#include <objsafe.h>
#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <vector>

#include "base/com_object.h"
#include "base/com_ptr.h"
#include "tests/control/vandrel_ocx.h"
#include "tests/support/call_site.h"
#include "tests/support/hresult_matchers.h"

using base::ComPtr;
using client::kClsidVandrel;
using client::kDiidDVandrel;
using client::kDiidDVandrelEvents;
using testsupport::CreateControl;
using testsupport::kChannelsPageClsid;
using testsupport::kLibid;
using testsupport::kPageClsid;
using testsupport::VandrelOcx;

namespace {

void* const kSentinel = reinterpret_cast<void*>(static_cast<ULONG_PTR>(0x5E5E5E5E));

// The object's IUnknown; null for no object (a failure the caller has already reported).
ComPtr<IUnknown> Identity(IUnknown* p, testsupport::CallSite site = testsupport::CallSite::Here()) {
    const testsupport::CallerTrace fromCaller(site);
    ComPtr<IUnknown> unknown;
    if (!p) return unknown;
    EXPECT_HR(S_OK, p->QueryInterface(IID_IUnknown, unknown.put_void()));
    return unknown;
}

// A sink that answers the interfaces it is told and counts its references.
class FakeSink final : public base::ComObject<FakeSink, base::Lifetime::Scoped, IUnknown> {
public:
    explicit FakeSink(std::vector<IID> iids) : iids_(std::move(iids)) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (ppv && std::find(iids_.begin(), iids_.end(), riid) != iids_.end()) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return ComObject::QueryInterface(riid, ppv);
    }

private:
    std::vector<IID> iids_;
};

}  // namespace

// --- class objects and unloading -----------------------------------------------------------------

TEST(ModuleClassObjects, ServesExactlyTheControlsAndThePages) {
    const VandrelOcx& ocx = VandrelOcx::Get();
    for (const CLSID& clsid : {kClsidVandrel, client::kClsidVandrelChart, kPageClsid, kChannelsPageClsid,
                               testsupport::kChartPageClsid}) {
        ComPtr<IClassFactory> factory;
        EXPECT_HR(S_OK, ocx.GetClassObject(clsid, IID_IClassFactory, factory.put_void()));
        ASSERT_TRUE(factory);
        void* p = kSentinel;
        EXPECT_HR(E_NOINTERFACE, factory->QueryInterface(IID_IDispatch, &p));
        EXPECT_EQ(nullptr, p);
        ComPtr<IUnknown> unknown;
        EXPECT_HR(S_OK, ocx.GetClassObject(clsid, IID_IUnknown, unknown.put_void()));
        EXPECT_EQ(Identity(factory.get()).get(), unknown.get());
    }
    void* p = kSentinel;
    EXPECT_HR(CLASS_E_CLASSNOTAVAILABLE, ocx.GetClassObject(kLibid, IID_IClassFactory, &p));
    EXPECT_EQ(nullptr, p);
    p = kSentinel;
    EXPECT_HR(CLASS_E_CLASSNOTAVAILABLE, ocx.GetClassObject(CLSID_NULL, IID_IClassFactory, &p));
    EXPECT_EQ(nullptr, p);
    EXPECT_HR(E_POINTER, ocx.GetClassObject(kClsidVandrel, IID_IClassFactory, nullptr));
}

TEST(ModuleClassObjects, FactoryRefusesAggregationAndUnknownInterfaces) {
    ComPtr<IClassFactory> factory;
    ASSERT_HR(S_OK, VandrelOcx::Get().GetClassObject(kClsidVandrel, IID_IClassFactory, factory.put_void()));
    FakeSink outer({});
    void* p = kSentinel;
    EXPECT_HR(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_IUnknown, &p));
    EXPECT_EQ(nullptr, p);
    p = kSentinel;
    EXPECT_HR(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IObjectSafety, &p));
    EXPECT_EQ(nullptr, p);
    factory.reset();
    EXPECT_HR(S_OK, VandrelOcx::Get().CanUnloadNow()) << "the refused object must be gone";
}

TEST(ModuleClassObjects, CanUnloadOnlyWhenNothingOfItIsHeld) {
    const VandrelOcx& ocx = VandrelOcx::Get();
    EXPECT_HR(S_OK, ocx.CanUnloadNow());

    ComPtr<IClassFactory> factory;
    ASSERT_HR(S_OK, ocx.GetClassObject(kPageClsid, IID_IClassFactory, factory.put_void()));
    EXPECT_HR(S_FALSE, ocx.CanUnloadNow()) << "a factory held from outside";
    EXPECT_HR(S_OK, factory->LockServer(TRUE));
    factory.reset();
    EXPECT_HR(S_FALSE, ocx.CanUnloadNow()) << "a server lock";
    ASSERT_HR(S_OK, ocx.GetClassObject(kPageClsid, IID_IClassFactory, factory.put_void()));
    EXPECT_HR(S_OK, factory->LockServer(FALSE));
    factory.reset();
    EXPECT_HR(S_OK, ocx.CanUnloadNow());

    auto page = ocx.Create<IPropertyPage>(kPageClsid);
    EXPECT_HR(S_FALSE, ocx.CanUnloadNow()) << "a live page";
    page.reset();

    ComPtr<IEnumOLEVERB> verbs;
    {
        auto ctrl = CreateControl();
        EXPECT_HR(S_FALSE, ocx.CanUnloadNow()) << "a live control";
        ComPtr<IOleObject> ole;
        ASSERT_HR(S_OK, ctrl->QueryInterface(IID_IOleObject, ole.put_void()));
        ASSERT_HR(S_OK, ole->EnumVerbs(verbs.put()));
    }
    EXPECT_HR(S_FALSE, ocx.CanUnloadNow()) << "an enumerator of the module outlives the control";
    verbs.reset();
    EXPECT_HR(S_OK, ocx.CanUnloadNow());
}

// --- the control's COM identity and OLE answers --------------------------------------------------

TEST(ControlIdentity, AnswersTheContainerInterfacesWithOneIdentity) {
    auto ctrl = CreateControl();
    const auto self = Identity(ctrl.get());
    const IID answered[] = {IID_IDispatch,
                            kDiidDVandrel,
                            IID_IOleObject,
                            IID_IOleControl,
                            IID_IOleWindow,
                            IID_IOleInPlaceObject,
                            IID_IOleInPlaceActiveObject,
                            IID_IViewObject,
                            IID_IViewObject2,
                            IID_IPersist,
                            IID_IPersistStreamInit,
                            IID_IPersistStorage,
                            IID_IPersistPropertyBag,
                            IID_ISpecifyPropertyPages,
                            IID_IConnectionPointContainer,
                            IID_IProvideClassInfo,
                            IID_IProvideClassInfo2};
    for (const IID& iid : answered) {
        ComPtr<IUnknown> p;
        ASSERT_HR(S_OK, ctrl->QueryInterface(iid, p.put_void()));
        EXPECT_EQ(self.get(), Identity(p.get()).get());
        ComPtr<IUnknown> back;
        EXPECT_HR(S_OK, p->QueryInterface(IID_IOleObject, back.put_void()));
    }
    // Its Address reads any I/O port: it never claims to be safe for scripting or initialisation.
    for (const IID& iid : {IID_IObjectSafety, IID_IPersistFile, IID_IClassFactory, kDiidDVandrelEvents}) {
        void* p = kSentinel;
        EXPECT_HR(E_NOINTERFACE, ctrl->QueryInterface(iid, &p));
        EXPECT_EQ(nullptr, p);
    }
}

TEST(ControlIdentity, TellsItsClassStatusNameAndVerb) {
    auto ctrl = CreateControl();
    ComPtr<IOleObject> ole;
    ASSERT_HR(S_OK, ctrl->QueryInterface(IID_IOleObject, ole.put_void()));
    DWORD status = 0;
    EXPECT_HR(S_OK, ole->GetMiscStatus(DVASPECT_CONTENT, &status));
    EXPECT_EQ(0x20591u, status);
    CLSID clsid = {};
    EXPECT_HR(S_OK, ole->GetUserClassID(&clsid));
    EXPECT_EQ(kClsidVandrel, clsid);
    ComPtr<IPersist> persist;
    ASSERT_HR(S_OK, ctrl->QueryInterface(IID_IPersist, persist.put_void()));
    clsid = {};
    EXPECT_HR(S_OK, persist->GetClassID(&clsid));
    EXPECT_EQ(kClsidVandrel, clsid);
    LPOLESTR name = nullptr;
    EXPECT_HR(S_OK, ole->GetUserType(USERCLASSTYPE_FULL, &name));
    EXPECT_STREQ(L"Vandrel Control", name);
    ::CoTaskMemFree(name);

    ComPtr<IEnumOLEVERB> verbs;
    ASSERT_HR(S_OK, ole->EnumVerbs(verbs.put()));
    OLEVERB verb[2] = {};
    ULONG fetched = 99;
    EXPECT_HR(S_FALSE, verbs->Next(2, verb, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(OLEIVERB_PROPERTIES, verb[0].lVerb);
    EXPECT_STREQ(L"<unknown verb>", verb[0].lpszVerbName);
    EXPECT_EQ(0u, verb[0].fuFlags);
    EXPECT_EQ(static_cast<DWORD>(OLEVERBATTRIB_ONCONTAINERMENU), verb[0].grfAttribs);
    ::CoTaskMemFree(verb[0].lpszVerbName);
    EXPECT_HR(S_FALSE, verbs->Next(1, verb, nullptr));
    EXPECT_HR(E_INVALIDARG, verbs->Next(2, verb, nullptr));
    ComPtr<IEnumOLEVERB> clone;
    EXPECT_HR(S_OK, verbs->Reset());
    ASSERT_HR(S_OK, verbs->Clone(clone.put()));
    EXPECT_HR(S_OK, verbs->Skip(1));
    EXPECT_HR(S_FALSE, verbs->Skip(1));
    EXPECT_HR(S_OK, clone->Next(1, verb, nullptr)) << "a clone keeps its own position";
    ::CoTaskMemFree(verb[0].lpszVerbName);

    CONTROLINFO info = {};
    info.cb = sizeof info;
    info.cAccel = 7;
    ComPtr<IOleControl> control;
    ASSERT_HR(S_OK, ctrl->QueryInterface(IID_IOleControl, control.put_void()));
    EXPECT_HR(S_OK, control->GetControlInfo(&info));
    EXPECT_EQ(0, info.cAccel);
    EXPECT_EQ(nullptr, info.hAccel);
}

TEST(ControlIdentity, ListsItsPropertyPagesSimpleFirst) {
    auto ctrl = CreateControl();
    ComPtr<ISpecifyPropertyPages> pages;
    ASSERT_HR(S_OK, ctrl->QueryInterface(IID_ISpecifyPropertyPages, pages.put_void()));
    for (int call = 0; call < 2; ++call) {
        CAUUID list = {99, nullptr};
        EXPECT_HR(S_OK, pages->GetPages(&list));
        ASSERT_EQ(2u, list.cElems);
        EXPECT_EQ(kPageClsid, list.pElems[0]);
        EXPECT_EQ(kChannelsPageClsid, list.pElems[1]);
        ::CoTaskMemFree(list.pElems);
    }
}

TEST(ControlIdentity, ExtentAndVerbsWithoutASite) {
    auto ctrl = CreateControl();
    ComPtr<IOleObject> ole;
    ASSERT_HR(S_OK, ctrl->QueryInterface(IID_IOleObject, ole.put_void()));
    SIZEL size = {0, 0};
    EXPECT_HR(S_OK, ole->GetExtent(DVASPECT_CONTENT, &size));
    EXPECT_GT(size.cx, 0);
    EXPECT_GT(size.cy, 0);
    EXPECT_HR(DV_E_DVASPECT, ole->SetExtent(DVASPECT_ICON, &size));
    EXPECT_HR(E_UNEXPECTED, ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, nullptr, nullptr));
    EXPECT_HR(E_NOTIMPL, ole->DoVerb(-100, nullptr, nullptr, 0, nullptr, nullptr));
    HWND hwnd = reinterpret_cast<HWND>(kSentinel);
    ComPtr<IOleInPlaceObject> inPlace;
    ASSERT_HR(S_OK, ctrl->QueryInterface(IID_IOleInPlaceObject, inPlace.put_void()));
    EXPECT_HR(E_FAIL, inPlace->GetWindow(&hwnd));
    EXPECT_EQ(nullptr, hwnd);
    EXPECT_HR(S_OK, inPlace->InPlaceDeactivate()) << "not active: nothing to do";
}

TEST(ControlIdentity, ConnectionPointsForTheEventsAndPropertyNotifications) {
    auto ctrl = CreateControl();
    ComPtr<IConnectionPointContainer> container;
    ASSERT_HR(S_OK, ctrl->QueryInterface(IID_IConnectionPointContainer, container.put_void()));

    ComPtr<IEnumConnectionPoints> points;
    ASSERT_HR(S_OK, container->EnumConnectionPoints(points.put()));
    std::vector<IID> iids;
    IConnectionPoint* point = nullptr;
    while (points->Next(1, &point, nullptr) == S_OK) {
        IID iid = {};
        point->GetConnectionInterface(&iid);
        iids.push_back(iid);
        point->Release();
    }
    EXPECT_EQ((std::vector<IID>{kDiidDVandrelEvents, IID_IPropertyNotifySink}), iids);
    points.reset();

    void* p = kSentinel;
    EXPECT_HR(CONNECT_E_NOCONNECTION,
              container->FindConnectionPoint(IID_IDispatch, reinterpret_cast<IConnectionPoint**>(&p)));
    EXPECT_EQ(nullptr, p);

    for (const IID& iid : {kDiidDVandrelEvents, IID_IPropertyNotifySink}) {
        ComPtr<IConnectionPoint> cp;
        ASSERT_HR(S_OK, container->FindConnectionPoint(iid, cp.put()));
        ComPtr<IConnectionPointContainer> back;
        EXPECT_HR(S_OK, cp->GetConnectionPointContainer(back.put()));
        EXPECT_EQ(Identity(ctrl.get()).get(), Identity(back.get()).get());

        FakeSink wrong({IID_IDispatch});
        DWORD cookie = 77;
        EXPECT_HR(CONNECT_E_CANNOTCONNECT, cp->Advise(&wrong, &cookie));
        EXPECT_EQ(0u, cookie);
        EXPECT_EQ(1u, wrong.RefCount());

        FakeSink sink({iid});
        ASSERT_HR(S_OK, cp->Advise(&sink, &cookie));
        EXPECT_NE(0u, cookie);
        EXPECT_GT(sink.RefCount(), 1u) << "the connection holds the sink";
        ComPtr<IEnumConnections> connections;
        ASSERT_HR(S_OK, cp->EnumConnections(connections.put()));
        CONNECTDATA data[2] = {};
        ULONG fetched = 0;
        EXPECT_HR(S_FALSE, connections->Next(2, data, &fetched));
        ASSERT_EQ(1u, fetched);
        EXPECT_EQ(cookie, data[0].dwCookie);
        data[0].pUnk->Release();
        connections.reset();
        EXPECT_HR(S_OK, cp->Unadvise(cookie));
        EXPECT_EQ(1u, sink.RefCount());
        EXPECT_HR(CONNECT_E_NOCONNECTION, cp->Unadvise(cookie));
    }
}

TEST(ControlIdentity, SinksAreLetGoWithTheControl) {
    FakeSink sink({kDiidDVandrelEvents});
    {
        auto ctrl = CreateControl();
        ComPtr<IConnectionPointContainer> container;
        ASSERT_HR(S_OK, ctrl->QueryInterface(IID_IConnectionPointContainer, container.put_void()));
        ComPtr<IConnectionPoint> cp;
        ASSERT_HR(S_OK, container->FindConnectionPoint(kDiidDVandrelEvents, cp.put()));
        DWORD cookie = 0;
        ASSERT_HR(S_OK, cp->Advise(&sink, &cookie));
    }
    EXPECT_EQ(1u, sink.RefCount());
    EXPECT_HR(S_OK, VandrelOcx::Get().CanUnloadNow());
}

// --- type information ----------------------------------------------------------------------------

TEST(ControlTypeInfo, FromTheModuleTypeLibrary) {
    auto ctrl = CreateControl();
    UINT count = 0;
    EXPECT_HR(S_OK, ctrl->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    ComPtr<ITypeInfo> info;
    ASSERT_HR(S_OK, ctrl->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()));
    TYPEATTR* attr = nullptr;
    ASSERT_HR(S_OK, info->GetTypeAttr(&attr));
    EXPECT_EQ(kDiidDVandrel, attr->guid);
    EXPECT_EQ(TKIND_DISPATCH, attr->typekind);
    info->ReleaseTypeAttr(attr);
    void* p = kSentinel;
    EXPECT_HR(DISP_E_BADINDEX, ctrl->GetTypeInfo(1, 0, reinterpret_cast<ITypeInfo**>(&p)));
    EXPECT_EQ(nullptr, p);

    ComPtr<IProvideClassInfo2> classInfo;
    ASSERT_HR(S_OK, ctrl->QueryInterface(IID_IProvideClassInfo2, classInfo.put_void()));
    ComPtr<ITypeInfo> coclass;
    ASSERT_HR(S_OK, classInfo->GetClassInfo(coclass.put()));
    ASSERT_HR(S_OK, coclass->GetTypeAttr(&attr));
    EXPECT_EQ(kClsidVandrel, attr->guid);
    EXPECT_EQ(TKIND_COCLASS, attr->typekind);
    coclass->ReleaseTypeAttr(attr);
    GUID guid = {};
    EXPECT_HR(S_OK, classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &guid));
    EXPECT_EQ(kDiidDVandrelEvents, guid);
    EXPECT_HR(E_INVALIDARG, classInfo->GetGUID(99, &guid));
}

TEST(ControlTypeInfo, NamesToDispidsCaseInsensitively) {
    auto ctrl = CreateControl();
    struct Case {
        std::vector<const wchar_t*> names;
        std::vector<DISPID> ids;
    };
    const Case cases[] = {
        {{L"Interval"}, {1}}, {{L"ADDRESS"}, {2}}, {{L"getchnlvalue", L"nChnlIndex"}, {3, 0}},
        {{L"Start"}, {4}},    {{L"stop"}, {5}},    {{L"ChannelNumber"}, {6}},
    };
    for (const Case& c : cases) {
        std::vector<DISPID> ids(c.names.size(), 12345);
        EXPECT_HR(S_OK, ctrl->GetIDsOfNames(IID_NULL, const_cast<LPOLESTR*>(c.names.data()),
                                            static_cast<UINT>(c.names.size()), 0, ids.data()));
        EXPECT_EQ(c.ids, ids) << c.names[0];
    }
    LPOLESTR unknown = const_cast<LPOLESTR>(L"Channels");
    DISPID id = 12345;
    EXPECT_HR(DISP_E_UNKNOWNNAME, ctrl->GetIDsOfNames(IID_NULL, &unknown, 1, 0, &id));
    EXPECT_EQ(DISPID_UNKNOWN, id);
    EXPECT_HR(DISP_E_UNKNOWNINTERFACE, ctrl->GetIDsOfNames(IID_IDispatch, &unknown, 1, 0, &id));
    DISPPARAMS none = {};
    EXPECT_HR(DISP_E_UNKNOWNINTERFACE,
              ctrl->Invoke(1, IID_IDispatch, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr));
}
