// Dispatch by DISPID from a table: the automation layer between IDispatch::Invoke and an object's
// own fields and methods.
//
// A table row is a property or a method:
// - a field property: a LONG field of the object, read by a get; a put coerces its argument to VT_I4,
//   stores it and then runs the change handler;
// - a computed property: the object's get function makes the value (VT_I4, VT_R8 or VT_BSTR); a put, when
//   the row has a put function, hands it the value coerced to VT_I4; a row without one is read-only;
// - an indexed property: the object's get function makes the VARIANT value for a LONG index; a put,
//   when the row has a put function, hands it the index and the caller's value as it is, references
//   followed, for the member to coerce (a member may take Null or Empty as "off");
// - a value property: the same without an index; its put also takes an object by reference
//   (DISPATCH_PROPERTYPUTREF, Set in Basic);
// - a method: LONG parameters (coerced) and either a LONG result wrapped as VT_I2, VT_BOOL as -1/0,
//   VT_I4 or nothing, or a VARIANT result that the method makes itself. Such a method may take one
//   more, optional, parameter through which it hands back a LONG: the caller's Variant or Long
//   variable passed by reference (a value passed by value, or none, gets nothing);
// - a typed method: LONG, double or BSTR parameters, each coerced to its type, and a VARIANT result
//   that the method makes (left VT_EMPTY when it has none to give).
// A row may give the range that a put's value, an index or a method's first parameter must lie in.
// A table's rows are made from the object's members by the functions of activex/dispatch_rows.h.
//
// The members of indexed properties and typed methods may fail with a text of their own (Refuse);
// the caller gets it in its EXCEPINFO, and a failure without one the system's message for it.
//
// Every check (DISPID, flags, argument count, named arguments, coercion, the by-reference
// parameter's type, the range) is done before any code of the object runs, and a refused call
// changes nothing. The names and help strings of a table document it and are checked against the
// type library by a test; the type library stays the source for GetIDsOfNames.
//
// Answers: S_OK; E_INVALIDARG for inconsistent DISPPARAMS (or none); DISP_E_MEMBERNOTFOUND for an
// unknown DISPID, flags the member does not take, or a put of a read-only property;
// DISP_E_BADPARAMCOUNT, DISP_E_PARAMNOTOPTIONAL, DISP_E_PARAMNOTFOUND and DISP_E_NONAMEDARGS for the
// argument list; the coercion's errors (DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW, DISP_E_BADVARTYPE,
// E_OUTOFMEMORY) for an argument, and DISP_E_TYPEMISMATCH for a by-reference parameter of a type
// that cannot take a LONG or an indexed put's value behind a null reference; for a value outside its row's
// range, DISP_E_EXCEPTION with an EXCEPINFO (scode E_INVALIDARG, the row's text, the caller's source) when
// the caller passed one, else E_INVALIDARG; whatever a computed member's own code fails with; and for a
// failure of an indexed property's or a typed method's member, DISP_E_EXCEPTION with an EXCEPINFO (scode the
// failure, its text or the system's message, the caller's source) when the caller passed one, else the
// failure.
//
// A table is constant data of its class, read on any thread. InvokeFromTable, and the object's code
// it runs, are called on the object's apartment thread; the other functions work only on what the
// caller hands them and may be called on any thread.
#pragma once

#include <oaidl.h>

#include <climits>
#include <cstddef>
#include <string>

#include "base/variant.h"

namespace activex {

enum class MemberKind : unsigned char { kProperty, kMethod };

// The most parameters a method of a table may take.
inline constexpr UINT kMaxParams = 5;

// What the table-independent checks found out about one call.
enum class CallKind { kGet, kPut, kMethod };

struct MemberShape {
    MemberKind kind;
    UINT paramCount;                      // a method's parameters; 1 for an indexed property
    bool readOnly = false;                // a property that refuses a put
    bool optionalOutput = false;          // a method with the optional by-reference parameter after them
    bool textPut = false;                 // a put takes text: its value is left for CoerceToText
    bool indexed = false;                 // a property with a LONG index
    const VARTYPE* paramTypes = nullptr;  // VT_I4, VT_R8 or VT_BSTR each; null: all VT_I4
    bool valuePut = false;                // a put takes the caller's value as it is, an object too
};

// Where a method hands back its optional LONG: nowhere (not passed, or passed by value), into the
// caller's Variant, or into the caller's Long.
struct OutputTarget {
    VARIANT* variant = nullptr;
    LONG* plain = nullptr;

    // Replaces what the variable held with value.
    void Write(LONG value) const noexcept;
};

// A call's arguments as the member takes them.
struct CallArguments {
    LONG longs[kMaxParams] = {};      // LONG parameters in declaration order, a put's value, an index
    base::Variant typed[kMaxParams];  // the double and BSTR parameters, at their declared places
    const VARIANT* value = nullptr;   // an indexed put's value, in the caller's variant
    OutputTarget output;              // where the optional parameter hands its LONG back
};

// Checks a call of a member of shape against its flags and arguments and coerces the arguments into
// args. On failure returns the automation error and, for an argument at fault, its index in rgvarg
// through argErr.
[[nodiscard]] HRESULT PrepareCall(const MemberShape& shape, WORD flags, const DISPPARAMS* params,
                                  CallArguments* args, CallKind* kind, UINT* argErr) noexcept;

// Coerces one argument to VT_I4; by-reference variants are followed first. A null reference, or a
// chain of VT_VARIANT references that does not end (a variant referring to itself), is a
// DISP_E_TYPEMISMATCH.
[[nodiscard]] HRESULT CoerceToLong(const VARIANT& arg, LONG* out) noexcept;
// The same to VT_R8.
[[nodiscard]] HRESULT CoerceToDouble(const VARIANT& arg, double* out) noexcept;
// The same to VT_BSTR, into out (a null BSTR stands for empty text).
[[nodiscard]] HRESULT CoerceToText(const VARIANT& arg, base::Variant* out) noexcept;

// Called by a member of an indexed property or a typed method that fails with hr: records text as
// what the caller is told, and returns hr. The text goes in the thread's COM error object, so that a
// caller through the vtable finds it too.
[[nodiscard]] HRESULT Refuse(HRESULT hr, const wchar_t* text) noexcept;
[[nodiscard]] HRESULT Refuse(HRESULT hr, const std::wstring& text) noexcept;

// Wraps a method's LONG result as the automation type vt (VT_EMPTY: no value).
void WrapResult(VARTYPE vt, LONG value, VARIANT* result) noexcept;

// The answer for a value outside a row's range (see the header's comment); description names the
// range, source is the caller's (a ProgID). excepInfo may be null.
[[nodiscard]] HRESULT RefuseOutOfRange(const wchar_t* description, const wchar_t* source,
                                       EXCEPINFO* excepInfo) noexcept;
// The answer for a member whose own code failed with hr, for a row that describes its failures: with
// an EXCEPINFO, DISP_E_EXCEPTION with scode hr and the system's message for it, else hr.
[[nodiscard]] HRESULT RaiseFailure(HRESULT hr, const wchar_t* source, EXCEPINFO* excepInfo) noexcept;

// The values a put, an index or a method's first parameter takes; text is the refusal's description.
struct ValueRange {
    LONG low = LONG_MIN;
    LONG high = LONG_MAX;
    const wchar_t* text = nullptr;

    bool Contains(LONG value) const noexcept { return value >= low && value <= high; }
};

template <class C>
struct DispatchEntry {
    DISPID dispid;
    const wchar_t* name;
    const wchar_t* helpString;
    MemberKind kind;
    VARTYPE type;     // property type, or method result type (VT_EMPTY for none)
    UINT paramCount;  // LONG parameters
    LONG C::*field;
    void (C::*onChanged)() noexcept;
    LONG (*call)(C& self, const LONG* args) noexcept;  // LONG methods: runs it, result widened
    // Computed properties: the get makes *result; the put, if any, takes the coerced value.
    HRESULT (*get)(C& self, VARIANT* result) noexcept = nullptr;
    HRESULT (*put)(C& self, LONG value) noexcept = nullptr;
    // Text properties: the put takes the value coerced to text; its failures are raised with the
    // system's message (RaiseFailure).
    HRESULT (*putText)(C& self, BSTR value) noexcept = nullptr;
    // VARIANT methods: makes *result; output is null when the row has no optional parameter or the
    // caller passed no variable for it.
    HRESULT (*make)(C& self, const LONG* args, LONG* output, VARIANT* result) noexcept = nullptr;
    bool optionalOutput = false;
    ValueRange range = {};
    // Indexed properties: the get makes *result for an index; the put, if any, takes the caller's
    // value uncoerced. Their failures, like a typed method's, may carry the member's text (Refuse).
    HRESULT (*getAt)(C& self, LONG index, VARIANT* result) noexcept = nullptr;
    HRESULT (*putAt)(C& self, LONG index, const VARIANT& value) noexcept = nullptr;
    // Value properties: as the indexed ones, without the index.
    HRESULT (*getValue)(C& self, VARIANT* result) noexcept = nullptr;
    HRESULT (*putValue)(C& self, const VARIANT& value) noexcept = nullptr;
    // Typed methods: makes *result from the arguments coerced to paramTypes.
    HRESULT (*callTyped)(C& self, const CallArguments& args, VARIANT* result) noexcept = nullptr;
    VARTYPE paramTypes[kMaxParams] = {};  // of a method's parameters

    bool ReadOnly() const noexcept {
        return kind == MemberKind::kProperty && !field && !put && !putText && !putAt && !putValue;
    }
};

namespace detail {

// Whether the row's range refuses this call's value: a put's, an index, or a method's first parameter.
template <class C>
bool RangeRefuses(const DispatchEntry<C>& entry, CallKind kind, const LONG* args) noexcept {
    if (!entry.range.text) return false;
    const bool applies =
        entry.getAt || kind == CallKind::kPut || (kind == CallKind::kMethod && entry.paramCount > 0);
    return applies && !entry.range.Contains(args[0]);
}

// Around a member that may fail with its own text: Begin forgets any text recorded before, End
// takes the one the member recorded and makes the answer for its result hr (see the header's
// comment).
void BeginReportingCall() noexcept;
[[nodiscard]] HRESULT EndReportingCall(HRESULT hr, const wchar_t* source, EXCEPINFO* excepInfo) noexcept;

// Runs a member that may fail with its own text; the result stays VT_EMPTY when it fails.
template <class Run>
[[nodiscard]] HRESULT RunReporting(const Run& run, VARIANT* result, const wchar_t* source,
                                   EXCEPINFO* excepInfo) noexcept {
    // The member runs also when the caller wants no result: its failure is still told.
    base::Variant unwanted;
    VARIANT* out = result ? result : unwanted.ptr();
    BeginReportingCall();
    const HRESULT hr = run(out);
    if (FAILED(hr)) ::VariantClear(out);
    return EndReportingCall(hr, source, excepInfo);
}

}  // namespace detail

// source names the caller's side in an EXCEPINFO (a ProgID); excepInfo may be null.
template <class C, size_t N>
[[nodiscard]] HRESULT InvokeFromTable(C& self, const DispatchEntry<C> (&table)[N], DISPID dispid, WORD flags,
                                      DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                                      const wchar_t* source, UINT* argErr) noexcept {
    if (result) ::VariantInit(result);
    const DispatchEntry<C>* entry = nullptr;
    for (const auto& e : table) {
        if (e.dispid == dispid) entry = &e;
    }
    if (!entry) return DISP_E_MEMBERNOTFOUND;

    CallArguments args;
    CallKind kind;
    const MemberShape shape = {entry->kind,           entry->paramCount,         entry->ReadOnly(),
                               entry->optionalOutput, entry->putText != nullptr, entry->getAt != nullptr,
                               entry->paramTypes,     entry->putValue != nullptr};
    HRESULT hr = PrepareCall(shape, flags, params, &args, &kind, argErr);
    if (FAILED(hr)) return hr;
    if (detail::RangeRefuses(*entry, kind, args.longs))
        return RefuseOutOfRange(entry->range.text, source, excepInfo);
    switch (kind) {
        case CallKind::kGet:
            if (entry->getAt) {
                return detail::RunReporting(
                    [&](VARIANT* out) noexcept { return entry->getAt(self, args.longs[0], out); }, result,
                    source, excepInfo);
            }
            if (entry->getValue) {
                return detail::RunReporting([&](VARIANT* out) noexcept { return entry->getValue(self, out); },
                                            result, source, excepInfo);
            }
            if (!result) break;
            if (entry->get) return entry->get(self, result);
            WrapResult(VT_I4, self.*(entry->field), result);
            break;
        case CallKind::kPut:
            if (entry->putText) {
                base::Variant text;
                hr = CoerceToText(params->rgvarg[0], &text);
                if (FAILED(hr)) {
                    if (argErr) *argErr = 0;
                    return hr;
                }
                hr = entry->putText(self, text.get().bstrVal);
                return FAILED(hr) ? RaiseFailure(hr, source, excepInfo) : hr;
            }
            if (entry->putAt || entry->putValue) {
                hr = detail::RunReporting(
                    [&](VARIANT*) noexcept {
                        return entry->putAt ? entry->putAt(self, args.longs[0], *args.value)
                                            : entry->putValue(self, *args.value);
                    },
                    nullptr, source, excepInfo);
                // The member's coercion of the value refused it: the value, rgvarg[0], is at fault.
                if ((hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW) && argErr) *argErr = 0;
                return hr;
            }
            if (entry->put) return entry->put(self, args.longs[0]);
            self.*(entry->field) = args.longs[0];
            (self.*(entry->onChanged))();
            break;
        case CallKind::kMethod: {
            if (entry->callTyped) {
                return detail::RunReporting(
                    [&](VARIANT* out) noexcept { return entry->callTyped(self, args, out); }, result, source,
                    excepInfo);
            }
            if (entry->make) {
                // The method runs also when the caller wants no result: a drain drains.
                base::Variant unwanted;
                VARIANT* out = result ? result : unwanted.ptr();
                LONG handedBack = 0;
                const bool wantsOutput = args.output.variant || args.output.plain;
                hr = entry->make(self, args.longs, wantsOutput ? &handedBack : nullptr, out);
                if (FAILED(hr)) return hr;
                if (wantsOutput) args.output.Write(handedBack);
                break;
            }
            const LONG value = entry->call(self, args.longs);
            if (result) WrapResult(entry->type, value, result);
            break;
        }
    }
    return S_OK;
}

template <class C, size_t N>
[[nodiscard]] HRESULT InvokeFromTable(C& self, const DispatchEntry<C> (&table)[N], DISPID dispid, WORD flags,
                                      DISPPARAMS* params, VARIANT* result, UINT* argErr) noexcept {
    return InvokeFromTable(self, table, dispid, flags, params, result, nullptr, nullptr, argErr);
}

}  // namespace activex
