#include "MonitorThread.h"

#include <shlwapi.h>

#include <string>

#include "AppConfig.h"
#include "AppContext.h"
#include "AppMessages.h"
#include "Journal.h"
#include "TimeSource.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"MonitorThread"

namespace {

bool IsSet(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

#ifdef CERTAIDE_TEST_BINDING
void JournalScanEnd(HRESULT hr, bool trusted, const SKFUserCSPInfoSet& set) {
    std::wstring keys;
    for (const SKFUserCSPInfo& csp : set.vetCSPInfo)
        for (const SKFUserKeyInfo& key : csp.vetKeyInfo) {
            if (!keys.empty()) keys += L",";
            keys += key.wstrSerialNumber;
        }
    wchar_t head[64];
    swprintf(head, 64, L"result=0x%08x source=%ls keys=", unsigned(hr), trusted ? L"tsa" : L"clock");
    JournalWrite(L"scan-end", head + keys);
}
#else
void JournalScanEnd(HRESULT, bool, const SKFUserCSPInfoSet&) {}
#endif

}  // namespace

DWORD WINAPI MonitorThread(LPVOID lpParam) {
    TRACE_SCOPE(L"MonitorThread");
    AppContext* context = static_cast<AppContext*>(lpParam);
    if (!context || !context->pEvents || !context->pCache || !context->phMainWnd) return 0;
    AppEventSet& events = *context->pEvents;
    PluggedKeyInfoCache& cache = *context->pCache;
    const HWND mainWnd = *context->phMainWnd;

    wchar_t* libraryPath = nullptr;
    HRESULT hr = GetKeyLibraryPath(&libraryPath);
    if (hr != S_OK || !libraryPath || !PathFileExistsW(libraryPath)) {
        TRACE_FAIL(L"Key library", L"PathFileExistsW(lpwSKFDllPath) == FALSE", hr != S_OK ? hr : E_FAIL);
        delete[] libraryPath;
        PostMessageW(mainWnd, WM_SKFDLL_NOT_EXIST, 0, 0);
        return 0;
    }

    SKFUserCSPInfoSet scanSet;
    SetEvent(events.hRescan);
    while (WaitForSingleObject(events.hQuit, 0) == WAIT_TIMEOUT) {
        HANDLE waits[2] = {events.hQuit, events.hRescan};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) continue;

        FILETIME now = {};
        const bool trusted = GetStdTimeFromPELQTimeStamp(&now) == S_OK;
        if (!trusted) GetSystemTimeAsFileTime(&now);
        cache.SetNow(now);
        WaitForSingleObject(events.hScanDone, 1000);
        // The window may have closed during the time request and the wait.
        if (IsSet(events.hQuit)) break;

        // Requests made before this point are served by this scan; one made
        // during the listing sets the event again and gets a scan of its own.
        ResetEvent(events.hRescan);
        JournalWrite(L"scan-start", L"");
        ClearSKFUserCSPInfoSet(scanSet);
        hr = SyncGetPluggedUSBKeyCSPInfoBySKF(libraryPath, scanSet, now);
        if (hr != S_OK) TRACE_FAIL(L"SyncGetPluggedUSBKeyCSPInfoBySKF", L"hResult != S_OK", hr);
        cache.Store(scanSet.vetCSPInfo, hr);
        JournalScanEnd(hr, trusted, scanSet);
        PostMessageW(mainWnd, WM_KEYSCAN_FINISHED, 0, 0);
        // A request that came during the scan keeps the next one waiting for
        // the settling time.
        if (!IsSet(events.hRescan)) SetEvent(events.hScanDone);
    }
    ClearSKFUserCSPInfoSet(scanSet);
    delete[] libraryPath;
    return 0;
}
