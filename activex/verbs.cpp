#include "activex/verbs.h"

#include <string>
#include <utility>
#include <vector>

#include "activex/enumerator.h"
#include "activex/resources.h"
#include "base/hresult.h"

namespace activex {
namespace {

struct VerbItem {
    LONG id;
    std::wstring name;
    DWORD attributes;
    [[nodiscard]] HRESULT CopyOut(OLEVERB* out) const noexcept {
        out->lVerb = id;
        out->fuFlags = 0;
        out->grfAttribs = attributes;
        return TaskMemString(name.c_str(), &out->lpszVerbName);
    }
    static void Free(OLEVERB* verb) noexcept {
        ::CoTaskMemFree(verb->lpszVerbName);
        verb->lpszVerbName = nullptr;
    }
};

using VerbEnumerator = Enumerator<IEnumOLEVERB, OLEVERB, VerbItem>;

}  // namespace

[[nodiscard]] HRESULT EnumerateVerbs(const Verb* verbs, ULONG count, IEnumOLEVERB** out) noexcept try {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    std::vector<VerbItem> items;
    for (ULONG i = 0; i < count; ++i) {
        std::wstring name;
        if (!LoadModuleString(verbs[i].nameId, &name)) name = kUnknownVerbName;
        items.push_back({verbs[i].id, std::move(name), verbs[i].attributes});
    }
    return VerbEnumerator::Create(std::move(items), 0, out);
}
CATCH_RETURN()

}  // namespace activex
