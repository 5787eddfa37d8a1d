// The members of a dispatch interface as its type library describes them: for the test that holds
// the control's type library against its dispatch table, and for the randomized test that calls
// every member the control has, new ones too. Works only on what the caller hands it; any thread.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/text.h"
#include "base/variant.h"

namespace testsupport {

struct LibMember {
    std::wstring name;
    bool method = false;          // a method, else a property (a variable, or get and put functions)
    VARTYPE type = VT_EMPTY;      // the property's type or the method's result (VT_EMPTY: none)
    UINT params = 0;              // a method's parameters, or an indexed property's index
    std::wstring help;            // the help string
    bool writable = false;        // a property that takes a put
    VARTYPE putType = VT_EMPTY;   // and what it takes: a Long, text, or an indexed property's Variant
    bool optionalOutput = false;  // an optional in/out Variant after the Long parameters
    std::vector<VARTYPE> paramTypes = {};  // the types of params, in order: Long, Double or String
};

inline std::wstring MemberName(ITypeInfo* info, MEMBERID id) {
    base::Bstr name;
    info->GetDocumentation(id, name.put(), nullptr, nullptr, nullptr);
    return name.get() ? name.get() : L"";
}

inline std::wstring MemberHelp(ITypeInfo* info, MEMBERID id) {
    base::Bstr doc;
    info->GetDocumentation(id, nullptr, doc.put(), nullptr, nullptr);
    return doc.get() ? doc.get() : L"";
}

// The members of info, a dispinterface, by DISPID. Fails on what it cannot read and on a parameter
// the dispatch layer takes no such way: a put that is not of one Long or text, nor of a Long index and
// a Variant, nor of one Boolean; a parameter that is neither a Long, a Double nor a String, nor the last,
// optional, in/out Variant.
inline testing::AssertionResult ReadLibMembers(ITypeInfo* info, std::map<DISPID, LibMember>* members) {
    TYPEATTR* attr = nullptr;
    HRESULT hr = info->GetTypeAttr(&attr);
    if (FAILED(hr)) return testing::AssertionFailure() << "GetTypeAttr: " << std::hex << hr;
    const WORD vars = attr->cVars, funcs = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < vars; ++i) {
        VARDESC* var = nullptr;
        if (FAILED(hr = info->GetVarDesc(i, &var))) return testing::AssertionFailure() << "GetVarDesc " << i;
        const bool writable = !(var->wVarFlags & VARFLAG_FREADONLY);
        (*members)[var->memid] = {MemberName(info, var->memid),
                                  false,
                                  var->elemdescVar.tdesc.vt,
                                  0,
                                  MemberHelp(info, var->memid),
                                  writable,
                                  writable ? var->elemdescVar.tdesc.vt : VARTYPE{VT_EMPTY}};
        info->ReleaseVarDesc(var);
    }
    // Methods, and properties as a get function with, for a writable one, a put function.
    for (UINT i = 0; i < funcs; ++i) {
        FUNCDESC* func = nullptr;
        if (FAILED(hr = info->GetFuncDesc(i, &func)))
            return testing::AssertionFailure() << "GetFuncDesc " << i;
        LibMember& m = (*members)[func->memid];
        m.name = MemberName(info, func->memid);
        m.help = MemberHelp(info, func->memid);
        bool takenByTheTable = true;
        if (func->invkind == INVOKE_PROPERTYPUT || func->invkind == INVOKE_PROPERTYPUTREF) {
            m.writable = true;
            const bool indexed = func->cParams == 2 && func->lprgelemdescParam[0].tdesc.vt == VT_I4;
            m.putType = func->cParams == 1 || indexed ? func->lprgelemdescParam[func->cParams - 1].tdesc.vt
                                                      : VARTYPE{VT_EMPTY};
            // An indexed or value put hands its value to the member, which coerces it; a Boolean's
            // put takes it as a Long.
            takenByTheTable = m.putType == VT_I4 || m.putType == VT_BSTR || m.putType == VT_VARIANT ||
                              m.putType == VT_R8 || m.putType == VT_BOOL || m.putType == VT_DISPATCH;
        } else {
            const VARTYPE ret = func->elemdescFunc.tdesc.vt;
            m.method = func->invkind != INVOKE_PROPERTYGET;
            m.type = ret == VT_VOID ? VARTYPE{VT_EMPTY} : ret;
            for (SHORT p = 0; p < func->cParams; ++p) {
                const ELEMDESC& param = func->lprgelemdescParam[p];
                const USHORT inOutOptional = PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FOPT;
                if (param.tdesc.vt == VT_PTR && param.tdesc.lptdesc->vt == VT_VARIANT &&
                    (param.paramdesc.wParamFlags & inOutOptional) == inOutOptional &&
                    p == func->cParams - 1) {
                    m.optionalOutput = true;
                } else {
                    const VARTYPE vt = param.tdesc.vt;
                    takenByTheTable &= vt == VT_I4 || vt == VT_R8 || vt == VT_BSTR;
                    m.paramTypes.push_back(vt);
                    ++m.params;
                }
            }
        }
        info->ReleaseFuncDesc(func);
        if (!takenByTheTable) {
            return testing::AssertionFailure()
                   << base::PrintableAscii(m.name) << " has a parameter of a type "
                   << "the dispatch layer does not take";
        }
    }
    return testing::AssertionSuccess();
}

}  // namespace testsupport
