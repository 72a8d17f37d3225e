// The device-event monitor's dialog. It runs modally on the waiting
// thread, hidden, and ends with 1 (arrival) or 2 (removal) for a key of our
// vendor and product, or with 0 when it is closed.
#include "MonitorThreadDlg.h"

#include <dbt.h>

#include <cwchar>
#include <cwctype>

#include "TraceHelper.h"
#include "VemuComm.h"

#define TRACE_MODULE L"MonitorThreadDlg"

namespace {

struct Locked {
    explicit Locked(CRITICAL_SECTION& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
    ~Locked() { LeaveCriticalSection(&m_cs); }
    CRITICAL_SECTION& m_cs;
};

// The four characters after `marker` (searched without regard to case
// from `from` on); false when the marker is missing or not followed by
// more than four characters.
bool TextAfterMarker(const wchar_t* from, const wchar_t* marker, wchar_t (&text)[5], const wchar_t** next) {
    const size_t markerLen = wcslen(marker);
    for (const wchar_t* p = from; *p; ++p) {
        if (_wcsnicmp(p, marker, markerLen) != 0) continue;
        const wchar_t* value = p + markerLen;
        if (wcslen(value) <= 4) return false;
        wcsncpy(text, value, 4);
        text[4] = 0;
        *next = value + 4;
        return true;
    }
    return false;
}

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

// Test builds can make the notification registration fail.
bool RegistrationRefusedForTest() {
#ifdef KEYLINQ_TEST_BINDING
    return GetEnvironmentVariableW(L"KEYLINQ_TEST_FAIL_DEVICE_NOTIFY", nullptr, 0) > 0;
#else
    return false;
#endif
}

}  // namespace

CMonitorThreadDlg::CMonitorThreadDlg(const GUID& interfaceClass)
    : m_hWnd(nullptr), m_interfaceClass(interfaceClass), m_hDevNotify(nullptr), m_szDeviceName{},
      m_dwRegisterError(0), m_bClosing(false) {
    InitializeCriticalSection(&m_lock);
}

CMonitorThreadDlg::~CMonitorThreadDlg() { DeleteCriticalSection(&m_lock); }

uint32_t CMonitorThreadDlg::GetDevEvent(char* pszName, ULONG* pnNameLen, ULONG* pnEvent) {
    TraceHelper scope(L"CMonitorThreadDlg::GetDevEvent");
    TRACE_NAME(L"CMonitorThreadDlg::GetDevEvent");
    *pnEvent = 0;
    const INT_PTR end = DialogBoxParamW(ThisModule(), MAKEINTRESOURCEW(IDD_MONITOR_DIALOG), GetActiveWindow(),
                                        DialogProc, reinterpret_cast<LPARAM>(this));
    if (end == -1) {
        const uint32_t hr = uint32_t(HResultFromLastError());
        TRACE_FAIL(L"DialogBoxParamW", L"-1 == nResult", HRESULT(hr));
        return hr;
    }
    if (end == MONITOR_END_FAILED) {
        const uint32_t hr = uint32_t(HResultFromError(LONG(m_dwRegisterError)));
        TRACE_FAIL(L"RegisterDeviceNotificationW", L"NULL == m_hDevNotify", HRESULT(hr));
        return hr;
    }
    *pnEvent = ULONG(end);
    if (m_szDeviceName[0]) {
        const int n = WideCharToMultiByte(CP_ACP, WC_COMPOSITECHECK, m_szDeviceName, -1, pszName,
                                          int(MONITOR_NAME_CHARS), nullptr, nullptr);
        pszName[MONITOR_NAME_CHARS - 1] = 0;
        *pnNameLen = n > 0 ? ULONG(n) : ULONG(strlen(pszName) + 1);
    }
    return 0;
}

void CMonitorThreadDlg::CloseDialog() {
    Locked guard(m_lock);
    m_bClosing = true;
    if (m_hWnd) PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
}

uint32_t CMonitorThreadDlg::CheckIsOurKey(const wchar_t* pwszInterfaceName) {
    if (!pwszInterfaceName) return MONITOR_E_BAD_NAME;
    wchar_t vid[5], pid[5];
    const wchar_t* next = nullptr;
    if (!TextAfterMarker(pwszInterfaceName, L"vid_", vid, &next)) return MONITOR_E_BAD_NAME;
    if (!TextAfterMarker(next, L"pid_", pid, &next)) return MONITOR_E_BAD_NAME;
    if (HexWordFromText(pid) == KEYLINQ_USB_PRODUCT_ID && HexWordFromText(vid) == KEYLINQ_USB_VENDOR_ID) return 0;
    return MONITOR_E_NOT_OUR_KEY;
}

INT_PTR CALLBACK CMonitorThreadDlg::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        return reinterpret_cast<CMonitorThreadDlg*>(lParam)->OnInitDialog(hwnd);
    }
    auto* self = reinterpret_cast<CMonitorThreadDlg*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self) return FALSE;
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        ShowWindow(hwnd, SW_HIDE);
        EndPaint(hwnd, &ps);
        return TRUE;
    }
    case WM_DEVICECHANGE:
        return self->OnDeviceChange(hwnd, wParam, lParam);
    case WM_CLOSE:
        return self->OnClose(hwnd);
    case WM_DESTROY:
        self->OnDestroy();
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR CMonitorThreadDlg::OnInitDialog(HWND hwnd) {
    TraceHelper scope(L"CMonitorThreadDlg::OnInitDialog");
    TRACE_NAME(L"CMonitorThreadDlg::OnInitDialog");
    RECT rc;
    GetWindowRect(hwnd, &rc);
    const int x = (GetSystemMetrics(SM_CXSCREEN) - (rc.right - rc.left)) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - (rc.bottom - rc.top)) / 2;
    SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = m_interfaceClass;
    m_hDevNotify = RegistrationRefusedForTest()
                       ? nullptr
                       : RegisterDeviceNotificationW(hwnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!m_hDevNotify) {
        // Without notifications nothing would ever end the wait: fail it.
        const DWORD error = GetLastError();
        m_dwRegisterError = error ? error : ERROR_INVALID_FUNCTION;
        TRACE_FAIL(L"RegisterDeviceNotificationW", L"NULL == m_hDevNotify", HResultFromError(LONG(m_dwRegisterError)));
        EndDialog(hwnd, MONITOR_END_FAILED);
        return TRUE;
    }
    TRACE_STEP(L"RegisterDeviceNotificationW");
    Locked guard(m_lock);
    m_hWnd = hwnd;
    if (m_bClosing) EndDialog(hwnd, 0);  // cancelled before the dialog was up
    return TRUE;
}

INT_PTR CMonitorThreadDlg::OnDeviceChange(HWND hwnd, WPARAM wParam, LPARAM lParam) {
    TraceHelper scope(L"CMonitorThreadDlg::OnDeviceChange");
    if (wParam != DBT_DEVICEARRIVAL && wParam != DBT_DEVICEREMOVECOMPLETE) return 0;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return 0;
    const auto* broadcast = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
    // A name that does not fit the field names no device a caller could
    // open; it is not ours.
    const size_t nameLen = wcsnlen(broadcast->dbcc_name, MONITOR_NAME_CHARS);
    if (nameLen >= MONITOR_NAME_CHARS) return 0;
    wchar_t name[MONITOR_NAME_CHARS];
    wcsncpy(name, broadcast->dbcc_name, MONITOR_NAME_CHARS - 1);
    name[MONITOR_NAME_CHARS - 1] = 0;
    if (CheckIsOurKey(name) != 0) return 0;
    for (wchar_t* p = name; *p; ++p) *p = wchar_t(towlower(*p));
    wcscpy(m_szDeviceName, name);
    EndDialog(hwnd, wParam == DBT_DEVICEARRIVAL ? 1 : 2);
    return 0;
}

INT_PTR CMonitorThreadDlg::OnClose(HWND hwnd) {
    TraceHelper scope(L"CMonitorThreadDlg::OnClose");
    EndDialog(hwnd, 0);
    return TRUE;
}

void CMonitorThreadDlg::OnDestroy() {
    if (m_hDevNotify) {
        UnregisterDeviceNotification(m_hDevNotify);
        m_hDevNotify = nullptr;
    }
    Locked guard(m_lock);
    m_hWnd = nullptr;
}
