// A property bag as a container keeps one: values by name, in the order they were first written,
// and the names of all writes in their order. Writes keep a copy; reads answer with a copy, or
// E_INVALIDARG for a name the bag does not hold.
// The bag lives on the test's stack (RefCount() back at 1 once the control has let go of it) and is
// used on the test's thread only.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/com_object.h"
#include "base/variant.h"

namespace testsupport {

class FakePropertyBag final : public base::ComObject<FakePropertyBag, base::Lifetime::Scoped, IPropertyBag> {
public:
    struct Value {
        std::wstring name;
        base::Variant value;
    };
    std::vector<Value> values;
    std::vector<std::wstring> written;

    void Add(const wchar_t* name, base::Variant value) { values.push_back({name, std::move(value)}); }
    Value* Find(const wchar_t* name) {
        for (Value& v : values) {
            if (v.name == name) return &v;
        }
        return nullptr;
    }

    STDMETHODIMP Read(LPCOLESTR name, VARIANT* var, IErrorLog*) noexcept override {
        if (!name || !var) {
            ADD_FAILURE() << "IPropertyBag::Read without a name or a value";
            return E_POINTER;
        }
        Value* found = Find(name);
        if (!found) return E_INVALIDARG;
        return ::VariantCopy(var, found->value.ptr());
    }
    STDMETHODIMP Write(LPCOLESTR name, VARIANT* var) noexcept override {
        if (!name || !var) {
            ADD_FAILURE() << "IPropertyBag::Write without a name or a value";
            return E_POINTER;
        }
        written.push_back(name);
        base::Variant copy;
        const HRESULT hr = ::VariantCopy(copy.ptr(), var);
        if (FAILED(hr)) return hr;
        if (Value* found = Find(name)) {
            found->value = std::move(copy);
        } else {
            values.push_back({name, std::move(copy)});
        }
        return S_OK;
    }
};

}  // namespace testsupport
