#include "APDUContainer.h"

uint32_t CAPDUContainerQuib::EnumAvailableContainer(uint8_t* pbyOut, uint32_t* pnOutLen) {
    return ReadContainerList(L"CAPDUContainerQuib::EnumAvailableContainer", 0x00, pbyOut, pnOutLen);
}
