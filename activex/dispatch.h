// Dispatch by DISPID from a table: the automation layer between IDispatch::Invoke and an object's
// own fields and methods.
//
// A table row is a property (a LONG field of the object, read by a get; a put coerces its argument to
// VT_I4, stores it and then runs the change handler) or a method (LONG parameters, coerced; a result
// wrapped as VT_I2, VT_BOOL as -1/0, VT_I4 or nothing). Every check (DISPID, flags, argument count,
// named arguments, coercion) is done before any code of the object runs, and a refused call changes
// nothing. The names and help strings of a table document it and are checked against the type
// library by a test; the type library stays the source for GetIDsOfNames.
//
// Answers: S_OK; E_INVALIDARG for inconsistent DISPPARAMS (or none); DISP_E_MEMBERNOTFOUND for an
// unknown DISPID or flags the member does not take; DISP_E_BADPARAMCOUNT, DISP_E_PARAMNOTOPTIONAL,
// DISP_E_PARAMNOTFOUND and DISP_E_NONAMEDARGS for the argument list; and the coercion's errors
// (DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW, DISP_E_BADVARTYPE, E_OUTOFMEMORY) for an argument.
//
// Called on the object's apartment thread.
#pragma once

#include <oaidl.h>

#include <cstddef>
#include <type_traits>
#include <utility>

namespace activex {

enum class MemberKind : unsigned char { Property, Method };

// The most parameters a method of a table may take.
inline constexpr UINT kMaxParams = 4;

// What the table-independent checks found out about one call.
enum class CallKind { Get, Put, Method };

struct MemberShape {
    MemberKind kind;
    UINT paramCount;
};

// Checks a call of a member of shape against its flags and arguments and coerces the arguments to
// VT_I4 into args (a put's value into args[0], method parameters in declaration order). On failure
// returns the automation error and, for an argument at fault, its index in rgvarg through argErr.
HRESULT PrepareCall(const MemberShape& shape, WORD flags, const DISPPARAMS* params, LONG* args,
                    CallKind* kind, UINT* argErr) noexcept;

// Coerces one argument to VT_I4; by-reference variants are followed first. A null reference, or a
// chain of VT_VARIANT references that does not end (a variant referring to itself), is a
// DISP_E_TYPEMISMATCH.
HRESULT CoerceToLong(const VARIANT& arg, LONG* out) noexcept;

// Wraps a method's LONG result as the automation type vt (VT_EMPTY: no value).
void WrapResult(VARTYPE vt, LONG value, VARIANT* result) noexcept;

template <class C>
struct DispatchEntry {
    DISPID dispid;
    const wchar_t* name;
    const wchar_t* helpString;
    MemberKind kind;
    VARTYPE type;  // property type, or method result type (VT_EMPTY for none)
    UINT paramCount;
    LONG C::*field;
    void (C::*onChanged)() noexcept;
    LONG (*call)(C& self, const LONG* args) noexcept;  // methods: runs it, result widened
};

// A read/write VT_I4 property with a change handler.
template <class C>
constexpr DispatchEntry<C> DispProperty(DISPID dispid, const wchar_t* name, const wchar_t* help,
                                        LONG C::*field, void (C::*onChanged)() noexcept) {
    return {dispid, name, help, MemberKind::Property, VT_I4, 0, field, onChanged, nullptr};
}

namespace detail {

template <auto Method>
struct MethodThunk;

template <class C, class R, class... A, R (C::*Method)(A...) noexcept>
struct MethodThunk<Method> {
    static_assert((std::is_same_v<A, LONG> && ...), "dispatch methods take LONG parameters");
    static constexpr UINT kParams = sizeof...(A);
    using Class = C;
    using Result = R;

    static LONG Call(C& self, const LONG* args) noexcept {
        return Invoke(self, args, std::index_sequence_for<A...>{});
    }

private:
    template <size_t... I>
    static LONG Invoke(C& self, [[maybe_unused]] const LONG* args, std::index_sequence<I...>) noexcept {
        if constexpr (std::is_void_v<R>) {
            (self.*Method)(args[I]...);
            return 0;
        } else {
            return static_cast<LONG>((self.*Method)(args[I]...));
        }
    }
};

}  // namespace detail

// A method whose result is wrapped as resultType (VT_I2, VT_BOOL, VT_I4, or VT_EMPTY for void).
template <auto Method, VARTYPE ResultType>
constexpr auto DispMethod(DISPID dispid, const wchar_t* name, const wchar_t* help) {
    using Thunk = detail::MethodThunk<Method>;
    using C = typename Thunk::Class;
    static_assert(std::is_void_v<typename Thunk::Result> == (ResultType == VT_EMPTY),
                  "void methods and only they return VT_EMPTY");
    static_assert(Thunk::kParams <= kMaxParams);
    return DispatchEntry<C>{dispid,         name,    help,    MemberKind::Method, ResultType,
                            Thunk::kParams, nullptr, nullptr, &Thunk::Call};
}

template <class C, size_t N>
HRESULT InvokeFromTable(C& self, const DispatchEntry<C> (&table)[N], DISPID dispid, WORD flags,
                        DISPPARAMS* params, VARIANT* result, UINT* argErr) noexcept {
    if (result) ::VariantInit(result);
    const DispatchEntry<C>* entry = nullptr;
    for (const auto& e : table) {
        if (e.dispid == dispid) entry = &e;
    }
    if (!entry) return DISP_E_MEMBERNOTFOUND;

    LONG args[kMaxParams] = {};
    CallKind kind;
    const HRESULT hr = PrepareCall({entry->kind, entry->paramCount}, flags, params, args, &kind, argErr);
    if (FAILED(hr)) return hr;
    switch (kind) {
        case CallKind::Get:
            if (result) WrapResult(VT_I4, self.*(entry->field), result);
            break;
        case CallKind::Put:
            self.*(entry->field) = args[0];
            (self.*(entry->onChanged))();
            break;
        case CallKind::Method: {
            const LONG value = entry->call(self, args);
            if (result) WrapResult(entry->type, value, result);
            break;
        }
    }
    return S_OK;
}

}  // namespace activex
