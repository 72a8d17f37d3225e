// The release binding of the HID transport on the system's own SetupAPI and
// HID library: under Wine it finds exactly Wine's own HID devices.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "DevicePlatform.h"
#include "VemuHID.h"

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

// The HID interface paths that name vendor and product, read with SetupAPI directly.
std::vector<std::string> SystemHidPaths(const std::string& idText) {
    std::vector<std::string> paths;
    GUID hid;
    HidD_GetHidGuid(&hid);
    HDEVINFO list = SetupDiGetClassDevsW(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) return paths;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(list, nullptr, &hid, i, &data); ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailA(list, &data, nullptr, 0, &size, nullptr);
        std::vector<BYTE> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (SetupDiGetDeviceInterfaceDetailA(list, &data, detail, size, nullptr, nullptr) &&
            Lower(detail->DevicePath).find(idText) != std::string::npos)
            paths.push_back(detail->DevicePath);
    }
    SetupDiDestroyDeviceInfoList(list);
    return paths;
}

std::vector<std::string> Split(const char* list, DWORD size) {
    std::vector<std::string> paths;
    for (DWORD i = 0; i + 1 < size; i += DWORD(paths.back().size() + 1)) paths.emplace_back(list + i);
    return paths;
}

TEST(NativeHid, ListsExactlyWinesOwnHidDevices) {
    std::vector<std::string> expected = SystemHidPaths("vid_845e&pid_0001");
    ASSERT_FALSE(expected.empty()) << "Wine lists HID devices of its own";

    CVemuHID hid;
    char list[4160];
    DWORD size = sizeof list;
    ASSERT_EQ(0u, hid.VEmuEnumDevice(0x845E, 0x0001, list, &size));
    std::vector<std::string> found = Split(list, size);
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, found);

    // No key of the family is plugged into this machine.
    size = sizeof list;
    ASSERT_EQ(0u, VEmuEnumDevice(VEMU_DRIVER_HID, 0, 0xF000, list, &size));
    EXPECT_EQ(0u, size);
}

// They open, but their feature report length is 0: no transport is kept on them.
TEST(NativeHid, RefusesToOpenADeviceWithoutFeatureReports) {
    std::vector<std::string> paths = SystemHidPaths("vid_845e&pid_0001");
    ASSERT_FALSE(paths.empty());
    VEMU_HANDLE handle = nullptr;
    const uint32_t hr = VEmuOpenDevice(VEMU_DRIVER_HID, paths[0].c_str(), &handle);
    EXPECT_EQ(0x80070032u, hr);
    EXPECT_EQ(nullptr, handle);
}

}  // namespace
