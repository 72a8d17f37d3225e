// Test binding of SCSI pass-through: a mass-storage key's CD-ROM handle
// carries IOCTL_SCSI_PASS_THROUGH_DIRECT to the virtual key, checked as a
// port driver would check it. Every other control code fails with
// ERROR_NOT_SUPPORTED (50), as Wine answers.
#include <winsock2.h>
#include <windows.h>
#include <ntddscsi.h>

#include <algorithm>
#include <cstring>

#include "DevicePlatform.h"
#include "VirtualDevice.h"

namespace DevicePlatform {
namespace {

using namespace Virtual;

constexpr DWORD MAX_TRANSFER = 0x10000;  // the virtual CD-ROM's largest transfer
constexpr UCHAR SCSI_CHECK_CONDITION = 0x02;

bool Fail(DWORD error) {
    SetLastError(error);
    return false;
}

// Complete the request at once; an overlapped caller finds the outcome in
// its OVERLAPPED as after a completed wait.
BOOL Complete(LPOVERLAPPED overlapped, DWORD returned, LPDWORD returnedOut) {
    if (returnedOut) *returnedOut = returned;
    if (overlapped) {
        overlapped->Internal = 0;
        overlapped->InternalHigh = returned;
        if (overlapped->hEvent) SetEvent(overlapped->hEvent);
    }
    return TRUE;
}

}  // namespace

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                     LPOVERLAPPED overlapped) {
    std::shared_ptr<VirtualHandle> h = FindHandle(device, HandleKind::File);
    if (!h) return ::DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
    if (code != IOCTL_SCSI_PASS_THROUGH_DIRECT) return Fail(ERROR_NOT_SUPPORTED);
    // A handle opened for overlapped I/O needs an OVERLAPPED.
    if (h->overlapped && !overlapped) return Fail(ERROR_INVALID_PARAMETER);
    if (!in || !out || inSize < sizeof(SCSI_PASS_THROUGH_DIRECT) || outSize < sizeof(SCSI_PASS_THROUGH_DIRECT))
        return Fail(ERROR_INVALID_PARAMETER);

    SCSI_PASS_THROUGH_DIRECT request;
    std::memcpy(&request, in, sizeof request);
    if (request.Length != sizeof(SCSI_PASS_THROUGH_DIRECT)) return Fail(ERROR_INVALID_PARAMETER);
    if (request.CdbLength == 0 || request.CdbLength > sizeof request.Cdb) return Fail(ERROR_INVALID_PARAMETER);
    if (request.DataIn > SCSI_IOCTL_DATA_UNSPECIFIED) return Fail(ERROR_INVALID_PARAMETER);
    if (request.DataTransferLength > MAX_TRANSFER || (request.DataTransferLength && !request.DataBuffer))
        return Fail(ERROR_INVALID_PARAMETER);
    if (request.SenseInfoLength &&
        (request.SenseInfoOffset < sizeof request || request.SenseInfoOffset + request.SenseInfoLength > outSize))
        return Fail(ERROR_INVALID_PARAMETER);

    vk::Writer message;
    message.u8(vk::OP_SCSI).u16(request.Length).u8(request.CdbLength).u8(request.SenseInfoLength).u8(request.DataIn);
    message.u32(request.DataTransferLength).u32(request.TimeOutValue).u32(request.SenseInfoOffset);
    message.bytes(request.Cdb, request.CdbLength);
    if (request.DataIn == SCSI_IOCTL_DATA_OUT) message.bytes(request.DataBuffer, request.DataTransferLength);
    std::vector<uint8_t> data;
    if (!h->Request(message.take(), data)) return FALSE;

    vk::Reader r(data);
    request.ScsiStatus = r.u8();
    const uint32_t transferred = r.u32();
    std::vector<uint8_t> dataIn = r.rest();
    if (!r.ok()) return Fail(ERROR_INVALID_DATA);
    if (request.DataIn == SCSI_IOCTL_DATA_IN && !dataIn.empty())
        std::memcpy(request.DataBuffer, dataIn.data(), std::min<size_t>(dataIn.size(), request.DataTransferLength));
    // The device's count of the bytes it had: more than asked for is an overrun.
    request.DataTransferLength = transferred;
    DWORD length = sizeof request;
    if (request.ScsiStatus == SCSI_CHECK_CONDITION && request.SenseInfoLength) {
        // Fixed-format sense: ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE.
        UCHAR sense[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00};
        UCHAR n = UCHAR(std::min<size_t>(sizeof sense, request.SenseInfoLength));
        std::memcpy(static_cast<BYTE*>(out) + request.SenseInfoOffset, sense, n);
        request.SenseInfoLength = n;
        length = request.SenseInfoOffset + n;
    } else {
        request.SenseInfoLength = 0;
    }
    std::memcpy(out, &request, sizeof request);
    return Complete(overlapped, length, returned);
}

BOOL GetOverlappedResult(HANDLE device, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait) {
    if (!FindHandle(device, HandleKind::File)) return ::GetOverlappedResult(device, overlapped, transferred, wait);
    if (!overlapped || !transferred) return Fail(ERROR_INVALID_PARAMETER);
    *transferred = DWORD(overlapped->InternalHigh);
    return TRUE;
}

}  // namespace DevicePlatform
