#pragma once
// What the file-handle transports share: opening a device path, listing the
// device interfaces of a class through SetupAPI and matching their USB
// vendor and product ids.
#include "DevicePlatform.h"
#include "VemuComm.h"

// A resolved function as its own type.
template <class F>
F ProcAs(FARPROC address) {
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(address));
}

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
    // Appends a path and its NUL to a device path list of `room` bytes when
    // it and the list's closing NUL fit; false when they do not.
    static bool AppendPath(char* list, DWORD room, DWORD& used, const char* path);
    // Writes the closing NUL of a list that has paths, and its size (0 for none).
    static void CloseList(char* list, DWORD used, DWORD* size);
    // Loads a system library (LOAD_WITH_ALTERED_SEARCH_PATH) and resolves the
    // functions in order into `addresses`. Null when the library is missing,
    // or when a function is (the library is then unloaded again and
    // `result` is 0x800701E7).
    static HMODULE LoadSystemLibrary(const wchar_t* name, const char* const* functions, size_t count,
                                     FARPROC* addresses, uint32_t* result);
    // The USB vendor and product ids of a device instance, from its instance
    // id ("USB\VID_xxxx&PID_xxxx..."); for the mass-storage transport from
    // its parent's (the USB device of the CD-ROM). False when unreadable.
    bool InstanceUsbIds(DEVINST instance, WORD* vendorId, WORD* productId) const;
    // The close of the file-handle transports.
    uint32_t CloseFileHandle();

    HANDLE m_hDevice;      // open file handle, INVALID_HANDLE_VALUE when closed
    DWORD m_driverType;
};
