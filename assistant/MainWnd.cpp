#include "MainWnd.h"

#include <dbt.h>

#include <new>
#include <string>

#include "AppMessages.h"
#include "Journal.h"
#include "Menu.h"
#include "PageHome.h"
#include "ResourceCatalog.h"
#include "TraceHelper.h"
#include "USBKeyInterface.h"

#define TRACE_MODULE L"MainWnd"

#ifndef CERTAIDE_SKIN_PASSWORD
#define CERTAIDE_SKIN_PASSWORD L"https://skin.sorvel.cn"
#endif
#ifndef KEYLINQ_USB_VENDOR_ID
#define KEYLINQ_USB_VENDOR_ID 0x3A5C
#endif

const wchar_t SKIN_ARCHIVE_PASSWORD[] = CERTAIDE_SKIN_PASSWORD;

using Veneer::GetResourceCatalog;

namespace {

// GUID_DEVINTERFACE_USB_DEVICE
const GUID USB_DEVICE_INTERFACE = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

Veneer::CUIString TrayTip() { return GetResourceCatalog().GetText(L"systray_icon_tooltip"); }

}  // namespace

CMainWnd::CMainWnd(AppContext* context) : m_context(context) {
    TRACE_SCOPE(L"CMainWnd::CMainWnd");
    m_trayIcon.SetCallbackMessage(WM_TRAYICON_NOTIFY);
    m_page = new (std::nothrow) CPageHome(context, &m_pm);
    if (m_page) AddVirtualWnd(L"pagehome", m_page);
    else TRACE_FAIL(L"new CPageHome", L"m_pPageHome == NULL", E_OUTOFMEMORY);
}

CMainWnd::~CMainWnd() {
    TRACE_SCOPE(L"CMainWnd::~CMainWnd");
    Veneer::ReleaseMenuCheckStates();
    DeleteTrayMenu();
    RemoveVirtualWnd(L"pagehome");
    // The catalog must not ask a page that is going away for its texts.
    if (GetResourceCatalog().GetTextProvider() == static_cast<Veneer::IQueryControlText*>(this))
        GetResourceCatalog().SetTextProvider(nullptr);
    delete m_page;
    m_page = nullptr;
    m_trayIcon.Remove();
    m_trayIcon.SetCallbackMessage(WM_TRAYICON_NOTIFY);
}

void CMainWnd::OnFinalMessage(HWND window) {
    (void)window;
    m_pm.RemovePreFilter(this);
    m_pm.RemoveNotifyListener(this);
    m_pm.ForgetControl(m_pm.GetRoot());
}

void CMainWnd::InitResource() {
    TRACE_SCOPE(L"CMainWnd::InitResource");
    CWindowUI::InitResource();
    Veneer::CResourceCatalog& catalog = GetResourceCatalog();
    catalog.LoadCatalog(L"resource.xml");
    catalog.SetTextProvider(this);
    catalog.SetLanguage(L"cn_zh");
    catalog.LoadCatalog(L"lan_cn.xml");
}

void CMainWnd::InitWindow() {
    TRACE_SCOPE(L"CMainWnd::InitWindow");
    SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    if (m_page) m_page->InitVirtualWnd();
    m_taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = USB_DEVICE_INTERFACE;
    m_deviceNotify = RegisterDeviceNotificationW(m_hWnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!m_deviceNotify)
        TRACE_FAIL(L"RegisterDeviceNotificationW", L"m_hDevNotify == NULL", HRESULT_FROM_WIN32(GetLastError()));
    m_trayIcon.Add(m_hWnd, TrayTip());
}

LRESULT CMainWnd::OnDestroy(UINT, WPARAM, LPARAM, bool& handled) {
    TRACE_SCOPE(L"CMainWnd::OnDestroy");
    if (m_context && m_context->pEvents && m_context->pEvents->hQuit) SetEvent(m_context->pEvents->hQuit);
    m_trayIcon.Remove();
    m_trayIcon.SetCallbackMessage(WM_TRAYICON_NOTIFY);
    PostQuitMessage(0);
    if (m_deviceNotify) UnregisterDeviceNotification(m_deviceNotify);
    m_deviceNotify = nullptr;
    JournalWrite(L"window", L"closed");
    handled = false;
    return 0;
}

void CMainWnd::Notify(Veneer::NotifyEvent& event) {
    if (event.type == L"windowinit") {
        SetWindowPos(m_hWnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    } else if (event.type == L"click" && event.sender) {
        const Veneer::CUIString name = event.sender->GetName();
        if (name.CompareNoCase(L"closebtn") == 0) {
            ShowWindow(m_hWnd, SW_HIDE);
            JournalWrite(L"window", L"hidden");
            return;
        }
        if (name.CompareNoCase(L"minbtn") == 0) {
            ShowWindow(m_hWnd, SW_MINIMIZE);
            JournalWrite(L"window", L"minimized");
        }
    }
    RouteNotification(event);
}

const wchar_t* CMainWnd::QueryControlText(const wchar_t* textId, const wchar_t* controlName) {
    return m_page ? m_page->QueryControlText(textId, controlName) : nullptr;
}

LRESULT CMainWnd::HandleCustomMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    handled = false;
    switch (message) {
    case WM_DEVICECHANGE:
        OnDeviceChange(wParam, lParam);
        break;
    case WM_TRAYICON_NOTIFY:
        OnTrayIcon(lParam);
        break;
    case WM_MENUITEM_CHOSEN:
        OnMenuItemChosen(wParam);
        break;
    case WM_SKFDLL_NOT_EXIST:
        if (m_page) m_page->ReportErrorInfo(HOME_STATUS_LIBRARY_MISSING, E_FAIL);
        break;
    case WM_KEYSCAN_FINISHED:
        if (m_page) m_page->ShowVirtualWnd();
        break;
    case WM_RENEWAL_STATUS:
        if (m_page) m_page->ApplyRenewalReports();
        break;
    default:
        if (m_taskbarCreated != UINT(-1) && message == m_taskbarCreated) {
            m_trayIcon.Remove();
            m_trayIcon.Add(m_hWnd, TrayTip());
        }
        break;
    }
    return 0;
}

void CMainWnd::RequestScan() {
    if (!m_context || !m_context->pEvents) return;
    AppEventSet& events = *m_context->pEvents;
    if (WaitForSingleObject(events.hRescan, 0) == WAIT_TIMEOUT) {
        ResetEvent(events.hScanDone);
        SetEvent(events.hRescan);
    }
}

void CMainWnd::BringUp() {
    ShowWindow(m_hWnd, SW_RESTORE);
    ShowWindow(m_hWnd, SW_SHOWNA);
    SetForegroundWindow(m_hWnd);
    JournalWrite(L"window", L"restored");
}

void CMainWnd::OnDeviceChange(WPARAM wParam, LPARAM lParam) {
    const DEV_BROADCAST_HDR* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return;
    const DEV_BROADCAST_DEVICEINTERFACE_W* device = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
    if (!IsEqualGUID(device->dbcc_classguid, USB_DEVICE_INTERFACE)) return;
    DWORD vid = 0, pid = 0;
    if (GetVidPidFromUSBDevDesc(device->dbcc_name, &vid, &pid) != S_OK) return;
    if (vid != DWORD(KEYLINQ_USB_VENDOR_ID) || pid != KEY_USB_PRODUCT_ID) return;
    if (wParam == DBT_DEVICEARRIVAL) {
        RequestScan();
        BringUp();
    } else if (wParam == DBT_DEVICEREMOVECOMPLETE) {
        RequestScan();
    }
}

void CMainWnd::OnTrayIcon(LPARAM lParam) {
    switch (lParam) {
    case WM_MOUSEMOVE:
        m_trayIcon.SetTip(TrayTip());
        break;
    case WM_LBUTTONUP:
        BringUp();
        break;
    case WM_RBUTTONUP:
        OpenTrayMenu();
        break;
    default:
        break;
    }
}

void CMainWnd::DeleteTrayMenu() {
    if (!m_trayMenu) return;
    // The menu's window goes before its object.
    if (m_trayMenu->GetHWND() && IsWindow(m_trayMenu->GetHWND())) DestroyWindow(m_trayMenu->GetHWND());
    delete m_trayMenu;
    m_trayMenu = nullptr;
}

void CMainWnd::OpenTrayMenu() {
    TRACE_SCOPE(L"CMainWnd::OpenTrayMenu");
    POINT point = {};
    GetCursorPos(&point);
    DeleteTrayMenu();
    m_trayMenu = new (std::nothrow) Veneer::CMenuWnd;
    if (!m_trayMenu) return;
    // The menu's base point lies 75 pixels above the cursor.
    m_trayMenu->Open(nullptr, L"XML_TRAY_MENU", &m_pm, point.x, point.y - 75);
    m_trayMenu->PlaceInWorkArea();
    JournalWrite(L"traymenu", L"x=" + std::to_wstring(point.x) + L" y=" + std::to_wstring(point.y - 75));
}

void CMainWnd::OnMenuItemChosen(WPARAM wParam) {
    Veneer::MenuClickInfo* info = reinterpret_cast<Veneer::MenuClickInfo*>(wParam);
    if (!info) return;
    const std::wstring name(info->name);
    delete info;
    if (_wcsicmp(name.c_str(), L"menu_open_mainwnd") == 0) {
        BringUp();
    } else if (_wcsicmp(name.c_str(), L"submenu_confirm_exit") == 0) {
        Close(0);
    }
}
