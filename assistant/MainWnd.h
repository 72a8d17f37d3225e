#pragma once
// Certaide's main window: the skinned window of layout "XML_MAIN" with the
// home page, the tray icon and its menu, the key's device notifications and
// the monitor thread's messages. Closing it ends the program; its close
// button only hides it into the tray.
#include <windows.h>

#include "AppContext.h"
#include "NotifyAreaIcon.h"
#include "WindowUI.h"

namespace Veneer {
class CMenuWnd;
}
class CPageHome;

// The skin archive's password (all of the application's windows).
extern const wchar_t SKIN_ARCHIVE_PASSWORD[];
// The key family's USB product id.
constexpr DWORD KEY_USB_PRODUCT_ID = 0xF408;

class CMainWnd : public Veneer::CWindowUI {
public:
    explicit CMainWnd(AppContext* context);
    ~CMainWnd() override;

    const wchar_t* GetWindowClassName() const override { return L"VeneerMainWnd"; }
    void OnFinalMessage(HWND window) override;
    void InitResource() override;
    void InitWindow() override;
    Veneer::CUIString GetSkinFolder() override { return Veneer::CUIString(L""); }
    Veneer::CUIString GetSkinFile() override { return Veneer::CUIString(L"XML_MAIN"); }
    Veneer::SkinResourceType GetResourceType() const override { return Veneer::ResourceZip; }
    Veneer::CUIString GetZIPFileName() const override { return Veneer::CUIString(L"SkinMedia.zip"); }
    Veneer::CUIString GetZIPPassword() const override { return Veneer::CUIString(SKIN_ARCHIVE_PASSWORD); }
    LRESULT OnDestroy(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
    LRESULT HandleCustomMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
    void Notify(Veneer::NotifyEvent& event) override;
    const wchar_t* QueryControlText(const wchar_t* textId, const wchar_t* controlName) override;

    CPageHome* GetPage() const { return m_page; }

private:
    void OnDeviceChange(WPARAM wParam, LPARAM lParam);
    void OnTrayIcon(LPARAM lParam);
    void OnMenuItemChosen(WPARAM wParam);
    void OpenTrayMenu();
    void RequestScan();
    // Restores, shows and raises the window.
    void BringUp();
    void DeleteTrayMenu();

    HDEVNOTIFY m_deviceNotify = nullptr;
    UINT m_taskbarCreated = UINT(-1);
    AppContext* m_context;
    Veneer::CNotifyAreaIcon m_trayIcon;
    CPageHome* m_page = nullptr;
    Veneer::CMenuWnd* m_trayMenu = nullptr;
};
