// A container site for hosting tests: client site, in-place site and frame, control site and ambient
// properties in one object. It records the calls the control makes, in order, so a test can check
// the activation protocol; its window is a real top-level window owned by the test.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/com_object.h"

namespace testsupport {

// Owned by the test, on its stack; the control's references to it must all be back (a count of 1)
// before it goes.
class FakeSite final : public base::ComObject<FakeSite, base::Lifetime::Scoped, IOleClientSite,
                                              IOleInPlaceSite, IOleInPlaceFrame, IOleControlSite, IDispatch,
                                              base::Via<IOleWindow, IOleInPlaceSite>,
                                              base::Via<IOleInPlaceUIWindow, IOleInPlaceFrame>> {
public:
    // Ambients: offered only when hasAmbients; UserMode FALSE means the form is being designed.
    bool hasAmbients = true;
    bool userMode = false;
    LCID localeId = 0x0409;
    HRESULT showPropertyFrame = E_NOTIMPL;
    RECT posRect = {10, 20, 110, 70};
    RECT clipRect = {0, 0, 1000, 1000};
    std::vector<std::string> calls;

    explicit FakeSite(HWND window) : window_(window) {}

    bool Called(const std::string& name) const {
        return std::find(calls.begin(), calls.end(), name) != calls.end();
    }
    // The recorded calls without the ambient reads and window queries, which may come at any time.
    std::vector<std::string> Protocol() const {
        std::vector<std::string> out;
        for (const auto& c : calls) {
            if (c.rfind("Ambient", 0) != 0 && c != "GetWindow") out.push_back(c);
        }
        return out;
    }

    // The ambients' IDispatch only when the container offers ambients.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (!hasAmbients && IsEqualIID(riid, IID_IDispatch)) {
            if (ppv) *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return ComObject::QueryInterface(riid, ppv);
    }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return Record("SaveObject", S_OK); }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** m) override {
        *m = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** c) override {
        *c = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return Record("ShowObject", S_OK); }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow, IOleInPlaceSite
    STDMETHODIMP GetWindow(HWND* hwnd) override {
        *hwnd = window_;
        return Record("GetWindow", S_OK);
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP CanInPlaceActivate() override { return Record("CanInPlaceActivate", S_OK); }
    STDMETHODIMP OnInPlaceActivate() override { return Record("OnInPlaceActivate", S_OK); }
    STDMETHODIMP OnUIActivate() override { return Record("OnUIActivate", S_OK); }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
        *frame = this;
        AddRef();
        *doc = nullptr;
        *pos = posRect;
        *clip = clipRect;
        info->fMDIApp = FALSE;
        info->hwndFrame = window_;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return Record("GetWindowContext", S_OK);
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return Record("OnUIDeactivate", S_OK); }
    STDMETHODIMP OnInPlaceDeactivate() override { return Record("OnInPlaceDeactivate", S_OK); }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return E_NOTIMPL; }

    // IOleInPlaceUIWindow, IOleInPlaceFrame
    STDMETHODIMP GetBorder(LPRECT) override { return E_NOTIMPL; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR) override {
        return Record(active ? "Frame.SetActiveObject" : "Frame.SetActiveObject(null)", S_OK);
    }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return E_NOTIMPL; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IOleControlSite
    STDMETHODIMP OnControlInfoChanged() override { return S_OK; }
    STDMETHODIMP LockInPlaceActive(BOOL) override { return S_OK; }
    STDMETHODIMP GetExtendedControl(IDispatch** d) override {
        *d = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG*, DWORD) override { return S_FALSE; }
    STDMETHODIMP OnFocus(BOOL) override { return S_OK; }
    STDMETHODIMP ShowPropertyFrame() override { return Record("ShowPropertyFrame", showPropertyFrame); }

    // IDispatch: the ambient properties.
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** t) override {
        *t = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                        UINT*) override {
        calls.push_back("Ambient(" + std::to_string(id) + ")");
        if (!(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;
        if (id == DISPID_AMBIENT_USERMODE) {
            result->vt = VT_BOOL;
            result->boolVal = userMode ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        }
        if (id == DISPID_AMBIENT_LOCALEID) {
            result->vt = VT_I4;
            result->lVal = static_cast<LONG>(localeId);
            return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    [[nodiscard]] HRESULT Record(std::string name, HRESULT hr) {
        calls.push_back(std::move(name));
        return hr;
    }

    HWND window_;
};

}  // namespace testsupport
