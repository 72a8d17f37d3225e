#include "APDUContainer.h"

#include <cstring>

#include "APDUBuilderData.h"

#define TRACE_MODULE L"APDUContainer"

namespace {

// Name length without its terminator, or a value past the capacity when the
// name has no terminator within it.
size_t NameLength(const char* pszName) {
    size_t n = 0;
    while (n <= CONTAINER_NAME_DATA_CAPACITY && pszName[n]) ++n;
    return n;
}

}  // namespace

uint32_t CAPDUContainer::ReadContainerList(const wchar_t* method, uint8_t p1p2, uint8_t* pbyOut,
                                           uint32_t* pnOutLen) {
    const wchar_t* const traceFunc_ = method;
    static const uint8_t zero[2] = {0, 0};
    uint8_t list[CONTAINER_LIST_CAPACITY];
    uint32_t received = sizeof list;
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x46, p1p2, p1p2));
    APDU_STEP(L"SetAPDUData", SetAPDUData(zero, 2));
    Le = CONTAINER_LIST_CAPACITY;
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(list, &received));
    if (pbyOut) std::memcpy(pbyOut, list, received);
    if (pnOutLen) *pnOutLen = received;
    return 0;
}

uint32_t CAPDUContainer::EnumContainer(uint8_t* pbyOut, uint32_t* pnOutLen) {
    return ReadContainerList(L"CAPDUContainer::EnumContainer", 0x01, pbyOut, pnOutLen);
}

uint32_t CAPDUContainer::CreateContainer(const uint8_t* pbyAuthCode, const char* pszName) {
    TRACE_NAME(L"CAPDUContainer::CreateContainer");
    APDU_CHECK(!pszName, L"CHECK pszName", L"NULL == pszName", APDU_E_TOO_LONG);
    CommandData<CONTAINER_NAME_DATA_CAPACITY> data;
    data.bytes(pbyAuthCode, AUTH_CODE_LENGTH).u16(0).bytes(reinterpret_cast<const uint8_t*>(pszName),
                                                          NameLength(pszName));
    APDU_CHECK_FITS(data);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_SECURE, 0x40, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
    return 0;
}

uint32_t CAPDUContainer::DeleteContainerByName(const uint8_t* pbyAuthCode, const char* pszName) {
    TRACE_NAME(L"CAPDUContainer::DeleteContainerByName");
    APDU_CHECK(!pszName, L"CHECK pszName", L"NULL == pszName", APDU_E_TOO_LONG);
    CommandData<CONTAINER_NAME_DATA_CAPACITY> data;
    data.bytes(pbyAuthCode, AUTH_CODE_LENGTH).u16(0).u8(0xFF).bytes(reinterpret_cast<const uint8_t*>(pszName),
                                                                   NameLength(pszName));
    APDU_CHECK_FITS(data);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_SECURE, 0x48, 0x00, 0x01));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
    return 0;
}

uint32_t CAPDUContainer::OpenContainer(const char* pszName, uint8_t* pbyRecord, uint32_t* pnLen) {
    TRACE_NAME(L"CAPDUContainer::OpenContainer");
    APDU_CHECK(!pszName, L"CHECK pszName", L"NULL == pszName", APDU_E_TOO_LONG);
    CommandData<CONTAINER_NAME_DATA_CAPACITY> data;
    data.bytes(reinterpret_cast<const uint8_t*>(pszName), NameLength(pszName));
    APDU_CHECK_FITS(data);
    uint8_t reply[CONTAINER_OPEN_REPLY_LEN];
    uint32_t received = sizeof reply;
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x4A, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    Le = CONTAINER_OPEN_REPLY_LEN;
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(reply, &received));
    if (pbyRecord) std::memcpy(pbyRecord, reply, received);
    if (pnLen) *pnLen = received;
    return 0;
}
