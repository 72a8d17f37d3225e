#pragma once
// File commands of the key: the key's application and the data files in it,
// addressed by 16-bit file ids. Reads and writes go in chunks of at most 256
// bytes.
#include <cstdint>

#include "APDU.h"

#define APDU_E_LENGTH_RANGE  0x80070104u  // a length, or offset plus length, past what the command can address
#define APDU_E_BAD_FLAG      0x80070115u  // a flag the command does not know
#define APDU_E_END_OF_FILE   0x80070026u  // a read chunk came back without data while bytes were still wanted

constexpr uint32_t FILE_CHUNK_LEN = 256;
constexpr uint32_t FILE_MAX_LEN = 0x10000;     // bytes a file read or write can address
constexpr uint32_t FILE_INFO_LEN = 20;         // file information (flag 1)
constexpr uint32_t APPLICATION_INFO_LEN = 72;  // the application's name (32), then 40 bytes of information

// Chunk flags of a file write (P1).
constexpr uint8_t FILE_CHUNK_MORE = 0xA0;   // more chunks follow
constexpr uint8_t FILE_CHUNK_LAST = 0xB0;   // the last chunk
constexpr uint8_t FILE_CHUNK_FIRST = 0x01;  // ORed in on the first chunk

class CAPDUFile : public CAPDU {
public:
    explicit CAPDUFile(VM_DEVICE_HANDLE* pDeviceHandle, uint32_t nTimeOut = APDU_TIMEOUT_SECONDS)
        : CAPDU(pDeviceHandle, nTimeOut) {}
    ~CAPDUFile() override {}

    // byFlag 0: the file's size, 2 bytes big-endian; 1: 20 bytes of file
    // information. With a null output or length: only whether the file exists.
    // pnOutLen: in the room at pbyOutBuf, out the bytes received.
    uint32_t GetFileInfo(uint16_t nFileID, uint8_t byFlag, uint8_t* pbyOutBuf, uint32_t* pnOutLen);
    // Writes nInLen bytes (at most 65536, and not past offset 65535) from the offset on.
    uint32_t WriteFile(uint16_t nFileID, uint16_t nOffset, const uint8_t* pbyData, uint32_t nInLen);
    // pnOutlen: in the bytes wanted (same bounds as a write), out the bytes read.
    uint32_t ReadFile(uint16_t nFileID, uint16_t nOffset, uint8_t* pbyOut, uint32_t* pnOutlen);
    uint32_t CreateDataFile(uint16_t nFileID, uint16_t nSize);
    uint32_t DeleteDataFile(uint16_t nFileID);
    // Output room: APPLICATION_INFO_LEN bytes.
    uint32_t OpenApplication(uint8_t* pbyOut, uint32_t* pnOutLen);
};
