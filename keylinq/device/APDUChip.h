#pragma once
// Chip commands of the key: token label, serial numbers, device information,
// the key's authentication public key and its flash memory.
#include <cstdint>

#include "APDU.h"

constexpr uint32_t DEVICE_INFO_LEN = 288;
constexpr uint32_t TOKEN_LABEL_LEN = 32;
constexpr uint32_t TOKEN_SN_LEN = 16;
constexpr uint32_t CHIP_SN_LEN = 16;
constexpr uint32_t FLASH_PAGE_LEN = 256;  // bytes written (and read, by this family) per command

class CAPDUChip : public CAPDU {
public:
    explicit CAPDUChip(VM_DEVICE_HANDLE* pDeviceHandle, uint32_t nTimeOut = APDU_TIMEOUT_SECONDS)
        : CAPDU(pDeviceHandle, nTimeOut) {}
    ~CAPDUChip() override {}

    // Always 32 bytes; the caller pads a shorter label with zero bytes.
    uint32_t SetTokenLabel(const uint8_t* pbyLabel);
    uint32_t SetTokenSN(const uint8_t* pbyTokenSN, uint32_t nTokenSNLen);
    // Each copies the reply to the output (room for Le bytes: 288, 32, 16,
    // 16) and its length to the length output when that is not null.
    uint32_t GetDevInfo(uint8_t* pbyDevInfo, uint32_t* pnDevInfoLen);
    uint32_t GetTokenLabel(uint8_t* pbyLabel, uint32_t* pnLabelLen);
    uint32_t GetTokenSN(uint8_t* pbyTokenSN, uint32_t* pnTokenSNLen);
    uint32_t GetChipSN(uint8_t* pbyChipSN, uint32_t* pnChipSNLen);
    // Algorithm 3 or 4: RSA modulus and exponent (132 bytes), signature (128).
    // Algorithm 19: SM2 X || Y (64), signature r || s (64).
    uint32_t ExportAuthKey(uint8_t byAlgID, uint8_t* pbyPubKey, uint8_t* pbySignature);

    uint32_t EraseFlash();
    // One page of FLASH_PAGE_LEN bytes at the flash address.
    virtual uint32_t WriteFlash(uint32_t nAddress, const uint8_t* pbyPage);
    // One block at the flash address: FLASH_PAGE_LEN bytes here.
    virtual uint32_t ReadFlash(uint32_t nAddress, uint8_t* pbyOut);

protected:
    // Plain command without data whose reply goes to the caller's output.
    uint32_t ReadValue(const wchar_t* method, uint8_t byP1, uint16_t nLe, uint8_t* pbyOut, uint32_t* pnOutLen);
};
