#pragma once
// The hidden modal dialog that waits for device-interface notifications of
// the HID class and ends when a key of our vendor and product arrives or
// leaves.
#include <windows.h>

#include <cstdint>

#include "MonitorDialogResource.h"

// The dialog ends with this when it could not register for notifications.
constexpr INT_PTR MONITOR_END_FAILED = 3;

#define MONITOR_E_NOT_OUR_KEY 0x80004005u  // CheckIsOurKey: another device
#define MONITOR_E_BAD_NAME    0x80070057u  // CheckIsOurKey: no usable vid_/pid_ markers

constexpr size_t MONITOR_NAME_CHARS = 260;  // name field, terminator included

class CMonitorThreadDlg {
public:
    explicit CMonitorThreadDlg(const GUID& interfaceClass);
    ~CMonitorThreadDlg();
    CMonitorThreadDlg(const CMonitorThreadDlg&) = delete;
    CMonitorThreadDlg& operator=(const CMonitorThreadDlg&) = delete;

    // Runs the dialog on the calling thread until an event or a close.
    // Event to `pnEvent` (0 when closed); the device name in ANSI into
    // `pszName` (room for MONITOR_NAME_CHARS) with its length, NUL counted,
    // to `pnNameLen` when there is one. A failure code when the dialog
    // could not run or register for notifications.
    uint32_t GetDevEvent(char* pszName, ULONG* pnNameLen, ULONG* pnEvent);
    // Ends the dialog with 0, from any thread; a dialog not yet running
    // ends as soon as it starts.
    void CloseDialog();

    // 0 when the interface name carries our vendor id and product 0xF408.
    static uint32_t CheckIsOurKey(const wchar_t* pwszInterfaceName);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnInitDialog(HWND hwnd);
    INT_PTR OnDeviceChange(HWND hwnd, WPARAM wParam, LPARAM lParam);
    INT_PTR OnClose(HWND hwnd);
    void OnDestroy();

    HWND m_hWnd;
    GUID m_interfaceClass;
    HDEVNOTIFY m_hDevNotify;
    wchar_t m_szDeviceName[MONITOR_NAME_CHARS];
    DWORD m_dwRegisterError;      // RegisterDeviceNotificationW's error, 0 when registered
    CRITICAL_SECTION m_lock;      // guards m_hWnd and m_bClosing across threads
    bool m_bClosing;
};
