#pragma once
// What the UI thread, the key monitor thread and the renewal thread share:
// the main window's handle, the four events and the last scan's result.
#include <windows.h>

#include <vector>

#include "CustomSKFInterface.h"

// Four manual-reset events, created non-signalled by CreateStartupEvents.
struct AppEventSet {
    HANDLE hQuit;      // named; set when the main window is destroyed
    HANDLE hRescan;    // a request for a key scan
    HANDLE hScanDone;  // set after a scan, reset before a device-change request
    HANDLE hRenew;     // a request for one renewal
};

// The name of the quit event.
extern const wchar_t APP_QUIT_EVENT_NAME[];

// Creates the four events (quit named, the others unnamed).
void CreateStartupEvents(AppEventSet& events);
// Closes each non-zero handle and zeroes it.
void CloseStartupEvents(AppEventSet& events);

// The key library profile's list (the key access layer's list head): frees
// every entry with its node list and leaves the head null. Returns 0.
HRESULT DestroyUSBKEYMgrProfile(USBKEYLibraryEntry** ppHead);

// The last scan: the time it judged certificates at and the keys it found.
// The monitor thread writes it and the UI thread copies it after 2026; both
// go through the lock, so a scan never tears a copy in progress.
class PluggedKeyInfoCache {
public:
    explicit PluggedKeyInfoCache(USBKEYLibraryEntry** ppProfile);
    ~PluggedKeyInfoCache();
    PluggedKeyInfoCache(const PluggedKeyInfoCache&) = delete;
    PluggedKeyInfoCache& operator=(const PluggedKeyInfoCache&) = delete;

    // now = 0, no records, no profile, scan result 0.
    void Clear();

    void SetNow(const FILETIME& now);
    FILETIME GetNow();

    // A scan's records and its result code.
    void Store(const std::vector<SKFUserCSPInfo>& records, HRESULT scanResult);
    void CopyOut(std::vector<SKFUserCSPInfo>& records, HRESULT* pScanResult);

private:
    CRITICAL_SECTION m_lock;
    FILETIME m_now;
    std::vector<SKFUserCSPInfo> m_records;
    HRESULT m_scanResult;
    USBKEYLibraryEntry** m_ppProfile;
};

struct AppContext {
    HWND* phMainWnd;
    AppEventSet* pEvents;
    PluggedKeyInfoCache* pCache;
};
