#include "WindowWnd.h"

#include "PaintManager.h"

namespace Veneer {

namespace {
const wchar_t kObjectProperty[] = L"WndX";
}  // namespace

LRESULT CWindowWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcW(m_previousProc, m_hWnd, message, wParam, lParam);
}

bool CWindowWnd::RegisterWindowClass() {
    WNDCLASSW wc = {};
    wc.style = GetWindowClassStyle();
    wc.lpfnWndProc = &CWindowWnd::WindowProc;
    wc.hInstance = CPaintManagerUI::GetInstance();
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.lpszClassName = GetWindowClassName();
    if (RegisterClassW(&wc)) return true;
    return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool CWindowWnd::RegisterSuperclass() {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    if (!GetClassInfoExW(nullptr, GetBaseClassName(), &wc) &&
        !GetClassInfoExW(CPaintManagerUI::GetInstance(), GetBaseClassName(), &wc))
        return false;
    m_previousProc = wc.lpfnWndProc;
    wc.lpfnWndProc = &CWindowWnd::ControlWindowProc;
    wc.hInstance = CPaintManagerUI::GetInstance();
    wc.lpszClassName = GetWindowClassName();
    if (RegisterClassExW(&wc)) return true;
    return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CWindowWnd::Create(HWND parent, const wchar_t* windowName, DWORD style, DWORD exStyle, int x, int y,
                        int width, int height) {
    if (GetBaseClassName() ? !RegisterSuperclass() : !RegisterWindowClass()) return nullptr;
    // The handle is bound at WM_NCCREATE. When the window is not made, its
    // object may already be gone (deleted at its final message), so nothing
    // of it is touched after the call.
    return CreateWindowExW(exStyle, GetWindowClassName(), windowName, style, x, y, width, height, parent, nullptr,
                           CPaintManagerUI::GetInstance(), this);
}

void CWindowWnd::Show() {
    if (m_hWnd && IsWindow(m_hWnd)) ShowWindow(m_hWnd, SW_SHOWNORMAL);
}

UINT CWindowWnd::ShowModal() {
    // The handle is kept here: a window object may delete itself at its
    // final message, and the loop must then not read it.
    HWND self = m_hWnd;
    if (!self || !IsWindow(self)) return 0;
    HWND owner = GetWindow(self, GW_OWNER);
    if (owner == GetDesktopWindow()) owner = nullptr;
    // Only an owner that was enabled is disabled, and later enabled again.
    const bool disabledOwner = owner && IsWindowEnabled(owner);
    ShowWindow(self, SW_SHOWNORMAL);
    if (disabledOwner) EnableWindow(owner, FALSE);
    UINT result = 0;
    bool quit = false;
    WPARAM quitCode = 0;
    MSG msg;
    while (IsWindow(self)) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            quit = true;
            quitCode = msg.wParam;
            break;
        }
        if (got == -1) break;
        if (msg.hwnd == self && msg.message == WM_CLOSE) {
            result = UINT(msg.wParam);
            if (disabledOwner) EnableWindow(owner, TRUE);
            if (owner) SetActiveWindow(owner);
        }
        if (!CPaintManagerUI::FilterQueuedMessage(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (disabledOwner) EnableWindow(owner, TRUE);
    if (owner) SetActiveWindow(owner);
    if (quit) PostQuitMessage(int(quitCode));
    return result;
}

void CWindowWnd::Close(UINT result) {
    if (m_hWnd && IsWindow(m_hWnd)) PostMessageW(m_hWnd, WM_CLOSE, WPARAM(result), 0);
}

void CWindowWnd::CenterOnOwner() {
    if (!m_hWnd || !IsWindow(m_hWnd)) return;
    HWND owner = GetWindow(m_hWnd, GW_OWNER);
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(MonitorFromWindow(owner ? owner : m_hWnd, MONITOR_DEFAULTTONEAREST), &info);
    const RECT work = info.rcWork;
    RECT reference = work;
    if (owner) GetWindowRect(owner, &reference);
    RECT own = {};
    GetWindowRect(m_hWnd, &own);
    const int width = own.right - own.left, height = own.bottom - own.top;
    auto place = [](int centre, int size, LONG low, LONG high) {
        int pos = centre - size / 2;
        if (pos < low) pos = low;
        else if (pos + size > high) pos = high - size;
        return pos;
    };
    const int x = place((reference.left + reference.right) / 2, width, work.left, work.right);
    const int y = place((reference.top + reference.bottom) / 2, height, work.top, work.bottom);
    SetWindowPos(m_hWnd, nullptr, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWindowWnd::SetIcon(UINT resourceId) {
    if (!m_hWnd) return;
    const int cx = (GetSystemMetrics(SM_CXICON) + 15) & ~15;
    const int cy = (GetSystemMetrics(SM_CYICON) + 15) & ~15;
    HINSTANCE instance = CPaintManagerUI::GetInstance();
    HANDLE big = LoadImageW(instance, MAKEINTRESOURCEW(resourceId), IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR);
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, LPARAM(big));
    HANDLE small = LoadImageW(instance, MAKEINTRESOURCEW(resourceId), IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR);
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, LPARAM(small));
}

LRESULT CWindowWnd::Route(CWindowWnd* self, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        const LRESULT result = CallWindowProcW(self->m_previousProc, window, message, wParam, lParam);
        self->m_hWnd = nullptr;
        self->OnFinalMessage(window);
        return result;
    }
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT CALLBACK CWindowWnd::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CWindowWnd* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<CWindowWnd*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        if (self) {
            self->m_hWnd = window;
            SetWindowLongPtrW(window, GWLP_USERDATA, LONG_PTR(self));
        }
    } else {
        self = reinterpret_cast<CWindowWnd*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == WM_NCDESTROY && self) SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    }
    return Route(self, window, message, wParam, lParam);
}

LRESULT CALLBACK CWindowWnd::ControlWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CWindowWnd* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<CWindowWnd*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        if (self) {
            self->m_hWnd = window;
            SetPropW(window, kObjectProperty, HANDLE(self));
        }
    } else {
        self = static_cast<CWindowWnd*>(GetPropW(window, kObjectProperty));
        if (message == WM_NCDESTROY && self) RemovePropW(window, kObjectProperty);
    }
    return Route(self, window, message, wParam, lParam);
}

}  // namespace Veneer
