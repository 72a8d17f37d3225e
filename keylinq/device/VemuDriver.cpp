#include "VemuDriver.h"

#include <cstring>
#include <vector>

#include "TraceHelper.h"

#define TRACE_MODULE L"VemuDriver"

namespace {

// The instance id is "USB\VID_xxxx&PID_xxxx..." or "HID\VID_xxxx&PID_xxxx...".
constexpr size_t VID_OFFSET = 8;
constexpr size_t PID_OFFSET = 17;

}  // namespace

WORD HexWordFromText(const wchar_t* text) {
    if (!text) return 0;
    WORD value = 0;
    for (int i = 0; i < 4; ++i) {
        wchar_t c = text[i];
        WORD digit;
        if (c >= L'0' && c <= L'9') digit = WORD(c - L'0');
        else if (c >= L'A' && c <= L'F') digit = WORD(c - L'A' + 10);
        else if (c >= L'a' && c <= L'f') digit = WORD(c - L'a' + 10);
        else return 0;
        value = WORD(value << 4 | digit);
    }
    return value;
}

uint32_t CVemuDriver::OpenDevice(const char* devicePath, HANDLE* handle) {
    TRACE_NAME(L"CVemuDriver::OpenDevice");
    uint32_t hr = 0;
    *handle = DevicePlatform::CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    CHECK_GOTO(*handle == INVALID_HANDLE_VALUE, L"CreateFileA", VEMU_E_OPEN_FAILED);
exit:
    return hr;
}

uint32_t CVemuDriver::EnumDeviceInfo(HDEVINFO list, const GUID* interfaceClass, DWORD index,
                                    char (&path)[VEMU_PATH_CHARS], SP_DEVINFO_DATA* devInfo) {
    SP_DEVICE_INTERFACE_DATA interfaceData = {};
    interfaceData.cbSize = sizeof interfaceData;
    if (!DevicePlatform::SetupDiEnumDeviceInterfaces(list, nullptr, interfaceClass, index, &interfaceData))
        return uint32_t(GetLastError());

    DWORD required = 0;
    if (!DevicePlatform::SetupDiGetDeviceInterfaceDetailA(list, &interfaceData, nullptr, 0, &required, nullptr)) {
        DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) return uint32_t(error);
    }
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) required = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    std::vector<BYTE> buffer;
    try {
        buffer.assign(required, 0);
    } catch (...) {
        return VEMU_E_NO_TRANSPORT;
    }
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    devInfo->cbSize = sizeof(SP_DEVINFO_DATA);
    if (!DevicePlatform::SetupDiGetDeviceInterfaceDetailA(list, &interfaceData, detail, required, nullptr, devInfo))
        return uint32_t(GetLastError());
    // A path that would not fit is not cut into another device's name: the
    // interface is skipped.
    size_t length = strnlen(detail->DevicePath, required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath));
    if (length >= VEMU_PATH_CHARS) return uint32_t(ERROR_FILENAME_EXCED_RANGE);
    std::memcpy(path, detail->DevicePath, length);
    path[length] = '\0';
    return 0;
}

uint32_t CVemuDriver::EnumDeviceName(const GUID* interfaceClass, WORD vendorId, WORD productId, char* list,
                                    DWORD* size) {
    TRACE_NAME(L"CVemuDriver::EnumDeviceName");
    uint32_t hr = 0;
    DWORD used = 0;
    DWORD room = 0;
    HDEVINFO devices = INVALID_HANDLE_VALUE;
    WORD pidMask = productId == 0xF000 ? 0xF000 : 0xFFFF;

    CHECK_GOTO(!size || (!list && *size), L"CHECK list", VEMU_E_INVALID_ARG);
    devices = DevicePlatform::SetupDiGetClassDevsW(interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    CHECK_GOTO(devices == INVALID_HANDLE_VALUE, L"SetupDiGetClassDevsW", VEMU_E_NO_DEVICE);
    room = *size;
    for (DWORD index = 0; room != 0 && used < room; ++index) {
        char path[VEMU_PATH_CHARS];
        SP_DEVINFO_DATA devInfo = {};
        uint32_t result = EnumDeviceInfo(devices, interfaceClass, index, path, &devInfo);
        if (result == uint32_t(ERROR_NO_MORE_ITEMS)) break;
        if (result != 0) continue;

        WORD vid = 0, pid = 0;
        if (!InstanceUsbIds(devInfo.DevInst, &vid, &pid)) continue;
        if (vid != vendorId || (pid & pidMask) != productId) continue;

        if (!AppendPath(list, room, used, path)) break;
    }
    CloseList(list, used, size);
exit:
    if (devices != INVALID_HANDLE_VALUE) DevicePlatform::SetupDiDestroyDeviceInfoList(devices);
    return hr;
}

bool CVemuDriver::AppendPath(char* list, DWORD room, DWORD& used, const char* path) {
    DWORD length = DWORD(strlen(path)) + 1;
    if (used + length + 1 > room) return false;
    std::memcpy(list + used, path, length);
    used += length;
    return true;
}

void CVemuDriver::CloseList(char* list, DWORD used, DWORD* size) {
    if (used) list[used++] = '\0';
    *size = used;
}

HMODULE CVemuDriver::LoadSystemLibrary(const wchar_t* name, const char* const* functions, size_t count,
                                       FARPROC* addresses, uint32_t* result) {
    TRACE_NAME(L"CVemuDriver::LoadSystemLibrary");
    uint32_t hr = 0;
    HMODULE module = DevicePlatform::LoadLibraryExW(name, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    CHECK_GOTO(!module, L"LoadLibraryExW", VEMU_E_NO_LIBRARY);
    for (size_t i = 0; i < count; ++i) {
        addresses[i] = DevicePlatform::GetProcAddress(module, functions[i]);
        if (!addresses[i]) {
            DevicePlatform::FreeLibrary(module);
            module = nullptr;
            for (size_t j = 0; j < count; ++j) addresses[j] = nullptr;
            CHECK_GOTO(true, L"GetProcAddress", VEMU_E_PROC_MISSING);
        }
    }
exit:
    if (result) *result = hr;
    return module;
}

bool CVemuDriver::InstanceUsbIds(DEVINST instance, WORD* vendorId, WORD* productId) const {
    if (m_driverType == VEMU_DRIVER_MASS_STORAGE && DevicePlatform::CM_Get_Parent(&instance, instance, 0) != CR_SUCCESS)
        return false;
    wchar_t instanceId[VEMU_PATH_CHARS] = {};
    if (DevicePlatform::CM_Get_Device_IDW(instance, instanceId, VEMU_PATH_CHARS, 0) != CR_SUCCESS) return false;
    instanceId[VEMU_PATH_CHARS - 1] = L'\0';
    if (wcslen(instanceId) < PID_OFFSET + 4) return false;
    *vendorId = HexWordFromText(instanceId + VID_OFFSET);
    *productId = HexWordFromText(instanceId + PID_OFFSET);
    return true;
}

uint32_t CVemuDriver::CloseFileHandle() {
    if (m_hDevice != nullptr && m_hDevice != INVALID_HANDLE_VALUE) DevicePlatform::CloseHandle(m_hDevice);
    m_hDevice = INVALID_HANDLE_VALUE;
    return 0;
}
