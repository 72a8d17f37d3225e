#pragma once
// The chip commands of the key family in use: its own flash commands, which
// write pages of 256 bytes and read blocks of 2048.
#include "APDUChip.h"

constexpr uint32_t FLASH_NOLT_READ_LEN = 2048;

class CAPDUChipNolt : public CAPDUChip {
public:
    explicit CAPDUChipNolt(VM_DEVICE_HANDLE* pDeviceHandle, uint32_t nTimeOut = APDU_TIMEOUT_SECONDS)
        : CAPDUChip(pDeviceHandle, nTimeOut) {}
    ~CAPDUChipNolt() override {}

    uint32_t WriteFlash(uint32_t nAddress, const uint8_t* pbyPage) override;
    // One block of FLASH_NOLT_READ_LEN bytes.
    uint32_t ReadFlash(uint32_t nAddress, uint8_t* pbyOut) override;
};
