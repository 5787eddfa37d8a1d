// ComPtr, Bstr and Variant: each reference or string is owned by exactly one holder and given
// back exactly once, also by put() and by a Variant that contains an interface.
#include <gtest/gtest.h>
#include <oaidl.h>
#include <oleauto.h>
#include <windows.h>

#include <utility>

#include "base/com_object.h"
#include "base/com_ptr.h"
#include "base/variant.h"
#include "tests/support/hresult_matchers.h"

namespace {

// An object on the test's stack that answers IUnknown and IPersist only; Held() counts the references
// others hold (its owner's one aside).
class Counted final : public base::ComObject<Counted, base::Lifetime::Scoped, IPersist> {
public:
    ULONG Held() const noexcept { return RefCount() - 1; }

    STDMETHODIMP GetClassID(CLSID* clsid) noexcept override {
        *clsid = CLSID_NULL;
        return S_OK;
    }
};

TEST(ComPtr, ConstructionCopyAndMoveCountReferences) {
    Counted object;
    {
        base::ComPtr<IPersist> a(&object);
        EXPECT_EQ(1u, object.Held());
        base::ComPtr<IPersist> b(a);
        EXPECT_EQ(2u, object.Held());
        base::ComPtr<IPersist> c(std::move(b));
        EXPECT_EQ(2u, object.Held()) << "a move takes no reference";
        EXPECT_FALSE(b);
        b = c;
        EXPECT_EQ(3u, object.Held());
        b = std::move(c);
        EXPECT_EQ(2u, object.Held()) << "the reference b held goes";
        base::ComPtr<IPersist>& same = a;
        a = same;
        a = std::move(same);
        EXPECT_EQ(2u, object.Held()) << "self-assignment";
        EXPECT_EQ(&object, a.get());
    }
    EXPECT_EQ(0u, object.Held());
}

TEST(ComPtr, AttachAdoptsAndDetachHandsOver) {
    Counted object;
    object.AddRef();
    {
        auto p = base::ComPtr<IPersist>::Attach(&object);
        EXPECT_EQ(1u, object.Held());
        IPersist* raw = p.Detach();
        EXPECT_EQ(&object, raw);
        EXPECT_FALSE(p);
    }
    EXPECT_EQ(1u, object.Held());
}

TEST(ComPtr, PutReleasesBeforeTheCalleeWrites) {
    Counted first, second;
    base::ComPtr<IPersist> p(&first);
    IPersist** slot = p.put();
    EXPECT_EQ(0u, first.Held());
    EXPECT_EQ(nullptr, *slot);
    ASSERT_HR(S_OK, second.QueryInterface(IID_IPersist, p.put_void()));
    EXPECT_EQ(0u, first.Held());
    EXPECT_EQ(1u, second.Held());
    p.reset();
    EXPECT_EQ(0u, second.Held());
}

TEST(ComPtr, AsQueriesIntoAnotherPointer) {
    Counted object, other;
    base::ComPtr<IPersist> p(&object);
    base::ComPtr<IUnknown> unknown(&other);
    ASSERT_HR(S_OK, p.As(&unknown));
    EXPECT_EQ(0u, other.Held()) << "what the target held is released";
    EXPECT_EQ(2u, object.Held());

    base::ComPtr<IDispatch> dispatch;
    EXPECT_HR(E_NOINTERFACE, p.As(&dispatch));
    EXPECT_FALSE(dispatch);

    void* raw = &other;
    EXPECT_HR(E_NOINTERFACE, p.As(IID_IDispatch, &raw));
    EXPECT_EQ(nullptr, raw) << "cleared first";
    EXPECT_HR(E_POINTER, p.As(IID_IUnknown, nullptr));

    base::ComPtr<IPersist> empty;
    raw = &other;
    EXPECT_HR(E_POINTER, empty.As(IID_IUnknown, &raw));
    EXPECT_EQ(nullptr, raw);
    EXPECT_HR(E_POINTER, empty.As(&unknown));
}

TEST(ComPtr, CopyToHandsOutANewReference) {
    Counted object;
    base::ComPtr<IPersist> p(&object);
    IPersist* out = nullptr;
    ASSERT_HR(S_OK, p.CopyTo(&out));
    EXPECT_EQ(&object, out);
    EXPECT_EQ(2u, object.Held());
    out->Release();
    EXPECT_HR(E_POINTER, p.CopyTo(nullptr));
    base::ComPtr<IPersist> empty;
    out = &object;
    EXPECT_HR(S_OK, empty.CopyTo(&out));
    EXPECT_EQ(nullptr, out);
}

TEST(Bstr, OwnsACopyAndMovesIt) {
    const wchar_t text[] = L"Vandrel";
    base::Bstr a(text);
    ASSERT_TRUE(a.get());
    EXPECT_NE(text, a.get());
    EXPECT_STREQ(text, a.get());
    EXPECT_EQ(7u, a.length());
    EXPECT_EQ(nullptr, base::Bstr(nullptr).get());
    EXPECT_EQ(0u, base::Bstr().length());

    const BSTR raw = a.get();
    base::Bstr b(std::move(a));
    EXPECT_EQ(raw, b.get());
    EXPECT_EQ(nullptr, a.get());
    base::Bstr& same = b;
    b = std::move(same);
    EXPECT_EQ(raw, b.get()) << "self-move keeps the string";
    a = std::move(b);
    EXPECT_EQ(raw, a.get());

    BSTR given = a.Detach();
    EXPECT_EQ(nullptr, a.get());
    a.reset(given);  // adopted again and freed by a
    EXPECT_EQ(given, a.get());
}

TEST(Bstr, PutClearsForTheCallee) {
    base::Bstr s(L"old");
    BSTR* slot = s.put();
    EXPECT_EQ(nullptr, *slot);
    *slot = ::SysAllocString(L"new");
    EXPECT_STREQ(L"new", s.get());
}

TEST(Variant, HoldsWhatItWasMadeFrom) {
    EXPECT_EQ(VT_EMPTY, base::Variant().vt());
    base::Variant l(LONG{-5});
    EXPECT_EQ(VT_I4, l.vt());
    EXPECT_EQ(-5, l.get().lVal);
    base::Variant s(SHORT{7});
    EXPECT_EQ(VT_I2, s.vt());
    EXPECT_EQ(7, s.get().iVal);
    base::Variant t(L"text");
    ASSERT_EQ(VT_BSTR, t.vt());
    EXPECT_STREQ(L"text", t.get().bstrVal);
}

TEST(Variant, ContainedInterfaceIsReleasedOnceByResetPutAndMoves) {
    Counted object;
    {
        base::Variant v;
        VARIANT* slot = v.put();
        slot->vt = VT_UNKNOWN;
        slot->punkVal = &object;
        object.AddRef();

        base::Variant moved(std::move(v));
        EXPECT_EQ(VT_EMPTY, v.vt());
        EXPECT_EQ(1u, object.Held()) << "a move takes no reference";
        base::Variant& same = moved;
        moved = std::move(same);
        EXPECT_EQ(1u, object.Held());
        ASSERT_EQ(VT_UNKNOWN, moved.vt());

        v = std::move(moved);
        EXPECT_EQ(1u, object.Held());
        VARIANT* again = v.put();
        EXPECT_EQ(0u, object.Held()) << "put clears what was held";
        EXPECT_EQ(VT_EMPTY, again->vt);

        again->vt = VT_UNKNOWN;
        again->punkVal = &object;
        object.AddRef();
        v = base::Variant(LONG{1});
        EXPECT_EQ(0u, object.Held()) << "assignment clears what was held";

        v.ptr()->vt = VT_UNKNOWN;
        v.ptr()->punkVal = &object;
        object.AddRef();
    }
    EXPECT_EQ(0u, object.Held()) << "destruction clears";
}

// A Detach that kept the value would release it again when the owner goes.
TEST(Variant, DetachHandsTheReferenceOverAndLeavesNothing) {
    Counted object;
    VARIANT out;
    {
        base::Variant v;
        v.put()->vt = VT_UNKNOWN;
        v.ptr()->punkVal = &object;
        object.AddRef();
        out = v.Detach();
        EXPECT_EQ(VT_EMPTY, v.vt());
    }
    ASSERT_EQ(VT_UNKNOWN, out.vt);
    EXPECT_EQ(1u, object.Held()) << "the reference is the receiver's";
    ::VariantClear(&out);
    EXPECT_EQ(0u, object.Held());
}

TEST(Variant, ChangeTypeConvertsInPlaceOrKeepsTheValue) {
    base::Variant v(LONG{42});
    ASSERT_HR(S_OK, v.ChangeType(VT_BSTR));
    ASSERT_EQ(VT_BSTR, v.vt());
    EXPECT_STREQ(L"42", v.get().bstrVal);
    ASSERT_HR(S_OK, v.ChangeType(VT_I2));
    EXPECT_EQ(VT_I2, v.vt());
    EXPECT_EQ(42, v.get().iVal);

    base::Variant text(L"not a number");
    EXPECT_HR(DISP_E_TYPEMISMATCH, text.ChangeType(VT_I4));
    ASSERT_EQ(VT_BSTR, text.vt());
    EXPECT_STREQ(L"not a number", text.get().bstrVal);
}

}  // namespace
