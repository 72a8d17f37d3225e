#pragma once
// The WinUSB transport: the key is a USB device with a bulk IN and a bulk
// OUT pipe. A command wrapper and the frame go out, a status wrapper with
// the command's tag comes back, a reply request goes out and the reply
// wrapper and the reply frame come back.
#include <winusb.h>

#include "VemuDriver.h"

class CVemuWinUSB : public CVemuDriver {
public:
    CVemuWinUSB();
    ~CVemuWinUSB() override;

    uint32_t VEmuEnumDevice(WORD vendorId, WORD productId, char* list, DWORD* size) override;
    uint32_t VEmuOpenDevice(const char* devicePath) override;
    uint32_t VEmuCloseDevice() override;
    uint32_t VEmuGetDeviceID(const char* devicePath, WORD* vendorId, WORD* productId) override;
    uint32_t VEmuSendCommand(const BYTE* frame, DWORD frameLen, BYTE* reply, DWORD* replyLen,
                            DWORD timeoutSeconds) override;

    // The open connection, kept in the device handle.
    struct Connection {
        WINUSB_INTERFACE_HANDLE usb;
        HANDLE file;
        UCHAR pipeIn;
        UCHAR pipeOut;
        DWORD tag;
    };

private:
    typedef BOOL(WINAPI* InitializeFn)(HANDLE, PWINUSB_INTERFACE_HANDLE);
    typedef BOOL(WINAPI* FreeFn)(WINUSB_INTERFACE_HANDLE);
    typedef BOOL(WINAPI* GetDescriptorFn)(WINUSB_INTERFACE_HANDLE, UCHAR, UCHAR, USHORT, PUCHAR, ULONG, PULONG);
    typedef BOOL(WINAPI* QueryInterfaceSettingsFn)(WINUSB_INTERFACE_HANDLE, UCHAR, PUSB_INTERFACE_DESCRIPTOR);
    typedef BOOL(WINAPI* QueryPipeFn)(WINUSB_INTERFACE_HANDLE, UCHAR, UCHAR, PWINUSB_PIPE_INFORMATION);
    typedef BOOL(WINAPI* SetPipePolicyFn)(WINUSB_INTERFACE_HANDLE, UCHAR, ULONG, ULONG, PVOID);
    typedef BOOL(WINAPI* ReadPipeFn)(WINUSB_INTERFACE_HANDLE, UCHAR, PUCHAR, ULONG, PULONG, LPOVERLAPPED);
    typedef BOOL(WINAPI* WritePipeFn)(WINUSB_INTERFACE_HANDLE, UCHAR, PUCHAR, ULONG, PULONG, LPOVERLAPPED);

    Connection* Record() const { return static_cast<Connection*>(m_hDevice); }
    // Whole-buffer pipe transfers: 0 or the folded error.
    uint32_t Write(const BYTE* data, DWORD length);
    uint32_t Read(BYTE* data, DWORD length, DWORD* got);

    HMODULE m_hWinUsb;
    InitializeFn m_pfnInitialize;
    FreeFn m_pfnFree;
    GetDescriptorFn m_pfnGetDescriptor;
    QueryInterfaceSettingsFn m_pfnQueryInterfaceSettings;
    QueryPipeFn m_pfnQueryPipe;
    SetPipePolicyFn m_pfnSetPipePolicy;
    ReadPipeFn m_pfnReadPipe;
    WritePipeFn m_pfnWritePipe;
};
