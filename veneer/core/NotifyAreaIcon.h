#pragma once
// The application's icon in the notification area (tray).
#include <windows.h>
#include <shellapi.h>

#include <cstddef>

namespace Veneer {

class CNotifyAreaIcon {
public:
    // The record's size as the shell expects it (the form without the
    // balloon icon handle; mingw's full structure is larger on 32-bit).
    static const DWORD kRecordSize = offsetof(NOTIFYICONDATAW, hBalloonIcon);
    enum { kIconId = 128, kDefaultCallbackMessage = 0x401, kMaxTipChars = 127 };

    // The shell's Shell_NotifyIconW; tests put a recorder in its place.
    typedef BOOL(WINAPI* ShellNotifyIconFn)(DWORD message, NOTIFYICONDATAW* data);
    static ShellNotifyIconFn SetShellNotifyIcon(ShellNotifyIconFn function);

    CNotifyAreaIcon();
    ~CNotifyAreaIcon();
    CNotifyAreaIcon(const CNotifyAreaIcon&) = delete;
    CNotifyAreaIcon& operator=(const CNotifyAreaIcon&) = delete;

    // The icon resource 128 of the module with the tip (at most 127
    // characters are kept); nothing for a null window. The icon that it
    // loads is its own: Remove, the next Add and the destructor destroy it.
    void Add(HWND window, const wchar_t* tip);
    void Remove();
    bool SetTip(const wchar_t* tip);

    void SetCallbackMessage(UINT message) { m_callbackMessage = message; }
    UINT GetCallbackMessage() const { return m_callbackMessage; }
    bool IsAdded() const { return m_added; }
    HICON GetIcon() const { return m_icon; }
    const NOTIFYICONDATAW& GetRecord() const { return m_data; }

private:
    void CopyTip(const wchar_t* tip);
    void ReleaseIcon();

    bool m_added = false;
    HICON m_icon = nullptr;
    bool m_ownsIcon = false;   // loaded by LoadImageW; LoadIconW's icon is shared
    UINT m_callbackMessage = kDefaultCallbackMessage;
    NOTIFYICONDATAW m_data;
};

}  // namespace Veneer
