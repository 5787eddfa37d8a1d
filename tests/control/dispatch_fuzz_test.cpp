// IDispatch of a live control under hostile calls in bulk: random DISPIDs, flag combinations, argument
// types and shapes, named arguments and null parameters. The DISPIDs are every member of the
// control's type library (which module_test holds against its dispatch table), so that a member
// added to the control is called too, and DISPIDs it has no member for. Every answer must be one the
// dispatch layer documents, a refused call must leave the settings (every writable property) and the
// running state alone, the caller's arguments are never written, and the process holds no more
// handles or heap afterwards.
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
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/com_object.h"
#include "base/com_ptr.h"
#include "base/text.h"
#include "base/variant.h"
#include "client/vandrel_ids.h"
#include "harness/process_usage.h"
#include "tests/control/library_members.h"
#include "tests/control/vandrel_ocx.h"
#include "tests/support/call_site.h"
#include "tests/support/fuzz_support.h"
#include "tests/support/hresult_matchers.h"
#include "tests/support/sim_helpers.h"

using base::ComPtr;
using harness::CountOpenHandles;
using testsupport::CreateControl;
using testsupport::FuzzRandom;
using testsupport::FuzzSetting;
using testsupport::GetLong;
using testsupport::HeapBytesInUse;
using testsupport::Invoke;
using testsupport::LibMember;
using testsupport::SimBoards;
using testsupport::Stop;

namespace {

// What the dispatch layer answers: its own refusals, the coercion errors of the automation
// library, DISP_E_UNKNOWNINTERFACE for an riid other than IID_NULL, and DISP_E_EXCEPTION for a value
// outside a member's range when the caller passed an EXCEPINFO.
bool IsDocumentedInvokeResult(HRESULT hr) {
    switch (hr) {
        case S_OK:
        case E_INVALIDARG:
        case E_OUTOFMEMORY:
        case DISP_E_EXCEPTION:
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
// its arguments. A Variant reached by reference owns its string itself: a member's optional output
// parameter (ReadCycles' Lost) clears such a Variant and puts a Long in it, string and all.
class ArgArena {
public:
    ArgArena() = default;
    ArgArena(const ArgArena&) = delete;
    ArgArena& operator=(const ArgArena&) = delete;
    ~ArgArena() { Clear(); }

    void Clear() {
        for (VARIANT& v : variants_) {
            if (v.vt == VT_BSTR) ::SysFreeString(v.bstrVal);
        }
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

// depth 0: an argument of the call; deeper: a Variant of the arena, reached by reference.
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
            v->bstrVal = depth > 0 ? RandomString(r) : arena.Keep(RandomString(r));
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

// The members of the control's dispatch interface, from the type library the control itself hands
// out, and DISPIDs it has no member for.
struct ControlMembers {
    std::map<DISPID, LibMember> byId;
    std::vector<DISPID> ids;       // every member, in order
    std::vector<DISPID> writable;  // the properties that take a put: the settings
    std::vector<DISPID> unknown;   // special and nearby DISPIDs that are no member

    const LibMember* Find(DISPID id) const {
        const auto found = byId.find(id);
        return found == byId.end() ? nullptr : &found->second;
    }
};

testing::AssertionResult ReadControlMembers(IDispatch* ctrl, ControlMembers* out) {
    ComPtr<ITypeInfo> info;
    const HRESULT hr = ctrl->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put());
    if (FAILED(hr) || !info) return testing::AssertionFailure() << "GetTypeInfo: 0x" << std::hex << hr;
    const testing::AssertionResult read = testsupport::ReadLibMembers(info.get(), &out->byId);
    if (!read) return read;
    if (out->byId.empty()) return testing::AssertionFailure() << "the type library lists no member";
    for (const auto& [id, m] : out->byId) {
        // WaitForCycles waits by design, up to the time-out it is given: its refusals are the
        // table's, which the other members go through, and its waits are recording_test's.
        if (id == client::kDispidWaitForCycles) continue;
        out->ids.push_back(id);
        // A text property names a file to record to: random text would make files anywhere, so it
        // is read here and written by the recording's own tests.
        // An indexed property is no setting: its values are the channels'.
        if (!m.method && m.writable && m.putType != VT_BSTR && !m.params) out->writable.push_back(id);
    }
    // The DISPIDs just past the last member stay unknown until the control grows.
    const DISPID last = out->byId.rbegin()->first;
    const DISPID kSpecial[] = {DISPID_VALUE,
                               DISPID_UNKNOWN,
                               DISPID_PROPERTYPUT,
                               DISPID_NEWENUM,
                               DISPID_EVALUATE,
                               DISPID_CONSTRUCTOR,
                               DISPID_DESTRUCTOR,
                               DISPID_COLLECT,
                               last + 1,
                               last + 2,
                               100,
                               0x7FFFFFFF,
                               static_cast<DISPID>(0x80000000),
                               -600,
                               -701};
    for (DISPID id : kSpecial) {
        if (!out->byId.count(id)) out->unknown.push_back(id);
    }
    return testing::AssertionSuccess();
}

// The value of every writable property as a Long (a Boolean's -1 or 0), in the order of
// ControlMembers::writable; -99999 for a get that fails.
using Settings = std::vector<LONG>;

Settings ReadSettings(IDispatch* ctrl, const ControlMembers& members) {
    Settings settings;
    for (DISPID id : members.writable) {
        base::Variant v;
        const bool read = SUCCEEDED(Invoke(ctrl, id, DISPATCH_PROPERTYGET, {}, v.ptr())) &&
                          SUCCEEDED(::VariantChangeType(v.ptr(), v.ptr(), 0, VT_I4));
        settings.push_back(read ? v.get().lVal : -99999);
    }
    return settings;
}

// The control's idea of running, asked without changing it: Start answers FALSE while running,
// and a Start that did start is undone at once.
bool ProbeRunning(IDispatch* ctrl, testsupport::CallSite caller = testsupport::CallSite::Here()) {
    const testsupport::CallerTrace fromCaller(caller);
    base::Variant v;
    if (Invoke(ctrl, client::kDispidStart, DISPATCH_METHOD, {}, v.ptr()) != S_OK || v.vt() != VT_BOOL) {
        ADD_FAILURE() << "Start refused while probing";
        return false;
    }
    if (v.get().boolVal == VARIANT_FALSE) return true;
    Stop(ctrl);
    return false;
}

// The most arguments a member takes: five parameters and the optional output.
constexpr UINT kMaxArgs = 6;

struct InvokeTally {
    uint64_t calls = 0;
    uint64_t accepted = 0;
    std::map<DISPID, std::pair<uint64_t, uint64_t>> members;  // calls and accepted ones, by member
    std::map<HRESULT, uint64_t> results;
    uint64_t flagCombos[16] = {};
    uint64_t argCounts[kMaxArgs + 1] = {};
    uint64_t nullParams = 0;
    uint64_t runningProbes = 0;
};

constexpr UINT kArgErrSentinel = 0xA5A5A5A5u;

class InvokeFuzzer {
public:
    InvokeFuzzer(IDispatch* ctrl, const ControlMembers& members, uint64_t seed)
        : ctrl_(ctrl), members_(members), r_(seed) {
        initial_ = settings_ = ReadSettings(ctrl, members);
        running_ = ProbeRunning(ctrl);
    }

    void Run(uint64_t calls) {
        for (uint64_t i = 0; i < calls && !::testing::Test::HasFatalFailure() && failures_ < 20; ++i)
            OneCall();
    }

    // Leaves the control stopped and with the settings it had at the start (the buffer's size among
    // them), as a leak count needs it.
    void Settle() {
        Stop(ctrl_);
        running_ = false;
        for (size_t i = 0; i < members_.writable.size(); ++i) {
            EXPECT_HR(S_OK, testsupport::Put(ctrl_, members_.writable[i], testsupport::I4(initial_[i])))
                << "DISPID " << members_.writable[i];
        }
    }

    const InvokeTally& Tally() const { return tally_; }

private:
    DISPID RandomDispid() {
        if (r_.OneIn(3)) return r_.OneIn(4) ? static_cast<DISPID>(r_.Next()) : Pick(members_.unknown);
        return Pick(members_.ids);
    }

    DISPID Pick(const std::vector<DISPID>& ids) { return ids[r_.Below(static_cast<uint32_t>(ids.size()))]; }

    // Named arguments: mostly right for the member, else DISPID_PROPERTYPUT on a method, duplicates,
    // out-of-range indexes.
    DISPID RandomName(const std::vector<DISPID>& earlier) {
        const DISPID kNames[] = {DISPID_PROPERTYPUT, 0, 1, 2, 3, 4, -1, 0x7FFFFFFF};
        if (!earlier.empty() && r_.OneIn(5)) return earlier[r_.Below(static_cast<UINT>(earlier.size()))];
        return r_.Pick(kNames);
    }

    void OneCall() {
        const DISPID dispid = RandomDispid();
        const LibMember* member = members_.Find(dispid);
        WORD flags = static_cast<WORD>(r_.Below(16));
        if (r_.OneIn(50)) flags = static_cast<WORD>(r_.Next());  // undefined bits too
        const bool wellFormed = r_.OneIn(3);
        if (wellFormed) {
            const bool put = member && !member->method && member->writable && r_.OneIn(2);
            flags = static_cast<WORD>(flags | (put ? DISPATCH_PROPERTYPUT : DISPATCH_METHOD));
        }
        if (member && member->putType == VT_BSTR)
            flags = static_cast<WORD>(flags & ~(DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF));

        VARIANT args[kMaxArgs];
        DISPID names[kMaxArgs];
        std::vector<DISPID> nameList;
        UINT argCount = r_.Below(5);
        UINT namedCount = 0;
        if (wellFormed) {
            if (flags & DISPATCH_PROPERTYPUT) {
                argCount = 1 + (member ? member->params : 0);  // the value, after an indexed property's index
                namedCount = 1;
                nameList.push_back(DISPID_PROPERTYPUT);
            } else {
                // A method's parameters or an indexed property's index, and now and then a method's
                // optional output parameter.
                argCount = member ? member->params : 0;
                if (member && member->optionalOutput && r_.OneIn(2)) ++argCount;
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
        if (member) {
            ++tally_.members[dispid].first;
            if (SUCCEEDED(hr)) ++tally_.members[dispid].second;
        }
        const std::string call = Describe(dispid, flags, argCount, namedCount, paramsArg != nullptr);
        // Without an EXCEPINFO, the settings file's members and a zero before any cycle fail with
        // the system's error.
        const bool systemError =
            (dispid == client::kDispidSaveSettings || dispid == client::kDispidLoadSettings ||
             dispid == client::kDispidZeroChannel) &&
            HRESULT_FACILITY(hr) == FACILITY_WIN32;
        Check(IsDocumentedInvokeResult(hr) || systemError, call, "undocumented result", hr);
        Check(std::memcmp(before, args, sizeof args) == 0, call, "the caller's arguments were written", hr);
        if (hr == DISP_E_EXCEPTION) {
            // A value out of range (E_INVALIDARG), or a member's failure with its text, told through
            // the caller's EXCEPINFO, whose texts are the caller's.
            Check(excepArg && excep.wCode == 0 && FAILED(excep.scode), call,
                  "DISP_E_EXCEPTION without a failure in the caller's EXCEPINFO", hr);
            base::Bstr::Adopt(excep.bstrSource);
            base::Bstr::Adopt(excep.bstrDescription);
            base::Bstr::Adopt(excep.bstrHelpFile);
        } else {
            Check(excep.wCode == 0x1234 && !excep.bstrDescription, call, "EXCEPINFO written", hr);
        }
        if (argErr != kArgErrSentinel) {
            Check(FAILED(hr) && argErr < argCount, call, "puArgErr written without an argument at fault", hr);
        } else if (argErrArg && (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND)) {
            Check(false, call, "the argument at fault not named through puArgErr", hr);
        }
        if (resultArg && FAILED(hr)) {
            Check(result.vt == VT_EMPTY || (result.vt == VT_ERROR && result.scode == 0x5EED), call,
                  "a refused call left a result", hr);
        }
        if (resultArg && SUCCEEDED(hr)) CheckResultType(member, flags, result, call);
        if (resultArg) ::VariantClear(&result);
        arena_.Clear();

        if (SUCCEEDED(hr)) {
            ++tally_.accepted;
            if (dispid == client::kDispidStart) running_ = true;  // FALSE: it was running already
            if (dispid == client::kDispidStop) running_ = false;
            settings_ = ReadSettings(ctrl_, members_);
            return;
        }
        Check(ReadSettings(ctrl_, members_) == settings_, call, "a refused call changed a setting", hr);
        if (++refusedSinceProbe_ >= 97) {
            refusedSinceProbe_ = 0;
            ++tally_.runningProbes;
            Check(ProbeRunning(ctrl_) == running_, call, "the running state changed around this call", hr);
        }
    }

    // The type the library gives the member: a property's for a get, none for a put, a method's
    // result; a Variant, a method's or an indexed property's, may hold any type.
    void CheckResultType(const LibMember* member, WORD flags, const VARIANT& result,
                         const std::string& call) {
        if (!member) {
            Check(false, call, "a DISPID that is no member was accepted", S_OK);
            return;
        }
        const bool put = !member->method && (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF));
        if (member->type == VT_VARIANT && !put) return;
        Check(result.vt == (put ? VARTYPE{VT_EMPTY} : member->type), call, "result of the wrong type", S_OK);
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
    const ControlMembers& members_;
    FuzzRandom r_;
    ArgArena arena_;
    Settings initial_;
    Settings settings_;
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
    std::printf("\n  members (DISPID calls/accepted):");
    for (const auto& [id, counts] : t.members) {
        std::printf(" %ld %llu/%llu", static_cast<long>(id), static_cast<unsigned long long>(counts.first),
                    static_cast<unsigned long long>(counts.second));
    }
    std::printf("\n");
}

}  // namespace

TEST(DispatchFuzz, InvokeAnswersEveryHostileCallAsDocumentedAndLeaksNothing) {
    SimBoards sim("356:wave");
    // The members that take a file name (RecordFile, SaveSettings) write where a random text points:
    // into a folder of the test's own, not the one the test was started in.
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "vandrel-dispatch-fuzz";
    std::filesystem::create_directories(folder);
    const std::filesystem::path started = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    const std::unique_ptr<const std::filesystem::path, void (*)(const std::filesystem::path*)> back(
        &started, [](const std::filesystem::path* p) { std::filesystem::current_path(*p); });
    auto ctrl = CreateControl();
    ASSERT_TRUE(ctrl);
    ControlMembers members;
    ASSERT_TRUE(ReadControlMembers(ctrl.get(), &members));
    const uint64_t seed = FuzzSetting("SEED", 20261208);
    const uint64_t calls = FuzzSetting("CALLS", 50000);

    // A first run brings every lazy allocation of the libraries in (type library, string caches,
    // the sampler's first thread); the counts are taken around the second.
    InvokeFuzzer warmUp(ctrl.get(), members, seed ^ 0x5555);
    warmUp.Run(3000);
    warmUp.Settle();
    const DWORD handlesBefore = CountOpenHandles();
    const SIZE_T heapBefore = HeapBytesInUse();

    InvokeFuzzer fuzzer(ctrl.get(), members, seed);
    fuzzer.Run(calls);
    fuzzer.Settle();

    const DWORD handlesAfter = CountOpenHandles();
    const SIZE_T heapAfter = HeapBytesInUse();
    PrintTally("Invoke", seed, fuzzer.Tally());
    std::printf("  handles %lu -> %lu, heap bytes in use %llu -> %llu\n", handlesBefore, handlesAfter,
                static_cast<unsigned long long>(heapBefore), static_cast<unsigned long long>(heapAfter));

    EXPECT_EQ(calls, fuzzer.Tally().calls);
    for (int combo = 0; combo < 16; ++combo) EXPECT_GT(fuzzer.Tally().flagCombos[combo], 0u) << combo;
    EXPECT_GT(fuzzer.Tally().accepted, calls / 20) << "too few calls got through to test the state checks";
    // Every member, also one added to the control after this test was written, is called and gets
    // past the checks of the dispatch layer; a run shortened by VANDREL_FUZZ_CALLS may miss one.
    if (calls >= 20000) {
        for (DISPID id : members.ids) {
            // A zero takes a cycle of the run under way, which random calls seldom leave it.
            if (id == client::kDispidZeroChannel) continue;
            const auto found = fuzzer.Tally().members.find(id);
            EXPECT_TRUE(found != fuzzer.Tally().members.end() && found->second.second > 0)
                << "member " << base::PrintableAscii(members.byId.at(id).name) << " (DISPID " << id
                << ") never accepted a call";
        }
    }
    EXPECT_EQ(handlesBefore, handlesAfter);
    // A leak of one small block per call would show as at least calls * 16 bytes.
    EXPECT_LT(heapAfter, heapBefore + 64 * 1024);
    EXPECT_EQ(1u, g_answering.RefCount());
    EXPECT_EQ(1u, g_failing.RefCount());
}

// --- GetIDsOfNames -------------------------------------------------------------------------------

namespace {

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
    ControlMembers members;
    ASSERT_TRUE(ReadControlMembers(ctrl.get(), &members));
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
    const SIZE_T heapBefore = HeapBytesInUse();
    for (uint64_t call = 0; call < calls && failures < 20; ++call) {
        std::wstring texts[4];
        LPOLESTR names[4];
        const LibMember* expected = nullptr;  // the member the first name names, if any
        DISPID expectedId = DISPID_UNKNOWN;
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
                    const DISPID id = members.ids[r.Below(static_cast<uint32_t>(members.ids.size()))];
                    texts[i] = RandomCase(r, members.byId.at(id).name);
                    if (i == 0) {
                        expected = &members.byId.at(id);
                        expectedId = id;
                    }
                    break;
                }
            }
            names[i] = r.OneIn(12) ? nullptr : texts[i].data();
        }
        if (!names[0]) expected = nullptr;
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
        if (ok && answered && expected) {
            ok = ids[0] == expectedId && (hr == S_OK || hr == DISP_E_UNKNOWNNAME);
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
    const SIZE_T heapAfter = HeapBytesInUse();

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
