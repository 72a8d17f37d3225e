#include "APDUFile.h"

#include <cwchar>

#include "APDUBuilderData.h"

#define TRACE_MODULE L"APDUFile"

uint32_t CAPDUFile::GetFileInfo(uint16_t nFileID, uint8_t byFlag, uint8_t* pbyOutBuf, uint32_t* pnOutLen) {
    TRACE_NAME(L"CAPDUFile::GetFileInfo");
    CommandData<4> data;
    data.u16(0).u16(nFileID);
    uint8_t reply[FILE_INFO_LEN] = {};
    uint32_t received = 0;
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x36, byFlag, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    APDU_CHECK(byFlag != 0 && byFlag != 1, L"CHECK byFlag", L"TRUE", APDU_E_BAD_FLAG);
    Le = byFlag == 0 ? 2 : FILE_INFO_LEN;
    received = Le;
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(reply, &received));
    if (!pbyOutBuf || !pnOutLen) {
        // Existence test: the key's success is the answer.
        wchar_t line[TRACE_LINE_CHARS];
        std::swprintf(line, TRACE_LINE_CHARS, L"[%ls] %ls", traceFunc_, L"CHECK pbyOutBuf and pnOutLen");
        LogFailure(0, line);
        return 0;
    }
    APDU_CHECK(*pnOutLen < received, L"CHECK *pnOutLen SIZE", L"*pnOutLen < datalen", APDU_E_DOES_NOT_FIT);
    std::memcpy(pbyOutBuf, reply, received);
    *pnOutLen = received;
    return 0;
}

uint32_t CAPDUFile::WriteFile(uint16_t nFileID, uint16_t nOffset, const uint8_t* pbyData, uint32_t nInLen) {
    TRACE_NAME(L"CAPDUFile::WriteFile");
    APDU_CHECK(nInLen > FILE_MAX_LEN, L"CHECK nInLen", L"nInLen > 0x10000", APDU_E_LENGTH_RANGE);
    // The running offset is 16-bit: a write that would pass the file's last
    // addressable byte is refused rather than wrapped to its start.
    APDU_CHECK(nOffset + nInLen > FILE_MAX_LEN, L"CHECK nOffset + nInLen", L"nOffset + nInLen > 0x10000",
               APDU_E_LENGTH_RANGE);
    APDU_CHECK(!pbyData && nInLen, L"CHECK pbyData", L"NULL == pbyData", VEMU_E_INVALID_ARG);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x3A, 0x00, 0x00));
    uint32_t sent = 0;
    uint16_t offset = nOffset;
    while (sent < nInLen) {
        const uint32_t remaining = nInLen - sent;
        const uint32_t chunk = remaining > FILE_CHUNK_LEN ? FILE_CHUNK_LEN : remaining;
        uint8_t flags = remaining > FILE_CHUNK_LEN ? FILE_CHUNK_MORE : FILE_CHUNK_LAST;
        if (sent == 0) flags |= FILE_CHUNK_FIRST;
        CommandData<8 + FILE_CHUNK_LEN> data;
        data.u16(0).u16(nFileID).u16(offset).u16(uint16_t(chunk)).bytes(pbyData + sent, chunk);
        APDU_CHECK_FITS(data);
        APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x3A, flags, 0x00));
        APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
        APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
        sent += chunk;
        offset = uint16_t(offset + chunk);
    }
    return 0;
}

uint32_t CAPDUFile::ReadFile(uint16_t nFileID, uint16_t nOffset, uint8_t* pbyOut, uint32_t* pnOutlen) {
    TRACE_NAME(L"CAPDUFile::ReadFile");
    APDU_CHECK(!pnOutlen, L"CHECK pnOutlen", L"NULL == pnOutlen", VEMU_E_INVALID_ARG);
    const uint32_t wanted = *pnOutlen;
    *pnOutlen = 0;
    APDU_CHECK(wanted > FILE_MAX_LEN, L"CHECK (*pnOutlen > 0x10000)", L"*pnOutlen > 0x10000", APDU_E_LENGTH_RANGE);
    APDU_CHECK(nOffset + wanted > FILE_MAX_LEN, L"CHECK nOffset + *pnOutlen", L"nOffset + *pnOutlen > 0x10000",
               APDU_E_LENGTH_RANGE);
    APDU_CHECK(!pbyOut && wanted, L"CHECK pbyOut", L"NULL == pbyOut", VEMU_E_INVALID_ARG);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x38, 0x00, 0x00));
    uint32_t received = 0;
    uint16_t offset = nOffset;
    while (received < wanted) {
        CommandData<6> data;
        data.u16(0).u16(nFileID).u16(offset);
        APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
        const uint32_t ask = wanted - received > FILE_CHUNK_LEN ? FILE_CHUNK_LEN : wanted - received;
        Le = uint16_t(ask);
        uint32_t n = ask;
        APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(pbyOut + received, &n));
        // A chunk without data would be asked again for ever.
        APDU_CHECK(n == 0, L"CHECK chunk length", L"0 == datalen", APDU_E_END_OF_FILE);
        received += n;
        *pnOutlen = received;
        offset = uint16_t(offset + n);
    }
    return 0;
}

uint32_t CAPDUFile::CreateDataFile(uint16_t nFileID, uint16_t nSize) {
    TRACE_NAME(L"CAPDUFile::CreateDataFile");
    CommandData<6> data;
    data.u16(0).u16(nFileID).u16(nSize);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x30, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
    return 0;
}

uint32_t CAPDUFile::DeleteDataFile(uint16_t nFileID) {
    TRACE_NAME(L"CAPDUFile::DeleteDataFile");
    CommandData<4> data;
    data.u16(0).u16(nFileID);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x32, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
    return 0;
}

uint32_t CAPDUFile::OpenApplication(uint8_t* pbyOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"CAPDUFile::OpenApplication");
    CommandData<2> data;
    data.u16(0);
    uint32_t received = APPLICATION_INFO_LEN;
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x2A, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    Le = APPLICATION_INFO_LEN;
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(pbyOut, &received));
    if (pnOutLen) *pnOutLen = pbyOut ? received : 0;
    return 0;
}
