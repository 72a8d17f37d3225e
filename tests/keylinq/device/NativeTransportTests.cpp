// The release binding of the mass-storage, CCID and WinUSB transports on the
// system's own SetupAPI, kernel, WinSCard.dll and winusb.dll under Wine:
// no key of the family is present, PC/SC has no service, pass-through is not
// supported, and winusb's functions must never be called (Wine aborts).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DevicePlatform.h"
#include "VemuMassStorage.h"

namespace {

const GUID CDROM_INTERFACE = {0x53f56308, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
const GUID USB_DEVICE_INTERFACE = {0xa5dcbf10, 0x6530, 0x11d2, {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};

// Interfaces of the class whose USB device (the parent for a CD-ROM) has
// the family's vendor id and a product id 0xFxxx, read with SetupAPI directly.
std::vector<std::string> SystemKeyPaths(const GUID& interfaceClass, bool parent) {
    std::vector<std::string> paths;
    HDEVINFO list = SetupDiGetClassDevsW(&interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) return paths;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(list, nullptr, &interfaceClass, i, &data); ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailA(list, &data, nullptr, 0, &size, nullptr);
        std::vector<BYTE> buffer(size + sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        SP_DEVINFO_DATA info = {};
        info.cbSize = sizeof info;
        if (!SetupDiGetDeviceInterfaceDetailA(list, &data, detail, DWORD(buffer.size()), nullptr, &info)) continue;
        DEVINST instance = info.DevInst;
        if (parent && CM_Get_Parent(&instance, info.DevInst, 0) != CR_SUCCESS) continue;
        wchar_t id[260] = {};
        if (CM_Get_Device_IDW(instance, id, 260, 0) != CR_SUCCESS) continue;
        wchar_t prefix[32];
        swprintf(prefix, 32, L"USB\\VID_%04X&PID_F", unsigned(KEYLINQ_USB_VENDOR_ID));
        if (_wcsnicmp(id, prefix, wcslen(prefix)) == 0) paths.push_back(detail->DevicePath);
    }
    SetupDiDestroyDeviceInfoList(list);
    return paths;
}

std::vector<std::string> Listed(DWORD type) {
    char list[4160];
    DWORD size = sizeof list;
    EXPECT_EQ(0u, VEmuEnumDevice(type, 0, 0xF000, list, &size));
    std::vector<std::string> paths;
    for (DWORD i = 0; i + 1 < size; i += DWORD(paths.back().size() + 1)) paths.emplace_back(list + i);
    return paths;
}

TEST(NativeTransports, UsbDeviceClassesListWhatSetupApiFinds) {
    EXPECT_EQ(SystemKeyPaths(CDROM_INTERFACE, true), Listed(VEMU_DRIVER_MASS_STORAGE));
    EXPECT_EQ(SystemKeyPaths(USB_DEVICE_INTERFACE, false), Listed(VEMU_DRIVER_WINUSB));
    EXPECT_TRUE(Listed(VEMU_DRIVER_MASS_STORAGE).empty()) << "no key on this machine";
}

TEST(NativeTransports, PcscWithoutItsServiceListsNothing) {
    char list[512] = {'x', 'y'};
    DWORD size = sizeof list;
    const uint32_t hr = VEmuEnumDevice(VEMU_DRIVER_CCID, 0, 0xF000, list, &size);
    EXPECT_TRUE(hr == 0x80100001u || hr == 0x80070006u) << std::hex << hr;
    EXPECT_EQ('x', list[0]) << "no path";
}

TEST(NativeTransports, MadeUpPathsDoNotOpen) {
    const struct {
        DWORD type;
        const char* path;
    } rows[] = {
        {VEMU_DRIVER_MASS_STORAGE,
         "\\\\?\\usbstor#cdrom&ven_none&prod_none&rev_1.00#0&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}"},
        {VEMU_DRIVER_HID, "\\\\?\\hid#vid_3a5c&pid_f408#7&0&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}"},
        {VEMU_DRIVER_CCID, "Made Up VARNO CCID Reader 0"},
        // Fails at CreateFileA, before any winusb function.
        {VEMU_DRIVER_WINUSB, "\\\\?\\usb#vid_3a5c&pid_f408#0#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.type);
        VEMU_HANDLE handle = nullptr;
        const uint32_t hr = VEmuOpenDevice(row.type, row.path, &handle);
        if (row.type == VEMU_DRIVER_CCID)
            EXPECT_TRUE(hr == 0x80100001u || hr == 0x80070006u) << std::hex << hr;
        else
            EXPECT_EQ(0x80070201u, hr);
        EXPECT_EQ(nullptr, handle);
    }
}

TEST(NativeTransports, PassThroughOnADriveIsNotSupported) {
    CVemuMassStorage storage;
    ASSERT_EQ(0u, storage.VEmuOpenDevice("\\\\.\\C:"));
    const BYTE frame[8] = {0xB0, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x20};
    BYTE reply[64];
    DWORD length = sizeof reply;
    EXPECT_EQ(0x80070032u, storage.VEmuSendCommand(frame, sizeof frame, reply, &length, 180));
    EXPECT_EQ(sizeof reply, length);
    EXPECT_EQ(0u, storage.VEmuCloseDevice());
}

}  // namespace
