#include "APDUChipNolt.h"

#include "APDUBuilderData.h"

#define TRACE_MODULE L"APDUChipNolt"

uint32_t CAPDUChipNolt::WriteFlash(uint32_t nAddress, const uint8_t* pbyPage) {
    TRACE_NAME(L"CAPDUChipNolt::WriteFlash");
    CommandData<4 + FLASH_PAGE_LEN> data;
    data.u32(nAddress).bytes(pbyPage, FLASH_PAGE_LEN);
    APDU_CHECK_FITS(data);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0xE9, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
    return 0;
}

uint32_t CAPDUChipNolt::ReadFlash(uint32_t nAddress, uint8_t* pbyOut) {
    TRACE_NAME(L"CAPDUChipNolt::ReadFlash");
    CommandData<4> data;
    data.u32(nAddress);
    uint32_t received = FLASH_NOLT_READ_LEN;
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0xEA, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    Le = FLASH_NOLT_READ_LEN;
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(pbyOut, &received));
    return 0;
}
