// The library's entry point: tracing, the module handle, the PIN cache
// (emptied at load, wiped at unload).
// The device managers are static objects, built before this runs and
// destroyed after it.
#include <windows.h>

#include "KeylinqDialogs.h"
#include "PinCache.h"
#include "TraceHelper.h"

extern HMODULE g_hModule;  // the library's resources (strings, dialogs)

extern "C" BOOL WINAPI DllMain(HINSTANCE hModule, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        TraceRegister();
        TraceStepLine(L"DllMain", L"DLL_PROCESS_ATTACH");
        g_hModule = hModule;
        ClearPinCache();
        InstallKeylinqDialogs();
        break;
    case DLL_PROCESS_DETACH:
        TraceStepLine(L"DllMain", L"DLL_PROCESS_DETACH");
        ClearPinCache();
        TraceUnregister();
        break;
    default:
        break;
    }
    return TRUE;
}
