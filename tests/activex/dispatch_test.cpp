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
#include "base/com_ptr.h"
#include "base/hresult.h"
#include "base/text.h"
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

// --- indexed properties and typed methods, whose members may refuse with a text of their own ------

namespace {

class Dial {
public:
    static const DispatchEntry<Dial> kDispatchMap[3];
    double gain[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    bool off[8] = {};
    std::vector<std::string> calls;

    // Null switches a channel's gain off.
    [[nodiscard]] HRESULT Gain(LONG channel, VARIANT* result) noexcept {
        calls.push_back("Gain " + std::to_string(channel));
        result->vt = off[channel] ? VT_NULL : VT_R8;
        result->dblVal = gain[channel];
        return S_OK;
    }
    [[nodiscard]] HRESULT SetGain(LONG channel, const VARIANT& value) noexcept {
        calls.push_back("SetGain " + std::to_string(channel) + " vt " + std::to_string(value.vt));
        if (value.vt == VT_NULL) {
            off[channel] = true;
            return S_OK;
        }
        double g = 0;
        RETURN_IF_FAILED(activex::CoerceToDouble(value, &g));
        if (g < 0) return activex::Refuse(E_INVALIDARG, L"A gain is not negative");
        gain[channel] = g;
        off[channel] = false;
        return S_OK;
    }
    // Channel 5 has no reading, says nothing more, and leaves a result half made.
    [[nodiscard]] HRESULT Reading(LONG channel, VARIANT* result) noexcept {
        calls.push_back("Reading " + std::to_string(channel));
        result->vt = VT_R8;
        return E_FAIL;
    }
    [[nodiscard]] HRESULT Calibrate(LONG channel, double raw, double value, BSTR unit, VARIANT*) noexcept {
        calls.push_back("Calibrate " + std::to_string(channel) + " " + std::to_string(raw) + " " +
                        std::to_string(value) + " " + base::PrintableAscii(unit ? unit : L""));
        if (raw == 0)
            return activex::Refuse(DISP_E_DIVBYZERO, L"Channel " + std::to_wstring(channel) + L" read 0");
        gain[channel] = value / raw;
        return S_OK;
    }
};

const DispatchEntry<Dial> Dial::kDispatchMap[3] = {
    activex::DispIndexedAccessors<&Dial::Gain, &Dial::SetGain>(1, L"Gain", L"a channel's gain",
                                                               {0, 7, L"Channels are 0 to 7"}),
    activex::DispIndexedGetter<&Dial::Reading>(2, L"Reading", L"a channel's reading",
                                               {0, 7, L"Channels are 0 to 7"}),
    activex::DispTypedFunction<&Dial::Calibrate>(3, L"Calibrate", L"typed parameters",
                                                 {0, 7, L"Channels are 0 to 7"}),
};

// What a script sees of a result.
std::wstring Shown(const VARIANT& v) {
    if (v.vt == VT_EMPTY) return L"Empty";
    if (v.vt == VT_NULL) return L"Null";
    base::Variant text;
    if (FAILED(::VariantChangeType(text.put(), const_cast<VARIANT*>(&v), 0, VT_BSTR)))
        return L"vt " + std::to_wstring(v.vt);
    return std::to_wstring(v.vt) + L" " + text.get().bstrVal;
}

// Calls in the order a script writes their arguments.
Call Get(VARIANT index, WORD flags = DISPATCH_PROPERTYGET) { return {flags, {index}, {}}; }
Call Put(VARIANT index, VARIANT value) {
    return {DISPATCH_PROPERTYPUT, {value, index}, {DISPID_PROPERTYPUT}};
}
Call Calibrate(VARIANT channel, VARIANT raw, VARIANT value, VARIANT unit) {
    return {DISPATCH_METHOD, {unit, value, raw, channel}, {}};
}

constexpr const wchar_t* kSystemMessage = L"(the system's message)";
constexpr const wchar_t* kRange = L"Channels are 0 to 7";

struct Step {
    const char* what;
    DISPID dispid;
    Call call;
    HRESULT expected;
    const wchar_t* seen;  // the result as Shown, or with DISP_E_EXCEPTION the EXCEPINFO's text
    HRESULT scode;        // with DISP_E_EXCEPTION
    UINT argErr;          // 99: none reported
    const char* ran;      // the member's call, or "" for none
    bool excepInfo = true;
};

}  // namespace

// One object through a sequence of calls: each answers with exactly what a script would see, a
// refusal runs nothing, and a member's text is told with its own failure and never after it.
TEST(DispatchTyped, CallsAnswerWithTheirValuesAndTheMembersTexts) {
    VARIANT twoAndAHalf = Real(2.5);
    const VARIANT v = Text(L"V");
    const Step steps[] = {
        {"get", 1, Get(I4(3)), S_OK, L"5 1", 0, 99, "Gain 3"},
        {"put through a reference", 1, Put(I4(3), RefTo(&twoAndAHalf)), S_OK, L"Empty", 0, 99,
         "SetGain 3 vt 5"},
        {"get as a script's call", 1, Get(Text(L"3"), DISPATCH_METHOD | DISPATCH_PROPERTYGET), S_OK, L"5 2.5",
         0, 99, "Gain 3"},
        {"put of Null", 1, Put(I4(2), Null()), S_OK, L"Empty", 0, 99, "SetGain 2 vt 1"},
        {"get of a gain off", 1, Get(I4(2)), S_OK, L"Null", 0, 99, "Gain 2"},
        {"put out of range", 1, Put(I4(8), Real(1)), DISP_E_EXCEPTION, kRange, E_INVALIDARG, 99, ""},
        {"get out of range", 1, Get(I4(-1)), DISP_E_EXCEPTION, kRange, E_INVALIDARG, 99, ""},
        {"get without an index",
         1,
         {DISPATCH_PROPERTYGET, {}, {}},
         DISP_E_BADPARAMCOUNT,
         L"Empty",
         0,
         99,
         ""},
        {"put without an index",
         1,
         {DISPATCH_PROPERTYPUT, {Real(1)}, {DISPID_PROPERTYPUT}},
         DISP_E_BADPARAMCOUNT,
         L"Empty",
         0,
         99,
         ""},
        {"put of a missing value", 1, Put(I4(1), Missing()), DISP_E_PARAMNOTOPTIONAL, L"Empty", 0, 0, ""},
        {"index that is no number", 1, Put(Text(L"abc"), Real(1)), DISP_E_TYPEMISMATCH, L"Empty", 0, 1, ""},
        {"value behind a null reference", 1, Put(I4(1), RefTo(nullptr)), DISP_E_TYPEMISMATCH, L"Empty", 0, 0,
         ""},
        {"the member's refusal", 1, Put(I4(3), Real(-1)), DISP_E_EXCEPTION, L"A gain is not negative",
         E_INVALIDARG, 99, "SetGain 3 vt 5"},
        {"a failure without a text", 2, Get(I4(5)), DISP_E_EXCEPTION, kSystemMessage, E_FAIL, 99,
         "Reading 5"},
        {"the member's refusal, no EXCEPINFO", 1, Put(I4(3), Real(-1)), E_INVALIDARG, L"Empty", 0, 99,
         "SetGain 3 vt 5", false},
        {"put of a read-only property", 2, Put(I4(1), Real(1)), DISP_E_MEMBERNOTFOUND, L"Empty", 0, 99, ""},
        {"typed parameters coerced", 3, Calibrate(I4(1), Text(L"4"), I4(10), v), S_OK, L"Empty", 0, 99,
         "Calibrate 1 4.000000 10.000000 V"},
        {"text to a double", 3, Calibrate(I4(1), Text(L"abc"), Real(10), v), DISP_E_TYPEMISMATCH, L"Empty", 0,
         2, ""},
        {"missing argument", 3, Calibrate(I4(1), Real(4), Missing(), v), DISP_E_PARAMNOTOPTIONAL, L"Empty", 0,
         1, ""},
        {"channel out of range", 3, Calibrate(I4(8), Real(4), Real(10), v), DISP_E_EXCEPTION, kRange,
         E_INVALIDARG, 99, ""},
        {"a built text", 3, Calibrate(I4(6), Real(0), Real(10), v), DISP_E_EXCEPTION, L"Channel 6 read 0",
         DISP_E_DIVBYZERO, 99, "Calibrate 6 0.000000 10.000000 V"},
        {"a success after a refusal", 1, Get(I4(1)), S_OK, L"5 2.5", 0, 99, "Gain 1"},
    };
    Dial d;
    for (const Step& s : steps) {
        Call c = s.call;
        DISPPARAMS params = {c.rgvarg.data(), c.named.data(), static_cast<UINT>(c.rgvarg.size()),
                             static_cast<UINT>(c.named.size())};
        VARIANT result = I4(0x5E5E);
        UINT argErr = 99;
        EXCEPINFO excep = {};
        d.calls.clear();
        EXPECT_HR(S_OK, activex::Refuse(S_OK, L"a text left from before"));
        EXPECT_HR(s.expected,
                  activex::InvokeFromTable(d, Dial::kDispatchMap, s.dispid, c.flags, &params, &result,
                                           s.excepInfo ? &excep : nullptr, L"Dial.Test", &argErr))
            << s.what;
        const bool raised = s.expected == DISP_E_EXCEPTION;
        EXPECT_EQ(raised ? L"Empty" : s.seen, Shown(result)) << s.what;
        EXPECT_EQ(s.argErr, argErr) << s.what;
        EXPECT_EQ(s.scode, excep.scode) << s.what;
        const base::Bstr description = base::Bstr::Adopt(excep.bstrDescription);
        const base::Bstr source = base::Bstr::Adopt(excep.bstrSource);
        const std::wstring told = !raised                    ? L""
                                  : s.seen == kSystemMessage ? base::SystemMessage(s.scode)
                                                             : s.seen;
        EXPECT_EQ(told, description.get() ? description.get() : L"") << s.what;
        EXPECT_EQ(raised ? L"Dial.Test" : L"", std::wstring(source.get() ? source.get() : L"")) << s.what;
        EXPECT_EQ(*s.ran ? std::vector<std::string>{s.ran} : std::vector<std::string>{}, d.calls) << s.what;
        // Taking the thread's error object clears it; a call that runs its member leaves none.
        base::ComPtr<IErrorInfo> left;
        const HRESULT leftOver = ::GetErrorInfo(0, left.put());
        if (*s.ran) {
            EXPECT_HR(S_FALSE, leftOver) << s.what << ": a text outlived its call";
        }
        ::VariantClear(&result);
    }
    EXPECT_EQ(2.5, d.gain[3]) << "refused puts changed nothing";
    EXPECT_EQ(2.5, d.gain[1]) << "10 / 4";
}
