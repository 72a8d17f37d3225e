#pragma once
// The platform calls of the key transports and the device listing. Release
// builds bind them to SetupAPI, the configuration manager, the HID library
// and the kernel (DevicePlatformNative.cpp); Keylinq's test builds bind them to
// the virtual key (DevicePlatformVirtual.cpp). Each has the contract of the
// Windows function of the same name.
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>
extern "C" {
#include <hidsdi.h>
}
#include <hidpi.h>

namespace DevicePlatform {

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags);
HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags);
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO list, PSP_DEVINFO_DATA devInfo, const GUID* classGuid, DWORD index,
                                 PSP_DEVICE_INTERFACE_DATA interfaceData);
BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO list, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                      PDWORD requiredSize, PSP_DEVINFO_DATA devInfo);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO list);
CONFIGRET CM_Get_Device_IDW(DEVINST devInst, PWSTR buffer, ULONG bufferLen, ULONG flags);
CONFIGRET CM_Get_Parent(PDEVINST parent, DEVINST devInst, ULONG flags);

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
BOOL CloseHandle(HANDLE handle);
BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                     LPOVERLAPPED overlapped);
BOOL GetOverlappedResult(HANDLE device, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait);

// The system libraries that the CCID and WinUSB transports load at run time
// (WinSCard.dll, winusb.dll).
HMODULE LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);

void HidD_GetHidGuid(LPGUID guid);
BOOLEAN HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsed);
BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsed);
NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps);
BOOLEAN HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes);
BOOLEAN HidD_SetFeature(HANDLE device, PVOID report, ULONG length);
BOOLEAN HidD_GetFeature(HANDLE device, PVOID report, ULONG length);

}  // namespace DevicePlatform
