#include "DeviceInfo.h"

#include <cstring>

CDeviceInfo::CDeviceInfo()
    : m_pTransport(nullptr),
      m_nAuthCodeLen(0),
      m_byAlgID(DEVICE_ALG_UNKNOWN),
      m_wDevInfo(0),
      m_pRootPubKey(nullptr),
      m_bySecMode(APDU_SEC_NONE),
      m_nSessionKeyLen(0) {
    std::memset(m_abyAuthCode, 0, sizeof m_abyAuthCode);
    std::memset(m_abyExtAuthKey, 0, sizeof m_abyExtAuthKey);
    std::memset(m_abySessionKey, 0, sizeof m_abySessionKey);
    std::memset(m_abyCounter, 0, sizeof m_abyCounter);
}

// The transport is the device context's to close.
CDeviceInfo::~CDeviceInfo() {
    std::memset(m_abySessionKey, 0, sizeof m_abySessionKey);
    std::memset(m_abyExtAuthKey, 0, sizeof m_abyExtAuthKey);
    std::memset(m_abyAuthCode, 0, sizeof m_abyAuthCode);
}
