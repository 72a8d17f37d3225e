// Test binding of the run-time loaded system libraries: WinSCard.dll and
// winusb.dll load as pseudo-modules whose function names resolve to the
// binding's own functions of the system signatures (VirtualWinSCard.cpp,
// VirtualWinUsb.cpp). Any other library is the system's. A test can hide a
// library or one function name to see how the transports cope.
#include <winsock2.h>
#include <windows.h>

#include <cstring>
#include <mutex>
#include <string>

#include "DevicePlatform.h"
#include "VirtualDevice.h"
#include "VirtualPlatformControl.h"

namespace DevicePlatform {
namespace {

using namespace Virtual;

struct PseudoModule {
    const wchar_t* name;
    std::vector<VirtualFunction> (*functions)();
};

// The module handles given out are these objects' addresses.
PseudoModule g_modules[] = {{L"winscard.dll", WinSCardFunctions}, {L"winusb.dll", WinUsbFunctions}};

std::mutex g_lock;
std::wstring g_hiddenLibrary;
std::string g_hiddenFunction;
int g_loaded = 0;

PseudoModule* ModuleOf(HMODULE module) {
    for (PseudoModule& m : g_modules)
        if (reinterpret_cast<HMODULE>(&m) == module) return &m;
    return nullptr;
}

}  // namespace

namespace Virtual {

void HideLibrary(const wchar_t* name) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_hiddenLibrary = name ? name : L"";
}

void HideFunction(const char* name) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_hiddenFunction = name ? name : "";
}

int LoadedModules() {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_loaded;
}

}  // namespace Virtual

HMODULE LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) {
    if (name) {
        for (PseudoModule& m : g_modules) {
            if (_wcsicmp(name, m.name) != 0) continue;
            std::lock_guard<std::mutex> hold(g_lock);
            if (_wcsicmp(g_hiddenLibrary.c_str(), m.name) == 0) {
                SetLastError(ERROR_MOD_NOT_FOUND);
                return nullptr;
            }
            ++g_loaded;
            return reinterpret_cast<HMODULE>(&m);
        }
    }
    return ::LoadLibraryExW(name, file, flags);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    PseudoModule* m = ModuleOf(module);
    if (!m) return ::GetProcAddress(module, name);
    if (!name || reinterpret_cast<ULONG_PTR>(name) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> hold(g_lock);
        if (g_hiddenFunction == name) {
            SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
    }
    for (const VirtualFunction& f : m->functions())
        if (std::strcmp(f.name, name) == 0) return f.address;
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL FreeLibrary(HMODULE module) {
    if (!ModuleOf(module)) return ::FreeLibrary(module);
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_loaded == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    --g_loaded;
    return TRUE;
}

}  // namespace DevicePlatform
