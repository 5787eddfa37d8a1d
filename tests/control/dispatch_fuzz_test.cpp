// IDispatch of a live control under hostile calls in bulk: random DISPIDs, flag combinations, argument
// types and shapes, named arguments and null parameters. Every answer must be one the dispatch layer
// documents, a refused call must leave the settings and the running state alone, the caller's
// arguments are never written, and the process holds no more handles or heap afterwards.
//
// The runs are reproducible: fixed seeds (VANDREL_FUZZ_SEED changes them) and a call count that
// VANDREL_FUZZ_CALLS raises for a soak run; each run prints what it tried and what came back.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "base/com_object.h"
#include "base/com_ptr.h"
#include "base/variant.h"
#include "harness/process_usage.h"
#include "tests/support/fuzz_support.h"
#include "tests/control/vandrel_ocx.h"
#include "tests/support/sim_helpers.h"
#include "tests/support/call_site.h"
#include "tests/support/hresult_matchers.h"

using base::ComPtr;
using harness::CountOpenHandles;
using testsupport::FuzzRandom;
using testsupport::FuzzSetting;
using namespace testsupport;
using client::kDispidAddress;
using client::kDispidChannelNumber;
using client::kDispidGetChnlValue;
using client::kDispidInterval;
using client::kDispidStart;
using client::kDispidStop;

namespace {

// What the dispatch layer answers: its own refusals, the coercion errors of the automation
// library, and DISP_E_UNKNOWNINTERFACE for an riid other than IID_NULL.
bool IsDocumentedInvokeResult(HRESULT hr) {
    switch (hr) {
        case S_OK:
        case E_INVALIDARG:
        case E_OUTOFMEMORY:
        case DISP_E_UNKNOWNINTERFACE:
        case DISP_E_MEMBERNOTFOUND:
        case DISP_E_BADPARAMCOUNT:
        case DISP_E_PARAMNOTOPTIONAL:
        case DISP_E_PARAMNOTFOUND:
        case DISP_E_NONAMEDARGS:
        case DISP_E_TYPEMISMATCH:
        case DISP_E_OVERFLOW:
        case DISP_E_BADVARTYPE: return true;
        default: return false;
    }
}

// An object whose default value a coercion asks for: answers with a number, or fails.
class ValueObject final : public base::ComObject<ValueObject, base::Lifetime::Scoped, IDispatch> {
public:
    explicit ValueObject(HRESULT answer) : answer_(answer) {}
    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                        UINT*) noexcept override {
        if (FAILED(answer_)) return answer_;
        if (result) {
            result->vt = VT_I4;
            result->lVal = 8;
        }
        return S_OK;
    }

private:
    const HRESULT answer_;
};

ValueObject g_answering(S_OK);
ValueObject g_failing(E_FAIL);

// Owns whatever the arguments of one call point to; freed after the call, since Invoke never owns
// its arguments.
class ArgArena {
public:
    ArgArena() = default;
    ArgArena(const ArgArena&) = delete;
    ArgArena& operator=(const ArgArena&) = delete;
    ~ArgArena() { Clear(); }

    void Clear() {
        for (BSTR s : strings_) ::SysFreeString(s);
        for (SAFEARRAY* a : arrays_) ::SafeArrayDestroy(a);
        strings_.clear();
        arrays_.clear();
        variants_.clear();
        words_.clear();
        decimals_.clear();
    }
    BSTR Keep(BSTR s) {
        strings_.push_back(s);
        return s;
    }
    SAFEARRAY* Keep(SAFEARRAY* a) {
        arrays_.push_back(a);
        return a;
    }
    // Storage with a stable address for by-reference arguments.
    VARIANT* NewVariant() {
        variants_.emplace_back();
        ::VariantInit(&variants_.back());
        return &variants_.back();
    }
    LONG* NewLong(LONG value) {
        words_.push_back(value);
        return &words_.back();
    }
    DECIMAL* NewDecimal(const DECIMAL& d) {
        decimals_.push_back(d);
        return &decimals_.back();
    }
    BSTR* NewString(BSTR s) {
        strings_.push_back(s);
        return &strings_.back();
    }

private:
    std::deque<BSTR> strings_;
    std::vector<SAFEARRAY*> arrays_;
    std::deque<VARIANT> variants_;
    std::deque<LONG> words_;
    std::deque<DECIMAL> decimals_;
};

const std::wstring& LongDigits() {
    static const std::wstring text(100000, L'9');
    return text;
}

const std::wstring& LongLetters() {
    static const std::wstring text(100000, L'x');
    return text;
}

BSTR RandomString(FuzzRandom& r) {
    static const wchar_t* const kTexts[] = {
        L"abc",
        L"",
        L" 42 ",
        L"8",
        L"-1",
        L"2160",
        L"0x10",
        L"&H100",
        L"1e3",
        L"1e300",
        L"NaN",
        L"inf",
        L"\xFF11\xFF12",
        L"4\x0000"
        L"2",
        L"  ",
        L"+",
        L"--5",
        L"2147483648",
        L"-2147483649",
        L"1,5",
    };
    switch (r.Below(24)) {
        case 0: return nullptr;  // a null BSTR is the empty string
        case 1: return ::SysAllocStringLen(LongDigits().data(), static_cast<UINT>(LongDigits().size()));
        case 2: return ::SysAllocStringLen(LongLetters().data(), static_cast<UINT>(LongLetters().size()));
        case 3:
            return ::SysAllocStringLen(
                L"4\0"
                L"2",
                3);  // an embedded zero
        default: return ::SysAllocString(r.Pick(kTexts));
    }
}

DECIMAL RandomDecimal(FuzzRandom& r) {
    DECIMAL d = {};
    d.scale = static_cast<BYTE>(r.OneIn(4) ? r.Below(256) : r.Below(29));  // also invalid scales
    d.sign = r.OneIn(3) ? DECIMAL_NEG : static_cast<BYTE>(r.OneIn(8) ? r.Below(256) : 0);
    d.Hi32 = r.OneIn(2) ? 0 : r.Next();
    d.Lo64 = r.OneIn(2) ? r.Below(10000) : (static_cast<ULONGLONG>(r.Next()) << 32 | r.Next());
    return d;
}

double RandomDouble(FuzzRandom& r) {
    const double kValues[] = {
        std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
        1e300,
        -1e300,
        0.5,
        2.5,
        -0.0,
        1000.0,
        4.0,
        std::numeric_limits<double>::denorm_min(),
        2147483647.5,
        -2147483648.5,
    };
    return r.Pick(kValues);
}

LONG RandomLong(FuzzRandom& r) {
    const LONG kValues[] = {0, 1, 4, 8, 3, -1, 10, 100, 356, 2160, 0x7FFFFFFF, static_cast<LONG>(0x80000000)};
    return r.OneIn(4) ? static_cast<LONG>(r.Next()) : r.Pick(kValues);
}

void RandomArg(FuzzRandom& r, ArgArena& arena, VARIANT* v, int depth);

void RandomByRef(FuzzRandom& r, ArgArena& arena, VARIANT* v, int depth) {
    const VARTYPE kTargets[] = {VT_I4,   VT_I2,      VT_R8, VT_BSTR, VT_DECIMAL, VT_DISPATCH, VT_VARIANT,
                                VT_BOOL, VT_UNKNOWN, VT_CY, VT_DATE, VT_UI1,     VT_ERROR};
    const VARTYPE target = r.Pick(kTargets);
    v->vt = static_cast<VARTYPE>(VT_BYREF | target);
    v->byref = nullptr;
    if (r.OneIn(3)) return;  // a null reference
    switch (target) {
        case VT_I4: v->plVal = arena.NewLong(RandomLong(r)); break;
        case VT_DECIMAL: v->pdecVal = arena.NewDecimal(RandomDecimal(r)); break;
        case VT_BSTR: v->pbstrVal = arena.NewString(RandomString(r)); break;
        case VT_VARIANT:
            if (r.OneIn(6)) {
                v->pvarVal = v;  // a reference to itself
            } else if (r.OneIn(6)) {
                // A ring of two references.
                VARIANT* other = arena.NewVariant();
                other->vt = VT_BYREF | VT_VARIANT;
                other->pvarVal = v;
                v->pvarVal = other;
            } else {
                v->pvarVal = arena.NewVariant();
                RandomArg(r, arena, v->pvarVal, depth + 1);
            }
            break;
        default:
            v->byref = nullptr;  // the other targets are tried with null references only
            break;
    }
}

void RandomArg(FuzzRandom& r, ArgArena& arena, VARIANT* v, int depth) {
    ::VariantInit(v);
    switch (r.Below(depth < 3 ? 20 : 16)) {
        case 0: break;  // VT_EMPTY
        case 1: v->vt = VT_NULL; break;
        case 2:
        case 3:
            v->vt = VT_I4;
            v->lVal = RandomLong(r);
            break;
        case 4:
            v->vt = VT_I2;
            v->iVal = static_cast<SHORT>(RandomLong(r));
            break;
        case 5:
            v->vt = r.OneIn(2) ? VT_R8 : VT_DATE;
            v->dblVal = RandomDouble(r);
            break;
        case 6:
            v->vt = VT_R4;
            v->fltVal = static_cast<float>(RandomDouble(r));
            break;
        case 7:
            v->vt = VT_BSTR;
            v->bstrVal = arena.Keep(RandomString(r));
            break;
        case 8:
            v->vt = VT_BOOL;
            v->boolVal = r.OneIn(2) ? VARIANT_TRUE : static_cast<VARIANT_BOOL>(r.Next());
            break;
        case 9:
            v->decVal = RandomDecimal(r);
            v->vt = VT_DECIMAL;  // after the value: the DECIMAL overlays the type field
            break;
        case 10:
            v->vt = VT_CY;
            v->cyVal.int64 = static_cast<LONGLONG>(static_cast<ULONGLONG>(r.Next()) << 32 | r.Next());
            break;
        case 11:
            v->vt = VT_ERROR;
            v->scode = r.OneIn(2) ? DISP_E_PARAMNOTFOUND : static_cast<SCODE>(r.Next());
            break;
        case 12: {
            const int kind = static_cast<int>(r.Below(4));
            v->vt = kind == 3 ? VT_UNKNOWN : VT_DISPATCH;
            v->pdispVal = kind == 1 ? &g_answering : kind == 2 ? &g_failing : nullptr;
            break;
        }
        case 13: {
            v->vt = VT_ARRAY | VT_I4;
            v->parray = nullptr;
            if (r.OneIn(2)) v->parray = arena.Keep(::SafeArrayCreateVector(VT_I4, 0, r.Below(4)));
            break;
        }
        case 14: {
            const VARTYPE kOthers[] = {VT_I8, VT_UI8, VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_INT, VT_UINT};
            v->vt = r.Pick(kOthers);
            v->llVal = static_cast<LONGLONG>(static_cast<ULONGLONG>(r.Next()) << 32 | r.Next());
            break;
        }
        case 15: {
            // Types no argument may have.
            const VARTYPE kIllegal[] = {VT_VARIANT, 0x7FFF,  VT_RECORD, VT_BYREF,  VT_VECTOR | VT_I4,
                                        0xFFFF,     VT_VOID, VT_PTR,    VT_LPWSTR, VT_BLOB};
            v->vt = r.Pick(kIllegal);
            v->byref = nullptr;
            break;
        }
        default: RandomByRef(r, arena, v, depth); break;
    }
}

struct Settings {
    LONG interval;
    LONG address;
    LONG channels;
    bool operator==(const Settings& o) const {
        return interval == o.interval && address == o.address && channels == o.channels;
    }
};

Settings ReadSettings(IDispatch* ctrl) {
    return {GetLong(ctrl, kDispidInterval), GetLong(ctrl, kDispidAddress),
            GetLong(ctrl, kDispidChannelNumber)};
}

bool IsProperty(DISPID id) {
    return id == kDispidInterval || id == kDispidAddress || id == kDispidChannelNumber;
}

// The control's idea of running, asked without changing it: Start answers FALSE while running,
// and a Start that did start is undone at once.
bool ProbeRunning(IDispatch* ctrl, testsupport::CallSite caller = testsupport::CallSite::Here()) {
    const testsupport::CallerTrace fromCaller(caller);
    base::Variant v;
    if (Invoke(ctrl, kDispidStart, DISPATCH_METHOD, {}, v.ptr()) != S_OK || v.vt() != VT_BOOL) {
        ADD_FAILURE() << "Start refused while probing";
        return false;
    }
    if (v.get().boolVal == VARIANT_FALSE) return true;
    Stop(ctrl);
    return false;
}

struct InvokeTally {
    uint64_t calls = 0;
    uint64_t accepted = 0;
    std::map<HRESULT, uint64_t> results;
    uint64_t flagCombos[16] = {};
    uint64_t argCounts[5] = {};
    uint64_t nullParams = 0;
    uint64_t runningProbes = 0;
};

constexpr UINT kArgErrSentinel = 0xA5A5A5A5u;

class InvokeFuzzer {
public:
    InvokeFuzzer(IDispatch* ctrl, uint64_t seed) : ctrl_(ctrl), r_(seed) {
        settings_ = ReadSettings(ctrl);
        running_ = ProbeRunning(ctrl);
    }

    void Run(uint64_t calls) {
        for (uint64_t i = 0; i < calls && !::testing::Test::HasFatalFailure() && failures_ < 20; ++i)
            OneCall();
    }

    // Leaves the control stopped, as a leak count needs it.
    void StopControl() {
        Stop(ctrl_);
        running_ = false;
    }

    const InvokeTally& tally() const { return tally_; }

private:
    DISPID RandomDispid() {
        const DISPID kSpecial[] = {DISPID_VALUE,
                                   DISPID_UNKNOWN,
                                   DISPID_PROPERTYPUT,
                                   DISPID_NEWENUM,
                                   DISPID_EVALUATE,
                                   DISPID_CONSTRUCTOR,
                                   DISPID_DESTRUCTOR,
                                   DISPID_COLLECT,
                                   18,
                                   19,
                                   100,
                                   0x7FFFFFFF,
                                   static_cast<DISPID>(0x80000000),
                                   -600,
                                   -701};
        if (r_.OneIn(3)) return r_.OneIn(4) ? static_cast<DISPID>(r_.Next()) : r_.Pick(kSpecial);
        return static_cast<DISPID>(1 + r_.Below(6));
    }

    // Named arguments: mostly right for the member, else DISPID_PROPERTYPUT on a method, duplicates,
    // out-of-range indexes.
    DISPID RandomName(const std::vector<DISPID>& earlier) {
        const DISPID kNames[] = {DISPID_PROPERTYPUT, 0, 1, 2, 3, 4, -1, 0x7FFFFFFF};
        if (!earlier.empty() && r_.OneIn(5)) return earlier[r_.Below(static_cast<UINT>(earlier.size()))];
        return r_.Pick(kNames);
    }

    void OneCall() {
        const DISPID dispid = RandomDispid();
        WORD flags = static_cast<WORD>(r_.Below(16));
        if (r_.OneIn(50)) flags = static_cast<WORD>(r_.Next());  // undefined bits too
        const bool wellFormed = r_.OneIn(3);
        if (wellFormed)
            flags = static_cast<WORD>(
                flags | (IsProperty(dispid) && r_.OneIn(2) ? DISPATCH_PROPERTYPUT : DISPATCH_METHOD));

        VARIANT args[4];
        DISPID names[4];
        std::vector<DISPID> nameList;
        UINT argCount = r_.Below(5);
        UINT namedCount = 0;
        if (wellFormed) {
            if (flags & DISPATCH_PROPERTYPUT) {
                argCount = 1;
                namedCount = 1;
                nameList.push_back(DISPID_PROPERTYPUT);
            } else {
                argCount = dispid == kDispidGetChnlValue ? 1 : 0;
            }
        } else if (argCount && r_.OneIn(2)) {
            namedCount = 1 + r_.Below(argCount);
            for (UINT i = 0; i < namedCount; ++i) nameList.push_back(RandomName(nameList));
        }
        for (UINT i = 0; i < argCount; ++i) RandomArg(r_, arena_, &args[i], 0);
        for (UINT i = 0; i < namedCount; ++i) names[i] = nameList[i];

        DISPPARAMS params = {argCount ? args : nullptr, namedCount ? names : nullptr, argCount, namedCount};
        if (r_.OneIn(200)) params.rgvarg = nullptr;  // counts without arrays
        if (r_.OneIn(200)) params.rgdispidNamedArgs = nullptr;
        DISPPARAMS* paramsArg = r_.OneIn(40) ? nullptr : &params;
        if (!paramsArg) ++tally_.nullParams;

        VARIANT result;
        result.vt = VT_ERROR;
        result.scode = 0x5EED;
        VARIANT* resultArg = r_.OneIn(4) ? nullptr : &result;
        EXCEPINFO excep;
        std::memset(&excep, 0, sizeof excep);
        excep.wCode = 0x1234;
        EXCEPINFO* excepArg = r_.OneIn(3) ? nullptr : &excep;
        UINT argErr = kArgErrSentinel;
        UINT* argErrArg = r_.OneIn(3) ? nullptr : &argErr;
        const IID& riid = r_.OneIn(100) ? IID_IDispatch : IID_NULL;
        const LCID lcid = r_.OneIn(2) ? LOCALE_USER_DEFAULT : r_.Next();

        unsigned char before[sizeof args];
        std::memcpy(before, args, sizeof args);
        const HRESULT hr =
            ctrl_->Invoke(dispid, riid, lcid, flags, paramsArg, resultArg, excepArg, argErrArg);

        ++tally_.calls;
        ++tally_.results[hr];
        ++tally_.flagCombos[flags & 15];
        ++tally_.argCounts[argCount];
        const std::string call = Describe(dispid, flags, argCount, namedCount, paramsArg != nullptr);
        Check(IsDocumentedInvokeResult(hr), call, "undocumented result", hr);
        Check(std::memcmp(before, args, sizeof args) == 0, call, "the caller's arguments were written", hr);
        Check(excep.wCode == 0x1234 && !excep.bstrDescription, call, "EXCEPINFO written", hr);
        if (argErr != kArgErrSentinel) {
            Check(FAILED(hr) && argErr < argCount, call, "puArgErr written without an argument at fault", hr);
        } else if (argErrArg && (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND)) {
            Check(false, call, "the argument at fault not named through puArgErr", hr);
        }
        if (resultArg && FAILED(hr)) {
            Check(result.vt == VT_EMPTY || (result.vt == VT_ERROR && result.scode == 0x5EED), call,
                  "a refused call left a result", hr);
        }
        if (resultArg && SUCCEEDED(hr)) CheckResultType(dispid, flags, result, call);
        if (resultArg) ::VariantClear(&result);
        arena_.Clear();

        if (SUCCEEDED(hr)) {
            ++tally_.accepted;
            if (dispid == kDispidStart) running_ = true;  // FALSE: it was running already
            if (dispid == kDispidStop) running_ = false;
            settings_ = ReadSettings(ctrl_);
            return;
        }
        Check(ReadSettings(ctrl_) == settings_, call, "a refused call changed a setting", hr);
        if (++refusedSinceProbe_ >= 97) {
            refusedSinceProbe_ = 0;
            ++tally_.runningProbes;
            Check(ProbeRunning(ctrl_) == running_, call, "the running state changed around this call", hr);
        }
    }

    void CheckResultType(DISPID dispid, WORD flags, const VARIANT& result, const std::string& call) {
        VARTYPE expected = VT_EMPTY;
        if (IsProperty(dispid)) {
            expected = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) ? VT_EMPTY : VT_I4;
        } else if (dispid == kDispidGetChnlValue) {
            expected = VT_I2;
        } else if (dispid == kDispidStart) {
            expected = VT_BOOL;
        }
        Check(result.vt == expected, call, "result of the wrong type", S_OK);
    }

    static std::string Describe(DISPID dispid, WORD flags, UINT args, UINT named, bool params) {
        char text[128];
        std::snprintf(text, sizeof text, "dispid %ld flags 0x%X args %u named %u%s",
                      static_cast<long>(dispid), flags, args, named, params ? "" : " (null DISPPARAMS)");
        return text;
    }

    void Check(bool ok, const std::string& call, const char* what, HRESULT hr) {
        if (ok) return;
        ++failures_;
        ADD_FAILURE() << what << ": call " << tally_.calls << ", " << call << ", hr 0x" << std::hex << hr;
    }

    IDispatch* const ctrl_;
    FuzzRandom r_;
    ArgArena arena_;
    Settings settings_ = {};
    bool running_ = false;
    int refusedSinceProbe_ = 0;
    int failures_ = 0;
    InvokeTally tally_;
};

void PrintTally(const char* title, uint64_t seed, const InvokeTally& t) {
    std::printf("%s: seed %llu, %llu calls, %llu accepted, %llu with null DISPPARAMS, %llu running probes\n",
                title, static_cast<unsigned long long>(seed), static_cast<unsigned long long>(t.calls),
                static_cast<unsigned long long>(t.accepted), static_cast<unsigned long long>(t.nullParams),
                static_cast<unsigned long long>(t.runningProbes));
    for (const auto& [hr, count] : t.results) {
        std::printf("  0x%08lX  %llu\n", static_cast<unsigned long>(hr),
                    static_cast<unsigned long long>(count));
    }
    std::printf("  arguments 0..4:");
    for (uint64_t n : t.argCounts) std::printf(" %llu", static_cast<unsigned long long>(n));
    std::printf("\n");
}

}  // namespace

TEST(DispatchFuzz, InvokeAnswersEveryHostileCallAsDocumentedAndLeaksNothing) {
    SimBoards sim("356:wave");
    auto ctrl = CreateControl();
    ASSERT_TRUE(ctrl);
    const uint64_t seed = FuzzSetting("SEED", 20261208);
    const uint64_t calls = FuzzSetting("CALLS", 50000);

    // A first run brings every lazy allocation of the libraries in (type library, string caches,
    // the sampler's first thread); the counts are taken around the second.
    InvokeFuzzer warmUp(ctrl.get(), seed ^ 0x5555);
    warmUp.Run(3000);
    warmUp.StopControl();
    const DWORD handlesBefore = CountOpenHandles();
    const SIZE_T heapBefore = testsupport::HeapBytesInUse();

    InvokeFuzzer fuzzer(ctrl.get(), seed);
    fuzzer.Run(calls);
    fuzzer.StopControl();

    const DWORD handlesAfter = CountOpenHandles();
    const SIZE_T heapAfter = testsupport::HeapBytesInUse();
    PrintTally("Invoke", seed, fuzzer.tally());
    std::printf("  handles %lu -> %lu, heap bytes in use %llu -> %llu\n", handlesBefore, handlesAfter,
                static_cast<unsigned long long>(heapBefore), static_cast<unsigned long long>(heapAfter));

    EXPECT_EQ(calls, fuzzer.tally().calls);
    for (int combo = 0; combo < 16; ++combo) EXPECT_GT(fuzzer.tally().flagCombos[combo], 0u) << combo;
    EXPECT_GT(fuzzer.tally().accepted, calls / 20) << "too few calls got through to test the state checks";
    EXPECT_EQ(handlesBefore, handlesAfter);
    // A leak of one small block per call would show as at least calls * 16 bytes.
    EXPECT_LT(heapAfter, heapBefore + 64 * 1024);
    EXPECT_EQ(1u, g_answering.RefCount());
    EXPECT_EQ(1u, g_failing.RefCount());
}

// --- GetIDsOfNames -------------------------------------------------------------------------------

namespace {

struct KnownName {
    const wchar_t* name;
    DISPID id;
};

const KnownName kMembers[] = {
    {L"Interval", kDispidInterval}, {L"Address", kDispidAddress}, {L"GetChnlValue", kDispidGetChnlValue},
    {L"Start", kDispidStart},       {L"Stop", kDispidStop},       {L"ChannelNumber", kDispidChannelNumber}};

std::wstring RandomCase(FuzzRandom& r, std::wstring text) {
    for (auto& c : text) {
        if (r.OneIn(2)) c = static_cast<wchar_t>(r.OneIn(2) ? ::towupper(c) : ::towlower(c));
    }
    return text;
}

}  // namespace

TEST(DispatchFuzz, GetIDsOfNamesAnswersEveryNameListAsDocumented) {
    auto ctrl = CreateControl();
    ASSERT_TRUE(ctrl);
    const uint64_t seed = FuzzSetting("SEED", 20261208) + 1;
    const uint64_t calls = FuzzSetting("CALLS", 50000) / 5;
    FuzzRandom r(seed);
    const std::wstring longName(100000, L'I');
    std::map<HRESULT, uint64_t> results;
    uint64_t found = 0;
    int failures = 0;
    {
        // The first call loads the type library; it stays for the module's life.
        wchar_t name[] = L"Interval";
        LPOLESTR names[] = {name};
        DISPID id = 0;
        ASSERT_HR(S_OK, ctrl->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    }

    const DWORD handlesBefore = CountOpenHandles();
    const SIZE_T heapBefore = testsupport::HeapBytesInUse();
    for (uint64_t call = 0; call < calls && failures < 20; ++call) {
        std::wstring texts[4];
        LPOLESTR names[4];
        int expected = -1;  // index in kMembers of the first name, when it is a member
        const UINT count = r.Below(5);
        for (UINT i = 0; i < 4; ++i) {
            switch (r.Below(8)) {
                case 0: texts[i].clear(); break;
                case 1:
                    // Long names are few: each costs a comparison with every member name.
                    texts[i] = r.OneIn(8) ? longName : L"Intervall";
                    break;
                case 2: texts[i] = L"nChnlIndex"; break;
                case 3: texts[i] = L"Interval\xFF10"; break;
                case 4: texts[i] = L"Start "; break;
                default: {
                    const int m = static_cast<int>(r.Below(6));
                    texts[i] = RandomCase(r, kMembers[m].name);
                    if (i == 0) expected = m;
                    break;
                }
            }
            names[i] = r.OneIn(12) ? nullptr : texts[i].data();
        }
        if (!names[0]) expected = -1;
        DISPID ids[4] = {0x5A5A, 0x5A5A, 0x5A5A, 0x5A5A};
        const LCID kLcids[] = {0,     LOCALE_USER_DEFAULT, LOCALE_SYSTEM_DEFAULT, 0x409, 0x407,
                               0x411, 0xFFFFFFFF};
        const LCID lcid = r.OneIn(4) ? r.Next() : r.Pick(kLcids);
        const IID& riid = r.OneIn(50) ? IID_IDispatch : IID_NULL;
        LPOLESTR* namesArg = r.OneIn(50) ? nullptr : names;
        DISPID* idsArg = r.OneIn(50) ? nullptr : ids;

        const HRESULT hr = ctrl->GetIDsOfNames(riid, namesArg, count, lcid, idsArg);
        ++results[hr];
        const bool documented = hr == S_OK || hr == DISP_E_UNKNOWNNAME || hr == DISP_E_UNKNOWNINTERFACE ||
                                hr == E_POINTER || hr == E_INVALIDARG || hr == E_OUTOFMEMORY;
        bool ok = documented;
        const bool answered = namesArg && idsArg && &riid == &IID_NULL && count > 0;
        if (ok && answered && expected >= 0) {
            ok = ids[0] == kMembers[expected].id && (hr == S_OK || hr == DISP_E_UNKNOWNNAME);
            found += ok;
        } else if (ok && answered) {
            ok = hr == DISP_E_UNKNOWNNAME && ids[0] == DISPID_UNKNOWN;
        }
        if (!ok) {
            ++failures;
            ADD_FAILURE() << "call " << call << ": count " << count << ", first name "
                          << (names[0] ? static_cast<int>(texts[0].size()) : -1) << " characters, hr 0x"
                          << std::hex << hr << ", ids[0] " << ids[0];
        }
    }
    const DWORD handlesAfter = CountOpenHandles();
    const SIZE_T heapAfter = testsupport::HeapBytesInUse();

    std::printf("GetIDsOfNames: seed %llu, %llu calls, %llu names found\n",
                static_cast<unsigned long long>(seed), static_cast<unsigned long long>(calls),
                static_cast<unsigned long long>(found));
    for (const auto& [hr, count] : results) {
        std::printf("  0x%08lX  %llu\n", static_cast<unsigned long>(hr),
                    static_cast<unsigned long long>(count));
    }
    EXPECT_GT(found, calls / 10);
    EXPECT_EQ(handlesBefore, handlesAfter);
    EXPECT_LT(heapAfter, heapBefore + 64 * 1024);
}
