#pragma once
// The tests' view of Keylinq.dll: loaded the way an SKF application loads
// it, with every export looked up by name.
#include <windows.h>

#include <string>

#include "HostPaths.h"
#include "SKFApi.h"

struct KeylinqLibrary {
#define SKF_MEMBER(name, params) PFN_##name name = nullptr;
    SKF_EXPORT_LIST(SKF_MEMBER)
#undef SKF_MEMBER
    HMODULE module = nullptr;
    int missing = 0;

    // The DLL named by KEYLINQ_DLL (a host path).
    KeylinqLibrary() {
        const std::string path = HostEnvPath("KEYLINQ_DLL");
        module = LoadLibraryA(path.c_str());
        if (!module) return;
#define SKF_RESOLVE(name, params)                                                           \
    name = reinterpret_cast<PFN_##name>(reinterpret_cast<void*>(GetProcAddress(module, #name))); \
    if (!name) ++missing;
        SKF_EXPORT_LIST(SKF_RESOLVE)
#undef SKF_RESOLVE
    }
    ~KeylinqLibrary() {
        if (module) FreeLibrary(module);
    }
    KeylinqLibrary(const KeylinqLibrary&) = delete;
    KeylinqLibrary& operator=(const KeylinqLibrary&) = delete;
};

// One library for the whole test program, as an application keeps it.
inline KeylinqLibrary& Keylinq() {
    static KeylinqLibrary library;
    return library;
}
