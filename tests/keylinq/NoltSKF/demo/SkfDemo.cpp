// A small SKF application: loads Keylinq.dll by name, as any SKF
// application does, lists the keys, connects to each, prints its device
// information and disconnects.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "SKFApi.h"

namespace {

struct Skf {
    PFN_SKF_EnumDev EnumDev;
    PFN_SKF_ConnectDev ConnectDev;
    PFN_SKF_GetDevInfo GetDevInfo;
    PFN_SKF_DisConnectDev DisConnectDev;
};

template <class T>
bool Bind(HMODULE module, const char* name, T* fn) {
    *fn = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!*fn) std::printf("Keylinq.dll has no %s\n", name);
    return *fn != nullptr;
}

std::string Text(const char* field, size_t size) {
    std::string s(field, size);
    return s.substr(0, s.find('\0'));
}

void PrintDevInfo(const DEVINFO& info) {
    std::printf("  Version          %u.%u\n", info.Version.major, info.Version.minor);
    std::printf("  Manufacturer     %s\n", Text(info.Manufacturer, sizeof info.Manufacturer).c_str());
    std::printf("  Issuer           %s\n", Text(info.Issuer, sizeof info.Issuer).c_str());
    std::printf("  Label            %s\n", Text(info.Label, sizeof info.Label).c_str());
    std::printf("  SerialNumber     %s\n", Text(info.SerialNumber, sizeof info.SerialNumber).c_str());
    std::printf("  HWVersion        %u.%u\n", info.HWVersion.major, info.HWVersion.minor);
    std::printf("  FirmwareVersion  %u.%u\n", info.FirmwareVersion.major, info.FirmwareVersion.minor);
    std::printf("  AlgSymCap        0x%08lX\n", info.AlgSymCap);
    std::printf("  AlgAsymCap       0x%08lX\n", info.AlgAsymCap);
    std::printf("  AlgHashCap       0x%08lX\n", info.AlgHashCap);
    std::printf("  DevAuthAlgId     0x%08lX\n", info.DevAuthAlgId);
    std::printf("  TotalSpace       %lu\n", info.TotalSpace);
    std::printf("  FreeSpace        %lu\n", info.FreeSpace);
    std::printf("  MaxECCBufferSize %lu\n", info.MaxECCBufferSize);
    std::printf("  MaxBufferSize    %lu\n", info.MaxBufferSize);
}

}  // namespace

int main() {
    HMODULE module = LoadLibraryW(L"Keylinq.dll");
    if (!module) {
        std::printf("cannot load Keylinq.dll (error %lu)\n", GetLastError());
        return 2;
    }
    Skf skf = {};
    if (!Bind(module, "SKF_EnumDev", &skf.EnumDev) || !Bind(module, "SKF_ConnectDev", &skf.ConnectDev) ||
        !Bind(module, "SKF_GetDevInfo", &skf.GetDevInfo) || !Bind(module, "SKF_DisConnectDev", &skf.DisConnectDev))
        return 2;

    int status = 0;
    ULONG size = 0;
    ULONG rc = skf.EnumDev(TRUE, nullptr, &size);
    std::vector<char> list(size + 1, 0);
    if (rc == SAR_OK) rc = skf.EnumDev(TRUE, list.data(), &size);
    if (rc != SAR_OK) {
        std::printf("SKF_EnumDev: 0x%08lX\n", rc);
        return 1;
    }
    int keys = 0;
    for (const char* name = list.data(); *name; name += strlen(name) + 1) {
        ++keys;
        std::printf("Key %d: %s\n", keys, name);
        DEVHANDLE dev = nullptr;
        rc = skf.ConnectDev(const_cast<char*>(name), &dev);
        if (rc != SAR_OK) {
            std::printf("  SKF_ConnectDev: 0x%08lX\n", rc);
            status = 1;
            continue;
        }
        DEVINFO info = {};
        rc = skf.GetDevInfo(dev, &info);
        if (rc == SAR_OK)
            PrintDevInfo(info);
        else {
            std::printf("  SKF_GetDevInfo: 0x%08lX\n", rc);
            status = 1;
        }
        rc = skf.DisConnectDev(dev);
        if (rc != SAR_OK) {
            std::printf("  SKF_DisConnectDev: 0x%08lX\n", rc);
            status = 1;
        }
    }
    if (keys == 0) std::printf("No key present.\n");
    FreeLibrary(module);
    return status;
}
