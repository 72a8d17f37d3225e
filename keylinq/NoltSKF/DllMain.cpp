// The library's entry point: tracing, the module handle, the PIN cache.
// The device managers are static objects, built before this runs and
// destroyed after it.
#include <windows.h>

#include "PinCache.h"
#include "TraceHelper.h"

HMODULE g_hModule = nullptr;

extern "C" BOOL WINAPI DllMain(HINSTANCE hModule, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        TraceRegister();
        TraceStepLine(L"DllMain", L"DLL_PROCESS_ATTACH");
        g_hModule = hModule;
        ClearPinCache();
        break;
    case DLL_PROCESS_DETACH:
        TraceStepLine(L"DllMain", L"DLL_PROCESS_DETACH");
        TraceUnregister();
        break;
    default:
        break;
    }
    return TRUE;
}
