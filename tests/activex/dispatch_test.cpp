// Dispatch by table, on a small object of the test's own: the automation rules every control of the
// framework gets (flags, argument counts, named and by-reference arguments, coercion, result types),
// and that a refused call runs none of the object's code.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "activex/dispatch.h"
#include "activex/dispatch_rows.h"
#include "base/variant.h"
#include "tests/support/hresult_matchers.h"

using activex::DispatchEntry;

namespace {

class Gadget {
public:
    static const DispatchEntry<Gadget> kDispatchMap[5];

    LONG level = 10;
    int changes = 0;
    std::vector<std::pair<LONG, LONG>> calls;

    void OnLevelChanged() noexcept { ++changes; }
    LONG Mix(LONG a, LONG b) noexcept {
        calls.emplace_back(a, b);
        return a * 100 + b;
    }
    SHORT Small(LONG a) noexcept { return static_cast<SHORT>(a); }
    BOOL Test(LONG a) noexcept { return a; }
    void Poke() noexcept { calls.emplace_back(-1, -1); }
};

const DispatchEntry<Gadget> Gadget::kDispatchMap[5] = {
    activex::DispProperty(1, L"Level", L"the level", &Gadget::level, &Gadget::OnLevelChanged),
    activex::DispMethod<&Gadget::Mix, VT_I4>(2, L"Mix", L"two parameters"),
    activex::DispMethod<&Gadget::Small, VT_I2>(3, L"Small", L"a short result"),
    activex::DispMethod<&Gadget::Test, VT_BOOL>(4, L"Test", L"a boolean result"),
    activex::DispMethod<&Gadget::Poke, VT_EMPTY>(5, L"Poke", L"no result"),
};

VARIANT I4(LONG v) {
    VARIANT x;
    x.vt = VT_I4;
    x.lVal = v;
    return x;
}

VARIANT Missing() {
    VARIANT x;
    x.vt = VT_ERROR;
    x.scode = DISP_E_PARAMNOTFOUND;
    return x;
}

struct Call {
    WORD flags;
    std::vector<VARIANT> rgvarg;  // as Invoke gets them: named first, positional in reverse
    std::vector<DISPID> named;
};

[[nodiscard]] HRESULT Invoke(Gadget& g, DISPID id, Call c, VARIANT* result = nullptr,
                             UINT* argErr = nullptr) {
    DISPPARAMS params = {c.rgvarg.data(), c.named.data(), static_cast<UINT>(c.rgvarg.size()),
                         static_cast<UINT>(c.named.size())};
    return activex::InvokeFromTable(g, Gadget::kDispatchMap, id, c.flags, &params, result, argErr);
}

}  // namespace

TEST(DispatchTable, PropertyGetAndPut) {
    Gadget g;
    base::Variant v;
    EXPECT_HR(S_OK, Invoke(g, 1, {DISPATCH_PROPERTYGET, {}, {}}, v.ptr()));
    EXPECT_EQ(VT_I4, v.vt());
    EXPECT_EQ(10, v.get().lVal);
    // Some languages read a property as a method call without arguments.
    EXPECT_HR(S_OK, Invoke(g, 1, {DISPATCH_METHOD, {}, {}}, v.put()));
    EXPECT_EQ(10, v.get().lVal);

    EXPECT_HR(S_OK, Invoke(g, 1, {DISPATCH_PROPERTYPUT, {I4(42)}, {DISPID_PROPERTYPUT}}));
    EXPECT_EQ(42, g.level);
    EXPECT_EQ(1, g.changes);
}

TEST(DispatchTable, MethodParametersArriveInDeclarationOrder) {
    Gadget g;
    base::Variant v;
    EXPECT_HR(S_OK, Invoke(g, 2, {DISPATCH_METHOD, {I4(2), I4(1)}, {}}, v.ptr()));
    EXPECT_EQ(102, v.get().lVal);
    // By name: parameter 1 named, parameter 0 positional.
    EXPECT_HR(S_OK, Invoke(g, 2, {DISPATCH_METHOD, {I4(7), I4(3)}, {1}}, v.put()));
    EXPECT_EQ(307, v.get().lVal);
    // Both by name, in any order.
    EXPECT_HR(S_OK, Invoke(g, 2, {DISPATCH_METHOD, {I4(5), I4(6)}, {0, 1}}, v.put()));
    EXPECT_EQ(506, v.get().lVal);
}

TEST(DispatchTable, ResultsAreWrappedByTheirType) {
    Gadget g;
    base::Variant v;
    EXPECT_HR(S_OK, Invoke(g, 3, {DISPATCH_METHOD | DISPATCH_PROPERTYGET, {I4(-5)}, {}}, v.ptr()));
    EXPECT_EQ(VT_I2, v.vt());
    EXPECT_EQ(-5, v.get().iVal);
    EXPECT_HR(S_OK, Invoke(g, 4, {DISPATCH_METHOD, {I4(3)}, {}}, v.put()));
    EXPECT_EQ(VT_BOOL, v.vt());
    EXPECT_EQ(VARIANT_TRUE, v.get().boolVal);
    EXPECT_HR(S_OK, Invoke(g, 4, {DISPATCH_METHOD, {I4(0)}, {}}, v.put()));
    EXPECT_EQ(VARIANT_FALSE, v.get().boolVal);
    v.ptr()->vt = VT_I4;  // a sentinel the call must clear
    EXPECT_HR(S_OK, Invoke(g, 5, {DISPATCH_METHOD, {}, {}}, v.ptr()));
    EXPECT_EQ(VT_EMPTY, v.vt());
    EXPECT_HR(S_OK, Invoke(g, 3, {DISPATCH_METHOD, {I4(1)}, {}}, nullptr)) << "the result may be unwanted";
}

TEST(DispatchTable, ArgumentsAreCoercedAndFollowedByReference) {
    Gadget g;
    base::Variant text(L"12");
    VARIANT inner = I4(34);
    VARIANT byRef;
    byRef.vt = VT_BYREF | VT_VARIANT;
    byRef.pvarVal = &inner;
    VARIANT byRefToRef;
    byRefToRef.vt = VT_BYREF | VT_VARIANT;
    byRefToRef.pvarVal = &byRef;
    SHORT shortValue = 9;
    VARIANT byRefShort;
    byRefShort.vt = VT_BYREF | VT_I2;
    byRefShort.piVal = &shortValue;
    base::Variant v;
    EXPECT_HR(S_OK, Invoke(g, 2, {DISPATCH_METHOD, {byRefToRef, text.get()}, {}}, v.ptr()));
    EXPECT_EQ(1234, v.get().lVal);
    EXPECT_HR(S_OK, Invoke(g, 1, {DISPATCH_PROPERTYPUT, {byRefShort}, {DISPID_PROPERTYPUT}}));
    EXPECT_EQ(9, g.level);
    VARIANT empty;
    ::VariantInit(&empty);
    EXPECT_HR(S_OK, Invoke(g, 1, {DISPATCH_PROPERTYPUT, {empty}, {DISPID_PROPERTYPUT}}));
    EXPECT_EQ(0, g.level) << "Empty converts to 0";
}

struct Refusal {
    const char* what;
    DISPID dispid;
    Call call;
    HRESULT expected;
    UINT argErr;  // expected index, or 99 when none is reported
};

class DispatchRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(DispatchRefusal, RunsNoneOfTheObjectsCode) {
    const Refusal& r = GetParam();
    Gadget g;
    VARIANT result = I4(0x5E5E);
    UINT argErr = 99;
    EXPECT_HR(r.expected, Invoke(g, r.dispid, r.call, &result, &argErr)) << r.what;
    EXPECT_EQ(r.argErr, argErr) << r.what;
    EXPECT_EQ(VT_EMPTY, result.vt) << r.what;
    EXPECT_EQ(10, g.level) << r.what;
    EXPECT_EQ(0, g.changes) << r.what;
    EXPECT_TRUE(g.calls.empty()) << r.what;
}

VARIANT Text(const wchar_t* s) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = ::SysAllocString(s);
    return v;
}

VARIANT Real(double d) {
    VARIANT v;
    v.vt = VT_R8;
    v.dblVal = d;
    return v;
}

VARIANT Null() {
    VARIANT v;
    v.vt = VT_NULL;
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Standard, DispatchRefusal,
    testing::Values(
        Refusal{"unknown DISPID", 9, {DISPATCH_METHOD, {}, {}}, DISP_E_MEMBERNOTFOUND, 99},
        Refusal{"no flags", 1, {0, {}, {}}, DISP_E_MEMBERNOTFOUND, 99},
        Refusal{"method read as a property", 5, {DISPATCH_PROPERTYGET, {}, {}}, DISP_E_MEMBERNOTFOUND, 99},
        Refusal{"put by reference",
                1,
                {DISPATCH_PROPERTYPUTREF, {I4(1)}, {DISPID_PROPERTYPUT}},
                DISP_E_MEMBERNOTFOUND,
                99},
        Refusal{"put without a value", 1, {DISPATCH_PROPERTYPUT, {}, {}}, DISP_E_BADPARAMCOUNT, 99},
        Refusal{"put with two values",
                1,
                {DISPATCH_PROPERTYPUT, {I4(1), I4(2)}, {DISPID_PROPERTYPUT}},
                DISP_E_BADPARAMCOUNT,
                99},
        Refusal{"put of text that is no number",
                1,
                {DISPATCH_PROPERTYPUT, {Text(L"abc")}, {DISPID_PROPERTYPUT}},
                DISP_E_TYPEMISMATCH,
                0},
        Refusal{"put of a number too large",
                1,
                {DISPATCH_PROPERTYPUT, {Real(1e12)}, {DISPID_PROPERTYPUT}},
                DISP_E_OVERFLOW,
                0},
        Refusal{"put of a number too small",
                1,
                {DISPATCH_PROPERTYPUT, {Real(-1e12)}, {DISPID_PROPERTYPUT}},
                DISP_E_OVERFLOW,
                0},
        Refusal{"put without its name", 1, {DISPATCH_PROPERTYPUT, {I4(1)}, {}}, DISP_E_PARAMNOTOPTIONAL, 99},
        Refusal{"put of a missing value",
                1,
                {DISPATCH_PROPERTYPUT, {Missing()}, {DISPID_PROPERTYPUT}},
                DISP_E_PARAMNOTOPTIONAL,
                0},
        Refusal{"get with a named argument", 1, {DISPATCH_PROPERTYGET, {I4(1)}, {0}}, DISP_E_NONAMEDARGS, 99},
        Refusal{"too few arguments", 2, {DISPATCH_METHOD, {I4(1)}, {}}, DISP_E_BADPARAMCOUNT, 99},
        Refusal{"no arguments", 3, {DISPATCH_METHOD, {}, {}}, DISP_E_BADPARAMCOUNT, 99},
        Refusal{
            "too many arguments", 2, {DISPATCH_METHOD, {I4(1), I4(2), I4(3)}, {}}, DISP_E_BADPARAMCOUNT, 99},
        Refusal{"missing argument", 2, {DISPATCH_METHOD, {I4(1), Missing()}, {}}, DISP_E_PARAMNOTOPTIONAL, 1},
        Refusal{"second parameter not a number",
                2,
                {DISPATCH_METHOD, {Text(L"x"), I4(1)}, {}},
                DISP_E_TYPEMISMATCH,
                0},
        Refusal{
            "first parameter too large", 2, {DISPATCH_METHOD, {I4(1), Real(3e9)}, {}}, DISP_E_OVERFLOW, 1},
        Refusal{"Null", 3, {DISPATCH_METHOD, {Null()}, {}}, DISP_E_TYPEMISMATCH, 0},
        Refusal{"unknown parameter name", 2, {DISPATCH_METHOD, {I4(1), I4(2)}, {5}}, DISP_E_PARAMNOTFOUND, 0},
        Refusal{
            "parameter named twice", 2, {DISPATCH_METHOD, {I4(1), I4(2)}, {1, 1}}, DISP_E_PARAMNOTFOUND, 1},
        Refusal{"parameter by position and by name",
                2,
                {DISPATCH_METHOD, {I4(1), I4(2)}, {0}},
                DISP_E_PARAMNOTFOUND,
                0},
        Refusal{"more names than arguments", 2, {DISPATCH_METHOD, {I4(1)}, {0, 1}}, E_INVALIDARG, 99}));

TEST(DispatchTable, MissingParametersStructureIsRefused) {
    Gadget g;
    EXPECT_HR(E_INVALIDARG, activex::InvokeFromTable(g, Gadget::kDispatchMap, 1, DISPATCH_PROPERTYGET,
                                                     nullptr, nullptr, nullptr));
    DISPPARAMS noArray = {nullptr, nullptr, 1, 0};
    EXPECT_HR(E_INVALIDARG, activex::InvokeFromTable(g, Gadget::kDispatchMap, 2, DISPATCH_METHOD, &noArray,
                                                     nullptr, nullptr));
}

// --- a VARIANT method with the optional output parameter ----------------------------------------

namespace {

class Meter {
public:
    static const DispatchEntry<Meter> kDispatchMap[1];
    std::vector<std::string> calls;

    // Hands back n * 2 through the output and makes the result n; fails for 13.
    [[nodiscard]] HRESULT Take(LONG n, LONG* output, VARIANT* result) noexcept {
        calls.push_back("Take " + std::to_string(n) + (output ? " with output" : ""));
        if (n == 13) return E_OUTOFMEMORY;
        if (output) *output = n * 2;
        *result = I4(n);
        return S_OK;
    }
};

const DispatchEntry<Meter> Meter::kDispatchMap[1] = {
    activex::DispFunction<&Meter::Take>(3, L"Take", L"an output"),
};

[[nodiscard]] HRESULT Invoke(Meter& m, DISPID id, Call c, VARIANT* result, UINT* argErr = nullptr) {
    DISPPARAMS params = {c.rgvarg.data(), c.named.data(), static_cast<UINT>(c.rgvarg.size()),
                         static_cast<UINT>(c.named.size())};
    return activex::InvokeFromTable(m, Meter::kDispatchMap, id, c.flags, &params, result, argErr);
}

VARIANT RefTo(VARIANT* v) {
    VARIANT x;
    x.vt = VT_BYREF | VT_VARIANT;
    x.pvarVal = v;
    return x;
}

}  // namespace

// The output reaches the caller's variable only when passed by reference: a Variant (whose string
// is freed), one behind two references, or a Long; by value or by name as the others.
TEST(DispatchComputed, TheOutputReachesTheCallersVariableOnlyByReference) {
    for (int shape = 0; shape < 5; ++shape) {
        Meter m;
        VARIANT variable = Text(L"replaced");
        LONG plain = -1;
        VARIANT inner = RefTo(&variable), longRef;
        longRef.vt = VT_BYREF | VT_I4;
        longRef.plVal = &plain;
        const Call calls[] = {{DISPATCH_METHOD, {I4(-1), I4(3)}, {}},
                              {DISPATCH_METHOD, {RefTo(&variable), I4(3)}, {}},
                              {DISPATCH_METHOD, {RefTo(&inner), I4(3)}, {}},
                              {DISPATCH_METHOD, {longRef, I4(3)}, {}},
                              {DISPATCH_METHOD, {I4(3), RefTo(&variable)}, {0, 1}}};
        base::Variant result;
        EXPECT_HR(S_OK, Invoke(m, 3, calls[shape], result.ptr())) << shape;
        EXPECT_EQ(3, result.get().lVal) << shape;
        const bool toVariant = shape == 1 || shape == 2 || shape == 4;
        EXPECT_EQ(toVariant ? VT_I4 : VT_BSTR, variable.vt) << shape;
        EXPECT_EQ(toVariant ? 6 : 0, toVariant ? variable.lVal : 0) << shape;
        EXPECT_EQ(shape == 3 ? 6 : -1, plain) << shape;
        ::VariantClear(&variable);
    }
}

// Outputs that cannot take a Long, argument lists the optional parameter does not excuse, and a
// method that fails: the caller's variables stay as they were.
TEST(DispatchComputed, RefusedOutputsRunNothingAndAFailureHandsBackNothing) {
    VARIANT object, self, number = I4(7);
    object.vt = VT_UNKNOWN;
    object.punkVal = nullptr;
    self = RefTo(&self);
    BSTR text = ::SysAllocString(L"x");
    VARIANT refText;
    refText.vt = VT_BYREF | VT_BSTR;
    refText.pbstrVal = &text;
    const struct {
        Call call;
        HRESULT expected;
        UINT argErr;
    } cases[] = {
        {{DISPATCH_METHOD, {refText, I4(3)}, {}}, DISP_E_TYPEMISMATCH, 0},
        {{DISPATCH_METHOD, {RefTo(&object), I4(3)}, {}}, DISP_E_TYPEMISMATCH, 0},
        {{DISPATCH_METHOD, {self, I4(3)}, {}}, DISP_E_TYPEMISMATCH, 0},
        {{DISPATCH_METHOD, {RefTo(nullptr), I4(3)}, {}}, DISP_E_TYPEMISMATCH, 0},
        {{DISPATCH_METHOD, {I4(1), I4(2), I4(3)}, {}}, DISP_E_BADPARAMCOUNT, 99},
        {{DISPATCH_METHOD, {RefTo(&number)}, {1}}, DISP_E_PARAMNOTOPTIONAL, 99},
        {{DISPATCH_METHOD, {RefTo(&number), I4(13)}, {}}, E_OUTOFMEMORY, 99},
    };
    Meter m;
    for (const auto& c : cases) {
        VARIANT result = I4(0x5E5E);
        UINT argErr = 99;
        EXPECT_HR(c.expected, Invoke(m, 3, c.call, &result, &argErr));
        EXPECT_EQ(c.argErr, argErr);
        EXPECT_EQ(VT_EMPTY, result.vt);
    }
    EXPECT_EQ((std::vector<std::string>{"Take 13 with output"}), m.calls);
    EXPECT_EQ(7, number.lVal);
    EXPECT_STREQ(L"x", text);
    ::SysFreeString(text);
}
