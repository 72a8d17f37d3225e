#pragma once
// The device handle record of one connected key, shared by all its command
// objects: the open transport and the secure-messaging state.
#include <cstdint>

#include "VemuComm.h"

constexpr uint32_t AUTH_KEY_LENGTH = 16;
constexpr uint32_t AUTH_CODE_LENGTH = 16;
constexpr uint32_t SESSION_KEY_LENGTH = 16;
// Security modes.
constexpr uint8_t APDU_SEC_NONE = 0;
constexpr uint8_t APDU_SEC_ENC = 2;  // a session key is set: 0xB4 commands are encrypted
// Algorithm id before the key's device information has been read.
constexpr uint8_t DEVICE_ALG_UNKNOWN = 0xFF;

class CDeviceInfo {
public:
    CDeviceInfo();
    virtual ~CDeviceInfo();
    CDeviceInfo(const CDeviceInfo&) = delete;
    CDeviceInfo& operator=(const CDeviceInfo&) = delete;

    VEMU_HANDLE m_pTransport;                    // null while no key is open
    uint8_t m_abyAuthCode[AUTH_CODE_LENGTH];     // left by the last PIN verification
    uint32_t m_nAuthCodeLen;                     // 0 or 16
    uint8_t m_abyExtAuthKey[AUTH_KEY_LENGTH];    // the external-authentication key
    uint8_t m_byAlgID;                           // 19: SM algorithms; else the RSA root and that cipher
    uint16_t m_wDevInfo;                         // device-information word
    const void* m_pRootPubKey;                   // built-in root key (SM2 X || Y, or SOFT_RSA_PUBKEY); not owned
    uint8_t m_bySecMode;                         // APDU_SEC_NONE or APDU_SEC_ENC
    uint8_t m_abySessionKey[SESSION_KEY_LENGTH];
    uint32_t m_nSessionKeyLen;                   // 0 or 16
    uint8_t m_abyCounter[2];                     // as the key sent them; never computed on
};

typedef CDeviceInfo VM_DEVICE_HANDLE;
