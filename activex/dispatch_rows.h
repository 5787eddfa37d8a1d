// The rows of a dispatch table (activex/dispatch.h), made from an object's members: the row's kind,
// type and parameters' count and types are read off the member's signature, and a member of an
// unsupported shape fails to compile.
//
// Constant expressions, for a class's table of constant data.
#pragma once

#include <oaidl.h>

#include <array>
#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "activex/dispatch.h"

namespace activex {

// A read/write VT_I4 property with a change handler.
template <class C>
constexpr DispatchEntry<C> DispProperty(DISPID dispid, const wchar_t* name, const wchar_t* help,
                                        LONG C::*field, void (C::*onChanged)() noexcept) {
    return {dispid, name, help, MemberKind::kProperty, VT_I4, 0, field, onChanged, nullptr};
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

template <auto Get>
struct GetThunk;

template <class C, LONG (C::*Get)() noexcept>
struct GetThunk<Get> {
    using Class = C;
    static constexpr VARTYPE kType = VT_I4;
    [[nodiscard]] static HRESULT Call(C& self, VARIANT* result) noexcept {
        result->lVal = (self.*Get)();
        result->vt = VT_I4;
        return S_OK;
    }
};

template <class C, double (C::*Get)() noexcept>
struct GetThunk<Get> {
    using Class = C;
    static constexpr VARTYPE kType = VT_R8;
    [[nodiscard]] static HRESULT Call(C& self, VARIANT* result) noexcept {
        result->dblVal = (self.*Get)();
        result->vt = VT_R8;
        return S_OK;
    }
};

template <class C, bool (C::*Get)() noexcept>
struct GetThunk<Get> {
    using Class = C;
    static constexpr VARTYPE kType = VT_BOOL;
    [[nodiscard]] static HRESULT Call(C& self, VARIANT* result) noexcept {
        result->boolVal = (self.*Get)() ? VARIANT_TRUE : VARIANT_FALSE;
        result->vt = VT_BOOL;
        return S_OK;
    }
};

template <class C, HRESULT (C::*Get)(BSTR*) noexcept>
struct GetThunk<Get> {
    using Class = C;
    static constexpr VARTYPE kType = VT_BSTR;
    [[nodiscard]] static HRESULT Call(C& self, VARIANT* result) noexcept {
        BSTR text = nullptr;
        const HRESULT hr = (self.*Get)(&text);
        if (FAILED(hr)) return hr;
        result->bstrVal = text;
        result->vt = VT_BSTR;
        return S_OK;
    }
};

template <auto Put>
struct PutThunk;

template <class C, HRESULT (C::*Put)(LONG) noexcept>
struct PutThunk<Put> {
    using Class = C;
    [[nodiscard]] static HRESULT Call(C& self, LONG value) noexcept { return (self.*Put)(value); }
};

template <class C, HRESULT (C::*Put)(BSTR) noexcept>
struct PutThunk<Put> {
    using Class = C;
    [[nodiscard]] static HRESULT Call(C& self, BSTR value) noexcept { return (self.*Put)(value); }
};

// A VARIANT method: HRESULT (C::*)(LONG..., [LONG* output,] VARIANT* result) noexcept.
template <auto Method>
struct MakeThunk;

template <class C, class... A, HRESULT (C::*Method)(A...) noexcept>
struct MakeThunk<Method> {
    using Params = std::tuple<A...>;
    static constexpr size_t kCount = sizeof...(A);
    static_assert(kCount >= 1 && std::is_same_v<std::tuple_element_t<kCount - 1, Params>, VARIANT*>,
                  "a VARIANT method ends with its VARIANT* result");
    static constexpr bool OutputBeforeResult() {
        if constexpr (kCount >= 2) {
            return std::is_same_v<std::tuple_element_t<kCount - 2, Params>, LONG*>;
        } else {
            return false;
        }
    }
    static constexpr bool kOutput = OutputBeforeResult();
    static constexpr UINT kParams = static_cast<UINT>(kCount - 1 - (kOutput ? 1 : 0));
    using Class = C;

    [[nodiscard]] static HRESULT Call(C& self, const LONG* args, LONG* output, VARIANT* result) noexcept {
        return Invoke(self, args, output, result, std::make_index_sequence<kParams>{});
    }

private:
    template <size_t... I>
    [[nodiscard]] static HRESULT Invoke(C& self, [[maybe_unused]] const LONG* args,
                                        [[maybe_unused]] LONG* output, VARIANT* result,
                                        std::index_sequence<I...>) noexcept {
        static_assert((std::is_same_v<std::tuple_element_t<I, Params>, LONG> && ...),
                      "VARIANT methods take LONG parameters before the output");
        if constexpr (kOutput) {
            return (self.*Method)(args[I]..., output, result);
        } else {
            return (self.*Method)(args[I]..., result);
        }
    }
};

// An indexed property's get: HRESULT Get(LONG index, VARIANT* result).
template <auto Get>
struct GetAtThunk;

template <class C, HRESULT (C::*Get)(LONG, VARIANT*) noexcept>
struct GetAtThunk<Get> {
    using Class = C;
    [[nodiscard]] static HRESULT Call(C& self, LONG index, VARIANT* result) noexcept {
        return (self.*Get)(index, result);
    }
};

// An indexed property's put: HRESULT Put(LONG index, const VARIANT& value).
template <auto Put>
struct PutAtThunk;

template <class C, HRESULT (C::*Put)(LONG, const VARIANT&) noexcept>
struct PutAtThunk<Put> {
    using Class = C;
    [[nodiscard]] static HRESULT Call(C& self, LONG index, const VARIANT& value) noexcept {
        return (self.*Put)(index, value);
    }
};

// A value property's get and put: HRESULT Get(VARIANT* result), HRESULT Put(const VARIANT& value).
template <auto Get>
struct GetValueThunk;

template <class C, HRESULT (C::*Get)(VARIANT*) noexcept>
struct GetValueThunk<Get> {
    using Class = C;
    [[nodiscard]] static HRESULT Call(C& self, VARIANT* result) noexcept { return (self.*Get)(result); }
};

template <auto Put>
struct PutValueThunk;

template <class C, HRESULT (C::*Put)(const VARIANT&) noexcept>
struct PutValueThunk<Put> {
    using Class = C;
    [[nodiscard]] static HRESULT Call(C& self, const VARIANT& value) noexcept { return (self.*Put)(value); }
};

// How a typed method's parameter is coerced and read back from the call's arguments.
template <class T>
struct TypedParam;

template <>
struct TypedParam<LONG> {
    static constexpr VARTYPE kType = VT_I4;
    static LONG From(const CallArguments& args, size_t i) noexcept { return args.longs[i]; }
};

template <>
struct TypedParam<double> {
    static constexpr VARTYPE kType = VT_R8;
    static double From(const CallArguments& args, size_t i) noexcept { return args.typed[i].get().dblVal; }
};

template <>
struct TypedParam<BSTR> {
    static constexpr VARTYPE kType = VT_BSTR;
    static BSTR From(const CallArguments& args, size_t i) noexcept { return args.typed[i].get().bstrVal; }
};

// A typed method: HRESULT (C::*)(P..., VARIANT* result) noexcept, each P a LONG, double or BSTR.
template <auto Method>
struct TypedThunk;

template <class C, class... A, HRESULT (C::*Method)(A...) noexcept>
struct TypedThunk<Method> {
    using Params = std::tuple<A...>;
    static constexpr size_t kCount = sizeof...(A);
    static_assert(kCount >= 1 && std::is_same_v<std::tuple_element_t<kCount - 1, Params>, VARIANT*>,
                  "a typed method ends with its VARIANT* result");
    static constexpr UINT kParams = static_cast<UINT>(kCount - 1);
    using Class = C;

    static constexpr VARTYPE Type(size_t i) { return Types(std::make_index_sequence<kParams>{})[i]; }

    [[nodiscard]] static HRESULT Call(C& self, const CallArguments& args, VARIANT* result) noexcept {
        return Invoke(self, args, result, std::make_index_sequence<kParams>{});
    }

private:
    template <size_t... I>
    static constexpr std::array<VARTYPE, kMaxParams> Types(std::index_sequence<I...>) {
        return {TypedParam<std::tuple_element_t<I, Params>>::kType...};
    }

    template <size_t... I>
    [[nodiscard]] static HRESULT Invoke(C& self, [[maybe_unused]] const CallArguments& args, VARIANT* result,
                                        std::index_sequence<I...>) noexcept {
        return (self.*Method)(TypedParam<std::tuple_element_t<I, Params>>::From(args, I)..., result);
    }
};

// Marks a row's first count parameters as LONG.
template <class C>
constexpr void LongParams(DispatchEntry<C>& entry, UINT count) {
    for (UINT i = 0; i < count; ++i) entry.paramTypes[i] = VT_I4;
}

}  // namespace detail

// A method whose result is wrapped as resultType (VT_I2, VT_BOOL, VT_I4, or VT_EMPTY for void);
// range limits its first parameter.
template <auto Method, VARTYPE ResultType>
constexpr auto DispMethod(DISPID dispid, const wchar_t* name, const wchar_t* help, ValueRange range = {}) {
    using Thunk = detail::MethodThunk<Method>;
    using C = typename Thunk::Class;
    static_assert(std::is_void_v<typename Thunk::Result> == (ResultType == VT_EMPTY),
                  "void methods and only they return VT_EMPTY");
    static_assert(Thunk::kParams <= kMaxParams);
    DispatchEntry<C> entry{dispid,         name,    help,    MemberKind::kMethod, ResultType,
                           Thunk::kParams, nullptr, nullptr, &Thunk::Call};
    detail::LongParams(entry, Thunk::kParams);
    entry.range = range;
    return entry;
}

// A read-only property whose value Get computes: LONG Get() (VT_I4), double Get() (VT_R8) or
// HRESULT Get(BSTR*) (VT_BSTR).
template <auto Get>
constexpr auto DispGetter(DISPID dispid, const wchar_t* name, const wchar_t* help) {
    using Thunk = detail::GetThunk<Get>;
    DispatchEntry<typename Thunk::Class> entry{
        dispid, name, help, MemberKind::kProperty, Thunk::kType, 0, nullptr, nullptr, nullptr};
    entry.get = &Thunk::Call;
    return entry;
}

// A read/write VT_I4 or VT_BOOL property whose value Get computes and Put (HRESULT Put(LONG)) takes,
// within range; a Boolean's put gets the value as a Long, True -1, False 0.
template <auto Get, auto Put>
constexpr auto DispAccessors(DISPID dispid, const wchar_t* name, const wchar_t* help, ValueRange range) {
    auto entry = DispGetter<Get>(dispid, name, help);
    static_assert(
        std::is_same_v<typename detail::PutThunk<Put>::Class, typename detail::GetThunk<Get>::Class>);
    static_assert(detail::GetThunk<Get>::kType == VT_I4 || detail::GetThunk<Get>::kType == VT_BOOL,
                  "a put takes a LONG");
    entry.put = &detail::PutThunk<Put>::Call;
    entry.range = range;
    return entry;
}

// A read/write VT_BSTR property whose value Get (HRESULT Get(BSTR*)) computes and Put (HRESULT
// Put(BSTR)) takes; a failed put is raised with the system's message.
template <auto Get, auto Put>
constexpr auto DispTextAccessors(DISPID dispid, const wchar_t* name, const wchar_t* help) {
    auto entry = DispGetter<Get>(dispid, name, help);
    static_assert(detail::GetThunk<Get>::kType == VT_BSTR, "a text property gives text");
    entry.putText = &detail::PutThunk<Put>::Call;
    return entry;
}

// A method that makes its VARIANT result; range limits its first parameter.
template <auto Method>
constexpr auto DispFunction(DISPID dispid, const wchar_t* name, const wchar_t* help, ValueRange range = {}) {
    using Thunk = detail::MakeThunk<Method>;
    static_assert(Thunk::kParams <= kMaxParams);
    DispatchEntry<typename Thunk::Class> entry{
        dispid, name, help, MemberKind::kMethod, VT_VARIANT, Thunk::kParams, nullptr, nullptr, nullptr};
    entry.make = &Thunk::Call;
    entry.optionalOutput = Thunk::kOutput;
    detail::LongParams(entry, Thunk::kParams);
    entry.range = range;
    return entry;
}

// A read-only property with a LONG index, within range, whose value Get (HRESULT Get(LONG,
// VARIANT*)) makes; a failure may carry Get's text (Refuse). Type is the type library's for the
// value (what Get gives, and what a put of DispIndexedAccessors takes); the layer hands the value
// on as it is.
template <auto Get, VARTYPE Type = VT_VARIANT>
constexpr auto DispIndexedGetter(DISPID dispid, const wchar_t* name, const wchar_t* help, ValueRange range) {
    using Thunk = detail::GetAtThunk<Get>;
    DispatchEntry<typename Thunk::Class> entry{dispid,  name,    help,   MemberKind::kProperty, Type, 1,
                                               nullptr, nullptr, nullptr};
    entry.getAt = &Thunk::Call;
    detail::LongParams(entry, 1);
    entry.range = range;
    return entry;
}

// A read/write property with a LONG index, within range: Get and Type as DispIndexedGetter's, and
// Put (HRESULT Put(LONG, const VARIANT&)) takes the caller's value to coerce itself (CoerceToLong,
// CoerceToDouble, CoerceToText).
template <auto Get, auto Put, VARTYPE Type = VT_VARIANT>
constexpr auto DispIndexedAccessors(DISPID dispid, const wchar_t* name, const wchar_t* help,
                                    ValueRange range) {
    auto entry = DispIndexedGetter<Get, Type>(dispid, name, help, range);
    static_assert(
        std::is_same_v<typename detail::PutAtThunk<Put>::Class, typename detail::GetAtThunk<Get>::Class>);
    entry.putAt = &detail::PutAtThunk<Put>::Call;
    return entry;
}

// A read/write property without an index: Get (HRESULT Get(VARIANT*)) makes the value and Put
// (HRESULT Put(const VARIANT&)) takes the caller's value as it is, also an object passed with Set, to
// coerce itself; failures may carry the member's text (Refuse). Type as DispIndexedGetter's.
template <auto Get, auto Put, VARTYPE Type = VT_VARIANT>
constexpr auto DispValueAccessors(DISPID dispid, const wchar_t* name, const wchar_t* help) {
    using GetThunk = detail::GetValueThunk<Get>;
    static_assert(std::is_same_v<typename detail::PutValueThunk<Put>::Class, typename GetThunk::Class>);
    DispatchEntry<typename GetThunk::Class> entry{dispid,  name,    help,   MemberKind::kProperty, Type, 0,
                                                  nullptr, nullptr, nullptr};
    entry.getValue = &GetThunk::Call;
    entry.putValue = &detail::PutValueThunk<Put>::Call;
    return entry;
}

// A method of LONG, double and BSTR parameters, coerced to their types, that makes its VARIANT result
// (VT_EMPTY when it has none to give); range limits its first parameter, which is then a LONG. A
// failure may carry the method's text (Refuse). Type is the type library's for the result (VT_EMPTY
// for a method without one).
template <auto Method, VARTYPE Type = VT_VARIANT>
constexpr auto DispTypedFunction(DISPID dispid, const wchar_t* name, const wchar_t* help,
                                 ValueRange range = {}) {
    using Thunk = detail::TypedThunk<Method>;
    static_assert(Thunk::kParams <= kMaxParams);
    DispatchEntry<typename Thunk::Class> entry{
        dispid, name, help, MemberKind::kMethod, Type, Thunk::kParams, nullptr, nullptr, nullptr};
    entry.callTyped = &Thunk::Call;
    for (UINT i = 0; i < Thunk::kParams; ++i) entry.paramTypes[i] = Thunk::Type(i);
    entry.range = range;
    return entry;
}

}  // namespace activex
