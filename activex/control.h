// The control base: everything a container needs from an ActiveX control, so that a control class
// supplies only its identity, its dispatch table, its persistent values and its picture.
//
// ControlBase implements IDispatch (type information from the module's type library, Invoke through
// the derived class's table), IOleObject, IOleControl, in-place activation with a child window,
// IViewObject2, persistence to streams, storages and property bags by property exchange,
// ISpecifyPropertyPages, the connection points for the event interface and IPropertyNotifySink, and
// IProvideClassInfo2. It keeps the container's site, the extent, the modified flag and the ambient
// UserMode. It never claims to be safe for scripting or initialisation.
//
// Threading: a control lives in the single-threaded apartment that created it; every method, the
// window procedure and destruction run on that thread. Only the reference count is thread-safe.
#pragma once

#include <ocidl.h>
#include <olectl.h>

#include "activex/connection_point.h"
#include "activex/dispatch.h"
#include "activex/module.h"
#include "activex/property_exchange.h"
#include "activex/typelib.h"
#include "base/com_object.h"
#include "base/com_ptr.h"

namespace activex {

// String id under which a module may name the properties verb; the framework's fallback applies
// when the module has no such string.
inline constexpr UINT kPropertiesVerbNameId = 0xFE41;
inline constexpr wchar_t kUnknownVerbName[] = L"<unknown verb>";

// A verb the control lists for its container's menu (EnumVerbs). DoVerb carries out the standard
// verbs (OLEIVERB_*), the properties verb among them.
struct Verb {
    LONG id;
    UINT nameId;       // display name; the fallback name when the module lacks the string
    DWORD attributes;  // OLEVERBATTRIB_*
};

// The primary dispatch interface is answered by the same IDispatch (FindMore).
class ControlBase
    : public base::ComObject<ControlBase, ModuleLifetime, IOleObject, IDispatch, IOleControl,
                             base::Via<IOleWindow, IOleInPlaceObject>, IOleInPlaceObject,
                             IOleInPlaceActiveObject, base::Via<IViewObject, IViewObject2>, IViewObject2,
                             base::Via<IPersist, IPersistStreamInit>, IPersistStreamInit, IPersistStorage,
                             IPersistPropertyBag, ISpecifyPropertyPages, IConnectionPointContainer,
                             base::Via<IProvideClassInfo, IProvideClassInfo2>, IProvideClassInfo2> {
public:
    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) noexcept override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                               DISPID* ids) noexcept override;
    STDMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) noexcept override;

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) noexcept override;
    STDMETHODIMP GetClientSite(IOleClientSite** site) noexcept override;
    STDMETHODIMP SetHostNames(LPCOLESTR app, LPCOLESTR object) noexcept override;
    STDMETHODIMP Close(DWORD saveOption) noexcept override;
    STDMETHODIMP SetMoniker(DWORD which, IMoniker* moniker) noexcept override;
    STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) noexcept override;
    STDMETHODIMP InitFromData(IDataObject* data, BOOL creation, DWORD reserved) noexcept override;
    STDMETHODIMP GetClipboardData(DWORD reserved, IDataObject** data) noexcept override;
    STDMETHODIMP DoVerb(LONG verb, LPMSG msg, IOleClientSite* site, LONG index, HWND parent,
                        LPCRECT rect) noexcept override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** out) noexcept override;
    STDMETHODIMP Update() noexcept override;
    STDMETHODIMP IsUpToDate() noexcept override;
    STDMETHODIMP GetUserClassID(CLSID* clsid) noexcept override;
    STDMETHODIMP GetUserType(DWORD form, LPOLESTR* name) noexcept override;
    STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) noexcept override;
    STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) noexcept override;
    STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) noexcept override;
    STDMETHODIMP Unadvise(DWORD connection) noexcept override;
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** out) noexcept override;
    STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) noexcept override;
    STDMETHODIMP SetColorScheme(LOGPALETTE* palette) noexcept override;

    // IOleControl
    STDMETHODIMP GetControlInfo(CONTROLINFO* info) noexcept override;
    STDMETHODIMP OnMnemonic(MSG* msg) noexcept override;
    STDMETHODIMP OnAmbientPropertyChange(DISPID dispid) noexcept override;
    STDMETHODIMP FreezeEvents(BOOL freeze) noexcept override;

    // IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject
    STDMETHODIMP GetWindow(HWND* hwnd) noexcept override;
    STDMETHODIMP ContextSensitiveHelp(BOOL enterMode) noexcept override;
    STDMETHODIMP InPlaceDeactivate() noexcept override;
    STDMETHODIMP UIDeactivate() noexcept override;
    STDMETHODIMP SetObjectRects(LPCRECT pos, LPCRECT clip) noexcept override;
    STDMETHODIMP ReactivateAndUndo() noexcept override;
    STDMETHODIMP TranslateAccelerator(LPMSG msg) noexcept override;
    STDMETHODIMP OnFrameWindowActivate(BOOL activate) noexcept override;
    STDMETHODIMP OnDocWindowActivate(BOOL activate) noexcept override;
    STDMETHODIMP ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window,
                              BOOL frameWindow) noexcept override;
    STDMETHODIMP EnableModeless(BOOL enable) noexcept override;

    // IViewObject, IViewObject2
    STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* target, HDC targetDc,
                      HDC dc, LPCRECTL bounds, LPCRECTL wbounds, BOOL(STDMETHODCALLTYPE* cont)(ULONG_PTR),
                      ULONG_PTR contArg) noexcept override;
    STDMETHODIMP GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* target, HDC targetDc,
                             LOGPALETTE** colors) noexcept override;
    STDMETHODIMP Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze) noexcept override;
    STDMETHODIMP Unfreeze(DWORD freeze) noexcept override;
    STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) noexcept override;
    STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) noexcept override;
    STDMETHODIMP GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* target, LPSIZEL size) noexcept override;

    // IPersist, IPersistStreamInit, IPersistStorage, IPersistPropertyBag
    STDMETHODIMP GetClassID(CLSID* clsid) noexcept override;
    STDMETHODIMP IsDirty() noexcept override;
    STDMETHODIMP Load(IStream* stream) noexcept override;
    STDMETHODIMP Save(IStream* stream, BOOL clearDirty) noexcept override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) noexcept override;
    STDMETHODIMP InitNew() noexcept override;
    STDMETHODIMP InitNew(IStorage* storage) noexcept override;
    STDMETHODIMP Load(IStorage* storage) noexcept override;
    STDMETHODIMP Save(IStorage* storage, BOOL sameAsLoad) noexcept override;
    STDMETHODIMP SaveCompleted(IStorage* storage) noexcept override;
    STDMETHODIMP HandsOffStorage() noexcept override;
    STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) noexcept override;
    STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) noexcept override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pages) noexcept override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** out) noexcept override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** out) noexcept override;

    // IProvideClassInfo, IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** out) noexcept override;
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) noexcept override;

protected:
    // dispatchIid: the primary dispatch interface; eventIid: the event interface (source).
    ControlBase(const IID& dispatchIid, const IID& eventIid) noexcept;
    ~ControlBase() override = default;
    void FinalRelease() noexcept override;
    void* FindMore(REFIID riid) noexcept override;

    // What a control supplies.
    virtual const CLSID& ClassId() const noexcept = 0;
    virtual TypeLibCache& TypeLib() const noexcept = 0;
    virtual UINT UserTypeNameId() const noexcept = 0;
    virtual DWORD MiscStatus() const noexcept = 0;
    virtual const CLSID* PropertyPages(ULONG* count) const noexcept = 0;
    virtual const Verb* Verbs(ULONG* count) const noexcept = 0;
    virtual HRESULT InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 UINT* argErr) noexcept = 0;
    // Paints the control into dc; bounds is the control's rectangle, invalid the part to repaint.
    virtual void Draw(HDC dc, const RECT& bounds, const RECT& invalid) noexcept = 0;
    // The persistent values. The base exchanges the standard set: "_ExtentX", "_ExtentY" and
    // "_StockProps" (no stock properties: 0).
    virtual HRESULT ExchangeProperties(PropExchange& px) noexcept;
    // Puts every exchanged value that has a default back to it, then redraws.
    virtual void ResetState() noexcept;

    // Exchanges "_Version" (default and saved value: version); remembers what a load found.
    HRESULT ExchangeVersion(PropExchange& px, ULONG version) noexcept;
    ULONG LoadedVersion() const noexcept { return loadedVersion_; }

    void SetModifiedFlag() noexcept { modified_ = true; }
    // Asks for a redraw: of the window when in place, else through the view advise sink.
    void InvalidateControl() noexcept;

private:
    friend LRESULT CALLBACK ControlWindowProc(HWND, UINT, WPARAM, LPARAM) noexcept;

    // The properties verb: the site's property frame, else the platform's frame for this control.
    HRESULT ShowProperties(HWND parent) noexcept;
    HRESULT InPlaceActivate(LONG verb, IOleClientSite* activeSite) noexcept;
    HRESULT UIActivate() noexcept;
    HRESULT CreateControlWindow(HWND parent) noexcept;
    void ApplyObjectRects() noexcept;
    void UpdateWindowVisibility() noexcept;
    bool ShouldShowWindow() const noexcept;
    HRESULT GetAmbientProperty(DISPID dispid, VARIANT* value) const noexcept;
    void ReadAmbients() noexcept;
    HRESULT LoadFrom(PropExchange& px) noexcept;
    HRESULT SaveTo(PropExchange& px, BOOL clearDirty) noexcept;
    HRESULT LoadUserTypeName(LPOLESTR* name) const noexcept;
    void OnPaint(HWND hwnd) noexcept;

    const IID dispatchIid_;
    const IID eventIid_;

    base::ComPtr<IOleClientSite> clientSite_;
    base::ComPtr<IOleAdviseHolder> adviseHolder_;
    base::ComPtr<IAdviseSink> viewSink_;
    DWORD viewAspects_ = 0;
    DWORD viewFlags_ = 0;

    base::ComPtr<IOleInPlaceSite> inPlaceSite_;
    base::ComPtr<IOleInPlaceFrame> frame_;
    base::ComPtr<IOleInPlaceUIWindow> uiWindow_;
    HWND window_ = nullptr;
    RECT posRect_ = {};
    RECT clipRect_ = {};
    bool inPlaceActive_ = false;
    bool uiActive_ = false;
    bool hidden_ = false;  // by OLEIVERB_HIDE

    SIZEL extent_;  // HIMETRIC
    bool modified_ = false;
    bool userMode_ = true;  // a site without ambient properties is a running form
    ULONG loadedVersion_ = 0;

    ConnectionPoint eventPoint_;
    ConnectionPoint notifyPoint_;
};

// Adds the derived class's dispatch table. Derived declares a public static table kDispatchMap.
template <class Derived>
class Control : public ControlBase {
protected:
    using ControlBase::ControlBase;

    HRESULT InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result,
                         UINT* argErr) noexcept override {
        return InvokeFromTable(static_cast<Derived&>(*this), Derived::kDispatchMap, dispid, flags, params,
                               result, argErr);
    }
};

}  // namespace activex
