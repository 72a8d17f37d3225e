#pragma once
// One native window bound to an object: class registration (own class or a
// superclass of a system class), creation with the object as parameter, the
// window procedure routed to HandleMessage, modal display, closing, centring
// and the window icon.
#include <windows.h>

namespace Veneer {

class CWindowWnd {
public:
    CWindowWnd() = default;
    CWindowWnd(const CWindowWnd&) = delete;
    CWindowWnd& operator=(const CWindowWnd&) = delete;

    virtual const wchar_t* GetWindowClassName() const = 0;
    // Null: the class is registered as a class of its own.
    virtual const wchar_t* GetBaseClassName() const { return nullptr; }
    virtual UINT GetWindowClassStyle() const { return 0; }
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Called after WM_NCDESTROY, with the handle already unbound.
    virtual void OnFinalMessage(HWND window) { (void)window; }
    virtual ~CWindowWnd() = default;

    HWND GetHWND() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }
    WNDPROC GetPreviousProc() const { return m_previousProc; }

    HWND Create(HWND parent, const wchar_t* windowName, DWORD style, DWORD exStyle, int x = CW_USEDEFAULT,
                int y = CW_USEDEFAULT, int width = CW_USEDEFAULT, int height = CW_USEDEFAULT);
    void Show();
    // Runs a message loop until the window closes; the wParam of the
    // WM_CLOSE that ended it (0 when none came).
    UINT ShowModal();
    // Posts WM_CLOSE(result, 0).
    void Close(UINT result = 0);
    void CenterOnOwner();
    void SetIcon(UINT resourceId);

    bool RegisterWindowClass();
    bool RegisterSuperclass();

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    HWND m_hWnd = nullptr;
    WNDPROC m_previousProc = ::DefWindowProcW;

private:
    static LRESULT Route(CWindowWnd* self, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

}  // namespace Veneer
