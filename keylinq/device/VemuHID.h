#pragma once
// The HID transport: the key is a USB HID device whose command frames travel
// in one feature report and whose replies come back in another.
#include "VemuDriver.h"

// Report id byte and the 8-byte frame header: the shortest transfer.
constexpr DWORD BLOCK_BASE_LEN = 9;
// Send and receive buffers of one command.
constexpr DWORD HID_BUFFER_LEN = 2080;
// SW1 of a reply that says the key is still working.
constexpr BYTE HID_BUSY = 0x61;

class CVemuHID : public CVemuDriver {
public:
    CVemuHID();
    ~CVemuHID() override;

    uint32_t VEmuEnumDevice(WORD vendorId, WORD productId, char* list, DWORD* size) override;
    uint32_t VEmuOpenDevice(const char* devicePath) override;
    uint32_t VEmuCloseDevice() override;
    uint32_t VEmuGetDeviceID(const char* devicePath, WORD* vendorId, WORD* productId) override;
    uint32_t VEmuSendCommand(const BYTE* frame, DWORD frameLen, BYTE* reply, DWORD* replyLen,
                            DWORD timeoutSeconds) override;

    // The feature report for a transfer of `length` bytes (report id included).
    uint32_t GetReportIDByLength(DWORD length, BYTE* reportId, WORD* reportLength) const;
    // The same rule for a given feature report length.
    static uint32_t ReportIDForLength(WORD featureLength, DWORD length, BYTE* reportId, WORD* reportLength);
    // Whether a device with this feature report length can be driven without
    // overrunning the send and receive buffers.
    static bool UsableFeatureLength(WORD featureLength);
    // Waits ms milliseconds; below 100 ms by spinning on the performance counter.
    static void HidDelay(DWORD ms);

    WORD FeatureReportLength() const { return m_featureReportLength; }

private:
    WORD m_outputReportLength;
    WORD m_inputReportLength;
    WORD m_featureReportLength;
};
