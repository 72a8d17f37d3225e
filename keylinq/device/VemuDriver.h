#pragma once
// What the file-handle transports share: opening a device path, listing the
// device interfaces of a class through SetupAPI and matching their USB
// vendor and product ids.
#include "DevicePlatform.h"
#include "VemuComm.h"

// Room for one device path (ANSI), terminator included.
constexpr DWORD VEMU_PATH_CHARS = 260;

class CVemuDriver : public IVemuComm {
public:
    CVemuDriver(DWORD driverType) : m_hDevice(INVALID_HANDLE_VALUE), m_driverType(driverType) {}
    DWORD DriverType() const { return m_driverType; }

    // CreateFileA for reading and writing, overlapped; INVALID_HANDLE_VALUE
    // with 0x80070201 when it fails.
    static uint32_t OpenDevice(const char* devicePath, HANDLE* handle);
    // One interface of a SetupAPI list: its path (at most 259 characters)
    // and device information. A Win32 error value when it cannot be read
    // (ERROR_NO_MORE_ITEMS past the last one).
    static uint32_t EnumDeviceInfo(HDEVINFO list, const GUID* interfaceClass, DWORD index,
                                  char (&path)[VEMU_PATH_CHARS], SP_DEVINFO_DATA* devInfo);
    // The paths of the present interfaces of the class whose USB ids match.
    uint32_t EnumDeviceName(const GUID* interfaceClass, WORD vendorId, WORD productId, char* list, DWORD* size);

protected:
    // The close of the file-handle transports.
    uint32_t CloseFileHandle();

    HANDLE m_hDevice;      // open file handle, INVALID_HANDLE_VALUE when closed
    DWORD m_driverType;
};
