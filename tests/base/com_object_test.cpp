// The COM object base: what QueryInterface answers and hands out, the count across threads, and
// when each lifetime ends.
#include <windows.h>
#include <objidl.h>
#include <ocidl.h>
#include <oleidl.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/com_object.h"
#include "base/com_ptr.h"
#include "base/unique_handle.h"
#include "tests/support/hresult_matchers.h"

namespace {

void* const kSentinel = reinterpret_cast<void*>(static_cast<ULONG_PTR>(0x5E5E5E5E));

// Each method names the interface it was reached through, so a test sees that a pointer handed out
// for an IID is really that interface and not just an address inside the object.
class Site final : public base::ComObject<Site, base::Lifetime::Scoped, IOleInPlaceSite, IOleControlSite,
                                          base::Via<IOleWindow, IOleInPlaceSite>> {
public:
    // IOleWindow, IOleInPlaceSite
    STDMETHODIMP GetWindow(HWND*) noexcept override { return Says(1); }
    STDMETHODIMP ContextSensitiveHelp(BOOL) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP CanInPlaceActivate() noexcept override { return Says(2); }
    STDMETHODIMP OnInPlaceActivate() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP OnUIActivate() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame**, IOleInPlaceUIWindow**, LPRECT, LPRECT,
                                  LPOLEINPLACEFRAMEINFO) noexcept override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Scroll(SIZE) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP OnInPlaceDeactivate() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP DiscardUndoState() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT) noexcept override { return E_NOTIMPL; }

    // IOleControlSite
    STDMETHODIMP OnControlInfoChanged() noexcept override { return Says(3); }
    STDMETHODIMP LockInPlaceActive(BOOL) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetExtendedControl(IDispatch**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG*, DWORD) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP OnFocus(BOOL) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP ShowPropertyFrame() noexcept override { return E_NOTIMPL; }

    [[nodiscard]] static HRESULT Says(int which) {
        return MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_ITF, which);
    }
};

// Notes its destruction in a flag the test owns; can be told to throw while it is built, or to
// reach back into itself while it is destroyed the way an object does whose members hold it.
class Tracked final : public base::ComObject<Tracked, base::Lifetime::Heap, IPersist> {
public:
    explicit Tracked(int* destroyed, bool throwOnBuild = false) : destroyed_(destroyed) {
        if (throwOnBuild) throw std::runtime_error("cannot build");
    }
    ~Tracked() override {
        if (reenter) {
            AddRef();
            Release();
        }
        ++*destroyed_;
    }
    STDMETHODIMP GetClassID(CLSID* id) noexcept override {
        *id = CLSID_NULL;
        return S_OK;
    }
    bool reenter = false;

private:
    int* destroyed_;
};

// Records its last moments; reaches back into itself from FinalRelease as an object does whose
// parts call back while it lets go of them.
class Closing final : public base::ComObject<Closing, base::Lifetime::Heap, IPersist> {
public:
    explicit Closing(std::vector<std::string>* log) : log_(log) {}
    ~Closing() override { log_->push_back("destroyed"); }
    void FinalRelease() noexcept override {
        log_->push_back("FinalRelease");
        AddRef();
        Release();
    }
    STDMETHODIMP GetClassID(CLSID* id) noexcept override {
        *id = CLSID_NULL;
        return S_OK;
    }

private:
    std::vector<std::string>* log_;
};

// Held by an owner whose count it shares.
class Held final : public base::ComObject<Held, base::Lifetime::Member, IPersist> {
public:
    explicit Held(IUnknown& owner) : ComObject(owner) {}
    STDMETHODIMP GetClassID(CLSID* id) noexcept override {
        *id = CLSID_NULL;
        return S_OK;
    }
};

// A part that implements IPersist for the object that holds it.
class PersistPart final : public base::ComObject<PersistPart, base::Lifetime::Part, IPersist> {
public:
    explicit PersistPart(IUnknown& owner) : ComObject(owner) {}
    STDMETHODIMP GetClassID(CLSID* id) noexcept override {
        *id = CLSID_NULL;
        return S_OK;
    }
};

// Answers IOleWindow itself and IPersist through its part.
class Whole final : public base::ComObject<Whole, base::Lifetime::Scoped, IOleWindow> {
public:
    STDMETHODIMP GetWindow(HWND*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) noexcept override { return E_NOTIMPL; }
    PersistPart part{*this};

private:
    void* FindMore(REFIID riid) noexcept override { return part.FindInterface(riid); }
};

template <typename I>
[[nodiscard]] HRESULT Reach(IUnknown* object, I** out) {
    *out = static_cast<I*>(kSentinel);
    return object->QueryInterface(__uuidof(I), reinterpret_cast<void**>(out));
}

TEST(ComObjectQuery, EveryInterfaceReachesItsOwnMethodsAndOneIdentity) {
    Site site;
    IUnknown* identity = nullptr;
    ASSERT_HR(S_OK, Reach(static_cast<IOleControlSite*>(&site), &identity));

    IOleInPlaceSite* inPlace = nullptr;
    IOleControlSite* control = nullptr;
    IOleWindow* window = nullptr;
    ASSERT_HR(S_OK, Reach(identity, &inPlace));
    ASSERT_HR(S_OK, Reach(identity, &control));
    ASSERT_HR(S_OK, Reach(identity, &window));
    EXPECT_EQ(Site::Says(2), inPlace->CanInPlaceActivate());
    EXPECT_EQ(Site::Says(3), control->OnControlInfoChanged());
    EXPECT_EQ(Site::Says(1), window->GetWindow(nullptr)) << "the base interface through its listed one";

    for (IUnknown* itf : std::vector<IUnknown*>{inPlace, control, window}) {
        IUnknown* again = nullptr;
        ASSERT_HR(S_OK, Reach(itf, &again));
        EXPECT_EQ(identity, again) << "IUnknown is the same pointer from every interface";
        again->Release();
    }
    EXPECT_EQ(5u, site.RefCount());
    for (IUnknown* itf : std::vector<IUnknown*>{identity, inPlace, control, window}) itf->Release();
    EXPECT_EQ(1u, site.RefCount());
}

TEST(ComObjectQuery, RefusesWhatItDoesNotListAndTakesNoReference) {
    Site site;
    IUnknown* self = static_cast<IOleInPlaceSite*>(&site);
    IDispatch* dispatch = nullptr;
    EXPECT_HR(E_NOINTERFACE, Reach(self, &dispatch));
    EXPECT_EQ(nullptr, dispatch) << "the out-parameter is cleared";
    IOleInPlaceUIWindow* notInherited = nullptr;
    EXPECT_HR(E_NOINTERFACE, Reach(self, &notInherited)) << "only the Via entries answer for a base";
    EXPECT_EQ(nullptr, notInherited);
    EXPECT_HR(E_POINTER, self->QueryInterface(IID_IOleWindow, nullptr));
    EXPECT_EQ(1u, site.RefCount());
}

TEST(ComObjectLifetime, ScopedObjectOutlivesItsLastRelease) {
    Site site;
    IOleControlSite* itf = &site;
    EXPECT_EQ(2u, itf->AddRef());
    EXPECT_EQ(1u, itf->Release());
    EXPECT_EQ(0u, itf->Release()) << "released once too often: the count says so";
    EXPECT_EQ(0u, site.RefCount());
    EXPECT_EQ(Site::Says(3), site.OnControlInfoChanged()) << "and the object is still there";
    site.AddRef();
}

TEST(ComObjectLifetime, HeapObjectGoesWithItsLastReference) {
    int destroyed = 0;
    Tracked* object = Tracked::Make(&destroyed);
    ASSERT_NE(nullptr, object);
    EXPECT_EQ(1u, object->RefCount()) << "Make hands out the first reference";
    base::ComPtr<IPersist> persist;
    ASSERT_HR(S_OK, object->QueryInterface(IID_IPersist, persist.put_void()));
    EXPECT_EQ(1u, object->Release());
    EXPECT_EQ(0, destroyed);
    persist.reset();
    EXPECT_EQ(1, destroyed);
}

TEST(ComObjectLifetime, ReachingBackFromTheDestructorDoesNotDeleteTwice) {
    int destroyed = 0;
    Tracked* object = Tracked::Make(&destroyed);
    ASSERT_NE(nullptr, object);
    object->reenter = true;
    EXPECT_EQ(0u, object->Release());
    EXPECT_EQ(1, destroyed);
}

TEST(ComObjectLifetime, LastReleaseRunsFinalReleaseOnceBeforeTheDestructor) {
    std::vector<std::string> log;
    Closing* object = Closing::Make(&log);
    ASSERT_NE(nullptr, object);
    object->AddRef();
    object->Release();
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(0u, object->Release());
    EXPECT_EQ((std::vector<std::string>{"FinalRelease", "destroyed"}), log);
}

TEST(ComObjectLifetime, MemberSharesItsOwnersCountButNotItsIdentity) {
    Site owner;
    Held held(*static_cast<IOleInPlaceSite*>(&owner));
    IUnknown* identity = nullptr;
    ASSERT_HR(S_OK, Reach(&held, &identity));
    EXPECT_EQ(static_cast<IUnknown*>(&held), identity);
    EXPECT_EQ(2u, owner.RefCount()) << "the member's reference is the owner's";
    IOleInPlaceSite* ownerInterface = nullptr;
    EXPECT_HR(E_NOINTERFACE, Reach(identity, &ownerInterface)) << "the member answers only its own list";
    identity->Release();
    EXPECT_EQ(1u, owner.RefCount());
}

TEST(ComObjectLifetime, PartIsItsOwnerToEveryCaller) {
    Whole whole;
    IUnknown* identity = nullptr;
    ASSERT_HR(S_OK, Reach(&whole, &identity));
    IPersist* persist = nullptr;
    ASSERT_HR(S_OK, Reach(identity, &persist));
    EXPECT_EQ(static_cast<IPersist*>(&whole.part), persist);
    IUnknown* again = nullptr;
    ASSERT_HR(S_OK, Reach(persist, &again));
    EXPECT_EQ(identity, again) << "one identity";
    IOleWindow* window = nullptr;
    ASSERT_HR(S_OK, Reach(persist, &window)) << "the owner's other interfaces from the part's";
    EXPECT_EQ(5u, whole.RefCount());
    for (IUnknown* itf : std::vector<IUnknown*>{identity, persist, again, window}) itf->Release();
    EXPECT_EQ(1u, whole.RefCount());
}

TEST(ComObjectLifetime, MakeGivesNullWhenTheObjectCannotBeBuilt) {
    int destroyed = 0;
    EXPECT_EQ(nullptr, Tracked::Make(&destroyed, true));
    EXPECT_EQ(0, destroyed);
}

struct Hammer {
    IUnknown* object;
    int rounds;
};

DWORD WINAPI HammerThread(void* param) noexcept {
    auto* h = static_cast<Hammer*>(param);
    for (int i = 0; i < h->rounds; ++i) {
        IUnknown* itf = nullptr;
        if (FAILED(h->object->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&itf)))) return 1;
        h->object->AddRef();
        h->object->Release();
        itf->Release();
    }
    return 0;
}

TEST(ComObjectCount, ThreadsTakingAndGivingBackLeaveTheCountWhereItWas) {
    Site site;
    Hammer hammer{static_cast<IOleInPlaceSite*>(&site), 20000};
    std::vector<base::UniqueThread> threads;
    for (int i = 0; i < 4; ++i) {
        base::UniqueThread t(::CreateThread(nullptr, 0, HammerThread, &hammer, 0, nullptr));
        EXPECT_TRUE(t);
        if (t) threads.push_back(std::move(t));
    }
    for (auto& t : threads) {
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(t.get(), INFINITE));
        DWORD code = 99;
        ASSERT_TRUE(::GetExitCodeThread(t.get(), &code));
        EXPECT_EQ(0u, code);
    }
    EXPECT_EQ(1u, site.RefCount()) << "a lost update would leave the count off";
}

}  // namespace
