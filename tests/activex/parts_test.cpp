// The parts of a control, each composed into a tiny object of the test's own, with one recorder
// standing for the control and for the parts it reaches.
#include <gtest/gtest.h>

#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "activex/dispatch_part.h"
#include "activex/embedding_part.h"
#include "activex/events_part.h"
#include "activex/persistence_part.h"
#include "activex/property_pages_part.h"
#include "activex/typelib.h"
#include "activex/view_part.h"
#include "base/com_object.h"
#include "base/com_ptr.h"
#include "base/hresult.h"
#include "harness/event_sink.h"
#include "tests/control/fake_site.h"
#include "tests/support/hresult_matchers.h"

namespace {

const CLSID kClsid = {0x31111111, 0x1111, 0x1111, {1, 1, 1, 1, 1, 1, 1, 1}};
const IID kDispatchIid = {0x32222222, 0x2222, 0x2222, {2, 2, 2, 2, 2, 2, 2, 2}};
const IID kEventIid = {0x33333333, 0x3333, 0x3333, {3, 3, 3, 3, 3, 3, 3, 3}};
const CLSID kPages[] = {{0x34444444, 0x4444, 0x4444, {4, 4, 4, 4, 4, 4, 4, 4}},
                        {0x35555555, 0x5555, 0x5555, {5, 5, 5, 5, 5, 5, 5, 5}}};
activex::TypeLibCache g_typeLib(GUID_NULL, 1, 0);
const activex::ControlClass kClass = {kClsid, kDispatchIid, kEventIid, g_typeLib, 0, 0, kPages,
                                      2,      nullptr,      0,         nullptr};

// A tiny object that holds one part and answers its interfaces.
template <class Part>
class Owner final : public base::ComObject<Owner<Part>, base::Lifetime::Scoped, IUnknown> {
public:
    template <class... Args>
    explicit Owner(Args&&... args) : part(*this, std::forward<Args>(args)...) {}
    Part part;

private:
    void* FindMore(REFIID riid) noexcept override { return part.FindInterface(riid); }
};

// Stands for the control and for the parts a part reaches: records their calls, in order.
class Recorder final : public activex::Picture,
                       public activex::DispatchMembers,
                       public activex::PropertySet,
                       public activex::ModifiedFlag,
                       public activex::ExtentSource,
                       public activex::PropertyFrame,
                       public activex::EventFreeze,
                       public activex::EventThaw,
                       public activex::InPlaceActivation {
public:
    std::vector<std::string> calls;
    LONG values[2] = {1, 2};  // the persistent values, whose defaults are 10 and 20
    IOleClientSite* activatedIn = nullptr;
    HWND containerWindow = nullptr;

    void Draw(HDC, const RECT&, const RECT&) noexcept override { calls.push_back("Draw"); }
    [[nodiscard]] HRESULT InvokeMember(DISPID dispid, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                       UINT*) noexcept override {
        calls.push_back("InvokeMember " + std::to_string(dispid));
        return S_OK;
    }
    [[nodiscard]] HRESULT ExchangeProperties(activex::PropExchange& px) noexcept override {
        static const LONG defaults[2] = {10, 20};
        RETURN_IF_FAILED(px.ExchangeLong(L"a", values[0], &defaults[0]));
        return px.ExchangeLong(L"b", values[1], &defaults[1]);
    }
    void ValuesReplaced() noexcept override { calls.push_back("ValuesReplaced"); }
    bool IsModified() const noexcept override { return modified_; }
    void SetModified() noexcept override {
        calls.push_back("SetModified");
        modified_ = true;
    }
    SIZEL Extent() const noexcept override { return {300, 200}; }
    [[nodiscard]] HRESULT ShowPropertyFrame(HWND owner, LCID lcid) noexcept override {
        calls.push_back(owner == ::GetDesktopWindow() ? "ShowPropertyFrame " + std::to_string(lcid)
                                                      : "ShowPropertyFrame for another window");
        return S_OK;
    }
    void FreezeEvents(bool freeze) noexcept override { calls.push_back(freeze ? "Freeze" : "Thaw"); }
    void EventsThawed() noexcept override { calls.push_back("EventsThawed"); }
    [[nodiscard]] HRESULT Activate(LONG verb, IOleClientSite* site) noexcept override {
        calls.push_back("Activate " + std::to_string(verb));
        activatedIn = site;
        return S_OK;
    }
    void Hide() noexcept override { calls.push_back("Hide"); }
    void Deactivate() noexcept override { calls.push_back("Deactivate"); }
    void SetUserMode(bool userMode) noexcept override {
        calls.push_back("UserMode " + std::to_string(userMode));
    }
    HWND ContainerWindow() noexcept override { return containerWindow; }

private:
    bool modified_ = false;
};

class AdviseSink final : public base::ComObject<AdviseSink, base::Lifetime::Scoped, IAdviseSink> {
public:
    std::vector<std::string> calls;
    void STDMETHODCALLTYPE OnDataChange(FORMATETC*, STGMEDIUM*) noexcept override {}
    void STDMETHODCALLTYPE OnViewChange(DWORD aspect, LONG index) noexcept override {
        calls.push_back("OnViewChange " + std::to_string(aspect) + " " + std::to_string(index));
    }
    void STDMETHODCALLTYPE OnRename(IMoniker*) noexcept override {}
    void STDMETHODCALLTYPE OnSave() noexcept override {}
    void STDMETHODCALLTYPE OnClose() noexcept override { calls.push_back("OnClose"); }
};

base::ComPtr<IStream> StreamOf(std::vector<LONG> words) {
    base::ComPtr<IStream> stream;
    EXPECT_HR(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
    for (LONG w : words) stream->Write(&w, sizeof w, nullptr);
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}

using Calls = std::vector<std::string>;

// Fault injection: the next allocation of the program fails, as when memory is exhausted.
std::atomic<bool> g_failNextAllocation{false};

std::atomic<HRESULT> g_reported{S_OK};
void RecordFailure(HRESULT hr, const char*, const char*, int) noexcept { g_reported = hr; }

}  // namespace

// The library's operator delete frees what malloc gave.
void* operator new(std::size_t size) {
    if (g_failNextAllocation.exchange(false)) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}

TEST(DispatchPart, InvokeReachesTheTableOnlyOnThePrimaryInterface) {
    Recorder control;
    Owner<activex::DispatchPart> object(kClass, control);
    base::ComPtr<IDispatch> primary;
    ASSERT_HR(S_OK, object.QueryInterface(kDispatchIid, primary.put_void()));
    DISPPARAMS none = {};
    EXPECT_HR(DISP_E_UNKNOWNINTERFACE,
              primary->Invoke(7, IID_IDispatch, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
    EXPECT_HR(S_OK, primary->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
    EXPECT_EQ((Calls{"InvokeMember 7"}), control.calls);
}

// The frame belongs to the caller's window, else to the container's while the control is in place.
TEST(EmbeddingPart, PropertiesVerbOpensThePlatformFrameOnlyWhenTheSiteShowsNone) {
    for (HRESULT siteAnswer : {E_NOTIMPL, S_FALSE, S_OK}) {
        for (bool callerWindow : {true, false}) {
            Recorder control;
            control.containerWindow = ::GetDesktopWindow();
            Owner<activex::EmbeddingPart> object(kClass, control, control, control, control);
            testsupport::FakeSite site(nullptr);
            site.localeId = 0x0407;
            site.showPropertyFrame = siteAnswer;
            ASSERT_HR(S_OK, object.part.SetClientSite(&site));
            control.calls.clear();
            EXPECT_HR(S_OK, object.part.DoVerb(OLEIVERB_PROPERTIES, nullptr, nullptr, 0,
                                               callerWindow ? ::GetDesktopWindow() : nullptr, nullptr));
            EXPECT_EQ(siteAnswer == S_OK ? Calls{} : Calls{"ShowPropertyFrame 1031"}, control.calls)
                << "the owner window, the container's locale";
            object.part.Disconnect();
            EXPECT_EQ(1u, site.RefCount());
        }
    }
}

TEST(EmbeddingPart, OnlyARealExtentChangeModifiesAndCloseDeactivatesSavesAndTellsTheAdviseSinks) {
    Recorder control;
    Owner<activex::EmbeddingPart> object(kClass, control, control, control, control);
    testsupport::FakeSite site(nullptr);
    AdviseSink sink;
    DWORD cookie = 0;
    ASSERT_HR(S_OK, object.part.SetClientSite(&site));
    ASSERT_HR(S_OK, object.part.Advise(&sink, &cookie));
    control.calls.clear();
    SIZEL size = object.part.Extent();
    EXPECT_HR(S_OK, object.part.SetExtent(DVASPECT_CONTENT, &size));
    EXPECT_TRUE(control.calls.empty()) << "the same extent again";
    ++size.cx;
    EXPECT_HR(S_OK, object.part.SetExtent(DVASPECT_CONTENT, &size));
    EXPECT_HR(S_OK, object.part.Close(OLECLOSE_SAVEIFDIRTY));
    EXPECT_EQ((Calls{"SetModified", "Deactivate"}), control.calls);
    EXPECT_TRUE(site.Called("SaveObject"));
    EXPECT_EQ(Calls{"OnClose"}, sink.calls);
    object.part.Disconnect();
    EXPECT_EQ(1u, site.RefCount());
    EXPECT_EQ(1u, sink.RefCount());
}

// The in-place part hears UserMode when a site comes or goes and when the container says it changed
// (a site without ambients is a running form); losing the site and Disconnect deactivate.
TEST(EmbeddingPart, UserModeReachesTheInPlacePartAndLeavingTheSiteDeactivates) {
    Recorder control;
    Owner<activex::EmbeddingPart> object(kClass, control, control, control, control);
    testsupport::FakeSite site(nullptr);
    site.userMode = true;
    ASSERT_HR(S_OK, object.part.SetClientSite(&site));
    site.userMode = false;
    EXPECT_HR(S_OK, object.part.OnAmbientPropertyChange(DISPID_AMBIENT_BACKCOLOR));
    EXPECT_HR(S_OK, object.part.OnAmbientPropertyChange(DISPID_AMBIENT_USERMODE));
    site.hasAmbients = false;
    EXPECT_HR(S_OK, object.part.OnAmbientPropertyChange(DISPID_UNKNOWN));
    EXPECT_HR(S_OK, object.part.SetClientSite(nullptr));
    EXPECT_EQ(1u, site.RefCount());
    object.part.Disconnect();
    EXPECT_EQ((Calls{"UserMode 1", "UserMode 0", "UserMode 1", "Deactivate", "UserMode 1", "Deactivate"}),
              control.calls);
}

struct VerbCase {
    const char* name;
    LONG verb;
    HRESULT answer;
    Calls calls;  // what reaches the in-place part
};

void PrintTo(const VerbCase& c, std::ostream* os) { *os << c.name; }

class EmbeddingPartVerbs : public testing::TestWithParam<VerbCase> {};

// Each verb reaches the in-place part as the call it means: activation in the client site, or in
// the caller's site while there is no client site.
TEST_P(EmbeddingPartVerbs, ReachTheInPlacePartInTheClientSiteElseTheCallers) {
    const VerbCase& c = GetParam();
    Recorder control;
    Owner<activex::EmbeddingPart> object(kClass, control, control, control, control);
    testsupport::FakeSite client(nullptr), caller(nullptr);
    for (bool hasClientSite : {false, true}) {
        if (hasClientSite) {
            ASSERT_HR(S_OK, object.part.SetClientSite(&client));
        }
        control.calls.clear();
        control.activatedIn = nullptr;
        EXPECT_HR(c.answer, object.part.DoVerb(c.verb, nullptr, &caller, 0, nullptr, nullptr));
        EXPECT_EQ(c.calls, control.calls) << "client site " << hasClientSite;
        if (!control.activatedIn) continue;
        EXPECT_EQ(hasClientSite ? &client : &caller, control.activatedIn) << "client site " << hasClientSite;
    }
    object.part.Disconnect();
    EXPECT_EQ(1u, client.RefCount());
    EXPECT_EQ(1u, caller.RefCount());
}

INSTANTIATE_TEST_SUITE_P(
    Parts, EmbeddingPartVerbs,
    testing::Values(VerbCase{"Primary", OLEIVERB_PRIMARY, S_OK, {"Activate 0"}},
                    VerbCase{"Show", OLEIVERB_SHOW, S_OK, {"Activate -1"}},
                    VerbCase{"Open", OLEIVERB_OPEN, S_OK, {"Activate -2"}},
                    VerbCase{"UiActivate", OLEIVERB_UIACTIVATE, S_OK, {"Activate -4"}},
                    VerbCase{"InPlaceActivate", OLEIVERB_INPLACEACTIVATE, S_OK, {"Activate -5"}},
                    VerbCase{"Hide", OLEIVERB_HIDE, S_OK, {"Hide"}},
                    VerbCase{"UnknownPositiveIsPrimary", 7, OLEOBJ_S_INVALIDVERB, {"Activate 0"}},
                    VerbCase{"UnknownNegative", OLEIVERB_DISCARDUNDOSTATE, E_NOTIMPL, {}}),
    [](const testing::TestParamInfo<VerbCase>& test) { return std::string(test.param.name); });

TEST(ViewPart, SinkHearsOfChangesFromItsAdviseOnAndExtentIsTheControls) {
    Recorder control;
    Owner<activex::ViewPart> object(control, control);
    AdviseSink sink;
    object.part.SendViewChange();
    ASSERT_HR(S_OK, object.part.SetAdvise(DVASPECT_CONTENT, ADVF_PRIMEFIRST, &sink));
    EXPECT_EQ(Calls{"OnViewChange 1 -1"}, sink.calls) << "primed at once";
    object.part.SendViewChange();
    EXPECT_EQ(2u, sink.calls.size());
    DWORD aspects = 0, flags = 0;
    base::ComPtr<IAdviseSink> advised;
    EXPECT_HR(S_OK, object.part.GetAdvise(&aspects, &flags, advised.put()));
    EXPECT_EQ(&sink, advised.get());
    EXPECT_EQ(static_cast<DWORD>(DVASPECT_CONTENT), aspects);
    EXPECT_EQ(static_cast<DWORD>(ADVF_PRIMEFIRST), flags);
    advised.reset();
    SIZEL size = {};
    EXPECT_HR(S_OK, object.part.GetExtent(DVASPECT_CONTENT, -1, nullptr, &size));
    EXPECT_EQ(300, size.cx);
    EXPECT_EQ(200, size.cy);
    object.part.Disconnect();
    EXPECT_EQ(1u, sink.RefCount());
}

TEST(PersistencePart, OnlyAWholeLoadReplacesTheValuesAndASaveClearsTheFlagOnlyWhenAsked) {
    Recorder control;
    Owner<activex::PersistencePart> object(kClsid, control);
    activex::PersistencePart& part = object.part;
    part.SetModified();
    auto saved = StreamOf({});
    ASSERT_HR(S_OK, part.Save(saved.get(), FALSE));
    EXPECT_HR(S_OK, part.IsDirty()) << "a save that keeps the flag";

    EXPECT_HR(STG_E_READFAULT, part.Load(StreamOf({7}).get()));
    EXPECT_EQ(1, control.values[0]) << "the value taken from half a state is put back";
    EXPECT_HR(S_OK, part.IsDirty());
    EXPECT_TRUE(control.calls.empty()) << "nothing replaced";

    control.values[0] = 5;
    LARGE_INTEGER zero = {};
    saved->Seek(zero, STREAM_SEEK_SET, nullptr);
    EXPECT_HR(S_OK, part.Load(saved.get()));
    EXPECT_EQ(1, control.values[0]);
    EXPECT_HR(S_FALSE, part.IsDirty());

    part.SetModified();
    EXPECT_HR(S_OK, part.InitNew());
    EXPECT_EQ(10, control.values[0]);
    EXPECT_EQ(20, control.values[1]);
    EXPECT_HR(S_FALSE, part.IsDirty());
    EXPECT_EQ((Calls{"ValuesReplaced", "ValuesReplaced"}), control.calls);
}

class PropertyPagesPartList : public testing::TestWithParam<ULONG> {};

TEST_P(PropertyPagesPartList, HandsOutACopyOfTheClassPages) {
    const activex::ControlClass control = {kClsid, kDispatchIid, kEventIid, g_typeLib, 0,      0,
                                           kPages, GetParam(),   nullptr,   0,         nullptr};
    Owner<activex::PropertyPagesPart> object(control);
    CAUUID pages = {99, reinterpret_cast<GUID*>(&object)};
    ASSERT_HR(S_OK, object.part.GetPages(&pages));
    ASSERT_EQ(GetParam(), pages.cElems);
    EXPECT_EQ(GetParam() == 0, pages.pElems == nullptr);
    for (ULONG i = 0; i < pages.cElems; ++i) EXPECT_EQ(kPages[i], pages.pElems[i]) << i;
    ::CoTaskMemFree(pages.pElems);
}

INSTANTIATE_TEST_SUITE_P(Parts, PropertyPagesPartList, testing::Values(0u, 2u));

TEST(EventsPart, PointsAreFoundByTheirInterfaceAndHoldTheControl) {
    Recorder control;
    Owner<activex::EventsPart> object(kEventIid, control);
    for (const IID& iid : {kEventIid, IID_IPropertyNotifySink}) {
        base::ComPtr<IConnectionPoint> point;
        ASSERT_HR(S_OK, object.part.FindConnectionPoint(iid, point.put()));
        EXPECT_EQ(2u, object.RefCount()) << "a point handed out keeps its control";
        IID answered = {};
        EXPECT_HR(S_OK, point->GetConnectionInterface(&answered));
        EXPECT_EQ(iid, answered);
    }
    EXPECT_EQ(1u, object.RefCount());
}

// Events go to each sink in the order they connected, while the control is held; a sink that
// unadvises in its call neither breaks the round nor hears the next event.
TEST(EventsPart, FiresToEachSinkInOrderAndASinkMayUnadviseInItsCall) {
    Recorder control;
    Owner<activex::EventsPart> object(kEventIid, control);
    base::ComPtr<IConnectionPoint> point;
    ASSERT_HR(S_OK, object.part.FindConnectionPoint(kEventIid, point.put()));
    harness::EventSink first(kEventIid), second(kEventIid);
    DWORD firstCookie = 0, secondCookie = 0;
    ASSERT_HR(S_OK, point->Advise(&first, &firstCookie));
    ASSERT_HR(S_OK, point->Advise(&second, &secondCookie));
    EXPECT_TRUE(object.part.HasEventSinks());
    std::vector<std::string> order;
    first.onEvent = [&](const harness::FiredEvent&) {
        order.push_back("first, control held " + std::to_string(object.RefCount() > 2));
        point->Unadvise(firstCookie);
    };
    second.onEvent = [&](const harness::FiredEvent&) { order.push_back("second"); };
    VARIANT arg;
    arg.vt = VT_I4;
    arg.lVal = 7;
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    EXPECT_TRUE(object.part.Fire(5, params));
    EXPECT_TRUE(object.part.Fire(6, params));
    EXPECT_EQ((Calls{"first, control held 1", "second", "second"}), order);
    EXPECT_EQ(7, second.fired[1].value);
    EXPECT_HR(S_OK, point->Unadvise(secondCookie));
    EXPECT_FALSE(object.part.HasEventSinks());
    point.reset();
    EXPECT_EQ(1u, first.RefCount());
    EXPECT_EQ(1u, object.RefCount());
}

// Fire says whether the sinks heard the event, so that the control notes as told only what went
// out. Nothing goes while the container holds the events frozen (freezes nest, an unmatched thaw is
// ignored), and the control hears once, at the last thaw, that it may fire again. Without memory for
// the list of sinks nothing goes either, and the failure is reported, not swallowed as told.
TEST(EventsPart, FireSaysWhetherTheSinksHeardTheEvent) {
    Recorder control;
    Owner<activex::EventsPart> object(kEventIid, control);
    base::ComPtr<IConnectionPoint> point;
    ASSERT_HR(S_OK, object.part.FindConnectionPoint(kEventIid, point.put()));
    harness::EventSink sink(kEventIid);
    DWORD cookie = 0;
    ASSERT_HR(S_OK, point->Advise(&sink, &cookie));
    DISPPARAMS none = {};
    object.part.FreezeEvents(true);
    object.part.FreezeEvents(true);
    EXPECT_FALSE(object.part.Fire(1, none));
    object.part.FreezeEvents(false);
    EXPECT_FALSE(object.part.Fire(2, none)) << "one freeze still holds";
    EXPECT_TRUE(control.calls.empty());
    object.part.FreezeEvents(false);
    object.part.FreezeEvents(false);
    EXPECT_EQ(Calls{"EventsThawed"}, control.calls);

    g_reported = S_OK;
    const base::FailureOriginHook previous = base::SetFailureOriginHook(&RecordFailure);
    g_failNextAllocation = true;
    const bool delivered = object.part.Fire(3, none);
    base::SetFailureOriginHook(previous);
    EXPECT_FALSE(g_failNextAllocation) << "Fire made no allocation";
    EXPECT_FALSE(delivered);
    EXPECT_HR(E_OUTOFMEMORY, g_reported.load());

    EXPECT_TRUE(object.part.Fire(4, none));
    EXPECT_EQ(std::vector<LONG>{-99999}, sink.Values(4));
    EXPECT_EQ(1u, sink.fired.size()) << "only the event that went out";
    EXPECT_HR(S_OK, point->Unadvise(cookie));
    point.reset();
    EXPECT_EQ(1u, object.RefCount()) << "the hold Fire took is given back";
}
