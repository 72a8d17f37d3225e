#pragma once
// The command object: every command to a key is framed, protected by secure
// messaging when its class byte is 0xB4, sent over the key's transport, and
// its reply unprotected and mapped to a result code here.
#include <cstdint>

#include "DeviceInfo.h"

constexpr uint32_t APDU_BUFFER_LEN = 4096;      // largest frame and reply
constexpr uint32_t APDU_SEND_HEADER_LEN = 8;    // CLA INS P1 P2, body length, Le
constexpr uint32_t APDU_RECV_HEADER_LEN = 4;    // SW1 SW2, body length
constexpr uint32_t APDU_TIMEOUT_SECONDS = 180;
constexpr uint8_t APDU_CLA_PLAIN = 0xB0;
constexpr uint8_t APDU_CLA_SECURE = 0xB4;

#define APDU_E_NO_SESSION     0x80070107u  // a 0xB4 command without a session key
#define APDU_E_DOES_NOT_FIT   0x80070103u  // reply data longer than the caller's room
#define APDU_E_OUT_OF_MEMORY  0x8007000Eu  // the data buffer could not be allocated
#define APDU_E_TOO_LONG       0x80070057u  // the frame would exceed 4096 bytes
#define APDU_E_BAD_REPLY      0x8007000Du  // a reply shorter than its header or its counter
#define APDU_STATUS_BASE      0x80000000u  // + SW1SW2 for a status word other than 9000

class CAPDU {
public:
    CAPDU(VM_DEVICE_HANDLE* pDeviceHandle, uint32_t nTimeOut = APDU_TIMEOUT_SECONDS);
    virtual ~CAPDU();
    CAPDU(const CAPDU&) = delete;
    CAPDU& operator=(const CAPDU&) = delete;

    // Starts a new command: Lc and Le 0, no data.
    uint32_t SetAPDUHeader(uint8_t byCLA, uint8_t byINS, uint8_t byP1, uint8_t byP2);
    uint32_t SetAPDUData(const uint8_t* pbyData, uint16_t nLen);
    // pnRecvLen: in the room at pbyRecv, out the reply data length. Either
    // pointer may be null when only the status word counts.
    uint32_t SendAPDUCmd(uint8_t* pbyRecv, uint32_t* pnRecvLen);

    // Secure messaging's two transforms under the record's session key
    // (output room: APDU_BUFFER_LEN).
    uint32_t GetCryptByte(const uint8_t* pbyIn, uint32_t nInLen, uint8_t* pbyOut, uint32_t* pnOutLen);
    uint32_t GetPlainByte(const uint8_t* pbyIn, uint32_t nInLen, uint8_t* pbyOut, uint32_t* pnOutLen);

    VM_DEVICE_HANDLE* m_pDeviceHandle;  // not owned
    uint32_t m_nTimeOut;                // seconds, for the transport
    uint8_t CLA;
    uint8_t INS;
    uint8_t P1;
    uint8_t P2;
    uint16_t Lc;
    uint16_t Le;
    uint8_t* m_pbyData;                 // Lc bytes, owned; null when there is none
};
