#include "VemuMassStorage.h"

#include <ntddscsi.h>

#include <cstddef>
#include <cstring>

#include "DeviceResult.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"VemuMassStorage"

namespace {

// GUID_DEVINTERFACE_CDROM
const GUID CDROM_INTERFACE = {0x53f56308, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

constexpr UCHAR KEY_CDB[10] = {0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr UCHAR SENSE_LENGTH = 24;
constexpr UCHAR SCSI_GOOD = 0;

// The pass-through request: the structure, 4 bytes of filler, the sense
// bytes; 320 bytes in all, in and out.
struct PassThroughRecord {
    SCSI_PASS_THROUGH_DIRECT sptd;
    ULONG filler;
    UCHAR sense[320 - sizeof(SCSI_PASS_THROUGH_DIRECT) - sizeof(ULONG)];
};
static_assert(sizeof(PassThroughRecord) == 320, "the request record is 320 bytes");

// One pass-through on an overlapped handle: issued with an OVERLAPPED and
// waited for. 0 or the folded error.
uint32_t PassThrough(HANDLE device, PassThroughRecord& record) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!overlapped.hEvent) return FoldedLastError();
    DWORD returned = 0;
    uint32_t hr = 0;
    if (!DevicePlatform::DeviceIoControl(device, IOCTL_SCSI_PASS_THROUGH_DIRECT, &record, sizeof record, &record,
                                         sizeof record, &returned, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING ||
            !DevicePlatform::GetOverlappedResult(device, &overlapped, &returned, TRUE))
            hr = FoldedLastError();
    }
    CloseHandle(overlapped.hEvent);
    return hr;
}

}  // namespace

CVemuMassStorage::CVemuMassStorage() : CVemuDriver(VEMU_DRIVER_MASS_STORAGE) {}

CVemuMassStorage::~CVemuMassStorage() { TraceStepLine(L"CVemuMassStorage", L"Destructor"); }

uint32_t CVemuMassStorage::VEmuEnumDevice(WORD vendorId, WORD productId, char* list, DWORD* size) {
    // Driver type 1: the ids come from each CD-ROM's USB parent.
    return EnumDeviceName(&CDROM_INTERFACE, vendorId, productId, list, size);
}

uint32_t CVemuMassStorage::VEmuOpenDevice(const char* devicePath) {
    TRACE_NAME(L"CVemuMassStorage::VEmuOpenDevice");
    uint32_t hr = 0;
    HANDLE handle = INVALID_HANDLE_VALUE;
    hr = OpenDevice(devicePath, &handle);
    CHECK_GOTO(hr != 0, L"OpenDevice", FoldResult(hr));
    m_hDevice = handle;
exit:
    return hr;
}

uint32_t CVemuMassStorage::VEmuCloseDevice() { return CloseFileHandle(); }

uint32_t CVemuMassStorage::VEmuGetDeviceID(const char* devicePath, WORD* vendorId, WORD* productId) {
    TRACE_NAME(L"CVemuMassStorage::VEmuGetDeviceID");
    uint32_t hr = 0;
    HDEVINFO devices = DevicePlatform::SetupDiGetClassDevsA(&CDROM_INTERFACE, nullptr, nullptr,
                                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    CHECK_GOTO(devices == INVALID_HANDLE_VALUE, L"SetupDiGetClassDevsA", VEMU_E_NO_DEVICE);
    CHECK_GOTO(!devicePath, L"CHECK devicePath", VEMU_E_INVALID_ARG);
    for (DWORD index = 0;; ++index) {
        char path[VEMU_PATH_CHARS];
        SP_DEVINFO_DATA devInfo = {};
        uint32_t result = EnumDeviceInfo(devices, &CDROM_INTERFACE, index, path, &devInfo);
        if (result == uint32_t(ERROR_NO_MORE_ITEMS)) break;
        if (result != 0 || _stricmp(path, devicePath) != 0) continue;
        WORD vid = 0, pid = 0;
        if (InstanceUsbIds(devInfo.DevInst, &vid, &pid)) {
            if (vendorId) *vendorId = vid;
            if (productId) *productId = pid;
        }
        break;
    }
exit:
    if (devices != INVALID_HANDLE_VALUE) DevicePlatform::SetupDiDestroyDeviceInfoList(devices);
    return hr;
}

uint32_t CVemuMassStorage::VEmuSendCommand(const BYTE* frame, DWORD frameLen, BYTE* reply, DWORD* replyLen,
                                          DWORD timeoutSeconds) {
    TRACE_NAME(L"CVemuMassStorage::VEmuSendCommand");
    uint32_t hr = 0;
    BYTE data[VEMU_FRAME_BUFFER_LEN] = {};
    PassThroughRecord record = {};
    DWORD length = 0;

    CHECK_GOTO(m_hDevice == nullptr || m_hDevice == INVALID_HANDLE_VALUE, L"CHECK m_hDevice", VEMU_E_NO_DEVICE);
    CHECK_GOTO(!frame || !reply || !replyLen, L"CHECK arguments", VEMU_E_INVALID_ARG);
    // A frame the data buffer cannot hold is refused before anything is sent.
    CHECK_GOTO(frameLen > sizeof data, L"CHECK frameLen", VEMU_E_INVALID_ARG);
    std::memcpy(data, frame, frameLen);

    record.sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    record.sptd.CdbLength = sizeof KEY_CDB;
    record.sptd.SenseInfoLength = SENSE_LENGTH;
    record.sptd.DataIn = SCSI_IOCTL_DATA_OUT;
    record.sptd.DataTransferLength = frameLen;
    record.sptd.TimeOutValue = timeoutSeconds;
    record.sptd.DataBuffer = data;
    record.sptd.SenseInfoOffset = offsetof(PassThroughRecord, sense);
    std::memcpy(record.sptd.Cdb, KEY_CDB, sizeof KEY_CDB);
    hr = PassThrough(m_hDevice, record);
    CHECK_GOTO(hr != 0, L"DeviceIoControl data out", hr);
    // A command the device did not take must not be answered by an earlier reply.
    CHECK_GOTO(record.sptd.ScsiStatus != SCSI_GOOD, L"CHECK ScsiStatus data out", VEMU_E_DEVICE_STATUS);

    std::memset(data, 0, sizeof data);
    // The driver wrote back how much sense it returned: ask for it again.
    record.sptd.SenseInfoLength = SENSE_LENGTH;
    record.sptd.DataIn = SCSI_IOCTL_DATA_IN;
    record.sptd.DataTransferLength = sizeof data;
    hr = PassThrough(m_hDevice, record);
    CHECK_GOTO(hr != 0, L"DeviceIoControl data in", hr);
    CHECK_GOTO(record.sptd.ScsiStatus != SCSI_GOOD, L"CHECK ScsiStatus data in", VEMU_E_DEVICE_STATUS);

    // More than the data buffer holds, or than the caller's room, is refused, never cut.
    length = record.sptd.DataTransferLength;
    CHECK_GOTO(length > sizeof data, L"CHECK DataTransferLength", VEMU_E_DOES_NOT_FIT);
    CHECK_GOTO(length > *replyLen, L"CHECK *replyLen", VEMU_E_DOES_NOT_FIT);
    std::memcpy(reply, data, length);
    *replyLen = length;
exit:
    return hr;
}
