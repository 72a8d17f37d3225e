// Test binding of the device platform calls: the devices are the virtual
// keys of a key process on this machine, reached over Winsock. The address
// comes from the environment: KEYLINQ_VIRTUAL_KEY ("127.0.0.1:port") or
// KEYLINQ_VIRTUAL_KEY_PORT_FILE (a file holding the port; a host path is
// read through drive Z:). Only Keylinq's test builds contain this file and
// its neighbours: VirtualScsi.cpp (pass-through), VirtualWinSCard.cpp,
// VirtualWinUsb.cpp and VirtualModules.cpp (the two system libraries).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "DevicePlatform.h"
#include "VirtualDevice.h"
#include "VirtualKeyLink.h"

namespace DevicePlatform {
namespace Virtual {

using VirtualKeyLink::Connect;
using VirtualKeyLink::ReceiveAll;
using VirtualKeyLink::SendAll;

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

bool CallOnce(const std::vector<uint8_t>& request, std::vector<uint8_t>& data) {
    SOCKET s = Connect();
    if (s == INVALID_SOCKET) return false;
    bool ok = Call(s, request, data);
    DWORD error = GetLastError();
    closesocket(s);
    SetLastError(error);
    return ok;
}

VirtualHandle::~VirtualHandle() {
    if (socket != INVALID_SOCKET) closesocket(socket);
}

bool VirtualHandle::Request(const std::vector<uint8_t>& request, std::vector<uint8_t>& data) {
    if (kind == HandleKind::UsbInterface) return file->Request(request, data);
    std::lock_guard<std::mutex> hold(io);
    return Call(socket, request, data);
}

namespace {

std::mutex g_lock;
std::map<const void*, std::shared_ptr<VirtualHandle>> g_handles;

}  // namespace

void* AddHandle(const std::shared_ptr<VirtualHandle>& handle) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_handles[handle.get()] = handle;
    return handle.get();
}

std::shared_ptr<VirtualHandle> FindHandle(const void* value, HandleKind kind) {
    std::lock_guard<std::mutex> hold(g_lock);
    auto it = g_handles.find(value);
    if (it == g_handles.end() || it->second->kind != kind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

bool RemoveHandle(const void* value, HandleKind kind) {
    std::shared_ptr<VirtualHandle> handle;  // released outside the lock
    std::lock_guard<std::mutex> hold(g_lock);
    auto it = g_handles.find(value);
    if (it == g_handles.end() || it->second->kind != kind) return false;
    handle = it->second;
    g_handles.erase(it);
    return true;
}

int CountHandles(HandleKind kind) {
    std::lock_guard<std::mutex> hold(g_lock);
    int n = 0;
    for (auto& entry : g_handles) n += entry.second->kind == kind;
    return n;
}

SOCKET OpenConnection(const std::vector<uint8_t>& openRequest, DWORD& error) {
    SOCKET s = Connect();
    if (s == INVALID_SOCKET) {
        error = ERROR_FILE_NOT_FOUND;
        return s;
    }
    std::vector<uint8_t> data;
    if (!Call(s, openRequest, data)) {
        error = GetLastError();
        closesocket(s);
        return INVALID_SOCKET;
    }
    error = 0;
    return s;
}

}  // namespace Virtual

namespace {

using namespace Virtual;

const GUID HID_CLASS = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
const GUID CDROM_CLASS = {0x53f56308, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
const GUID USB_DEVICE_CLASS = {0xa5dcbf10, 0x6530, 0x11d2, {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};
constexpr DWORD LIST_MAGIC = 0x564B4C53;  // "VKLS"
constexpr DWORD CAPS_MAGIC = 0x564B4350;  // "VKCP"

struct DeviceEntry {
    std::string instanceId;
    std::string parentInstanceId;
    std::string path;
};

struct DeviceList {
    DWORD magic = LIST_MAGIC;
    GUID interfaceClass = {};
    std::vector<DeviceEntry> devices;
};

struct VirtualCaps {
    DWORD magic = CAPS_MAGIC;
    WORD input = 0, output = 0, feature = 0;
};

struct Instance {
    std::wstring id;
    std::string parent;  // empty: no parent known
};
std::mutex g_instanceLock;
std::vector<Instance> g_instances;  // DEVINST n is g_instances[n - 1]

DEVINST RegisterInstance(const std::string& instanceId, const std::string& parent) {
    std::wstring wide(instanceId.begin(), instanceId.end());
    std::lock_guard<std::mutex> hold(g_instanceLock);
    for (size_t i = 0; i < g_instances.size(); ++i)
        if (g_instances[i].id == wide) return DEVINST(i + 1);
    g_instances.push_back(Instance{wide, parent});
    return DEVINST(g_instances.size());
}

DeviceList* ListOf(HDEVINFO list) {
    auto* l = static_cast<DeviceList*>(list);
    return l && l != INVALID_HANDLE_VALUE && l->magic == LIST_MAGIC ? l : nullptr;
}

// The transport whose keys present interfaces of the class (0: none).
uint8_t TransportOfClass(const GUID* classGuid) {
    if (!classGuid) return 0;
    if (IsEqualGUID(*classGuid, HID_CLASS)) return vk::TRANSPORT_HID;
    if (IsEqualGUID(*classGuid, CDROM_CLASS)) return vk::TRANSPORT_MASS_STORAGE;
    if (IsEqualGUID(*classGuid, USB_DEVICE_CLASS)) return vk::TRANSPORT_WINUSB;
    return 0;
}

HDEVINFO ClassDevs(const GUID* classGuid) {
    auto* list = new DeviceList();
    if (classGuid) list->interfaceClass = *classGuid;
    if (uint8_t transport = TransportOfClass(classGuid)) {
        std::vector<uint8_t> data;
        if (!CallOnce(vk::Writer().u8(vk::OP_LIST_CLASS).u8(transport).take(), data)) {
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
            entry.parentInstanceId = r.str();
            entry.path = r.str();
            list->devices.push_back(entry);
        }
    }
    return list;
}

bool DeviceCall(HANDLE device, const std::vector<uint8_t>& request, std::vector<uint8_t>& data) {
    std::shared_ptr<VirtualHandle> h = FindHandle(device, HandleKind::File);
    return h && h->Request(request, data);
}

}  // namespace

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR, HWND, DWORD) { return ClassDevs(classGuid); }
HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR, HWND, DWORD) { return ClassDevs(classGuid); }

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
    interfaceData->InterfaceClassGuid = classGuid ? *classGuid : l->interfaceClass;
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
        devInfo->ClassGuid = l->interfaceClass;
        devInfo->DevInst = RegisterInstance(entry.instanceId, entry.parentInstanceId);
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
        std::lock_guard<std::mutex> hold(g_instanceLock);
        if (devInst == 0 || devInst > g_instances.size()) return CR_NO_SUCH_DEVINST;
        id = g_instances[devInst - 1].id;
    }
    if (!buffer) return CR_INVALID_POINTER;
    if (id.size() + 1 > bufferLen) return CR_BUFFER_SMALL;
    std::memcpy(buffer, id.c_str(), (id.size() + 1) * sizeof(wchar_t));
    return CR_SUCCESS;
}

// A mass-storage key's CD-ROM has its USB device as parent; the other
// virtual devices have none that the transports ask for.
CONFIGRET CM_Get_Parent(PDEVINST parent, DEVINST devInst, ULONG) {
    std::string parentId;
    {
        std::lock_guard<std::mutex> hold(g_instanceLock);
        if (devInst == 0 || devInst > g_instances.size()) return CR_INVALID_DEVINST;
        parentId = g_instances[devInst - 1].parent;
    }
    if (!parent) return CR_INVALID_POINTER;
    if (parentId.empty()) return CR_NO_SUCH_DEVNODE;
    *parent = RegisterInstance(parentId, "");
    return CR_SUCCESS;
}

HANDLE CreateFileA(LPCSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD flags, HANDLE) {
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = 0;
    SOCKET s = OpenConnection(vk::Writer().u8(vk::OP_OPEN).str(path).take(), error);
    if (s == INVALID_SOCKET) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    auto h = std::make_shared<VirtualHandle>(HandleKind::File);
    h->socket = s;
    h->overlapped = (flags & FILE_FLAG_OVERLAPPED) != 0;
    return AddHandle(h);
}

BOOL CloseHandle(HANDLE handle) {
    if (RemoveHandle(handle, HandleKind::File)) return TRUE;
    return ::CloseHandle(handle);
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
