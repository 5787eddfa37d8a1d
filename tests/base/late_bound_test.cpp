// The late-bound call helpers against a dispatch object that records what each call handed it.
#include "base/late_bound.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/com_object.h"
#include "base/variant.h"
#include "tests/support/hresult_matchers.h"

namespace {

constexpr UINT kArgErrSentinel = 0xBADu;

VARIANT I4(LONG value) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

// Records the last Invoke and GetIDsOfNames; answers as configured. Lives on the test's stack.
class RecordingDispatch final : public base::ComObject<RecordingDispatch, base::Lifetime::Scoped, IDispatch> {
public:
    // What the next Invoke does.
    HRESULT answer = S_OK;
    LONG resultValue = 0;               // written as VT_I4 when a result is asked for and answer succeeds
    UINT faultIndex = kArgErrSentinel;  // written to puArgErr when not the sentinel
    bool raise = false;                 // fills EXCEPINFO with three strings

    // What the last Invoke got.
    int invokes = 0;
    DISPID id = 0;
    bool iidNull = false;
    WORD flags = 0;
    std::vector<LONG> rgvarg;  // the I4 values, in the order of the array
    std::vector<DISPID> named;
    bool gotResult = false, gotExcepInfo = false, gotArgErr = false;

    // What the last GetIDsOfNames got.
    std::vector<std::wstring> names;

    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* list, UINT count, LCID, DISPID* ids) noexcept override {
        names.assign(list, list + count);
        for (UINT i = 0; i < count; ++i) ids[i] = names[i] == L"Known" ? 17 : DISPID_UNKNOWN;
        return ids[0] == 17 ? S_OK : DISP_E_UNKNOWNNAME;
    }
    STDMETHODIMP Invoke(DISPID member, REFIID riid, LCID, WORD how, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* info, UINT* argErr) noexcept override {
        ++invokes;
        id = member;
        iidNull = riid == IID_NULL;
        flags = how;
        rgvarg.clear();
        for (UINT i = 0; i < params->cArgs; ++i) rgvarg.push_back(params->rgvarg[i].lVal);
        named.assign(params->rgdispidNamedArgs, params->rgdispidNamedArgs + params->cNamedArgs);
        gotResult = result != nullptr;
        gotExcepInfo = info != nullptr;
        gotArgErr = argErr != nullptr;
        if (argErr && faultIndex != kArgErrSentinel) *argErr = faultIndex;
        if (raise && info) {
            info->wCode = 1001;
            info->bstrSource = ::SysAllocString(L"Recorder");
            info->bstrDescription = ::SysAllocString(L"raised on purpose");
            info->bstrHelpFile = ::SysAllocString(L"recorder.hlp");
        }
        if (result && SUCCEEDED(answer)) {
            result->vt = VT_I4;
            result->lVal = resultValue;
        }
        return answer;
    }
};

TEST(LateBound, MethodArgumentsReachTheTargetLastFirstAndUnnamed) {
    RecordingDispatch target;
    target.resultValue = 99;
    base::Variant result;
    EXPECT_HR(S_OK, base::CallMethod(&target, 3, {I4(1), I4(2), I4(3)}, result.ptr()));
    EXPECT_EQ(3, target.id);
    EXPECT_TRUE(target.iidNull);
    EXPECT_EQ(DISPATCH_METHOD, target.flags);
    EXPECT_EQ((std::vector<LONG>{3, 2, 1}), target.rgvarg);
    EXPECT_TRUE(target.named.empty());
    EXPECT_EQ(VT_I4, result.vt());
    EXPECT_EQ(99, result.get().lVal);

    EXPECT_HR(S_OK, base::CallMethod(&target, 4, {}, nullptr));
    EXPECT_TRUE(target.rgvarg.empty());
    EXPECT_FALSE(target.gotResult) << "an unwanted result stays unasked";
}

// A put names its value, which is the last argument in call order and so the first in the array;
// the index arguments of an indexed put stay positional behind it.
struct PutCase {
    const char* what;
    WORD flags;
    std::vector<LONG> callOrder;
    std::vector<LONG> rgvarg;
    std::vector<DISPID> named;
};

class LateBoundPut : public testing::TestWithParam<PutCase> {};

TEST_P(LateBoundPut, NamesTheValueDispidPropertyPut) {
    const PutCase& c = GetParam();
    SCOPED_TRACE(c.what);
    RecordingDispatch target;
    std::vector<VARIANT> args;
    for (LONG v : c.callOrder) args.push_back(I4(v));
    EXPECT_HR(S_OK, base::InvokeById(&target, 1, c.flags, args.data(), args.size(), nullptr));
    EXPECT_EQ(c.flags, target.flags);
    EXPECT_EQ(c.rgvarg, target.rgvarg);
    EXPECT_EQ(c.named, target.named);
    EXPECT_FALSE(target.gotResult);
}

INSTANTIATE_TEST_SUITE_P(
    Puts, LateBoundPut,
    testing::Values(
        PutCase{"put", DISPATCH_PROPERTYPUT, {42}, {42}, {DISPID_PROPERTYPUT}},
        PutCase{"putref", DISPATCH_PROPERTYPUTREF, {42}, {42}, {DISPID_PROPERTYPUT}},
        PutCase{"indexed put", DISPATCH_PROPERTYPUT, {7, 8, 42}, {42, 8, 7}, {DISPID_PROPERTYPUT}},
        PutCase{"put without a value names nothing", DISPATCH_PROPERTYPUT, {}, {}, {}},
        PutCase{"method or get names nothing", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {5}, {5}, {}}),
    [](const testing::TestParamInfo<PutCase>& test) { return "Case" + std::to_string(test.index); });

TEST(LateBound, PropertyHelpersUseTheirFlags) {
    RecordingDispatch target;
    EXPECT_HR(S_OK, base::PutProperty(&target, 6, I4(4)));
    EXPECT_EQ(DISPATCH_PROPERTYPUT, target.flags);
    EXPECT_EQ(std::vector<LONG>{4}, target.rgvarg);
    EXPECT_EQ(std::vector<DISPID>{DISPID_PROPERTYPUT}, target.named);

    target.resultValue = 500;
    base::Variant value;
    EXPECT_HR(S_OK, base::GetProperty(&target, 1, value.ptr()));
    EXPECT_EQ(DISPATCH_PROPERTYGET, target.flags);
    EXPECT_TRUE(target.rgvarg.empty());
    EXPECT_TRUE(target.named.empty());
    EXPECT_EQ(500, value.get().lVal);
}

TEST(LateBound, TheTargetsFailureComesBackUnchanged) {
    RecordingDispatch target;
    target.answer = DISP_E_EXCEPTION;
    target.raise = true;
    base::Variant result;
    EXPECT_HR(DISP_E_EXCEPTION, base::CallMethod(&target, 3, {I4(1)}, result.ptr()));
    EXPECT_TRUE(target.gotExcepInfo) << "the target gets somewhere to describe its exception";
    EXPECT_EQ(VT_EMPTY, result.vt());
    base::DispException raised;  // what the target said reaches a caller that asks
    EXPECT_HR(DISP_E_EXCEPTION,
              base::InvokeById(&target, 3, DISPATCH_METHOD, nullptr, 0, nullptr, nullptr, &raised));
    EXPECT_HR(MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x200 + 1001), raised.error) << "its wCode";
    EXPECT_STREQ(L"raised on purpose", raised.description.get());

    target.raise = false;
    target.answer = DISP_E_TYPEMISMATCH;
    EXPECT_HR(DISP_E_TYPEMISMATCH, base::PutProperty(&target, 1, I4(1)));
    target.answer = DISP_E_MEMBERNOTFOUND;
    EXPECT_HR(DISP_E_MEMBERNOTFOUND, base::GetProperty(&target, 99, result.ptr()));
}

// The target reports the argument at fault by its place in the array; the caller gets it in call
// order, and only when the target named one.
TEST(LateBound, ArgumentAtFaultIsReportedInCallOrder) {
    RecordingDispatch target;
    target.answer = DISP_E_TYPEMISMATCH;
    const VARIANT args[] = {I4(10), I4(20), I4(30)};
    const struct {
        UINT written;
        UINT expected;
    } cases[] = {{0, 2}, {1, 1}, {2, 0}, {kArgErrSentinel, kArgErrSentinel}, {3, kArgErrSentinel}};
    for (const auto& c : cases) {
        target.faultIndex = c.written;
        UINT argErr = kArgErrSentinel;
        EXPECT_HR(DISP_E_TYPEMISMATCH,
                  base::InvokeById(&target, 2, DISPATCH_METHOD, args, 3, nullptr, &argErr));
        EXPECT_EQ(c.expected, argErr) << "target wrote " << c.written;
    }
    target.faultIndex = 0;
    EXPECT_HR(DISP_E_TYPEMISMATCH, base::InvokeById(&target, 2, DISPATCH_METHOD, args, 3, nullptr));
    EXPECT_TRUE(target.gotArgErr) << "the target may always report, even when the caller does not ask";
}

TEST(LateBound, MissingPointersAreRefusedWithoutACall) {
    RecordingDispatch target;
    EXPECT_HR(E_POINTER, base::CallMethod(nullptr, 1, {}, nullptr));
    EXPECT_HR(E_POINTER, base::InvokeById(&target, 1, DISPATCH_METHOD, nullptr, 2, nullptr));
    EXPECT_HR(E_POINTER, base::GetProperty(&target, 1, nullptr));
    DISPID id = 5;
    EXPECT_HR(E_POINTER, base::GetDispId(&target, nullptr, &id));
    EXPECT_HR(E_POINTER, base::GetDispId(&target, L"Known", nullptr));
    EXPECT_HR(E_POINTER, base::GetDispId(nullptr, L"Known", &id));
    EXPECT_EQ(0, target.invokes);
    EXPECT_TRUE(target.names.empty());
}

TEST(LateBound, DispIdIsLookedUpByOneName) {
    RecordingDispatch target;
    DISPID id = 0;
    EXPECT_HR(S_OK, base::GetDispId(&target, L"Known", &id));
    EXPECT_EQ(17, id);
    EXPECT_EQ(std::vector<std::wstring>{L"Known"}, target.names);
    EXPECT_HR(DISP_E_UNKNOWNNAME, base::GetDispId(&target, L"Other", &id));
    EXPECT_EQ(DISPID_UNKNOWN, id);
}

}  // namespace
