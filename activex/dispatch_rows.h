// The rows of a dispatch table (activex/dispatch.h), made from an object's members: the row's kind,
// type and parameter count are read off the member's signature, and a member of an unsupported
// shape fails to compile.
//
// Constant expressions, for a class's table of constant data.
#pragma once

#include <oaidl.h>

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

// A read/write VT_I4 property whose value Get computes and Put (HRESULT Put(LONG)) takes, within
// range.
template <auto Get, auto Put>
constexpr auto DispAccessors(DISPID dispid, const wchar_t* name, const wchar_t* help, ValueRange range) {
    auto entry = DispGetter<Get>(dispid, name, help);
    static_assert(
        std::is_same_v<typename detail::PutThunk<Put>::Class, typename detail::GetThunk<Get>::Class>);
    static_assert(detail::GetThunk<Get>::kType == VT_I4, "a put takes a LONG");
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
    entry.range = range;
    return entry;
}

}  // namespace activex
