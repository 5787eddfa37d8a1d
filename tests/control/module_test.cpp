// The module as a COM server and as a file: class objects and unloading, the control's COM identity
// and OLE answers, its type library, its resources, its exports and imports, and the dispatch table
// against the type library.
#include <gtest/gtest.h>

#include <windows.h>
#include <objsafe.h>
#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "activex/dialog_template.h"
#include "base/com_ptr.h"
#include "base/variant.h"
#include "control/resource.h"
#include "control/vandrel_ctrl.h"
#include "tests/control/vandrel_ocx.h"

using base::Bstr;
using base::ComPtr;
using testsupport::CreateControl;
using testsupport::kCtrlClsid;
using testsupport::kDispIid;
using testsupport::kEventsIid;
using testsupport::kLibid;
using testsupport::kPageClsid;
using testsupport::VandrelOcx;

namespace {

void* const kSentinel = reinterpret_cast<void*>(static_cast<ULONG_PTR>(0x5E5E5E5E));

// The object's IUnknown; null for no object (a failure the caller has already reported).
ComPtr<IUnknown> Identity(IUnknown* p) {
    ComPtr<IUnknown> unknown;
    if (!p) return unknown;
    EXPECT_EQ(S_OK, p->QueryInterface(IID_IUnknown, unknown.put_void()));
    return unknown;
}

// A sink that answers the interfaces it is told and counts its references.
class FakeSink final : public IUnknown {
public:
    explicit FakeSink(std::vector<IID> iids) : iids_(std::move(iids)) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (riid != IID_IUnknown && std::find(iids_.begin(), iids_.end(), riid) == iids_.end())
            return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    ULONG refs = 1;

private:
    std::vector<IID> iids_;
};

}  // namespace

// --- class objects and unloading -----------------------------------------------------------------

TEST(ModuleClassObjects, ServesExactlyTheControlAndThePage) {
    const VandrelOcx& ocx = VandrelOcx::Get();
    for (const CLSID& clsid : {kCtrlClsid, kPageClsid}) {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(S_OK, ocx.GetClassObject(clsid, IID_IClassFactory, factory.put_void()));
        ASSERT_TRUE(factory);
        void* p = kSentinel;
        EXPECT_EQ(E_NOINTERFACE, factory->QueryInterface(IID_IDispatch, &p));
        EXPECT_EQ(nullptr, p);
        ComPtr<IUnknown> unknown;
        EXPECT_EQ(S_OK, ocx.GetClassObject(clsid, IID_IUnknown, unknown.put_void()));
        EXPECT_EQ(Identity(factory.get()).get(), unknown.get());
    }
    void* p = kSentinel;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, ocx.GetClassObject(kLibid, IID_IClassFactory, &p));
    EXPECT_EQ(nullptr, p);
    p = kSentinel;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, ocx.GetClassObject(CLSID_NULL, IID_IClassFactory, &p));
    EXPECT_EQ(nullptr, p);
    EXPECT_EQ(E_POINTER, ocx.GetClassObject(kCtrlClsid, IID_IClassFactory, nullptr));
}

TEST(ModuleClassObjects, FactoryRefusesAggregationAndUnknownInterfaces) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, VandrelOcx::Get().GetClassObject(kCtrlClsid, IID_IClassFactory, factory.put_void()));
    FakeSink outer({});
    void* p = kSentinel;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_IUnknown, &p));
    EXPECT_EQ(nullptr, p);
    p = kSentinel;
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IObjectSafety, &p));
    EXPECT_EQ(nullptr, p);
    factory.reset();
    EXPECT_EQ(S_OK, VandrelOcx::Get().CanUnloadNow()) << "the refused object must be gone";
}

TEST(ModuleClassObjects, CanUnloadOnlyWhenNothingOfItIsHeld) {
    const VandrelOcx& ocx = VandrelOcx::Get();
    EXPECT_EQ(S_OK, ocx.CanUnloadNow());

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, ocx.GetClassObject(kPageClsid, IID_IClassFactory, factory.put_void()));
    EXPECT_EQ(S_FALSE, ocx.CanUnloadNow()) << "a factory held from outside";
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    factory.reset();
    EXPECT_EQ(S_FALSE, ocx.CanUnloadNow()) << "a server lock";
    ASSERT_EQ(S_OK, ocx.GetClassObject(kPageClsid, IID_IClassFactory, factory.put_void()));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    factory.reset();
    EXPECT_EQ(S_OK, ocx.CanUnloadNow());

    auto page = ocx.Create<IPropertyPage>(kPageClsid);
    EXPECT_EQ(S_FALSE, ocx.CanUnloadNow()) << "a live page";
    page.reset();

    ComPtr<IEnumOLEVERB> verbs;
    {
        auto ctrl = CreateControl();
        EXPECT_EQ(S_FALSE, ocx.CanUnloadNow()) << "a live control";
        ComPtr<IOleObject> ole;
        ASSERT_EQ(S_OK, ctrl->QueryInterface(IID_IOleObject, ole.put_void()));
        ASSERT_EQ(S_OK, ole->EnumVerbs(verbs.put()));
    }
    EXPECT_EQ(S_FALSE, ocx.CanUnloadNow()) << "an enumerator of the module outlives the control";
    verbs.reset();
    EXPECT_EQ(S_OK, ocx.CanUnloadNow());
}

// --- the control's COM identity and OLE answers --------------------------------------------------

TEST(ControlIdentity, AnswersTheContainerInterfacesWithOneIdentity) {
    auto ctrl = CreateControl();
    const auto self = Identity(ctrl.get());
    const IID answered[] = {IID_IDispatch,
                            kDispIid,
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
        ASSERT_EQ(S_OK, ctrl->QueryInterface(iid, p.put_void()));
        EXPECT_EQ(self.get(), Identity(p.get()).get());
        ComPtr<IUnknown> back;
        EXPECT_EQ(S_OK, p->QueryInterface(IID_IOleObject, back.put_void()));
    }
    // Its Address reads any I/O port: it never claims to be safe for scripting or initialisation.
    for (const IID& iid : {IID_IObjectSafety, IID_IPersistFile, IID_IClassFactory, kEventsIid}) {
        void* p = kSentinel;
        EXPECT_EQ(E_NOINTERFACE, ctrl->QueryInterface(iid, &p));
        EXPECT_EQ(nullptr, p);
    }
}

TEST(ControlIdentity, TellsItsClassStatusNameAndVerb) {
    auto ctrl = CreateControl();
    ComPtr<IOleObject> ole;
    ASSERT_EQ(S_OK, ctrl->QueryInterface(IID_IOleObject, ole.put_void()));
    DWORD status = 0;
    EXPECT_EQ(S_OK, ole->GetMiscStatus(DVASPECT_CONTENT, &status));
    EXPECT_EQ(0x20591u, status);
    CLSID clsid = {};
    EXPECT_EQ(S_OK, ole->GetUserClassID(&clsid));
    EXPECT_EQ(kCtrlClsid, clsid);
    ComPtr<IPersist> persist;
    ASSERT_EQ(S_OK, ctrl->QueryInterface(IID_IPersist, persist.put_void()));
    clsid = {};
    EXPECT_EQ(S_OK, persist->GetClassID(&clsid));
    EXPECT_EQ(kCtrlClsid, clsid);
    LPOLESTR name = nullptr;
    EXPECT_EQ(S_OK, ole->GetUserType(USERCLASSTYPE_FULL, &name));
    EXPECT_STREQ(L"Vandrel Control", name);
    ::CoTaskMemFree(name);

    ComPtr<IEnumOLEVERB> verbs;
    ASSERT_EQ(S_OK, ole->EnumVerbs(verbs.put()));
    OLEVERB verb[2] = {};
    ULONG fetched = 99;
    EXPECT_EQ(S_FALSE, verbs->Next(2, verb, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(OLEIVERB_PROPERTIES, verb[0].lVerb);
    EXPECT_STREQ(L"<unknown verb>", verb[0].lpszVerbName);
    EXPECT_EQ(0u, verb[0].fuFlags);
    EXPECT_EQ(static_cast<DWORD>(OLEVERBATTRIB_ONCONTAINERMENU), verb[0].grfAttribs);
    ::CoTaskMemFree(verb[0].lpszVerbName);
    EXPECT_EQ(S_FALSE, verbs->Next(1, verb, nullptr));
    EXPECT_EQ(E_INVALIDARG, verbs->Next(2, verb, nullptr));
    ComPtr<IEnumOLEVERB> clone;
    EXPECT_EQ(S_OK, verbs->Reset());
    ASSERT_EQ(S_OK, verbs->Clone(clone.put()));
    EXPECT_EQ(S_OK, verbs->Skip(1));
    EXPECT_EQ(S_FALSE, verbs->Skip(1));
    EXPECT_EQ(S_OK, clone->Next(1, verb, nullptr)) << "a clone keeps its own position";
    ::CoTaskMemFree(verb[0].lpszVerbName);

    CONTROLINFO info = {};
    info.cb = sizeof info;
    info.cAccel = 7;
    ComPtr<IOleControl> control;
    ASSERT_EQ(S_OK, ctrl->QueryInterface(IID_IOleControl, control.put_void()));
    EXPECT_EQ(S_OK, control->GetControlInfo(&info));
    EXPECT_EQ(0, info.cAccel);
    EXPECT_EQ(nullptr, info.hAccel);
}

TEST(ControlIdentity, ListsItsPropertyPage) {
    auto ctrl = CreateControl();
    ComPtr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(S_OK, ctrl->QueryInterface(IID_ISpecifyPropertyPages, pages.put_void()));
    for (int call = 0; call < 2; ++call) {
        CAUUID list = {99, nullptr};
        EXPECT_EQ(S_OK, pages->GetPages(&list));
        ASSERT_EQ(1u, list.cElems);
        EXPECT_EQ(kPageClsid, list.pElems[0]);
        ::CoTaskMemFree(list.pElems);
    }
}

TEST(ControlIdentity, ExtentAndVerbsWithoutASite) {
    auto ctrl = CreateControl();
    ComPtr<IOleObject> ole;
    ASSERT_EQ(S_OK, ctrl->QueryInterface(IID_IOleObject, ole.put_void()));
    SIZEL size = {0, 0};
    EXPECT_EQ(S_OK, ole->GetExtent(DVASPECT_CONTENT, &size));
    EXPECT_GT(size.cx, 0);
    EXPECT_GT(size.cy, 0);
    EXPECT_EQ(DV_E_DVASPECT, ole->SetExtent(DVASPECT_ICON, &size));
    EXPECT_EQ(E_UNEXPECTED, ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(E_NOTIMPL, ole->DoVerb(-100, nullptr, nullptr, 0, nullptr, nullptr));
    HWND hwnd = reinterpret_cast<HWND>(kSentinel);
    ComPtr<IOleInPlaceObject> inPlace;
    ASSERT_EQ(S_OK, ctrl->QueryInterface(IID_IOleInPlaceObject, inPlace.put_void()));
    EXPECT_EQ(E_FAIL, inPlace->GetWindow(&hwnd));
    EXPECT_EQ(nullptr, hwnd);
    EXPECT_EQ(S_OK, inPlace->InPlaceDeactivate()) << "not active: nothing to do";
}

TEST(ControlIdentity, ConnectionPointsForTheEventsAndPropertyNotifications) {
    auto ctrl = CreateControl();
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, ctrl->QueryInterface(IID_IConnectionPointContainer, container.put_void()));

    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(S_OK, container->EnumConnectionPoints(points.put()));
    std::vector<IID> iids;
    IConnectionPoint* point = nullptr;
    while (points->Next(1, &point, nullptr) == S_OK) {
        IID iid = {};
        point->GetConnectionInterface(&iid);
        iids.push_back(iid);
        point->Release();
    }
    EXPECT_EQ((std::vector<IID>{kEventsIid, IID_IPropertyNotifySink}), iids);
    points.reset();

    void* p = kSentinel;
    EXPECT_EQ(CONNECT_E_NOCONNECTION,
              container->FindConnectionPoint(IID_IDispatch, reinterpret_cast<IConnectionPoint**>(&p)));
    EXPECT_EQ(nullptr, p);

    for (const IID& iid : {kEventsIid, IID_IPropertyNotifySink}) {
        ComPtr<IConnectionPoint> cp;
        ASSERT_EQ(S_OK, container->FindConnectionPoint(iid, cp.put()));
        ComPtr<IConnectionPointContainer> back;
        EXPECT_EQ(S_OK, cp->GetConnectionPointContainer(back.put()));
        EXPECT_EQ(Identity(ctrl.get()).get(), Identity(back.get()).get());

        FakeSink wrong({IID_IDispatch});
        DWORD cookie = 77;
        EXPECT_EQ(CONNECT_E_CANNOTCONNECT, cp->Advise(&wrong, &cookie));
        EXPECT_EQ(0u, cookie);
        EXPECT_EQ(1u, wrong.refs);

        FakeSink sink({iid});
        ASSERT_EQ(S_OK, cp->Advise(&sink, &cookie));
        EXPECT_NE(0u, cookie);
        EXPECT_GT(sink.refs, 1u) << "the connection holds the sink";
        ComPtr<IEnumConnections> connections;
        ASSERT_EQ(S_OK, cp->EnumConnections(connections.put()));
        CONNECTDATA data[2] = {};
        ULONG fetched = 0;
        EXPECT_EQ(S_FALSE, connections->Next(2, data, &fetched));
        ASSERT_EQ(1u, fetched);
        EXPECT_EQ(cookie, data[0].dwCookie);
        data[0].pUnk->Release();
        connections.reset();
        EXPECT_EQ(S_OK, cp->Unadvise(cookie));
        EXPECT_EQ(1u, sink.refs);
        EXPECT_EQ(CONNECT_E_NOCONNECTION, cp->Unadvise(cookie));
    }
}

TEST(ControlIdentity, SinksAreLetGoWithTheControl) {
    FakeSink sink({kEventsIid});
    {
        auto ctrl = CreateControl();
        ComPtr<IConnectionPointContainer> container;
        ASSERT_EQ(S_OK, ctrl->QueryInterface(IID_IConnectionPointContainer, container.put_void()));
        ComPtr<IConnectionPoint> cp;
        ASSERT_EQ(S_OK, container->FindConnectionPoint(kEventsIid, cp.put()));
        DWORD cookie = 0;
        ASSERT_EQ(S_OK, cp->Advise(&sink, &cookie));
    }
    EXPECT_EQ(1u, sink.refs);
    EXPECT_EQ(S_OK, VandrelOcx::Get().CanUnloadNow());
}

// --- type information ----------------------------------------------------------------------------

TEST(ControlTypeInfo, FromTheModuleTypeLibrary) {
    auto ctrl = CreateControl();
    UINT count = 0;
    EXPECT_EQ(S_OK, ctrl->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, ctrl->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_EQ(kDispIid, attr->guid);
    EXPECT_EQ(TKIND_DISPATCH, attr->typekind);
    info->ReleaseTypeAttr(attr);
    void* p = kSentinel;
    EXPECT_EQ(DISP_E_BADINDEX, ctrl->GetTypeInfo(1, 0, reinterpret_cast<ITypeInfo**>(&p)));
    EXPECT_EQ(nullptr, p);

    ComPtr<IProvideClassInfo2> classInfo;
    ASSERT_EQ(S_OK, ctrl->QueryInterface(IID_IProvideClassInfo2, classInfo.put_void()));
    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(S_OK, classInfo->GetClassInfo(coclass.put()));
    ASSERT_EQ(S_OK, coclass->GetTypeAttr(&attr));
    EXPECT_EQ(kCtrlClsid, attr->guid);
    EXPECT_EQ(TKIND_COCLASS, attr->typekind);
    coclass->ReleaseTypeAttr(attr);
    GUID guid = {};
    EXPECT_EQ(S_OK, classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &guid));
    EXPECT_EQ(kEventsIid, guid);
    EXPECT_EQ(E_INVALIDARG, classInfo->GetGUID(99, &guid));
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
        EXPECT_EQ(S_OK, ctrl->GetIDsOfNames(IID_NULL, const_cast<LPOLESTR*>(c.names.data()),
                                            static_cast<UINT>(c.names.size()), 0, ids.data()));
        EXPECT_EQ(c.ids, ids) << c.names[0];
    }
    LPOLESTR unknown = const_cast<LPOLESTR>(L"Channels");
    DISPID id = 12345;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, ctrl->GetIDsOfNames(IID_NULL, &unknown, 1, 0, &id));
    EXPECT_EQ(DISPID_UNKNOWN, id);
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, ctrl->GetIDsOfNames(IID_IDispatch, &unknown, 1, 0, &id));
    DISPPARAMS none = {};
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE,
              ctrl->Invoke(1, IID_IDispatch, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr));
}

namespace {

ComPtr<ITypeLib> LoadModuleTypeLib() {
    ComPtr<ITypeLib> lib;
    if (FAILED(::LoadTypeLibEx(VandrelOcx::Get().path().c_str(), REGKIND_NONE, lib.put())) || !lib) {
        testsupport::EndTest("the module's type library does not load");
    }
    return lib;
}

std::wstring Doc(ITypeInfo* info, MEMBERID id) {
    Bstr name, doc;
    info->GetDocumentation(id, nullptr, doc.put(), nullptr, nullptr);
    return doc.get() ? doc.get() : L"";
}

std::wstring Name(ITypeInfo* info, MEMBERID id) {
    Bstr name;
    info->GetDocumentation(id, name.put(), nullptr, nullptr, nullptr);
    return name.get() ? name.get() : L"";
}

struct LibMember {
    std::wstring name;
    activex::MemberKind kind;
    VARTYPE type;  // VT_EMPTY for a void method
    UINT params;
    std::wstring help;
};

}  // namespace

TEST(ControlTypeInfo, TypeLibraryCarriesTheIdentitiesAndFlags) {
    auto lib = LoadModuleTypeLib();
    ASSERT_TRUE(lib);
    TLIBATTR* libAttr = nullptr;
    ASSERT_EQ(S_OK, lib->GetLibAttr(&libAttr));
    EXPECT_EQ(kLibid, libAttr->guid);
    EXPECT_EQ(1, libAttr->wMajorVerNum);
    EXPECT_EQ(0, libAttr->wMinorVerNum);
    EXPECT_TRUE(libAttr->wLibFlags & LIBFLAG_FCONTROL);
    lib->ReleaseTLibAttr(libAttr);
    Bstr name, doc, helpFile;
    ASSERT_EQ(S_OK, lib->GetDocumentation(-1, name.put(), doc.put(), nullptr, helpFile.put()));
    EXPECT_STREQ(L"VandrelLib", name.get());
    EXPECT_STREQ(L"Vandrel ActiveX", doc.get());
    EXPECT_STREQ(L"Vandrel.hlp", helpFile.get());

    struct Type {
        GUID guid;
        const wchar_t* name;
        TYPEKIND kind;
        WORD flags;
    };
    for (const Type& t :
         {Type{kDispIid, L"_DVandrel", TKIND_DISPATCH, TYPEFLAG_FDISPATCHABLE},
          Type{kEventsIid, L"_DVandrelEvents", TKIND_DISPATCH, TYPEFLAG_FDISPATCHABLE},
          Type{kCtrlClsid, L"Vandrel", TKIND_COCLASS, TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL}}) {
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(t.guid, info.put())) << t.name;
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
        EXPECT_EQ(t.kind, attr->typekind) << t.name;
        EXPECT_EQ(t.flags, attr->wTypeFlags & t.flags) << t.name;
        if (t.kind == TKIND_COCLASS) {
            ASSERT_EQ(2, attr->cImplTypes);
            for (UINT i = 0; i < 2; ++i) {
                INT implFlags = 0;
                info->GetImplTypeFlags(i, &implFlags);
                HREFTYPE ref = 0;
                info->GetRefTypeOfImplType(i, &ref);
                ComPtr<ITypeInfo> impl;
                info->GetRefTypeInfo(ref, impl.put());
                TYPEATTR* implAttr = nullptr;
                impl->GetTypeAttr(&implAttr);
                const bool source = implFlags & IMPLTYPEFLAG_FSOURCE;
                EXPECT_TRUE(implFlags & IMPLTYPEFLAG_FDEFAULT);
                EXPECT_EQ(source ? kEventsIid : kDispIid, implAttr->guid);
                impl->ReleaseTypeAttr(implAttr);
            }
        } else if (t.guid == kEventsIid) {
            EXPECT_EQ(0, attr->cFuncs);
            EXPECT_EQ(0, attr->cVars);
        }
        info->ReleaseTypeAttr(attr);
        EXPECT_EQ(L"Vandrel Control", Doc(info.get(), MEMBERID_NIL)) << t.name;
        EXPECT_EQ(t.name, Name(info.get(), MEMBERID_NIL));
    }
}

// The dispatch table and the type library describe the same members under the same DISPIDs, with
// the same help strings.
TEST(ControlTypeInfo, DispatchTableMatchesTheTypeLibrary) {
    auto lib = LoadModuleTypeLib();
    ASSERT_TRUE(lib);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(kDispIid, info.put()));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    std::map<DISPID, LibMember> members;
    for (UINT i = 0; i < attr->cVars; ++i) {
        VARDESC* var = nullptr;
        ASSERT_EQ(S_OK, info->GetVarDesc(i, &var));
        members[var->memid] = {Name(info.get(), var->memid), activex::MemberKind::Property,
                               var->elemdescVar.tdesc.vt, 0, Doc(info.get(), var->memid)};
        info->ReleaseVarDesc(var);
    }
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* func = nullptr;
        ASSERT_EQ(S_OK, info->GetFuncDesc(i, &func));
        const VARTYPE ret = func->elemdescFunc.tdesc.vt;
        for (SHORT p = 0; p < func->cParams; ++p) EXPECT_EQ(VT_I4, func->lprgelemdescParam[p].tdesc.vt);
        members[func->memid] = {Name(info.get(), func->memid), activex::MemberKind::Method,
                                ret == VT_VOID ? VARTYPE{VT_EMPTY} : ret, static_cast<UINT>(func->cParams),
                                Doc(info.get(), func->memid)};
        info->ReleaseFuncDesc(func);
    }
    info->ReleaseTypeAttr(attr);

    ASSERT_EQ(std::size(CVandrelCtrl::kDispatchMap), members.size());
    for (const auto& entry : CVandrelCtrl::kDispatchMap) {
        const auto found = members.find(entry.dispid);
        ASSERT_NE(members.end(), found) << "DISPID " << entry.dispid << " is not in the type library";
        const LibMember& m = found->second;
        EXPECT_EQ(entry.name, m.name) << entry.dispid;
        EXPECT_EQ(entry.kind, m.kind) << entry.dispid;
        EXPECT_EQ(entry.type, m.type) << entry.dispid;
        EXPECT_EQ(entry.paramCount, m.params) << entry.dispid;
        EXPECT_EQ(entry.helpString, m.help) << entry.dispid;
    }
}

// The property help strings are added to the compiler's library by a build step: they read back
// for each property, which stays a dispatch property (a VARDESC) with its name, and the library's
// other strings are where they were.
TEST(ControlTypeInfo, PropertiesCarryTheirHelpStrings) {
    auto lib = LoadModuleTypeLib();
    ASSERT_TRUE(lib);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(kDispIid, info.put()));
    struct Property {
        MEMBERID id;
        const wchar_t* name;
        const wchar_t* help;
    };
    std::map<MEMBERID, UINT> indexOf;
    for (UINT i = 0; i < 3; ++i) {
        VARDESC* var = nullptr;
        ASSERT_EQ(S_OK, info->GetVarDesc(i, &var));
        EXPECT_EQ(VAR_DISPATCH, var->varkind);
        EXPECT_EQ(VT_I4, var->elemdescVar.tdesc.vt);
        indexOf[var->memid] = i;
        info->ReleaseVarDesc(var);
    }
    for (const Property& p :
         {Property{1, L"Interval", L"Time Interval"}, Property{2, L"Address", L"Status Address"},
          Property{6, L"ChannelNumber", L"Chanel Count"}}) {
        ASSERT_EQ(1u, indexOf.count(p.id)) << p.name;
        Bstr name, doc, helpFile;
        DWORD context = 12345;
        ASSERT_EQ(S_OK, info->GetDocumentation(p.id, name.put(), doc.put(), &context, helpFile.put()))
            << p.name;
        EXPECT_STREQ(p.name, name.get());
        EXPECT_STREQ(p.help, doc.get());
        EXPECT_EQ(0u, context) << p.name;
        EXPECT_STREQ(L"Vandrel.hlp", helpFile.get()) << p.name;
    }
    EXPECT_EQ(L"Read Data", Doc(info.get(), 3));
    EXPECT_EQ(L"Stop working", Doc(info.get(), 5));
    Bstr libDoc;
    ASSERT_EQ(S_OK, lib->GetDocumentation(-1, nullptr, libDoc.put(), nullptr, nullptr));
    EXPECT_STREQ(L"Vandrel ActiveX", libDoc.get());
}

// --- the module file -----------------------------------------------------------------------------

namespace {

const IMAGE_NT_HEADERS* NtHeaders(HMODULE module) {
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
}

std::vector<std::string> ExportedNames(HMODULE module) {
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto& dir = NtHeaders(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    std::vector<std::string> out;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        out.emplace_back(reinterpret_cast<const char*>(base + names[i]));
    out.push_back("#functions=" + std::to_string(exports->NumberOfFunctions));
    return out;
}

std::vector<std::string> ImportedModules(HMODULE module) {
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto& dir = NtHeaders(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::vector<std::string> out;
    for (const auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name;
         ++d) {
        std::string name(reinterpret_cast<const char*>(base + d->Name));
        std::transform(name.begin(), name.end(), name.begin(),
                       [](char c) { return static_cast<char>(std::tolower(c)); });
        out.push_back(name);
    }
    return out;
}

constexpr WORD kChineseSimplified = 0x0804;

const void* Resource(const wchar_t* type, UINT id, DWORD* size) {
    HMODULE module = VandrelOcx::Get().module();
    HRSRC found = ::FindResourceExW(module, type, MAKEINTRESOURCEW(id), kChineseSimplified);
    if (!found) return nullptr;
    *size = ::SizeofResource(module, found);
    return ::LockResource(::LoadResource(module, found));
}

}  // namespace

TEST(ModuleFile, ExportsTheFourEntryPointsAndImportsOnlySystemModules) {
    HMODULE module = VandrelOcx::Get().module();
    EXPECT_EQ((std::vector<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                        "DllUnregisterServer", "#functions=4"}),
              ExportedNames(module));
    const std::set<std::string> allowed = {"directport.dll", "kernel32.dll", "user32.dll",   "gdi32.dll",
                                           "ole32.dll",      "oleaut32.dll", "advapi32.dll", "msvcrt.dll"};
    const auto imports = ImportedModules(module);
    for (const auto& name : imports) EXPECT_TRUE(allowed.count(name)) << name;
    EXPECT_TRUE(std::count(imports.begin(), imports.end(), "directport.dll"));
}

TEST(ModuleFile, ResourcesInSimplifiedChinese) {
    DWORD size = 0;
    EXPECT_TRUE(Resource(L"TYPELIB", 1, &size)) << "type library";
    for (UINT id : {1u, 2u, 200u}) {
        EXPECT_TRUE(Resource(RT_STRING, id / 16 + 1, &size)) << "string " << id;  // RT_STRING blocks
    }
    HMODULE module = VandrelOcx::Get().module();
    const std::pair<UINT, const wchar_t*> strings[] = {
        {1, L"Vandrel Control"}, {2, L"Vandrel Property Page"}, {200, L"Simple"}};
    for (const auto& [id, text] : strings) {
        wchar_t buffer[64] = {};
        ::LoadStringW(module, id, buffer, 64);
        EXPECT_STREQ(text, buffer) << id;
    }
    wchar_t none[8] = {};
    EXPECT_EQ(0, ::LoadStringW(module, 0xFE41, none, 8)) << "the verb keeps the fallback name";

    struct Picture {
        UINT id;
        LONG width, height;
    };
    for (const Picture& p : {Picture{1, 16, 15}, Picture{201, 32, 21}}) {
        const auto* header = static_cast<const BITMAPINFOHEADER*>(Resource(RT_BITMAP, p.id, &size));
        ASSERT_TRUE(header) << "bitmap " << p.id;
        EXPECT_EQ(p.width, header->biWidth) << p.id;
        EXPECT_EQ(p.height, header->biHeight) << p.id;
        EXPECT_EQ(4, header->biBitCount) << p.id;
    }

    const void* dialog = Resource(RT_DIALOG, IDD_PROPPAGE_VANDREL, &size);
    ASSERT_TRUE(dialog);
    activex::DialogTemplateInfo info;
    ASSERT_TRUE(activex::ParseDialogTemplate(dialog, size, &info));
    EXPECT_EQ(0x40000048u, info.style);
    EXPECT_EQ(0, info.items);
    EXPECT_EQ(0, info.x);
    EXPECT_EQ(0, info.y);
    EXPECT_EQ(250, info.cx);
    EXPECT_EQ(62, info.cy);
    EXPECT_EQ(9, info.pointSize);
    EXPECT_EQ(0, info.weight);
    EXPECT_EQ(0, info.italic);
    EXPECT_EQ(0, info.charset);
    EXPECT_EQ(L"MS Shell Dlg", info.typeface);
}
