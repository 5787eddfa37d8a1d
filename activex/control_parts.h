// What the parts of a control know of each other and of the control: the control's class (constant
// facts) and the small interfaces through which one part reaches another or the control's own code.
//
// A control (control.h) is one COM identity composed of parts, each implementing a group of its
// interfaces with its own state: DispatchPart (dispatch_part.h), EmbeddingPart (embedding_part.h),
// InPlacePart (in_place_part.h), ViewPart (view_part.h), PersistencePart (persistence_part.h),
// PropertyPagesPart (property_pages_part.h) and EventsPart (events_part.h). Everything here is called
// on the control's apartment thread.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <oleidl.h>

namespace activex {

class PropExchange;
class TypeLibCache;

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

// Who a control is, stated once by its class; static data that outlives every control.
struct ControlClass {
    const CLSID& clsid;
    const IID& dispatchIid;  // the primary dispatch interface
    const IID& eventIid;     // the event interface (source)
    TypeLibCache& typeLib;   // describes both interfaces and the class
    UINT userTypeNameId;     // string: the user type name, also the property frame's caption
    DWORD miscStatus;        // OLEMISC_*
    const CLSID* pages;      // property pages, in the order the frame shows them
    ULONG pageCount;
    const Verb* verbs;
    ULONG verbCount;
    const wchar_t* progId;         // names the control as the source of the errors its members raise
    SIZE defaultSize = {100, 50};  // the extent of a new control, in pixels of the screen
};

// The control's picture, drawn into its window and for a container's view.
class Picture {
public:
    // Paints into dc; bounds is the control's rectangle, invalid the part to repaint.
    virtual void Draw(HDC dc, const RECT& bounds, const RECT& invalid) noexcept = 0;
    // A message to the control's window other than WM_PAINT, from its creation (WM_CREATE) to its
    // end (WM_DESTROY): true when the control answered it with *result; false leaves it to the
    // default. A control that takes input or keeps a timer handles it here.
    virtual bool WindowMessage(HWND, UINT, WPARAM, LPARAM, LRESULT*) noexcept { return false; }

protected:
    ~Picture() = default;
};

// The control's dispatch table, behind IDispatch::Invoke.
class DispatchMembers {
public:
    // Invoke's work for a call already known to be on the primary interface (riid IID_NULL);
    // excepInfo is the caller's (may be null).
    [[nodiscard]] virtual HRESULT InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                               EXCEPINFO* excepInfo, UINT* argErr) noexcept = 0;

protected:
    ~DispatchMembers() = default;
};

// The container's hold on the control's events (IOleControl::FreezeEvents, kept by the events part):
// calls nest, and the events may fire again when every freeze has been undone.
class EventFreeze {
public:
    virtual void FreezeEvents(bool freeze) noexcept = 0;

protected:
    ~EventFreeze() = default;
};

// The control's hook at the end of a freeze (called by the events part): the container has undone
// its last freeze, so what waited may be fired now.
class EventThaw {
public:
    virtual void EventsThawed() noexcept = 0;

protected:
    ~EventThaw() = default;
};

// The control's persistent values, described once for every direction of an exchange.
class PropertySet {
public:
    [[nodiscard]] virtual HRESULT ExchangeProperties(PropExchange& px) noexcept = 0;
    // A load or a reset has replaced the values as a whole.
    virtual void ValuesReplaced() noexcept = 0;

protected:
    ~PropertySet() = default;
};

// The modified flag (kept by the persistence part): set by what changes persistent state, read by
// what decides whether to save.
class ModifiedFlag {
public:
    virtual bool IsModified() const noexcept = 0;
    virtual void SetModified() noexcept = 0;

protected:
    ~ModifiedFlag() = default;
};

// The control's extent in HIMETRIC (kept by the embedding part), for the view.
class ExtentSource {
public:
    virtual SIZEL Extent() const noexcept = 0;

protected:
    ~ExtentSource() = default;
};

// In-place activation in a child window (kept by the in-place part), which the embedding part's
// verbs, Close, Disconnect and ambients drive.
class InPlaceActivation {
public:
    // Activates in place in site's window (nothing more when already active) and shows the window;
    // OLEIVERB_UIACTIVATE and OLEIVERB_PRIMARY also make the control UI-active.
    [[nodiscard]] virtual HRESULT Activate(LONG verb, IOleClientSite* site) noexcept = 0;
    // OLEIVERB_HIDE: leaves UI activation and hides the window; the control stays in place.
    virtual void Hide() noexcept = 0;
    // Leaves in-place activation and destroys the window; nothing when not active.
    virtual void Deactivate() noexcept = 0;
    // The container's ambient UserMode (true: the form runs), on which the window's visibility
    // hangs for a control invisible at run time.
    virtual void SetUserMode(bool userMode) noexcept = 0;
    // The container's window while in place, else null.
    virtual HWND ContainerWindow() noexcept = 0;

protected:
    ~InPlaceActivation() = default;
};

// The platform's property frame for the control (opened by the property-pages part), which the
// properties verb shows when the container does not show one of its own.
class PropertyFrame {
public:
    // owner: the window the modal frame belongs to (may be null); lcid: the container's locale.
    [[nodiscard]] virtual HRESULT ShowPropertyFrame(HWND owner, LCID lcid) noexcept = 0;

protected:
    ~PropertyFrame() = default;
};

}  // namespace activex
