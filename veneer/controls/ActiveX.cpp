#include "ActiveX.h"

#include <windowsx.h>

#include <new>

#include "SkinRenderer.h"

namespace Veneer {

namespace {

const UINT kCaretTimer = 6553;
const DWORD kHostWindowStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;

bool IsMouseMessage(UINT message) { return message >= WM_MOUSEFIRST && message <= 0x20D; }
bool IsKeyMessage(UINT message) { return message >= WM_KEYFIRST && message <= WM_KEYLAST; }

// A name with a drive, a UNC prefix or a leading slash is taken as it
// stands; any other is looked for in the program's folder only, never along
// the DLL search path (which starts with the current folder).
CUIString ResolveModulePath(const CUIString& name) {
    const wchar_t* text = name.GetData();
    const bool absolute = (text[0] && text[1] == L':') || text[0] == L'\\' || text[0] == L'/';
    if (absolute) return name;
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return CUIString();
    wchar_t* slash = wcsrchr(path, L'\\');
    if (slash) slash[1] = L'\0';
    CUIString full(path);
    full += name;
    return full;
}

RECT AtOrigin(const RECT& rect) {
    RECT moved = rect;
    OffsetRect(&moved, -rect.left, -rect.top);
    return moved;
}

}  // namespace

HRESULT CheckEventArguments(const DISPPARAMS* params, const VARTYPE* types, UINT count) {
    if (!params || params->cArgs != count || (count && !params->rgvarg)) return DISP_E_BADPARAMCOUNT;
    for (UINT i = 0; i < count; ++i) {
        if (V_VT(&params->rgvarg[count - 1 - i]) != types[i]) return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

// ------------------------------------------------------------------ host window

HWND CActiveXWnd::Init(HWND parent) {
    if (m_owner && m_owner->m_owner) m_manager = m_owner->m_owner->GetManager();
    return Create(parent, L"UIActiveX", kHostWindowStyle, 0, 0, 0, 0, 0);
}

bool CActiveXWnd::IsLayered() const { return m_manager && m_manager->IsLayeredMode(); }

void CActiveXWnd::DoVerb(LONG verb) {
    if (!m_owner || !m_owner->m_owner || !m_owner->m_owner->m_oleObject) return;
    CActiveXUI* control = m_owner->m_owner;
    IOleClientSite* client = static_cast<IOleClientSite*>(m_owner);
    RECT item = control->GetPos();
    control->m_oleObject->DoVerb(verb, nullptr, client, 0, m_hWnd, &item);
}

void CActiveXWnd::PrintInto(HDC hdc) {
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    if (m_owner->m_viewObject) {
        m_owner->m_viewObject->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, hdc,
                                    reinterpret_cast<RECTL*>(&client), nullptr, nullptr, 0);
    }
    if (!m_caretShown || !m_owner->m_owner || !m_manager) return;
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetCurrentThreadId(), &info) || !info.hwndCaret) return;
    RECT caret = info.rcCaret;
    POINT corner = {caret.left, caret.top};
    MapWindowPoints(info.hwndCaret, m_manager->GetPaintWindow(), &corner, 1);
    const RECT item = m_owner->m_owner->GetPos();
    if (!PtInRect(&item, corner)) return;
    const RECT line = {caret.left, caret.top, caret.left, caret.bottom};
    CSkinRenderer::DrawLine(hdc, line, 1, 0xFF000000);
}

LRESULT CActiveXWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        if (IsLayered()) SetTimer(m_hWnd, kCaretTimer, GetCaretBlinkTime(), nullptr);
        return 0;
    case WM_SETFOCUS:
        if (m_owner) {
            m_owner->m_focused = true;
            if (!m_owner->m_uiActive) DoVerb(OLEIVERB_UIACTIVATE);
        }
        break;
    case WM_KILLFOCUS:
        if (m_owner) m_owner->m_focused = false;
        break;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(m_hWnd, &ps);
        EndPaint(m_hWnd, &ps);
        return 1;
    }
    case WM_ERASEBKGND:
        if (m_owner && m_owner->m_viewObject) return 1;
        break;
    case WM_MOUSEACTIVATE: {
        IOleObject* object = m_owner && m_owner->m_owner ? m_owner->m_owner->m_oleObject : nullptr;
        if (!object) return MA_ACTIVATE;
        DWORD status = 0;
        object->GetMiscStatus(DVASPECT_CONTENT, &status);
        if (status & OLEMISC_NOUIACTIVATE) return MA_ACTIVATE;
        if (!m_owner->m_inPlaceActive) DoVerb(OLEIVERB_INPLACEACTIVATE);
        break;
    }
    case WM_TIMER:
        if (wParam != kCaretTimer) break;
        if (IsLayered()) m_manager->RegisterNativeWindow(m_hWnd);
        if (++m_blink % 10 == 0) m_caretShown = !m_caretShown;
        return 0;
    case WM_MOUSEWHEEL:
        return 0;
    case WM_PRINT:
        if (m_owner) PrintInto(reinterpret_cast<HDC>(wParam));
        return 1;
    default:
        break;
    }
    return CWindowWnd::HandleMessage(message, wParam, lParam);
}

void CActiveXWnd::OnFinalMessage(HWND window) {
    if (IsLayered()) m_manager->UnregisterNativeWindow(window);
}

// ------------------------------------------------------------------ site

CActiveXCtrl::CActiveXCtrl() = default;

CActiveXCtrl::~CActiveXCtrl() {
    DestroyHostWindow();
    if (m_objectSite) m_objectSite->Release();
    if (m_viewObject) m_viewObject->Release();
    if (m_inPlaceObject) m_inPlaceObject->Release();
    if (m_accelerators) DestroyAcceleratorTable(m_accelerators);
}

HWND CActiveXCtrl::HostWindow() const { return m_owner ? m_owner->m_hostWindow : nullptr; }

HRESULT CActiveXCtrl::CreateHostWindow() {
    if (m_window) return S_OK;
    if (!m_owner || !m_owner->GetManager()) return E_UNEXPECTED;
    m_window = new (std::nothrow) CActiveXWnd(this);
    if (!m_window) return E_OUTOFMEMORY;
    m_owner->m_hostWindow = m_window->Init(m_owner->GetManager()->GetPaintWindow());
    return S_OK;
}

void CActiveXCtrl::DestroyHostWindow() {
    if (!m_window) return;
    CActiveXWnd* window = m_window;
    m_window = nullptr;
    const HWND handle = window->GetHWND();
    if (m_owner && m_owner->m_hostWindow == handle) m_owner->m_hostWindow = nullptr;
    if (handle) ::DestroyWindow(handle);
    delete window;
}

STDMETHODIMP CActiveXCtrl::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IOleInPlaceSiteWindowless || riid == IID_IOleInPlaceSiteEx ||
        riid == IID_IOleInPlaceSite || riid == IID_IOleWindow) {
        *object = static_cast<IOleInPlaceSiteWindowless*>(this);
    } else if (riid == IID_IOleClientSite) {
        *object = static_cast<IOleClientSite*>(this);
    } else if (riid == IID_IOleControlSite) {
        *object = static_cast<IOleControlSite*>(this);
    } else if (riid == IID_IObjectWithSite) {
        *object = static_cast<IObjectWithSite*>(this);
    } else if (riid == IID_IOleContainer) {
        *object = static_cast<IOleContainer*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CActiveXCtrl::AddRef() { return ULONG(InterlockedIncrement(&m_refs)); }

STDMETHODIMP_(ULONG) CActiveXCtrl::Release() {
    const LONG count = InterlockedDecrement(&m_refs);
    if (count == 0) delete this;
    return ULONG(count);
}

STDMETHODIMP CActiveXCtrl::SetSite(IUnknown* site) {
    if (site) site->AddRef();
    if (m_objectSite) m_objectSite->Release();
    m_objectSite = site;
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::GetSite(REFIID riid, void** site) {
    if (!site) return E_POINTER;
    *site = nullptr;
    if (!m_objectSite) return E_FAIL;
    return m_objectSite->QueryInterface(riid, site);
}

STDMETHODIMP CActiveXCtrl::SaveObject() { return E_NOTIMPL; }

STDMETHODIMP CActiveXCtrl::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CActiveXCtrl::GetContainer(IOleContainer** container) {
    if (!container) return E_POINTER;
    *container = nullptr;
    if (m_objectSite && SUCCEEDED(m_objectSite->QueryInterface(IID_IOleContainer, reinterpret_cast<void**>(container))) &&
        *container) {
        return S_OK;
    }
    return QueryInterface(IID_IOleContainer, reinterpret_cast<void**>(container));
}

STDMETHODIMP CActiveXCtrl::ShowObject() {
    if (!m_owner) return E_UNEXPECTED;
    const HWND window = HostWindow();
    HDC dc = window ? ::GetDC(window) : nullptr;
    if (!dc) return E_FAIL;
    if (m_viewObject) {
        RECT bounds = m_owner->GetPos();
        m_viewObject->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, reinterpret_cast<RECTL*>(&bounds),
                           nullptr, nullptr, 0);
    }
    ::ReleaseDC(window, dc);
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::OnShowWindow(BOOL) { return E_NOTIMPL; }
STDMETHODIMP CActiveXCtrl::RequestNewObjectLayout() { return E_NOTIMPL; }

STDMETHODIMP CActiveXCtrl::CanWindowlessActivate() { return S_OK; }
STDMETHODIMP CActiveXCtrl::GetCapture() { return m_captured ? S_OK : S_FALSE; }

STDMETHODIMP CActiveXCtrl::SetCapture(BOOL capture) {
    if (!m_owner) return E_UNEXPECTED;
    m_captured = capture == TRUE;
    if (m_captured) {
        ::SetCapture(HostWindow());
    } else {
        ::ReleaseCapture();
    }
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::GetFocus() { return m_focused ? S_OK : S_FALSE; }

STDMETHODIMP CActiveXCtrl::SetFocus(BOOL focus) {
    if (!m_owner) return E_UNEXPECTED;
    if (focus) m_owner->TakeFocus();
    m_focused = focus == TRUE;
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::GetDC(LPCRECT, DWORD flags, HDC* dc) {
    if (!dc) return E_POINTER;
    *dc = nullptr;
    if (!m_owner) return E_UNEXPECTED;
    if (m_windowless) return S_FALSE;
    const HWND window = HostWindow();
    *dc = ::GetDC(window);
    if (*dc && (flags & OLEDC_PAINTBKGND)) {
        RECT area = AtOrigin(m_owner->GetPos());
        FillRect(*dc, &area, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    }
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::ReleaseDC(HDC dc) {
    if (!m_owner) return E_UNEXPECTED;
    ::ReleaseDC(HostWindow(), dc);
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::InvalidateRect(LPCRECT rect, BOOL erase) {
    const HWND window = HostWindow();
    if (!window) return E_FAIL;
    return ::InvalidateRect(window, rect, erase) ? S_OK : E_FAIL;
}

STDMETHODIMP CActiveXCtrl::InvalidateRgn(HRGN region, BOOL erase) {
    const HWND window = HostWindow();
    if (!window) return E_FAIL;
    return ::InvalidateRgn(window, region, erase) ? S_OK : E_FAIL;
}

STDMETHODIMP CActiveXCtrl::ScrollRect(INT, INT, LPCRECT, LPCRECT) { return S_OK; }
STDMETHODIMP CActiveXCtrl::AdjustRect(LPRECT) { return S_OK; }

STDMETHODIMP CActiveXCtrl::OnDefWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (!result) return E_POINTER;
    if (!m_owner) return E_UNEXPECTED;
    *result = DefWindowProcW(HostWindow(), message, wParam, lParam);
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::OnInPlaceActivateEx(BOOL*, DWORD flags) {
    if (!m_owner || !m_owner->m_oleObject) return E_UNEXPECTED;
    IOleObject* object = m_owner->m_oleObject;
    OleLockRunning(object, TRUE, FALSE);
    if (m_inPlaceObject) {
        m_inPlaceObject->Release();
        m_inPlaceObject = nullptr;
    }
    HRESULT hr = E_NOINTERFACE;
    CPaintManagerUI* manager = m_owner->GetManager();
    if (flags & ACTIVATE_WINDOWLESS) {
        m_windowless = true;
        hr = object->QueryInterface(IID_IOleInPlaceObjectWindowless, reinterpret_cast<void**>(&m_inPlaceObject));
        if (SUCCEEDED(hr) && m_inPlaceObject) {
            m_owner->m_hostWindow = manager ? manager->GetPaintWindow() : nullptr;
            // Activated again: the filter is in the list already.
            if (manager && !m_owner->m_filterAdded) m_owner->m_filterAdded = manager->AddMessageFilter(m_owner);
        }
    }
    if (FAILED(hr) || !m_inPlaceObject) {
        m_windowless = false;
        hr = CreateHostWindow();
        if (FAILED(hr)) return hr;
        hr = object->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&m_inPlaceObject));
    }
    if (m_inPlaceObject && !m_owner->IsUnmanaged()) {
        RECT rect = m_owner->GetPos();
        if (!m_windowless) rect = AtOrigin(rect);
        m_inPlaceObject->SetObjectRects(&rect, &rect);
    }
    m_inPlaceActive = SUCCEEDED(hr);
    return hr;
}

STDMETHODIMP CActiveXCtrl::OnInPlaceDeactivateEx(BOOL) {
    m_inPlaceActive = false;
    if (m_inPlaceObject) {
        IOleInPlaceObject* object = m_inPlaceObject;
        m_inPlaceObject = nullptr;
        object->Release();
    }
    DestroyHostWindow();
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::RequestUIActivate() { return S_OK; }
STDMETHODIMP CActiveXCtrl::CanInPlaceActivate() { return S_OK; }
STDMETHODIMP CActiveXCtrl::OnInPlaceActivate() { return OnInPlaceActivateEx(nullptr, 0); }

STDMETHODIMP CActiveXCtrl::OnUIActivate() {
    m_uiActive = true;
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                            LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info) {
    if (!frame || !document || !position || !clip || !info) return E_POINTER;
    *frame = nullptr;
    *document = nullptr;
    if (!m_owner) return E_UNEXPECTED;
    if (m_window) {
        GetClientRect(m_window->GetHWND(), position);
        *clip = *position;
    }
    *frame = new (std::nothrow) CActiveXFrameWnd(m_owner);
    if (!*frame) return E_OUTOFMEMORY;
    if (!m_accelerators) {
        ACCEL entry = {};
        m_accelerators = CreateAcceleratorTableW(&entry, 1);
    }
    CPaintManagerUI* manager = m_owner->GetManager();
    info->cb = sizeof(OLEINPLACEFRAMEINFO);
    info->fMDIApp = FALSE;
    info->hwndFrame = manager ? manager->GetPaintWindow() : nullptr;
    info->haccel = m_accelerators;
    info->cAccelEntries = 1;
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::Scroll(SIZE) { return E_NOTIMPL; }

STDMETHODIMP CActiveXCtrl::OnUIDeactivate(BOOL) {
    m_uiActive = false;
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::OnInPlaceDeactivate() { return OnInPlaceDeactivateEx(TRUE); }
STDMETHODIMP CActiveXCtrl::DiscardUndoState() { return E_NOTIMPL; }
STDMETHODIMP CActiveXCtrl::DeactivateAndUndo() { return E_NOTIMPL; }
STDMETHODIMP CActiveXCtrl::OnPosRectChange(LPCRECT) { return E_NOTIMPL; }

STDMETHODIMP CActiveXCtrl::GetWindow(HWND* window) {
    if (!window) return E_POINTER;
    *window = nullptr;
    if (!m_owner) return E_UNEXPECTED;
    if (!m_owner->m_hostWindow) CreateHostWindow();
    *window = m_owner->m_hostWindow;
    return *window ? S_OK : E_FAIL;
}

STDMETHODIMP CActiveXCtrl::ContextSensitiveHelp(BOOL) { return S_OK; }
STDMETHODIMP CActiveXCtrl::OnControlInfoChanged() { return S_OK; }
STDMETHODIMP CActiveXCtrl::LockInPlaceActive(BOOL) { return S_OK; }

STDMETHODIMP CActiveXCtrl::GetExtendedControl(IDispatch** control) {
    if (!control) return E_POINTER;
    *control = nullptr;
    if (!m_owner || !m_owner->m_oleObject) return E_UNEXPECTED;
    return m_owner->m_oleObject->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(control));
}

STDMETHODIMP CActiveXCtrl::TransformCoords(POINTL*, POINTF*, DWORD) { return S_OK; }
STDMETHODIMP CActiveXCtrl::TranslateAccelerator(MSG*, DWORD) { return S_FALSE; }

STDMETHODIMP CActiveXCtrl::OnFocus(BOOL gotFocus) {
    m_focused = gotFocus == TRUE;
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::ShowPropertyFrame() { return E_NOTIMPL; }
STDMETHODIMP CActiveXCtrl::ParseDisplayName(IBindCtx*, LPOLESTR, ULONG*, IMoniker**) { return E_NOTIMPL; }

STDMETHODIMP CActiveXCtrl::EnumObjects(DWORD, IEnumUnknown** enumerator) {
    if (!enumerator) return E_POINTER;
    *enumerator = nullptr;
    if (!m_owner || !m_owner->m_oleObject) return E_UNEXPECTED;
    *enumerator = new (std::nothrow) CActiveXEnum(m_owner->m_oleObject);
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::LockContainer(BOOL lock) {
    m_locked = lock != FALSE;
    return S_OK;
}

// ------------------------------------------------------------------ frame

CActiveXFrameWnd::~CActiveXFrameWnd() {
    if (m_activeObject) m_activeObject->Release();
}

STDMETHODIMP CActiveXFrameWnd::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IOleWindow && riid != IID_IOleInPlaceUIWindow &&
        riid != IID_IOleInPlaceFrame) {
        return E_NOINTERFACE;
    }
    *object = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CActiveXFrameWnd::AddRef() { return ULONG(InterlockedIncrement(&m_refs)); }

STDMETHODIMP_(ULONG) CActiveXFrameWnd::Release() {
    const LONG count = InterlockedDecrement(&m_refs);
    if (count == 0) delete this;
    return ULONG(count);
}

STDMETHODIMP CActiveXFrameWnd::GetWindow(HWND* window) {
    if (!window) return E_POINTER;
    *window = nullptr;
    if (!m_owner || !m_owner->GetManager()) return E_UNEXPECTED;
    *window = m_owner->GetManager()->GetPaintWindow();
    return S_OK;
}

STDMETHODIMP CActiveXFrameWnd::ContextSensitiveHelp(BOOL) { return S_OK; }
STDMETHODIMP CActiveXFrameWnd::GetBorder(LPRECT) { return S_OK; }
STDMETHODIMP CActiveXFrameWnd::RequestBorderSpace(LPCBORDERWIDTHS) { return INPLACE_E_NOTOOLSPACE; }
STDMETHODIMP CActiveXFrameWnd::SetBorderSpace(LPCBORDERWIDTHS) { return S_OK; }

STDMETHODIMP CActiveXFrameWnd::SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) {
    if (object) object->AddRef();
    if (m_activeObject) m_activeObject->Release();
    m_activeObject = object;
    return S_OK;
}

STDMETHODIMP CActiveXFrameWnd::InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) { return S_OK; }
STDMETHODIMP CActiveXFrameWnd::SetMenu(HMENU, HOLEMENU, HWND) { return S_OK; }
STDMETHODIMP CActiveXFrameWnd::RemoveMenus(HMENU) { return S_OK; }
STDMETHODIMP CActiveXFrameWnd::SetStatusText(LPCOLESTR) { return S_OK; }
STDMETHODIMP CActiveXFrameWnd::EnableModeless(BOOL) { return S_OK; }
STDMETHODIMP CActiveXFrameWnd::TranslateAccelerator(LPMSG, WORD) { return S_FALSE; }

// ------------------------------------------------------------------ enumerator

CActiveXEnum::CActiveXEnum(IUnknown* object) : m_object(object) {
    if (m_object) m_object->AddRef();
}

CActiveXEnum::~CActiveXEnum() {
    if (m_object) m_object->Release();
}

STDMETHODIMP CActiveXEnum::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IEnumUnknown) return E_NOINTERFACE;
    *object = static_cast<IEnumUnknown*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CActiveXEnum::AddRef() { return ULONG(InterlockedIncrement(&m_refs)); }

STDMETHODIMP_(ULONG) CActiveXEnum::Release() {
    const LONG count = InterlockedDecrement(&m_refs);
    if (count == 0) delete this;
    return ULONG(count);
}

// The one object at most once, and never more elements than asked for; the
// fetched count is written only when the caller gave a place for it.
STDMETHODIMP CActiveXEnum::Next(ULONG count, IUnknown** items, ULONG* fetched) {
    if (fetched) *fetched = 0;
    if (count == 0) return S_OK;
    if (!items) return E_POINTER;
    if (++m_position > 1 || !m_object) return S_FALSE;
    items[0] = m_object;
    m_object->AddRef();
    if (fetched) *fetched = 1;
    return count == 1 ? S_OK : S_FALSE;
}

STDMETHODIMP CActiveXEnum::Skip(ULONG count) {
    m_position += count;
    return S_OK;
}

STDMETHODIMP CActiveXEnum::Reset() {
    m_position = 0;
    return S_OK;
}

STDMETHODIMP CActiveXEnum::Clone(IEnumUnknown** copy) {
    if (copy) *copy = nullptr;
    return E_NOTIMPL;
}

// ------------------------------------------------------------------ control

CActiveXUI::CActiveXUI() = default;

CActiveXUI::~CActiveXUI() { CActiveXUI::ReleaseHostedControl(); }

CControlUI* CActiveXUI::CreateActiveXUI() { return new CActiveXUI; }

const wchar_t* CActiveXUI::GetClassTag() const { return L"ActiveX"; }

void* CActiveXUI::FindInterface(const wchar_t* tag) {
    if (!tag) return nullptr;
    if (CompareTextNoCase(tag, L"ActiveX") == 0 || CompareTextNoCase(tag, L"Control") == 0) return this;
    return nullptr;
}

UINT CActiveXUI::GetBehaviorFlags() const { return 0; }

bool CActiveXUI::IsUnmanaged() const { return m_unmanaged; }
void CActiveXUI::SetUnmanaged(bool unmanaged) { m_unmanaged = unmanaged; }

void CActiveXUI::SetPos(RECT rect, bool invalidate) {
    CControlUI::SetPos(rect, invalidate);
    if (!m_created) CreateHostedControl();
    if (m_oleObject && m_site) {
        HDC screen = ::GetDC(nullptr);
        SIZEL extent = {MulDiv(2540, m_item.right - m_item.left, GetDeviceCaps(screen, LOGPIXELSX)),
                        MulDiv(2540, m_item.bottom - m_item.top, GetDeviceCaps(screen, LOGPIXELSY))};
        ::ReleaseDC(nullptr, screen);
        m_oleObject->SetExtent(DVASPECT_CONTENT, &extent);
    }
    if (m_site && m_site->m_inPlaceObject) {
        RECT position = m_site->m_windowless ? m_item : AtOrigin(m_item);
        m_site->m_inPlaceObject->SetObjectRects(&position, &position);
    }
    if (m_site && !m_site->m_windowless && m_site->m_window) {
        ::MoveWindow(m_site->m_window->GetHWND(), m_item.left, m_item.top, m_item.right - m_item.left,
                     m_item.bottom - m_item.top, TRUE);
    }
}

void CActiveXUI::MoveBy(int dx, int dy, bool invalidate) {
    CControlUI::MoveBy(dx, dy, invalidate);
    if (m_site && !m_site->m_windowless && m_site->m_window) {
        ::MoveWindow(m_site->m_window->GetHWND(), m_item.left, m_item.top, m_item.right - m_item.left,
                     m_item.bottom - m_item.top, TRUE);
    }
}

void CActiveXUI::ShowHostWindow() {
    if (!m_hostWindow || !m_site || m_site->m_windowless) return;
    ::ShowWindow(m_hostWindow, IsVisible() ? SW_SHOW : SW_HIDE);
}

void CActiveXUI::SetVisible(bool show) {
    CControlUI::SetVisible(show);
    ShowHostWindow();
}

void CActiveXUI::SetParentVisible(bool show) {
    CControlUI::SetParentVisible(show);
    ShowHostWindow();
}

void CActiveXUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (CompareTextNoCase(name, L"clsid") == 0) {
        SetClsidText(value);
    } else if (CompareTextNoCase(name, L"modulename") == 0) {
        SetModuleName(value);
    } else if (CompareTextNoCase(name, L"delaycreate") == 0) {
        SetDelayCreate(ReadBool(value));
    } else {
        CControlUI::SetAttribute(name, value);
    }
}

bool CActiveXUI::SetClsidText(const wchar_t* text) {
    if (!text) return false;
    wchar_t buffer[100] = {};
    lstrcpynW(buffer, text, 100);   // at most 99 characters
    CLSID clsid = {};
    const HRESULT hr = buffer[0] == L'{' ? CLSIDFromString(buffer, &clsid) : CLSIDFromProgID(buffer, &clsid);
    if (FAILED(hr)) return false;
    return SetClsid(clsid);
}

bool CActiveXUI::SetClsid(REFCLSID clsid) {
    if (clsid == GUID_NULL) return false;
    m_clsid = clsid;
    m_created = false;
    if (!m_delayCreate) CreateHostedControl();
    return true;
}

void CActiveXUI::SetModuleName(const wchar_t* name) { m_moduleName = name ? name : L""; }

void CActiveXUI::SetDelayCreate(bool delay) {
    if (m_delayCreate == delay) return;
    m_delayCreate = delay;
    if (!delay && !m_created && m_clsid != GUID_NULL) CreateHostedControl();
}

HRESULT CActiveXUI::QueryHostedControl(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!m_oleObject) return E_PENDING;
    return m_oleObject->QueryInterface(riid, object);
}

IUnknown* CActiveXUI::InstantiateObject() {
    IUnknown* object = nullptr;
    if (!m_moduleName.IsEmpty()) {
        const CUIString path = ResolveModulePath(m_moduleName);
        HMODULE module = path.IsEmpty() ? nullptr : LoadLibraryW(path);
        typedef HRESULT(STDAPICALLTYPE * GetClassObjectProc)(REFCLSID, REFIID, void**);
        GetClassObjectProc getClassObject =
            module ? reinterpret_cast<GetClassObjectProc>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")))
                   : nullptr;
        IClassFactory* factory = nullptr;
        if (getClassObject && SUCCEEDED(getClassObject(m_clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory))) &&
            factory) {
            factory->CreateInstance(nullptr, IID_IOleObject, reinterpret_cast<void**>(&object));
        }
        if (factory) factory->Release();
    }
    if (!object &&
        FAILED(CoCreateInstance(m_clsid, nullptr, CLSCTX_ALL, IID_IOleControl, reinterpret_cast<void**>(&object)))) {
        object = nullptr;
    }
    return object;
}

HRESULT CActiveXUI::ConnectSink(IUnknown* source, REFIID events, IUnknown* sink, bool connect, DWORD& cookie) {
    IConnectionPointContainer* container = nullptr;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (FAILED(hr) || !container) return FAILED(hr) ? hr : E_NOINTERFACE;
    IConnectionPoint* point = nullptr;
    hr = container->FindConnectionPoint(events, &point);
    container->Release();
    if (FAILED(hr) || !point) return FAILED(hr) ? hr : E_NOINTERFACE;
    if (connect) {
        hr = point->Advise(sink, &cookie);
    } else {
        hr = point->Unadvise(cookie);
        cookie = 0;
    }
    point->Release();
    return hr;
}

LRESULT CActiveXUI::TranslateForHostedObject(MSG* message) {
    const HWND focus = ::GetFocus();
    if (!m_hostWindow || !focus || (focus != m_hostWindow && !IsChild(m_hostWindow, focus))) return S_FALSE;
    IOleInPlaceActiveObject* active = nullptr;
    if (FAILED(QueryHostedControl(IID_IOleInPlaceActiveObject, reinterpret_cast<void**>(&active))) || !active) {
        return S_FALSE;
    }
    const HRESULT hr = active->TranslateAccelerator(message);
    active->Release();
    return hr;
}

bool CActiveXUI::CreateHostedControl() {
    ReleaseHostedControl();
    m_created = true;
    IUnknown* object = InstantiateObject();
    if (!object) return false;
    IOleObject* ole = nullptr;
    object->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole));
    object->Release();
    if (!ole) return false;
    m_site = new (std::nothrow) CActiveXCtrl;
    if (!m_site) {
        ole->Release();
        return false;
    }
    m_oleObject = ole;
    m_site->m_owner = this;

    DWORD status = 0;
    ole->GetMiscStatus(DVASPECT_CONTENT, &status);
    IOleClientSite* client = static_cast<IOleClientSite*>(m_site);
    client->AddRef();
    const bool siteFirst = (status & OLEMISC_SETCLIENTSITEFIRST) != 0;
    if (siteFirst) ole->SetClientSite(client);
    IPersistStreamInit* persist = nullptr;
    if (SUCCEEDED(ole->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist))) && persist) {
        const HRESULT initialised = persist->InitNew();
        persist->Release();
        if (FAILED(initialised)) {
            client->Release();
            // Nothing stays: the object forgets the site it was given.
            if (siteFirst) ole->SetClientSite(nullptr);
            m_oleObject = nullptr;
            ole->Release();
            m_site->m_owner = nullptr;
            m_site->Release();
            m_site = nullptr;
            return false;
        }
    }
    if (!siteFirst) ole->SetClientSite(client);

    HRESULT hr = ole->QueryInterface(IID_IViewObjectEx, reinterpret_cast<void**>(&m_site->m_viewObject));
    if (FAILED(hr)) hr = ole->QueryInterface(IID_IViewObject2, reinterpret_cast<void**>(&m_site->m_viewObject));
    if (FAILED(hr)) hr = ole->QueryInterface(IID_IViewObject, reinterpret_cast<void**>(&m_site->m_viewObject));
    ole->SetHostNames(L"UIActiveX", nullptr);
    if (m_manager) m_manager->SendNotification(this, L"showactivex", 0, 0, false);
    if (!(status & OLEMISC_INVISIBLEATRUNTIME) && m_manager && m_oleObject == ole) {
        RECT item = m_item;
        try {
            hr = ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, client, 0, m_manager->GetPaintWindow(), &item);
        } catch (...) {
            hr = E_FAIL;
        }
    }
    IObjectWithSite* withSite = nullptr;
    if (m_oleObject == ole &&
        SUCCEEDED(ole->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite))) && withSite) {
        withSite->SetSite(static_cast<IOleInPlaceSiteWindowless*>(m_site));
        withSite->Release();
    }
    client->Release();
    return SUCCEEDED(hr);
}

void CActiveXUI::ReleaseHostedControl() {
    if (m_manager) m_manager->RemoveMessageFilter(this);
    m_filterAdded = false;
    if (m_oleObject) {
        IOleObject* object = m_oleObject;
        IObjectWithSite* withSite = nullptr;
        if (SUCCEEDED(object->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite))) && withSite) {
            withSite->SetSite(nullptr);
            withSite->Release();
        }
        if (!IsUnmanaged()) object->Close(OLECLOSE_NOSAVE);
        object->SetClientSite(nullptr);
        m_oleObject = nullptr;
        object->Release();
    }
    if (m_site) {
        CActiveXCtrl* site = m_site;
        m_site = nullptr;
        site->m_owner = nullptr;
        site->Release();
    }
    m_hostWindow = nullptr;
}

LRESULT CActiveXUI::FilterMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    if (!m_site || !m_site->m_inPlaceActive || !m_site->m_inPlaceObject || !m_site->m_windowless) return 0;
    const bool mouse = IsMouseMessage(message);
    if (mouse && !IsMouseEnabled()) return 0;
    bool report = true;
    if (mouse || message == WM_SETCURSOR) {
        DWORD hit = HITRESULT_OUTSIDE;
        if (m_site->m_captured) {
            hit = HITRESULT_HIT;
        } else {
            if (!m_site->m_viewObject) return 0;
            // A set-cursor message and the wheel carry no client point:
            // the cursor's position stands in for it.
            POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            if (message == WM_SETCURSOR || message == WM_MOUSEWHEEL) {
                if (message == WM_SETCURSOR) GetCursorPos(&point);
                ScreenToClient(m_manager ? m_manager->GetPaintWindow() : nullptr, &point);
            }
            IViewObjectEx* view = nullptr;
            if (SUCCEEDED(m_site->m_viewObject->QueryInterface(IID_IViewObjectEx, reinterpret_cast<void**>(&view))) &&
                view) {
                RECT item = m_item;
                view->QueryHitPoint(DVASPECT_CONTENT, &item, point, 0, &hit);
                view->Release();
            }
        }
        if (hit != HITRESULT_HIT) return 0;
        if (message == WM_SETCURSOR) report = false;
    } else if (IsKeyMessage(message)) {
        if (!IsFocused()) return 0;
    } else if (message == WM_HELP || message == WM_CONTEXTMENU) {
        report = false;
    } else {
        return 0;
    }
    LRESULT result = 0;
    IOleInPlaceObjectWindowless* windowless = static_cast<IOleInPlaceObjectWindowless*>(m_site->m_inPlaceObject);
    if (windowless->OnWindowMessage(message, wParam, lParam, &result) == S_OK) handled = report;
    return result;
}

void CActiveXUI::Paint(HDC hdc, const RECT& paint) {
    RECT cut;
    if (!IntersectRect(&cut, &paint, &m_item)) return;
    if (!m_site || !m_site->m_windowless || !m_site->m_viewObject) return;
    RECT bounds = m_item;
    m_site->m_viewObject->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, hdc, reinterpret_cast<RECTL*>(&bounds),
                               reinterpret_cast<RECTL*>(&bounds), nullptr, 0);
}

}  // namespace Veneer
