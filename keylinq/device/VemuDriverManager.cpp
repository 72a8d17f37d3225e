// Transport creation and the four free functions through which the layers
// above reach a key.
#include <new>

#include "DeviceResult.h"
#include "TraceHelper.h"
#include "VemuCCID.h"
#include "VemuHID.h"
#include "VemuMassStorage.h"
#include "VemuWinUSB.h"

#define TRACE_MODULE L"VemuDriverManager"

IVemuComm* CVemuDriverManager::Create(DWORD driverType) {
    TRACE_NAME(L"CVemuDriverManager::Create");
    switch (driverType) {
    case VEMU_DRIVER_MASS_STORAGE:
        return new (std::nothrow) CVemuMassStorage();
    case VEMU_DRIVER_HID:
        return new (std::nothrow) CVemuHID();
    case VEMU_DRIVER_CCID:
        return new (std::nothrow) CVemuCCID();
    case VEMU_DRIVER_WINUSB:
        return new (std::nothrow) CVemuWinUSB();
    default:
        TRACE_FAIL(L"CHECK enumDrvType", L"TRUE", VEMU_E_NO_TRANSPORT);
        return nullptr;
    }
}

uint32_t VEmuEnumDevice(DWORD driverType, WORD /*vendorId*/, WORD productId, char* list, DWORD* size) {
    IVemuComm* transport = CVemuDriverManager::Create(driverType);
    if (!transport) return VEMU_E_NO_TRANSPORT;
    uint32_t hr = transport->VEmuEnumDevice(KEYLINQ_USB_VENDOR_ID, productId, list, size);
    delete transport;
    return FoldResult(hr);
}

uint32_t VEmuOpenDevice(DWORD driverType, const char* devicePath, VEMU_HANDLE* handle) {
    if (!handle) return VEMU_E_INVALID_ARG;
    IVemuComm* transport = CVemuDriverManager::Create(driverType);
    if (!transport) return VEMU_E_NO_TRANSPORT;
    uint32_t hr = transport->VEmuOpenDevice(devicePath);
    if (hr != 0) {
        delete transport;
        return FoldResult(hr);
    }
    *handle = transport;
    return 0;
}

uint32_t VEmuCloseDevice(VEMU_HANDLE handle) {
    if (!handle) return VEMU_E_NULL_HANDLE;
    uint32_t hr = handle->VEmuCloseDevice();
    if (hr != 0) return FoldResult(hr);
    delete handle;
    return 0;
}

uint32_t VEmuSendCommand(VEMU_HANDLE handle, const BYTE* frame, DWORD frameLen, BYTE* reply, DWORD* replyLen,
                        DWORD timeoutSeconds) {
    if (!handle) return VEMU_E_NULL_HANDLE;
    return FoldResult(handle->VEmuSendCommand(frame, frameLen, reply, replyLen, timeoutSeconds));
}
