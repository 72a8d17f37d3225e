#pragma once
// The key's transports: one interface for every transport, and the four
// free functions through which the layers above list, open, close and talk
// to a key.
#include <windows.h>

#include <cstdint>

// The key family's USB identity; the vendor id is a build option.
#ifndef KEYLINQ_USB_VENDOR_ID
#define KEYLINQ_USB_VENDOR_ID 0x3A5C
#endif
#define KEYLINQ_USB_PRODUCT_ID 0xF408

// Driver types.
enum VEMU_DRIVER_TYPE : DWORD {
    VEMU_DRIVER_MASS_STORAGE = 1,
    VEMU_DRIVER_HID = 2,
    VEMU_DRIVER_CCID = 3,
    VEMU_DRIVER_WINUSB = 5,
};

// Result codes of the transports.
#define VEMU_E_NULL_HANDLE     (0x80070101u)  // null transport handle
#define VEMU_E_NO_TRANSPORT    (0x80070102u)  // no transport for the type, or an allocation failed
#define VEMU_E_NO_DEVICE       (0x80070111u)  // device list, attributes or handle unavailable
#define VEMU_E_OPEN_FAILED     (0x80070201u)  // CreateFileA failed
#define VEMU_E_SHORT_TRANSFER  (0x80090004u)  // transfer shorter than the report header
#define VEMU_E_INVALID_ARG     (0x80070057u)  // null pointer, or a frame longer than its report
#define VEMU_E_DOES_NOT_FIT    (0x80070103u)  // a reply longer than its report or the caller's room
#define VEMU_E_REPORT_LENGTH   (0x80070032u)  // the device's feature report length is unusable
#define VEMU_E_NO_LIBRARY      (0x80070006u)  // WinSCard.dll or winusb.dll (or one of their functions) unavailable
#define VEMU_E_OUT_OF_MEMORY   (0x8007000Eu)  // a connection record could not be allocated
#define VEMU_E_BAD_ANSWER      (0x8007000Du)  // a CCID answer or WinUSB wrapper that is no answer at all
#define VEMU_E_DEVICE_STATUS   (0x8007001Fu)  // the device ended a pass-through with a SCSI status other than GOOD
#define VEMU_E_NOT_CONNECTED   (0x80070113u)  // no connection to close
#define VEMU_E_STALE_TAG       (0x80070117u)  // a WinUSB status wrapper for another command
#define VEMU_E_PROC_MISSING    (0x800701E7u)  // a function of a loaded system library is missing

// Largest command frame and reply frame of the transports' buffers.
constexpr DWORD VEMU_FRAME_BUFFER_LEN = 2080;

class IVemuComm {
public:
    virtual ~IVemuComm() {}
    // Device path list: ANSI paths, each with its NUL, then one more NUL.
    virtual uint32_t VEmuEnumDevice(WORD vendorId, WORD productId, char* list, DWORD* size) = 0;
    virtual uint32_t VEmuOpenDevice(const char* devicePath) = 0;
    virtual uint32_t VEmuCloseDevice() = 0;
    virtual uint32_t VEmuGetDeviceID(const char* devicePath, WORD* vendorId, WORD* productId) = 0;
    // replyLen: in the room of the reply buffer, out the reply's length.
    virtual uint32_t VEmuSendCommand(const BYTE* frame, DWORD frameLen, BYTE* reply, DWORD* replyLen,
                                    DWORD timeoutSeconds) = 0;
};

// The transport handle handed out by VEmuOpenDevice is the transport itself.
typedef IVemuComm* VEMU_HANDLE;

uint32_t VEmuEnumDevice(DWORD driverType, WORD vendorId, WORD productId, char* list, DWORD* size);
uint32_t VEmuOpenDevice(DWORD driverType, const char* devicePath, VEMU_HANDLE* handle);
uint32_t VEmuCloseDevice(VEMU_HANDLE handle);
uint32_t VEmuSendCommand(VEMU_HANDLE handle, const BYTE* frame, DWORD frameLen, BYTE* reply, DWORD* replyLen,
                        DWORD timeoutSeconds);

// The first four characters of text as a hexadecimal number; 0 when any of
// them is not a hexadecimal digit.
WORD HexWordFromText(const wchar_t* text);

class CVemuDriverManager {
public:
    // A new, closed transport of the type; null for a type without one.
    static IVemuComm* Create(DWORD driverType);
};
