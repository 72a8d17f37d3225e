#pragma once
// Messages posted to Certaide's main window and the home page's status codes.
#include <windows.h>

constexpr UINT WM_TRAYICON_NOTIFY = 1025;   // the tray icon's callback; lParam the mouse message
constexpr UINT WM_MENUITEM_CHOSEN = 1145;   // wParam a heap MenuClickInfo the receiver frees
constexpr UINT WM_SKFDLL_NOT_EXIST = 2025;  // the key library file is missing (monitor thread)
constexpr UINT WM_KEYSCAN_FINISHED = 2026;  // a scan has finished (monitor thread)
constexpr UINT WM_RENEWAL_STATUS = 2027;    // the renewal thread queued status reports

// What the home page's result line, buttons and busy animation show.
enum HomePageStatus : int {
    HOME_STATUS_NONE = 0,
    HOME_STATUS_RENEWED = 40,
    HOME_STATUS_SUBMIT_FAILED = 41,
    HOME_STATUS_RENEWING = 42,
    HOME_STATUS_IMPORTING = 44,
    HOME_STATUS_IMPORT_FAILED = 45,
    HOME_STATUS_PIN_LOCKED = 71,
    HOME_STATUS_LIBRARY_MISSING = 100,
    HOME_STATUS_CERT_TYPE = 101,
    HOME_STATUS_SEAL_NOT_UNIQUE = 102,
    HOME_STATUS_SEAL_READ_FAILED = 103,
    HOME_STATUS_SEAL_WRITE_FAILED = 104,
};
