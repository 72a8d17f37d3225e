// Release binding of the HID platform calls: the system's own functions.
#include "DevicePlatform.h"

namespace DevicePlatform {

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags) {
    return ::SetupDiGetClassDevsW(classGuid, enumerator, parent, flags);
}
HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags) {
    return ::SetupDiGetClassDevsA(classGuid, enumerator, parent, flags);
}
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO list, PSP_DEVINFO_DATA devInfo, const GUID* classGuid, DWORD index,
                                 PSP_DEVICE_INTERFACE_DATA interfaceData) {
    return ::SetupDiEnumDeviceInterfaces(list, devInfo, classGuid, index, interfaceData);
}
BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO list, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                      PDWORD requiredSize, PSP_DEVINFO_DATA devInfo) {
    return ::SetupDiGetDeviceInterfaceDetailA(list, interfaceData, detail, detailSize, requiredSize, devInfo);
}
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO list) { return ::SetupDiDestroyDeviceInfoList(list); }
CONFIGRET CM_Get_Device_IDW(DEVINST devInst, PWSTR buffer, ULONG bufferLen, ULONG flags) {
    return ::CM_Get_Device_IDW(devInst, buffer, bufferLen, flags);
}
CONFIGRET CM_Get_Parent(PDEVINST parent, DEVINST devInst, ULONG flags) { return ::CM_Get_Parent(parent, devInst, flags); }

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE templateFile) {
    return ::CreateFileA(path, access, share, security, disposition, flags, templateFile);
}
BOOL CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }
BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                     LPOVERLAPPED overlapped) {
    return ::DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
}
BOOL GetOverlappedResult(HANDLE device, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait) {
    return ::GetOverlappedResult(device, overlapped, transferred, wait);
}

HMODULE LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) { return ::LoadLibraryExW(name, file, flags); }
FARPROC GetProcAddress(HMODULE module, LPCSTR name) { return ::GetProcAddress(module, name); }
BOOL FreeLibrary(HMODULE module) { return ::FreeLibrary(module); }

void HidD_GetHidGuid(LPGUID guid) { ::HidD_GetHidGuid(guid); }
BOOLEAN HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsed) {
    return ::HidD_GetPreparsedData(device, preparsed);
}
BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsed) { return ::HidD_FreePreparsedData(preparsed); }
NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps) { return ::HidP_GetCaps(preparsed, caps); }
BOOLEAN HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) { return ::HidD_GetAttributes(device, attributes); }
BOOLEAN HidD_SetFeature(HANDLE device, PVOID report, ULONG length) { return ::HidD_SetFeature(device, report, length); }
BOOLEAN HidD_GetFeature(HANDLE device, PVOID report, ULONG length) { return ::HidD_GetFeature(device, report, length); }

}  // namespace DevicePlatform
