#pragma once
// ActiveX hosting: an OLE control placed in a skinned window, created through
// COM or from a module file, activated in place either windowless (drawing
// into the window's paint DC, fed the window's messages through a message
// filter) or windowed (inside a child window of its own).
#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include "Control.h"
#include "PaintManager.h"
#include "WindowWnd.h"

namespace Veneer {

class CActiveXUI;
class CActiveXCtrl;

// Checks an event's arguments against the types of its parameters, given in
// the event's own order (the arguments array holds them last first):
// DISP_E_BADPARAMCOUNT, DISP_E_TYPEMISMATCH or S_OK.
HRESULT CheckEventArguments(const DISPPARAMS* params, const VARTYPE* types, UINT count);
// The argument of the event's parameter index (the event's own order).
inline VARIANT& EventArgument(DISPPARAMS* params, UINT index) { return params->rgvarg[params->cArgs - 1 - index]; }

// The child window that a windowed control lives in.
class CActiveXWnd : public CWindowWnd {
public:
    explicit CActiveXWnd(CActiveXCtrl* owner) : m_owner(owner) {}

    // Creates the window as a child of parent (position and size 0).
    HWND Init(HWND parent);
    const wchar_t* GetWindowClassName() const override { return L"VeneerActiveXWnd"; }
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND window) override;

private:
    void DoVerb(LONG verb);
    bool IsLayered() const;
    void PrintInto(HDC hdc);

    CActiveXCtrl* m_owner;
    CPaintManagerUI* m_manager = nullptr;
    int m_blink = 0;
    bool m_caretShown = false;
};

// The OLE site: one object, one count, one identity for its five interfaces.
class CActiveXCtrl final : public IOleClientSite,
                     public IOleInPlaceSiteWindowless,
                     public IOleControlSite,
                     public IObjectWithSite,
                     public IOleContainer {
    friend class CActiveXUI;
    friend class CActiveXWnd;

public:
    CActiveXCtrl();
    CActiveXCtrl(const CActiveXCtrl&) = delete;
    CActiveXCtrl& operator=(const CActiveXCtrl&) = delete;

    // IUnknown
    STDMETHOD(QueryInterface)(REFIID riid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    // IObjectWithSite
    STDMETHOD(SetSite)(IUnknown* site) override;
    STDMETHOD(GetSite)(REFIID riid, void** site) override;
    // IOleClientSite
    STDMETHOD(SaveObject)() override;
    STDMETHOD(GetMoniker)(DWORD assign, DWORD which, IMoniker** moniker) override;
    STDMETHOD(GetContainer)(IOleContainer** container) override;
    STDMETHOD(ShowObject)() override;
    STDMETHOD(OnShowWindow)(BOOL show) override;
    STDMETHOD(RequestNewObjectLayout)() override;
    // IOleInPlaceSiteWindowless
    STDMETHOD(CanWindowlessActivate)() override;
    STDMETHOD(GetCapture)() override;
    STDMETHOD(SetCapture)(BOOL capture) override;
    STDMETHOD(GetFocus)() override;
    STDMETHOD(SetFocus)(BOOL focus) override;
    STDMETHOD(GetDC)(LPCRECT rect, DWORD flags, HDC* dc) override;
    STDMETHOD(ReleaseDC)(HDC dc) override;
    STDMETHOD(InvalidateRect)(LPCRECT rect, BOOL erase) override;
    STDMETHOD(InvalidateRgn)(HRGN region, BOOL erase) override;
    STDMETHOD(ScrollRect)(INT dx, INT dy, LPCRECT scroll, LPCRECT clip) override;
    STDMETHOD(AdjustRect)(LPRECT rect) override;
    STDMETHOD(OnDefWindowMessage)(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    // IOleInPlaceSiteEx
    STDMETHOD(OnInPlaceActivateEx)(BOOL* noRedraw, DWORD flags) override;
    STDMETHOD(OnInPlaceDeactivateEx)(BOOL noRedraw) override;
    STDMETHOD(RequestUIActivate)() override;
    // IOleInPlaceSite
    STDMETHOD(CanInPlaceActivate)() override;
    STDMETHOD(OnInPlaceActivate)() override;
    STDMETHOD(OnUIActivate)() override;
    STDMETHOD(GetWindowContext)(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                LPRECT clip, LPOLEINPLACEFRAMEINFO info) override;
    STDMETHOD(Scroll)(SIZE extent) override;
    STDMETHOD(OnUIDeactivate)(BOOL undoable) override;
    STDMETHOD(OnInPlaceDeactivate)() override;
    STDMETHOD(DiscardUndoState)() override;
    STDMETHOD(DeactivateAndUndo)() override;
    STDMETHOD(OnPosRectChange)(LPCRECT position) override;
    // IOleWindow
    STDMETHOD(GetWindow)(HWND* window) override;
    STDMETHOD(ContextSensitiveHelp)(BOOL enter) override;
    // IOleControlSite
    STDMETHOD(OnControlInfoChanged)() override;
    STDMETHOD(LockInPlaceActive)(BOOL lock) override;
    STDMETHOD(GetExtendedControl)(IDispatch** control) override;
    STDMETHOD(TransformCoords)(POINTL* himetric, POINTF* container, DWORD flags) override;
    STDMETHOD(TranslateAccelerator)(MSG* message, DWORD modifiers) override;
    STDMETHOD(OnFocus)(BOOL gotFocus) override;
    STDMETHOD(ShowPropertyFrame)() override;
    // IOleContainer (IParseDisplayName)
    STDMETHOD(ParseDisplayName)(IBindCtx* context, LPOLESTR name, ULONG* eaten, IMoniker** moniker) override;
    STDMETHOD(EnumObjects)(DWORD flags, IEnumUnknown** enumerator) override;
    STDMETHOD(LockContainer)(BOOL lock) override;

private:
    ~CActiveXCtrl();
    HRESULT CreateHostWindow();
    void DestroyHostWindow();
    HWND HostWindow() const;

    LONG m_refs = 1;
    CActiveXUI* m_owner = nullptr;
    CActiveXWnd* m_window = nullptr;
    IUnknown* m_objectSite = nullptr;
    IViewObject* m_viewObject = nullptr;
    IOleInPlaceObject* m_inPlaceObject = nullptr;
    // The accelerator table handed out by GetWindowContext (one per site).
    HACCEL m_accelerators = nullptr;
    bool m_locked = false;
    bool m_focused = false;
    bool m_captured = false;
    bool m_uiActive = false;
    bool m_inPlaceActive = false;
    bool m_windowless = false;
};

// The in-place frame handed to the hosted control.
class CActiveXFrameWnd final : public IOleInPlaceFrame {
public:
    explicit CActiveXFrameWnd(CActiveXUI* owner) : m_owner(owner) {}
    CActiveXFrameWnd(const CActiveXFrameWnd&) = delete;
    CActiveXFrameWnd& operator=(const CActiveXFrameWnd&) = delete;

    STDMETHOD(QueryInterface)(REFIID riid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(GetWindow)(HWND* window) override;
    STDMETHOD(ContextSensitiveHelp)(BOOL enter) override;
    STDMETHOD(GetBorder)(LPRECT border) override;
    STDMETHOD(RequestBorderSpace)(LPCBORDERWIDTHS widths) override;
    STDMETHOD(SetBorderSpace)(LPCBORDERWIDTHS widths) override;
    STDMETHOD(SetActiveObject)(IOleInPlaceActiveObject* object, LPCOLESTR name) override;
    STDMETHOD(InsertMenus)(HMENU menu, LPOLEMENUGROUPWIDTHS widths) override;
    STDMETHOD(SetMenu)(HMENU menu, HOLEMENU shared, HWND activeObject) override;
    STDMETHOD(RemoveMenus)(HMENU menu) override;
    STDMETHOD(SetStatusText)(LPCOLESTR text) override;
    STDMETHOD(EnableModeless)(BOOL enable) override;
    STDMETHOD(TranslateAccelerator)(LPMSG message, WORD id) override;

private:
    ~CActiveXFrameWnd();

    LONG m_refs = 1;
    CActiveXUI* m_owner;
    IOleInPlaceActiveObject* m_activeObject = nullptr;
};

// The container's enumerator over its one object.
class CActiveXEnum final : public IEnumUnknown {
public:
    explicit CActiveXEnum(IUnknown* object);
    CActiveXEnum(const CActiveXEnum&) = delete;
    CActiveXEnum& operator=(const CActiveXEnum&) = delete;

    STDMETHOD(QueryInterface)(REFIID riid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(Next)(ULONG count, IUnknown** items, ULONG* fetched) override;
    STDMETHOD(Skip)(ULONG count) override;
    STDMETHOD(Reset)() override;
    STDMETHOD(Clone)(IEnumUnknown** copy) override;

private:
    ~CActiveXEnum();

    LONG m_refs = 1;
    ULONG m_position = 0;
    IUnknown* m_object;
};

class CActiveXUI : public CControlUI, public IMessageFilterUI {
    friend class CActiveXCtrl;
    friend class CActiveXWnd;

public:
    CActiveXUI();
    ~CActiveXUI() override;

    static CControlUI* CreateActiveXUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    UINT GetBehaviorFlags() const override;
    void SetPos(RECT rect, bool invalidate = true) override;
    void MoveBy(int dx, int dy, bool invalidate = true) override;
    void SetVisible(bool show = true) override;
    void SetParentVisible(bool show) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void Paint(HDC hdc, const RECT& paint) override;

    virtual bool IsUnmanaged() const;
    virtual void SetUnmanaged(bool unmanaged);
    virtual void ReleaseHostedControl();
    virtual bool CreateHostedControl();

    LRESULT FilterMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

    // False (nothing changed) for the all-zero GUID.
    bool SetClsid(REFCLSID clsid);
    // A CLSID in braces or a ProgID; false when the text names none.
    bool SetClsidText(const wchar_t* text);
    CLSID GetClsid() const { return m_clsid; }
    void SetModuleName(const wchar_t* name);
    CUIString GetModuleName() const { return m_moduleName; }
    void SetDelayCreate(bool delay);
    bool IsDelayCreate() const { return m_delayCreate; }
    HRESULT QueryHostedControl(REFIID riid, void** object);
    // The window the hosted control lives in (null before activation).
    HWND GetHostWindow() const { return m_hostWindow; }

protected:
    // The object through the module file, or through COM; null on failure.
    IUnknown* InstantiateObject();
    void ShowHostWindow();
    // Advises or unadvises sink on the source's connection point for events.
    static HRESULT ConnectSink(IUnknown* source, REFIID events, IUnknown* sink, bool connect, DWORD& cookie);
    // A key message while the keyboard focus is in the host window: the
    // hosted object's in-place translation decides; otherwise S_FALSE.
    LRESULT TranslateForHostedObject(MSG* message);

    CLSID m_clsid = {};
    CUIString m_moduleName;
    bool m_created = false;
    bool m_delayCreate = true;
    bool m_unmanaged = false;
    IOleObject* m_oleObject = nullptr;
    CActiveXCtrl* m_site = nullptr;
    HWND m_hostWindow = nullptr;
    // The message filter is in the manager's list (windowless activation).
    bool m_filterAdded = false;
};

}  // namespace Veneer
