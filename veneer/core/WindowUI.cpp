#include "WindowUI.h"

#include <cstdlib>
#include <cstring>

namespace Veneer {

namespace {

void ShowSkinFailure(const wchar_t* text, const wchar_t* caption) {
    MessageBoxW(nullptr, text, caption, MB_ICONERROR);
}

SkinFailureReporter g_skinFailureReporter = &ShowSkinFailure;

const wchar_t* const kPassThroughTags[] = {L"Control",          L"Text",           L"Label",
                                            L"Container",        L"HorizontalLayout", L"VerticalLayout",
                                            L"TabLayout",        L"ChildLayout",    L"AnimationTabLayout"};

}  // namespace

SkinFailureReporter SetSkinFailureReporter(SkinFailureReporter reporter) {
    SkinFailureReporter previous = g_skinFailureReporter;
    g_skinFailureReporter = reporter ? reporter : &ShowSkinFailure;
    return previous;
}

VENEER_BEGIN_NOTIFY_MAP(CWindowUI, CNotifyPump)
VENEER_ON_NOTIFY(L"click", &CWindowUI::OnClick)
VENEER_END_NOTIFY_MAP()

CWindowUI::~CWindowUI() = default;

LRESULT CWindowUI::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    typedef LRESULT (CWindowUI::*Slot)(UINT, WPARAM, LPARAM, bool&);
    Slot slot = nullptr;
    switch (message) {
        case WM_CREATE: slot = &CWindowUI::OnCreate; break;
        case WM_DESTROY: slot = &CWindowUI::OnDestroy; break;
        case WM_SIZE: slot = &CWindowUI::OnSize; break;
        case WM_SETFOCUS: slot = &CWindowUI::OnSetFocus; break;
        case WM_KILLFOCUS: slot = &CWindowUI::OnKillFocus; break;
        case WM_CLOSE: slot = &CWindowUI::OnClose; break;
        case WM_GETMINMAXINFO: slot = &CWindowUI::OnGetMinMaxInfo; break;
        case WM_NCCALCSIZE: slot = &CWindowUI::OnNcCalcSize; break;
        case WM_NCHITTEST: slot = &CWindowUI::OnNcHitTest; break;
        case WM_NCPAINT: slot = &CWindowUI::OnNcPaint; break;
        case WM_NCACTIVATE: slot = &CWindowUI::OnNcActivate; break;
        case WM_KEYDOWN: slot = &CWindowUI::OnKeyDown; break;
        case WM_CHAR: slot = &CWindowUI::OnChar; break;
        case WM_SYSCOMMAND: slot = &CWindowUI::OnSysCommand; break;
        case WM_MOUSEMOVE: slot = &CWindowUI::OnMouseMove; break;
        case WM_LBUTTONDOWN: slot = &CWindowUI::OnLButtonDown; break;
        case WM_LBUTTONUP: slot = &CWindowUI::OnLButtonUp; break;
        case WM_MOUSEWHEEL: slot = &CWindowUI::OnMouseWheel; break;
        case WM_MOUSEHOVER: slot = &CWindowUI::OnMouseHover; break;
        default: break;
    }
    bool handled = true;
    if (slot) {
        const LRESULT result = (this->*slot)(message, wParam, lParam, handled);
        if (handled) return result;
    }
    handled = false;
    const LRESULT custom = HandleCustomMessage(message, wParam, lParam, handled);
    if (handled) return custom;
    LRESULT result = 0;
    if (m_pm.HandleWindowMessage(message, wParam, lParam, result)) return result;
    return CallWindowProcW(m_previousProc, m_hWnd, message, wParam, lParam);
}

void CWindowUI::OnFinalMessage(HWND window) {
    (void)window;
    m_pm.RemovePreFilter(this);
    m_pm.RemoveNotifyListener(this);
    m_pm.ForgetControl(m_pm.GetRoot());
}

void CWindowUI::InitResource() {
    CUIString folder = CPaintManagerUI::GetModuleFolder();
    folder += GetSkinFolder();
    CPaintManagerUI::SetResourceFolder(folder);
    switch (GetResourceType()) {
        case ResourceZip:
            CPaintManagerUI::SetSkinArchive(GetZIPFileName(), true, GetZIPPassword());
            break;
        case ResourceZipInModule: {
            HINSTANCE module = CPaintManagerUI::GetResourceModule();
            if (!module) module = CPaintManagerUI::GetInstance();
            HRSRC found = FindResourceW(module, GetResourceID(), L"ZIPRES");
            if (!found) return;
            HGLOBAL loaded = LoadResource(module, found);
            if (!loaded) return;
            const DWORD size = SizeofResource(module, found);
            if (size == 0) return;
            const void* bytes = LockResource(loaded);
            if (!bytes) return;
            // The archive reader reads this block for the rest of the process.
            void* copy = new BYTE[size];
            memcpy(copy, bytes, size);
            CPaintManagerUI::SetSkinArchiveMemory(copy);
            FreeResource(loaded);
            CPaintManagerUI::SetSkinArchiveFromMemory(size, GetZIPPassword());
            break;
        }
        default:
            break;
    }
}

LRESULT CWindowUI::OnCreate(UINT, WPARAM, LPARAM, bool& handled) {
    handled = true;
    SetWindowLongW(m_hWnd, GWL_STYLE,
                   (GetWindowLongW(m_hWnd, GWL_STYLE) & ~WS_CAPTION) | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    m_pm.AttachWindow(m_hWnd);
    m_pm.AddPreFilter(this);
    InitResource();
    CLayoutBuilder builder;
    CControlUI* root = nullptr;
    const CUIString skinFile = GetSkinFile();
    if (GetResourceType() == ResourceModule) {
        const int id = _wtoi(skinFile);
        root = builder.Create(MAKEINTRESOURCEW(id), L"xml", this, &m_pm);
    } else {
        root = builder.Create(skinFile, nullptr, this, &m_pm);
    }
    if (root) {
        m_pm.SetRootControl(root);
        m_pm.AddNotifyListener(this);
        InitWindow();
        return 0;
    }
    // The window is not made: CreateWindowEx fails and Create returns null.
    // The caller decides what follows; the process goes on.
    g_skinFailureReporter(L"Load resource file failed!", L"Veneer");
    return -1;
}

LRESULT CWindowUI::OnClose(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}

LRESULT CWindowUI::OnDestroy(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}

LRESULT CWindowUI::OnNcActivate(UINT, WPARAM wParam, LPARAM, bool& handled) {
    if (IsIconic(m_hWnd)) handled = false;
    return wParam == 0 ? 1 : 0;
}

LRESULT CWindowUI::OnNcCalcSize(UINT, WPARAM, LPARAM, bool&) { return 0; }

LRESULT CWindowUI::OnNcPaint(UINT, WPARAM, LPARAM, bool&) { return 0; }

LRESULT CWindowUI::OnNcHitTest(UINT, WPARAM, LPARAM lParam, bool& handled) {
    handled = true;
    POINT pt = {short(LOWORD(lParam)), short(HIWORD(lParam))};
    ScreenToClient(m_hWnd, &pt);
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    if (!IsZoomed(m_hWnd)) {
        const RECT box = m_pm.GetSizeBox();
        const bool left = pt.x < client.left + box.left;
        const bool right = pt.x >= client.right - box.right;
        if (pt.y < client.top + box.top) return left ? HTTOPLEFT : right ? HTTOPRIGHT : HTTOP;
        if (pt.y >= client.bottom - box.bottom) return left ? HTBOTTOMLEFT : right ? HTBOTTOMRIGHT : HTBOTTOM;
        if (left) return HTLEFT;
        if (right) return HTRIGHT;
    }
    const RECT c = m_pm.GetCaptionRect();
    RECT caption = m_pm.GetDpiScaler()->ScaledRect(c.left, c.top, c.right, c.bottom);
    if (c.bottom < 0) caption.bottom = client.bottom;
    if (pt.x >= client.left + caption.left && pt.x < client.right - caption.right && pt.y >= caption.top &&
        pt.y < caption.bottom) {
        CControlUI* control = m_pm.FindControlAt(pt);
        if (IsCaptionPassThrough(control)) return HTCAPTION;
    }
    return HTCLIENT;
}

bool CWindowUI::IsCaptionPassThrough(CControlUI* control) {
    if (!control) return false;
    for (CControlUI* c = control; c; c = c->GetParent()) {
        const wchar_t* tag = c->GetClassTag();
        bool plain = false;
        for (const wchar_t* name : kPassThroughTags)
            if (tag && _wcsicmp(tag, name) == 0) plain = true;
        if (!plain) return false;
    }
    return true;
}

LRESULT CWindowUI::OnGetMinMaxInfo(UINT, WPARAM, LPARAM lParam, bool& handled) {
    handled = true;
    MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lParam);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &monitor);
    RECT work = monitor.rcWork;
    if (!(monitor.dwFlags & MONITORINFOF_PRIMARY)) OffsetRect(&work, -work.left, -work.top);
    info->ptMaxPosition.x = work.left;
    info->ptMaxPosition.y = work.top;
    info->ptMaxSize.x = info->ptMaxTrackSize.x = work.right - work.left;
    info->ptMaxSize.y = info->ptMaxTrackSize.y = work.bottom - work.top;
    const SIZE minInfo = m_pm.GetMinInfo();
    const SIZE scaled = m_pm.GetDpiScaler()->ScaledSize(minInfo.cx, minInfo.cy);
    info->ptMinTrackSize.x = scaled.cx;
    info->ptMinTrackSize.y = scaled.cy;
    return 0;
}

LRESULT CWindowUI::OnMouseWheel(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}

LRESULT CWindowUI::OnMouseHover(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}

LRESULT CWindowUI::OnSize(UINT, WPARAM, LPARAM, bool& handled) {
    const SIZE corner = m_pm.GetRoundCorner();
    if (!IsIconic(m_hWnd) && (corner.cx != 0 || corner.cy != 0)) {
        RECT r = {};
        GetWindowRect(m_hWnd, &r);
        HRGN region = CreateRoundRectRgn(0, 0, r.right - r.left + 1, r.bottom - r.top + 1, corner.cx, corner.cy);
        SetWindowRgn(m_hWnd, region, TRUE);  // the system owns the region now
    }
    handled = false;
    return 0;
}

LRESULT CWindowUI::OnChar(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}

LRESULT CWindowUI::OnSysCommand(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    handled = true;
    if ((wParam & 0xFFF0) == SC_CLOSE) {
        SendMessageW(m_hWnd, WM_CLOSE, 0, 0);
        return 0;
    }
    const bool wasZoomed = IsZoomed(m_hWnd) != FALSE;
    const LRESULT result = CallWindowProcW(m_previousProc, m_hWnd, message, wParam, lParam);
    if (m_hWnd && (IsZoomed(m_hWnd) != FALSE) != wasZoomed && m_pm.GetRoot()) {
        const bool zoomed = !wasZoomed;
        if (CControlUI* maxButton = m_pm.FindControlByName(L"maxbtn")) maxButton->SetVisible(!zoomed);
        if (CControlUI* restoreButton = m_pm.FindControlByName(L"restorebtn")) restoreButton->SetVisible(zoomed);
    }
    return result;
}

LRESULT CWindowUI::OnKeyDown(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}

LRESULT CWindowUI::OnKillFocus(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}

LRESULT CWindowUI::OnSetFocus(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}

LRESULT CWindowUI::OnLButtonDown(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}

LRESULT CWindowUI::OnLButtonUp(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}

LRESULT CWindowUI::OnMouseMove(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}

LRESULT CWindowUI::HandleCustomMessage(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}

LONG CWindowUI::GetStyle() { return GetWindowLongW(m_hWnd, GWL_STYLE) & ~WS_CAPTION; }

void CWindowUI::OnClick(NotifyEvent& event) {
    if (!event.sender) return;
    const CUIString name = event.sender->GetName();
    if (name == L"closebtn") {
        if (m_hWnd && IsWindow(m_hWnd)) PostMessageW(m_hWnd, WM_CLOSE, 1, 0);
    } else if (name == L"minbtn") {
        SendMessageW(m_hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    } else if (name == L"maxbtn") {
        SendMessageW(m_hWnd, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    } else if (name == L"restorebtn") {
        SendMessageW(m_hWnd, WM_SYSCOMMAND, SC_RESTORE, 0);
    }
}

LRESULT CWindowUI::FilterMessage(UINT message, WPARAM wParam, LPARAM, bool&) {
    if (message == WM_KEYDOWN && (wParam == VK_RETURN || wParam == VK_ESCAPE)) return OnDefaultKey(wParam);
    return 0;
}

void CWindowUI::Notify(NotifyEvent& event) { RouteNotification(event); }

}  // namespace Veneer
