#include "VemuHID.h"

#include <cstring>

#include "DeviceResult.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"VemuHID"

namespace {

// Waits after the n-th busy reply (1-based), then about once a second.
DWORD BusyDelay(DWORD busyCount) {
    static const DWORD delays[] = {2, 8, 40, 50, 1000, 100};
    return busyCount >= 1 && busyCount <= 6 ? delays[busyCount - 1] : 1000;
}

// The final steps of the button-wait signatures take the key a second.
bool IsSlowCommand(const BYTE* frame) { return (frame[1] == 0x58 || frame[1] == 0x74) && frame[2] == 3; }

}  // namespace

CVemuHID::CVemuHID()
    : CVemuDriver(VEMU_DRIVER_HID), m_outputReportLength(0), m_inputReportLength(0), m_featureReportLength(0) {}

CVemuHID::~CVemuHID() { TraceStepLine(L"CVemuHID", L"Destructor"); }

uint32_t CVemuHID::VEmuEnumDevice(WORD vendorId, WORD productId, char* list, DWORD* size) {
    GUID hidClass;
    DevicePlatform::HidD_GetHidGuid(&hidClass);
    return EnumDeviceName(&hidClass, vendorId, productId, list, size);
}

uint32_t CVemuHID::VEmuOpenDevice(const char* devicePath) {
    TRACE_NAME(L"CVemuHID::VEmuOpenDevice");
    uint32_t hr = 0;
    HANDLE handle = INVALID_HANDLE_VALUE;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    HIDP_CAPS caps = {};

    hr = OpenDevice(devicePath, &handle);
    CHECK_GOTO(hr != 0, L"OpenDevice", FoldResult(hr));
    CHECK_GOTO(!DevicePlatform::HidD_GetPreparsedData(handle, &preparsed), L"HidD_GetPreparsedData", FoldedLastError());
    CHECK_GOTO(DevicePlatform::HidP_GetCaps(preparsed, &caps) != HIDP_STATUS_SUCCESS, L"HidP_GetCaps", FoldedLastError());
    // A device whose reports would not fit the command buffers is not driven.
    CHECK_GOTO(!UsableFeatureLength(caps.FeatureReportByteLength), L"CHECK FeatureReportByteLength",
               VEMU_E_REPORT_LENGTH);
    m_hDevice = handle;
    handle = INVALID_HANDLE_VALUE;
    m_outputReportLength = caps.OutputReportByteLength;
    m_inputReportLength = caps.InputReportByteLength;
    m_featureReportLength = caps.FeatureReportByteLength;
exit:
    if (preparsed) DevicePlatform::HidD_FreePreparsedData(preparsed);
    if (handle != INVALID_HANDLE_VALUE) DevicePlatform::CloseHandle(handle);
    return hr;
}

uint32_t CVemuHID::VEmuCloseDevice() { return CloseFileHandle(); }

uint32_t CVemuHID::VEmuGetDeviceID(const char* devicePath, WORD* vendorId, WORD* productId) {
    TRACE_NAME(L"CVemuHID::VEmuGetDeviceID");
    uint32_t hr = 0;
    HANDLE handle = INVALID_HANDLE_VALUE;
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof attributes;

    hr = OpenDevice(devicePath, &handle);
    CHECK_GOTO(hr != 0, L"OpenDevice", FoldResult(hr));
    CHECK_GOTO(!DevicePlatform::HidD_GetAttributes(handle, &attributes), L"HidD_GetAttributes", VEMU_E_NO_DEVICE);
    if (vendorId) *vendorId = attributes.VendorID;
    if (productId) *productId = attributes.ProductID;
exit:
    if (handle != INVALID_HANDLE_VALUE) DevicePlatform::CloseHandle(handle);
    return hr;
}

uint32_t CVemuHID::ReportIDForLength(WORD featureLength, DWORD length, BYTE* reportId, WORD* reportLength) {
    if (length < BLOCK_BASE_LEN) return VEMU_E_SHORT_TRANSFER;
    if (!reportId || !reportLength) return VEMU_E_INVALID_ARG;
    if (length <= featureLength) {
        DWORD k = (length + 22) / 32;  // the smallest k with 32k + 9 >= length
        *reportId = BYTE(k + 1);
        *reportLength = WORD(32 * k + 9);
    } else {
        *reportId = featureLength < 330 ? 11 : 12;
        *reportLength = featureLength;
    }
    return 0;
}

uint32_t CVemuHID::GetReportIDByLength(DWORD length, BYTE* reportId, WORD* reportLength) const {
    return ReportIDForLength(m_featureReportLength, length, reportId, reportLength);
}

bool CVemuHID::UsableFeatureLength(WORD featureLength) {
    if (featureLength < BLOCK_BASE_LEN || featureLength > HID_BUFFER_LEN) return false;
    // The longest send report, the one for a transfer of the whole feature
    // length, must fit the buffers too.
    BYTE id;
    WORD longest;
    return ReportIDForLength(featureLength, featureLength, &id, &longest) == 0 && longest <= HID_BUFFER_LEN;
}

void CVemuHID::HidDelay(DWORD ms) {
    if (ms >= 100) {
        Sleep(ms);
        return;
    }
    // Read once per process; a second thread that finds it unset reads the same value.
    static LONGLONG frequency = 0;
    if (frequency == 0) {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        frequency = f.QuadPart;
    }
    LARGE_INTEGER start, now;
    QueryPerformanceCounter(&start);
    const float wanted = float(ms) / 1000.0f;
    do {
        QueryPerformanceCounter(&now);
    } while (float(now.QuadPart - start.QuadPart) / float(frequency) < wanted);
}

uint32_t CVemuHID::VEmuSendCommand(const BYTE* frame, DWORD frameLen, BYTE* reply, DWORD* replyLen,
                                  DWORD timeoutSeconds) {
    TRACE_NAME(L"CVemuHID::VEmuSendCommand");
    uint32_t hr = 0;
    BYTE send[HID_BUFFER_LEN] = {};
    BYTE receive[HID_BUFFER_LEN] = {};
    BYTE reportId = 0;
    WORD reportLength = 0;
    DWORD start = 0;
    DWORD busyCount = 0;

    CHECK_GOTO(m_hDevice == nullptr || m_hDevice == INVALID_HANDLE_VALUE, L"CHECK m_hDevice", VEMU_E_NO_DEVICE);
    CHECK_GOTO(!frame || !reply || !replyLen, L"CHECK arguments", VEMU_E_INVALID_ARG);
    start = GetTickCount();

    hr = GetReportIDByLength(frameLen + 1, &reportId, &reportLength);
    CHECK_GOTO(hr != 0, L"GetReportIDByLength", FoldResult(hr));
    // A frame that its report cannot carry whole is refused, never cut.
    CHECK_GOTO(frameLen > DWORD(reportLength) - 1, L"CHECK frame length", VEMU_E_INVALID_ARG);
    send[0] = reportId;
    std::memcpy(send + 1, frame, frameLen);
    CHECK_GOTO(!DevicePlatform::HidD_SetFeature(m_hDevice, send, reportLength), L"HidD_SetFeature", FoldedLastError());

    HidDelay(IsSlowCommand(frame) ? 1000 : 1);

    hr = GetReportIDByLength(HID_BUFFER_LEN, &reportId, &reportLength);
    CHECK_GOTO(hr != 0, L"GetReportIDByLength", FoldResult(hr));
    receive[0] = reportId;
    for (;;) {
        if (GetTickCount() - start > timeoutSeconds * 1000) {
            // The key stayed busy: a made-up reply with status word 05B4.
            CHECK_GOTO(*replyLen < 4, L"CHECK *replyLen", VEMU_E_DOES_NOT_FIT);
            static const BYTE timedOut[4] = {0x05, 0xB4, 0x00, 0x00};
            std::memcpy(reply, timedOut, 4);
            *replyLen = 4;
            TRACE_STEP(L"Time-out");
            break;
        }
        receive[0] = reportId;
        CHECK_GOTO(!DevicePlatform::HidD_GetFeature(m_hDevice, receive, reportLength), L"HidD_GetFeature",
                   FoldedLastError());
        if (receive[1] != HID_BUSY) {
            DWORD length = (DWORD(receive[3]) << 8 | receive[4]) + 4;
            // A reply that announces more than its report carries, or more
            // than the caller's room, is refused rather than cut.
            CHECK_GOTO(length > DWORD(reportLength) - 1, L"CHECK reply length", VEMU_E_DOES_NOT_FIT);
            CHECK_GOTO(length > *replyLen, L"CHECK *replyLen", VEMU_E_DOES_NOT_FIT);
            std::memcpy(reply, receive + 1, length);
            *replyLen = length;
            break;
        }
        HidDelay(BusyDelay(++busyCount));
    }
exit:
    return hr;
}
