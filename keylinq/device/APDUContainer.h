#pragma once
// The container commands of the key: list, create, delete and open the
// key's containers, and the edition's list of available container names.
#include <cstdint>

#include "APDU.h"

constexpr uint32_t CONTAINER_RECORD_LEN = 50;    // one record of the key's list
constexpr uint32_t CONTAINER_LIST_CAPACITY = 256;
constexpr uint32_t CONTAINER_OPEN_REPLY_LEN = 8;  // the open command's part of a record
// Data capacity of the create, delete and open commands.
constexpr uint32_t CONTAINER_NAME_DATA_CAPACITY = 128;

class CAPDUContainer : public CAPDU {
public:
    using CAPDU::CAPDU;
    ~CAPDUContainer() override = default;

    // The key's container records, 50 bytes each: pbyOut holds 256 bytes;
    // *pnOutLen (out) receives the bytes received.
    uint32_t EnumContainer(uint8_t* pbyOut, uint32_t* pnOutLen);
    // Names are NUL-terminated ANSI strings: at most 110 characters for
    // create, 109 for delete and 128 for open (longer ones are refused).
    uint32_t CreateContainer(const uint8_t* pbyAuthCode, const char* pszName);
    uint32_t DeleteContainerByName(const uint8_t* pbyAuthCode, const char* pszName);
    // The first 8 bytes of the container's record, written to the start of
    // pbyRecord; *pnLen (may be null) receives the bytes received.
    uint32_t OpenContainer(const char* pszName, uint8_t* pbyRecord, uint32_t* pnLen);

protected:
    // Command 0x46 with P1 = P2 = p1p2 into a 256-byte working buffer, then
    // to the caller; traced under the calling method's name.
    uint32_t ReadContainerList(const wchar_t* method, uint8_t p1p2, uint8_t* pbyOut, uint32_t* pnOutLen);
};

class CAPDUContainerQuib : public CAPDUContainer {
public:
    using CAPDUContainer::CAPDUContainer;
    ~CAPDUContainerQuib() override = default;

    // The key's list of available container names, passed on unchanged.
    uint32_t EnumAvailableContainer(uint8_t* pbyOut, uint32_t* pnOutLen);
};
