// The library's entry point: tracing, the module handle, the PIN cache
// (emptied at load, wiped at unload), and SM2 in the EC key method of the
// library's own OpenSSL (Keylinq's rules), registered once at load.
// The device managers are static objects, built before this runs and
// destroyed after it.
#include <windows.h>

#include "KeylinqDialogs.h"
#include "PinCache.h"
#include "TraceHelper.h"
#include "sm2_pkey_method.h"

extern HMODULE g_hModule;  // the library's resources (strings, dialogs)

extern "C" BOOL WINAPI DllMain(HINSTANCE hModule, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        TraceRegister();
        TraceStepLine(L"DllMain", L"DLL_PROCESS_ATTACH");
        g_hModule = hModule;
        ClearPinCache();
        InstallKeylinqDialogs();
        smcrypto::RegisterSM2KeyMethod(smcrypto::kKeylinqSM2Rules);
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
