#include "APDUChip.h"

#include <cstring>

#include "APDUBuilderData.h"
#include "APDUFile.h"

#define TRACE_MODULE L"APDUChip"

namespace {

constexpr uint16_t AUTH_KEY_RSA_REPLY = 260;  // modulus (128), exponent (4), signature (128)
constexpr uint16_t AUTH_KEY_SM2_REPLY = 128;  // X, Y, r, s (32 each)

}  // namespace

uint32_t CAPDUChip::SetTokenLabel(const uint8_t* pbyLabel) {
    TRACE_NAME(L"CAPDUChip::SetTokenLabel");
    APDU_CHECK(!pbyLabel, L"CHECK pbyLabel", L"NULL == pbyLabel", VEMU_E_INVALID_ARG);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x02, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(pbyLabel, TOKEN_LABEL_LEN));
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
    return 0;
}

uint32_t CAPDUChip::SetTokenSN(const uint8_t* pbyTokenSN, uint32_t nTokenSNLen) {
    TRACE_NAME(L"CAPDUChip::SetTokenSN");
    APDU_CHECK(nTokenSNLen > TOKEN_SN_LEN, L"CHECK nTokenSNLen", L"nTokenSNLen > 0x10", APDU_E_LENGTH_RANGE);
    APDU_CHECK(!pbyTokenSN && nTokenSNLen, L"CHECK pbyTokenSN", L"NULL == pbyTokenSN", VEMU_E_INVALID_ARG);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x03, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(pbyTokenSN, uint16_t(nTokenSNLen)));
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
    return 0;
}

uint32_t CAPDUChip::ReadValue(const wchar_t* method, uint8_t byP1, uint16_t nLe, uint8_t* pbyOut,
                              uint32_t* pnOutLen) {
    const wchar_t* const traceFunc_ = method;
    uint32_t received = nLe;
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x04, byP1, 0x00));
    Le = nLe;
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(pbyOut, &received));
    if (pnOutLen) *pnOutLen = pbyOut ? received : 0;
    return 0;
}

uint32_t CAPDUChip::GetDevInfo(uint8_t* pbyDevInfo, uint32_t* pnDevInfoLen) {
    return ReadValue(L"CAPDUChip::GetDevInfo", 0x00, DEVICE_INFO_LEN, pbyDevInfo, pnDevInfoLen);
}

uint32_t CAPDUChip::GetTokenLabel(uint8_t* pbyLabel, uint32_t* pnLabelLen) {
    return ReadValue(L"CAPDUChip::GetTokenLabel", 0x01, TOKEN_LABEL_LEN, pbyLabel, pnLabelLen);
}

uint32_t CAPDUChip::GetTokenSN(uint8_t* pbyTokenSN, uint32_t* pnTokenSNLen) {
    return ReadValue(L"CAPDUChip::GetTokenSN", 0x02, TOKEN_SN_LEN, pbyTokenSN, pnTokenSNLen);
}

uint32_t CAPDUChip::GetChipSN(uint8_t* pbyChipSN, uint32_t* pnChipSNLen) {
    return ReadValue(L"CAPDUChip::GetChipSN", 0x03, CHIP_SN_LEN, pbyChipSN, pnChipSNLen);
}

uint32_t CAPDUChip::ExportAuthKey(uint8_t byAlgID, uint8_t* pbyPubKey, uint8_t* pbySignature) {
    TRACE_NAME(L"CAPDUChip::ExportAuthKey");
    uint8_t reply[AUTH_KEY_RSA_REPLY] = {};
    uint32_t received = sizeof reply;
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x07, 0x00, 0x00));
    const bool rsa = byAlgID == 3 || byAlgID == 4;
    APDU_CHECK(!rsa && byAlgID != 19, L"CHECK byAlgID", L"TRUE", APDU_E_BAD_ALGID);
    Le = rsa ? AUTH_KEY_RSA_REPLY : AUTH_KEY_SM2_REPLY;
    received = Le;
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(reply, &received));
    // Fixed lengths whatever came: bytes not received stay zero.
    const size_t keyLen = rsa ? 132 : 64;
    const size_t sigLen = rsa ? 128 : 64;
    if (pbyPubKey) std::memcpy(pbyPubKey, reply, keyLen);
    if (pbySignature) std::memcpy(pbySignature, reply + keyLen, sigLen);
    return 0;
}

uint32_t CAPDUChip::EraseFlash() {
    TRACE_NAME(L"CAPDUChip::EraseFlash");
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0xE1, 0x00, 0x00));
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
    return 0;
}

uint32_t CAPDUChip::WriteFlash(uint32_t nAddress, const uint8_t* pbyPage) {
    TRACE_NAME(L"CAPDUChip::WriteFlash");
    CommandData<4 + FLASH_PAGE_LEN> data;
    data.u32(nAddress).bytes(pbyPage, FLASH_PAGE_LEN);
    APDU_CHECK_FITS(data);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0xE2, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
    return 0;
}

uint32_t CAPDUChip::ReadFlash(uint32_t nAddress, uint8_t* pbyOut) {
    TRACE_NAME(L"CAPDUChip::ReadFlash");
    CommandData<4> data;
    data.u32(nAddress);
    uint32_t received = FLASH_PAGE_LEN;
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0xE3, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    Le = FLASH_PAGE_LEN;
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(pbyOut, &received));
    return 0;
}
