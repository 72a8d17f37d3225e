// Test binding of the HID platform calls: the devices are the virtual keys
// of a key process on this machine, reached over Winsock. The address comes
// from the environment: KEYLINQ_VIRTUAL_KEY ("127.0.0.1:port") or
// KEYLINQ_VIRTUAL_KEY_PORT_FILE (a file holding the port; a host path is
// read through drive Z:). Only Keylinq's test builds contain this file.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "DevicePlatform.h"
#include "VirtualKeyLink.h"
#include "protocol/VkProtocol.h"

namespace DevicePlatform {
namespace {

using VirtualKeyLink::Connect;
using VirtualKeyLink::ReceiveAll;
using VirtualKeyLink::SendAll;

const GUID HID_CLASS = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr DWORD LIST_MAGIC = 0x564B4C53;    // "VKLS"
constexpr DWORD HANDLE_MAGIC = 0x564B4844;  // "VKHD"
constexpr DWORD CAPS_MAGIC = 0x564B4350;    // "VKCP"

struct DeviceEntry {
    std::string instanceId;
    std::string path;
};

struct DeviceList {
    DWORD magic = LIST_MAGIC;
    std::vector<DeviceEntry> devices;
};

struct VirtualHandle {
    DWORD magic = HANDLE_MAGIC;
    SOCKET socket = INVALID_SOCKET;
};

struct VirtualCaps {
    DWORD magic = CAPS_MAGIC;
    WORD input = 0, output = 0, feature = 0;
};

std::mutex g_lock;
std::set<VirtualHandle*> g_handles;
std::vector<std::wstring> g_instances;  // DEVINST n is g_instances[n - 1]

// One request and its reply. False with the thread's last error set when
// the key answered with an error or the connection failed.
bool Call(SOCKET s, const std::vector<uint8_t>& request, std::vector<uint8_t>& data) {
    vk::Writer message;
    message.u32(uint32_t(request.size())).bytes(request);
    uint8_t head[4];
    if (!SendAll(s, message.data().data(), message.data().size()) || !ReceiveAll(s, head, 4)) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return false;
    }
    size_t n = size_t(head[0]) << 24 | size_t(head[1]) << 16 | size_t(head[2]) << 8 | head[3];
    std::vector<uint8_t> reply(n);
    if (n < 4 || n > vk::MAX_MESSAGE || !ReceiveAll(s, reply.data(), n)) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return false;
    }
    vk::Reader r(reply);
    uint32_t error = r.u32();
    data = r.rest();
    if (error) {
        SetLastError(error);
        return false;
    }
    return true;
}

VirtualHandle* FindHandle(HANDLE handle) {
    std::lock_guard<std::mutex> hold(g_lock);
    auto* h = static_cast<VirtualHandle*>(handle);
    return g_handles.count(h) ? h : nullptr;
}

bool DeviceCall(HANDLE device, const std::vector<uint8_t>& request, std::vector<uint8_t>& data) {
    VirtualHandle* h = FindHandle(device);
    if (!h) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return Call(h->socket, request, data);
}

DEVINST RegisterInstance(const std::string& instanceId) {
    std::wstring wide(instanceId.begin(), instanceId.end());
    std::lock_guard<std::mutex> hold(g_lock);
    for (size_t i = 0; i < g_instances.size(); ++i)
        if (g_instances[i] == wide) return DEVINST(i + 1);
    g_instances.push_back(wide);
    return DEVINST(g_instances.size());
}

DeviceList* ListOf(HDEVINFO list) {
    auto* l = static_cast<DeviceList*>(list);
    return l && l != INVALID_HANDLE_VALUE && l->magic == LIST_MAGIC ? l : nullptr;
}

}  // namespace

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR, HWND, DWORD) {
    auto* list = new DeviceList();
    // Only the HID class has virtual devices.
    if (classGuid && IsEqualGUID(*classGuid, HID_CLASS)) {
        SOCKET s = Connect();
        std::vector<uint8_t> data;
        bool ok = s != INVALID_SOCKET && Call(s, {vk::OP_LIST}, data);
        if (s != INVALID_SOCKET) closesocket(s);
        if (!ok) {
            delete list;
            return INVALID_HANDLE_VALUE;
        }
        vk::Reader r(data);
        uint16_t count = r.u16();
        for (uint16_t i = 0; i < count && r.ok(); ++i) {
            r.u32();
            r.u16();
            r.u16();
            DeviceEntry entry;
            entry.instanceId = r.str();
            entry.path = r.str();
            list->devices.push_back(entry);
        }
    }
    return list;
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO list, PSP_DEVINFO_DATA, const GUID* classGuid, DWORD index,
                                 PSP_DEVICE_INTERFACE_DATA interfaceData) {
    DeviceList* l = ListOf(list);
    if (!l || !interfaceData || interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (index >= l->devices.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    interfaceData->InterfaceClassGuid = classGuid ? *classGuid : HID_CLASS;
    interfaceData->Flags = SPINT_ACTIVE;
    interfaceData->Reserved = ULONG_PTR(index);
    return TRUE;
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO list, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                      PDWORD requiredSize, PSP_DEVINFO_DATA devInfo) {
    DeviceList* l = ListOf(list);
    if (!l || !interfaceData || interfaceData->Reserved >= l->devices.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DeviceEntry& entry = l->devices[interfaceData->Reserved];
    DWORD needed = DWORD(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + entry.path.size() + 1);
    if (requiredSize) *requiredSize = needed;
    if (!detail || detailSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ||
        (devInfo && devInfo->cbSize != sizeof(SP_DEVINFO_DATA))) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    std::memcpy(detail->DevicePath, entry.path.c_str(), entry.path.size() + 1);
    if (devInfo) {
        devInfo->ClassGuid = HID_CLASS;
        devInfo->DevInst = RegisterInstance(entry.instanceId);
        devInfo->Reserved = 0;
    }
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO list) {
    DeviceList* l = ListOf(list);
    if (!l) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    l->magic = 0;
    delete l;
    return TRUE;
}

CONFIGRET CM_Get_Device_IDW(DEVINST devInst, PWSTR buffer, ULONG bufferLen, ULONG) {
    std::wstring id;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        if (devInst == 0 || devInst > g_instances.size()) return CR_NO_SUCH_DEVINST;
        id = g_instances[devInst - 1];
    }
    if (!buffer) return CR_INVALID_POINTER;
    if (id.size() + 1 > bufferLen) return CR_BUFFER_SMALL;
    std::memcpy(buffer, id.c_str(), (id.size() + 1) * sizeof(wchar_t));
    return CR_SUCCESS;
}

// Virtual keys are HID devices only: they have no USB mass-storage parent.
CONFIGRET CM_Get_Parent(PDEVINST, DEVINST, ULONG) { return CR_NO_SUCH_DEVNODE; }

HANDLE CreateFileA(LPCSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    SOCKET s = Connect();
    if (s == INVALID_SOCKET) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::vector<uint8_t> data;
    if (!Call(s, vk::Writer().u8(vk::OP_OPEN).str(path).take(), data)) {
        DWORD error = GetLastError();
        closesocket(s);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    auto* h = new VirtualHandle();
    h->socket = s;
    std::lock_guard<std::mutex> hold(g_lock);
    g_handles.insert(h);
    return h;
}

BOOL CloseHandle(HANDLE handle) {
    VirtualHandle* h = nullptr;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        auto it = g_handles.find(static_cast<VirtualHandle*>(handle));
        if (it != g_handles.end()) {
            h = *it;
            g_handles.erase(it);
        }
    }
    if (!h) return ::CloseHandle(handle);
    closesocket(h->socket);
    delete h;
    return TRUE;
}

void HidD_GetHidGuid(LPGUID guid) {
    if (guid) *guid = HID_CLASS;
}

BOOLEAN HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsed) {
    std::vector<uint8_t> data;
    if (!preparsed || !DeviceCall(device, {vk::OP_CAPS}, data)) return FALSE;
    vk::Reader r(data);
    auto* caps = new VirtualCaps();
    caps->input = r.u16();
    caps->output = r.u16();
    caps->feature = r.u16();
    *preparsed = reinterpret_cast<PHIDP_PREPARSED_DATA>(caps);
    return TRUE;
}

BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsed) {
    auto* caps = reinterpret_cast<VirtualCaps*>(preparsed);
    if (!caps || caps->magic != CAPS_MAGIC) return FALSE;
    caps->magic = 0;
    delete caps;
    return TRUE;
}

NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps) {
    auto* own = reinterpret_cast<VirtualCaps*>(preparsed);
    if (!own || own->magic != CAPS_MAGIC || !caps) return HIDP_STATUS_INVALID_PREPARSED_DATA;
    std::memset(caps, 0, sizeof *caps);
    caps->InputReportByteLength = own->input;
    caps->OutputReportByteLength = own->output;
    caps->FeatureReportByteLength = own->feature;
    return HIDP_STATUS_SUCCESS;
}

BOOLEAN HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) {
    std::vector<uint8_t> data;
    if (!attributes || !DeviceCall(device, {vk::OP_ATTRIBUTES}, data)) return FALSE;
    vk::Reader r(data);
    attributes->Size = sizeof *attributes;
    attributes->VendorID = r.u16();
    attributes->ProductID = r.u16();
    attributes->VersionNumber = r.u16();
    return TRUE;
}

BOOLEAN HidD_SetFeature(HANDLE device, PVOID report, ULONG length) {
    if (!report) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<uint8_t> data;
    return DeviceCall(device, vk::Writer().u8(vk::OP_SET_FEATURE).bytes(report, length).take(), data);
}

BOOLEAN HidD_GetFeature(HANDLE device, PVOID report, ULONG length) {
    if (!report || length == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto* bytes = static_cast<BYTE*>(report);
    std::vector<uint8_t> data;
    if (!DeviceCall(device, vk::Writer().u8(vk::OP_GET_FEATURE).u8(bytes[0]).u16(uint16_t(length)).take(), data))
        return FALSE;
    if (data.size() != length) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    std::memcpy(bytes, data.data(), length);
    return TRUE;
}

}  // namespace DevicePlatform
