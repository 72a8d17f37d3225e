// Test binding of winusb.dll: a WinUSB key's interface over the virtual key.
// The interface has an interrupt pipe (0x83, which the transport ignores) and
// the two bulk pipes 0x81 (in) and 0x02 (out); pipe policies are carried to
// the key, which records them.
#include <winsock2.h>
#include <windows.h>
#include <winusb.h>

#include <algorithm>

#include "VirtualDevice.h"

namespace DevicePlatform {
namespace Virtual {
namespace {

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

std::shared_ptr<VirtualHandle> Interface(WINUSB_INTERFACE_HANDLE handle) {
    return FindHandle(handle, HandleKind::UsbInterface);
}

struct Pipe {
    USBD_PIPE_TYPE type;
    UCHAR id;
};
const Pipe PIPES[] = {{UsbdPipeTypeInterrupt, 0x83}, {UsbdPipeTypeBulk, vk::USB_PIPE_IN}, {UsbdPipeTypeBulk, vk::USB_PIPE_OUT}};

BOOL WINAPI Initialize(HANDLE device, PWINUSB_INTERFACE_HANDLE handle) {
    std::shared_ptr<VirtualHandle> file = FindHandle(device, HandleKind::File);
    if (!file) return Fail(ERROR_INVALID_HANDLE);
    if (!handle) return Fail(ERROR_INVALID_PARAMETER);
    auto usb = std::make_shared<VirtualHandle>(HandleKind::UsbInterface);
    usb->file = file;
    *handle = AddHandle(usb);
    return TRUE;
}

BOOL WINAPI Free(WINUSB_INTERFACE_HANDLE handle) {
    return RemoveHandle(handle, HandleKind::UsbInterface) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

BOOL WINAPI GetDescriptor(WINUSB_INTERFACE_HANDLE handle, UCHAR type, UCHAR index, USHORT, PUCHAR buffer, ULONG length,
                          PULONG transferred) {
    std::shared_ptr<VirtualHandle> usb = Interface(handle);
    if (!usb) return FALSE;
    if (!buffer || !transferred) return Fail(ERROR_INVALID_PARAMETER);
    if (type != USB_DEVICE_DESCRIPTOR_TYPE || index != 0) return Fail(ERROR_GEN_FAILURE);
    std::vector<uint8_t> descriptor;
    if (!usb->Request({vk::OP_USB_DESCRIPTOR}, descriptor)) return FALSE;
    ULONG n = ULONG(std::min<size_t>(length, descriptor.size()));
    std::copy(descriptor.begin(), descriptor.begin() + n, buffer);
    *transferred = n;
    return TRUE;
}

BOOL WINAPI QueryInterfaceSettings(WINUSB_INTERFACE_HANDLE handle, UCHAR alternate, PUSB_INTERFACE_DESCRIPTOR descriptor) {
    if (!Interface(handle)) return FALSE;
    if (!descriptor) return Fail(ERROR_INVALID_PARAMETER);
    if (alternate != 0) return Fail(ERROR_NO_MORE_ITEMS);
    *descriptor = USB_INTERFACE_DESCRIPTOR{};
    descriptor->bLength = sizeof *descriptor;
    descriptor->bDescriptorType = USB_INTERFACE_DESCRIPTOR_TYPE;
    descriptor->bNumEndpoints = sizeof PIPES / sizeof PIPES[0];
    descriptor->bInterfaceClass = 0xFF;
    return TRUE;
}

BOOL WINAPI QueryPipe(WINUSB_INTERFACE_HANDLE handle, UCHAR alternate, UCHAR index, PWINUSB_PIPE_INFORMATION pipe) {
    if (!Interface(handle)) return FALSE;
    if (!pipe) return Fail(ERROR_INVALID_PARAMETER);
    if (alternate != 0 || index >= sizeof PIPES / sizeof PIPES[0]) return Fail(ERROR_NO_MORE_ITEMS);
    pipe->PipeType = PIPES[index].type;
    pipe->PipeId = PIPES[index].id;
    pipe->MaximumPacketSize = 64;
    pipe->Interval = PIPES[index].type == UsbdPipeTypeInterrupt ? 1 : 0;
    return TRUE;
}

BOOL WINAPI SetPipePolicy(WINUSB_INTERFACE_HANDLE handle, UCHAR pipe, ULONG type, ULONG length, PVOID value) {
    std::shared_ptr<VirtualHandle> usb = Interface(handle);
    if (!usb) return FALSE;
    if (!value || (length != 1 && length != 4)) return Fail(ERROR_INVALID_PARAMETER);
    ULONG v = length == 1 ? *static_cast<UCHAR*>(value) : *static_cast<ULONG*>(value);
    std::vector<uint8_t> data;
    return usb->Request(vk::Writer().u8(vk::OP_USB_POLICY).u8(pipe).u32(type).u32(v).take(), data);
}

BOOL WINAPI ReadPipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipe, PUCHAR buffer, ULONG length, PULONG transferred,
                     LPOVERLAPPED overlapped) {
    std::shared_ptr<VirtualHandle> usb = Interface(handle);
    if (!usb) return FALSE;
    if (!buffer || !transferred || overlapped) return Fail(ERROR_INVALID_PARAMETER);
    std::vector<uint8_t> data;
    if (!usb->Request(vk::Writer().u8(vk::OP_USB_READ).u8(pipe).u32(length).take(), data)) return FALSE;
    ULONG n = ULONG(std::min<size_t>(length, data.size()));
    std::copy(data.begin(), data.begin() + n, buffer);
    *transferred = n;
    return TRUE;
}

BOOL WINAPI WritePipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipe, PUCHAR buffer, ULONG length, PULONG transferred,
                      LPOVERLAPPED overlapped) {
    std::shared_ptr<VirtualHandle> usb = Interface(handle);
    if (!usb) return FALSE;
    if (!buffer || !transferred || overlapped) return Fail(ERROR_INVALID_PARAMETER);
    std::vector<uint8_t> data;
    if (!usb->Request(vk::Writer().u8(vk::OP_USB_WRITE).u8(pipe).bytes(buffer, length).take(), data)) return FALSE;
    vk::Reader r(data);
    *transferred = r.u32();
    return TRUE;
}

}  // namespace

std::vector<VirtualFunction> WinUsbFunctions() {
    return {
        {"WinUsb_Initialize", AsProc(&Initialize)},
        {"WinUsb_Free", AsProc(&Free)},
        {"WinUsb_GetDescriptor", AsProc(&GetDescriptor)},
        {"WinUsb_QueryInterfaceSettings", AsProc(&QueryInterfaceSettings)},
        {"WinUsb_QueryPipe", AsProc(&QueryPipe)},
        {"WinUsb_SetPipePolicy", AsProc(&SetPipePolicy)},
        {"WinUsb_ReadPipe", AsProc(&ReadPipe)},
        {"WinUsb_WritePipe", AsProc(&WritePipe)},
    };
}

}  // namespace Virtual
}  // namespace DevicePlatform
