#include "APDUKey.h"

#include <cstring>

#include "APDUBuilderData.h"
#include "SoftCrypto.h"

#define TRACE_MODULE L"APDUKey"

namespace {

constexpr uint32_t IMPORT_DATA_CAPACITY = 512;
constexpr uint32_t AGREEMENT_DATA_CAPACITY = 64;
constexpr uint32_t AGREEMENT_KEY_DATA_CAPACITY = 256;
constexpr uint32_t RSA_CHUNK = 256;

}  // namespace

uint32_t CAPDUKey::GenRandom(uint8_t nLen, uint8_t* pbyOut) {
    TRACE_NAME(L"CAPDUKey::GenRandom");
    uint8_t reply[255];
    uint32_t received = nLen;
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x50, 0x00, 0x00));
    Le = nLen;
    const uint32_t hr = SendAPDUCmd(reply, &received);
    if (hr != 0) {
        TRACE_FAIL(L"SendAPDUCmd", L"VM_ERR_OK != hResult", hr);
    } else {
        TRACE_STEP(L"SendAPDUCmd");
        if (pbyOut) std::memcpy(pbyOut, reply, received);
    }
    SecureZeroMemory(reply, sizeof reply);  // random bytes may become key material
    return hr;
}

uint32_t CAPDUKey::GenRsaKeyPair(uint8_t byAlgID, const uint8_t* pbyAuthCode, uint16_t nKeyFID) {
    TRACE_NAME(L"CAPDUKey::GenRsaKeyPair");
    CommandData<24> data;
    PutKeyPrefix(data, pbyAuthCode, nKeyFID).u32(RSA_PUBLIC_EXPONENT);
    APDU_CHECK_FITS(data);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_SECURE, 0x54, byAlgID, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
    return 0;
}

uint32_t CAPDUKey::GenSm2KeyPair(const uint8_t* pbyAuthCode, uint16_t nKeyFID) {
    TRACE_NAME(L"CAPDUKey::GenSm2KeyPair");
    CommandData<KEY_PREFIX_LEN> data;
    PutKeyPrefix(data, pbyAuthCode, nKeyFID);
    APDU_CHECK_FITS(data);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_SECURE, 0x70, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
    return 0;
}

uint32_t CAPDUKey::ExportPublicKey(uint16_t nKeyFID, uint8_t byAlgID, void* pbyKey) {
    TRACE_NAME(L"CAPDUKey::ExportPublicKey");
    CommandData<4> data;
    data.u16(0).u16(nKeyFID);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x88, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    uint32_t modulusLen = 0;
    if (byAlgID == VM_ALG_RSA1024) {
        modulusLen = 128;
    } else if (byAlgID == VM_ALG_RSA2048) {
        modulusLen = 256;
    } else {
        APDU_CHECK(byAlgID != VM_ALG_SM2, L"CHECK byAlgID", L"TRUE", APDU_E_BAD_ALGID);
    }
    Le = uint16_t(modulusLen ? modulusLen + 4 : 64);
    uint8_t reply[260] = {};
    uint32_t received = Le;
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(reply, &received));
    if (!pbyKey) return 0;
    // Fixed lengths whatever was received: bytes not received are zero.
    if (modulusLen) {
        SOFT_RSA_PUBKEY* key = static_cast<SOFT_RSA_PUBKEY*>(pbyKey);
        std::memcpy(key->modulus, reply, modulusLen);
        key->nLen = modulusLen;
        std::memcpy(key->exponent, reply + modulusLen, 4);
        key->eLen = 4;
    } else {
        std::memcpy(pbyKey, reply, 64);
    }
    return 0;
}

uint32_t CAPDUKey::ImportSymKey(uint16_t wAlg, const uint8_t* pbyKey, uint32_t nKeyLen) {
    TRACE_NAME(L"CAPDUKey::ImportSymKey");
    CommandData<IMPORT_DATA_CAPACITY> data;
    APDU_CHECK(nKeyLen > IMPORT_DATA_CAPACITY - 8, L"CHECK nKeyLen", L"nKeyLen > 504", APDU_E_TOO_LONG);
    data.u16(0).u16(0).u16(wAlg).u16(uint16_t(nKeyLen)).bytes(pbyKey, nKeyLen);
    APDU_CHECK_FITS(data);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_SECURE, 0xA2, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
    return 0;
}

uint32_t CAPDUKey::ImportEncSymKey(const uint8_t* pbyAuthCode, uint16_t nKeyFID, const uint8_t* pbyWrapped,
                                   uint32_t nWrappedLen) {
    TRACE_NAME(L"CAPDUKey::ImportEncSymKey");
    CommandData<IMPORT_DATA_CAPACITY> data;
    PutKeyPrefix(data, pbyAuthCode, nKeyFID).bytes(pbyWrapped, nWrappedLen);
    APDU_CHECK_FITS(data);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_SECURE, 0xA0, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
    return 0;
}

uint32_t CAPDUKey::ImportRsaKeyPair(uint8_t byAlgID, const uint8_t* pbyAuthCode, uint16_t nKeyFID,
                                    const uint8_t* pbyKeyBlob, uint8_t bEncrypted) {
    TRACE_NAME(L"CAPDUKey::ImportRsaKeyPair");
    APDU_CHECK(!pbyKeyBlob, L"CHECK pbyKeyBlob", L"NULL == pbyKeyBlob", APDU_E_TOO_LONG);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_SECURE, 0x56, 0x00, 0x00));
    const uint32_t total = byAlgID == VM_ALG_RSA2048 ? RSA2048_KEY_BLOB_LEN : RSA1024_KEY_BLOB_LEN;
    for (uint32_t sent = 0, index = 0; sent < total; ++index) {
        const uint32_t chunk = total - sent < RSA_CHUNK ? total - sent : RSA_CHUNK;
        CommandData<KEY_PREFIX_LEN + RSA_CHUNK> data;
        PutKeyPrefix(data, pbyAuthCode, nKeyFID).bytes(pbyKeyBlob + sent, chunk);
        APDU_CHECK_FITS(data);
        P1 = 0x00;
        P2 = uint8_t(index);
        APDU_STEP(L"SetAPDUData(P1=0x00)", SetAPDUData(data.data(), data.size()));
        APDU_STEP(L"SendAPDUCmd(P1=0x00)", SendAPDUCmd(nullptr, nullptr));
        sent += chunk;
    }
    // Closing command: the algorithm id; P2 says whether the blob is encrypted.
    CommandData<KEY_PREFIX_LEN + 1> closing;
    PutKeyPrefix(closing, pbyAuthCode, nKeyFID).u8(byAlgID);
    APDU_CHECK_FITS(closing);
    P1 = 0x01;
    P2 = bEncrypted ? 0x01 : 0x00;
    APDU_STEP(L"SetAPDUData(P1=0x01)", SetAPDUData(closing.data(), closing.size()));
    APDU_STEP(L"SendAPDUCmd(P1=0x01)", SendAPDUCmd(nullptr, nullptr));
    return 0;
}

uint32_t CAPDUKey::ImportSm2KeyPair(const uint8_t* pbyAuthCode, uint16_t nKeyFID, const uint8_t* pbyBlob,
                                    uint32_t nBlobLen) {
    TRACE_NAME(L"CAPDUKey::ImportSm2KeyPair");
    CommandData<IMPORT_DATA_CAPACITY> data;
    PutKeyPrefix(data, pbyAuthCode, nKeyFID).bytes(pbyBlob, nBlobLen);
    APDU_CHECK_FITS(data);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_SECURE, 0x72, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
    return 0;
}

uint32_t CAPDUKey::GenerateAgreementDataWithECC(uint16_t nKeyFID, uint16_t wAlg, const uint8_t* pbyID,
                                                uint32_t nIDLen, uint8_t* pbyOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"CAPDUKey::GenerateAgreementDataWithECC");
    CommandData<AGREEMENT_DATA_CAPACITY> data;
    APDU_CHECK(nIDLen > AGREEMENT_DATA_CAPACITY - 10, L"CHECK nIDLen", L"nIDLen > 54", APDU_E_TOO_LONG);
    data.u16(0).u16(nKeyFID).u16(wAlg).u32(nIDLen).bytes(pbyID, nIDLen);
    APDU_CHECK_FITS(data);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x82, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    Le = AGREEMENT_REPLY_LEN;
    uint32_t received = AGREEMENT_REPLY_LEN;
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(pbyOut, &received));
    if (pnOutLen) *pnOutLen = received;
    return 0;
}

uint32_t CAPDUKey::GenerateAgreementDataAndKeyWithECC(uint16_t nKeyFID, uint16_t wAlg,
                                                      const uint8_t* pbySponsorPubKey, uint32_t nSponsorPubKeyLen,
                                                      const uint8_t* pbySponsorTmpPubKey,
                                                      uint32_t nSponsorTmpPubKeyLen, const uint8_t* pbySponsorID,
                                                      uint32_t nSponsorIDLen, const uint8_t* pbyID, uint32_t nIDLen,
                                                      uint8_t* pbyOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"CAPDUKey::GenerateAgreementDataAndKeyWithECC");
    CommandData<AGREEMENT_KEY_DATA_CAPACITY> data;
    // Each length is bounded first, so the 32-bit fields cannot wrap.
    APDU_CHECK(nSponsorPubKeyLen > AGREEMENT_KEY_DATA_CAPACITY || nSponsorTmpPubKeyLen > AGREEMENT_KEY_DATA_CAPACITY ||
                   nSponsorIDLen > AGREEMENT_KEY_DATA_CAPACITY || nIDLen > AGREEMENT_KEY_DATA_CAPACITY,
               L"CHECK lengths", L"length > 256", APDU_E_TOO_LONG);
    data.u16(0).u16(nKeyFID).u16(wAlg);
    data.bytes(pbySponsorPubKey, nSponsorPubKeyLen).bytes(pbySponsorTmpPubKey, nSponsorTmpPubKeyLen);
    data.u32(nSponsorIDLen).bytes(pbySponsorID, nSponsorIDLen).u32(nIDLen).bytes(pbyID, nIDLen);
    APDU_CHECK_FITS(data);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x84, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    Le = AGREEMENT_REPLY_LEN;
    uint32_t received = AGREEMENT_REPLY_LEN;
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(pbyOut, &received));
    if (pnOutLen) *pnOutLen = received;
    return 0;
}

uint32_t CAPDUKey::GenerateKeyWithECC(uint16_t nKeyFID, uint32_t nAgreementID, const uint8_t* pbyPubKey,
                                      uint32_t nPubKeyLen, const uint8_t* pbyTmpPubKey, uint32_t nTmpPubKeyLen,
                                      const uint8_t* pbyID, uint32_t nIDLen, uint32_t* pnResult) {
    TRACE_NAME(L"CAPDUKey::GenerateKeyWithECC");
    CommandData<AGREEMENT_KEY_DATA_CAPACITY> data;
    APDU_CHECK(nPubKeyLen > AGREEMENT_KEY_DATA_CAPACITY || nTmpPubKeyLen > AGREEMENT_KEY_DATA_CAPACITY ||
                   nIDLen > AGREEMENT_KEY_DATA_CAPACITY,
               L"CHECK lengths", L"length > 256", APDU_E_TOO_LONG);
    data.u16(0).u16(nKeyFID).u32(nAgreementID);
    data.bytes(pbyPubKey, nPubKeyLen).bytes(pbyTmpPubKey, nTmpPubKeyLen).u32(nIDLen).bytes(pbyID, nIDLen);
    APDU_CHECK_FITS(data);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x86, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    Le = 4;
    uint8_t reply[4] = {};
    uint32_t received = sizeof reply;
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(reply, &received));
    if (pnResult) *pnResult = uint32_t(reply[0]) << 24 | uint32_t(reply[1]) << 16 | uint32_t(reply[2]) << 8 | reply[3];
    return 0;
}

uint32_t CAPDUKey::WriteCert(uint8_t byP1, const uint8_t* pbyAuthCode, uint16_t nCertFID, uint16_t nOffset,
                             const uint8_t* pbyPiece, uint32_t nPieceLen) {
    TRACE_NAME(L"CAPDUKey::WriteCert");
    CommandData<IMPORT_DATA_CAPACITY> data;
    APDU_CHECK(nPieceLen > IMPORT_DATA_CAPACITY - 24, L"CHECK nPieceLen", L"nPieceLen > 488", APDU_E_TOO_LONG);
    data.bytes(pbyAuthCode, AUTH_CODE_LENGTH).u16(0).u16(nCertFID).u16(nOffset).u16(uint16_t(nPieceLen));
    data.bytes(pbyPiece, nPieceLen);
    APDU_CHECK_FITS(data);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_SECURE, 0x4C, byP1, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
    return 0;
}

uint32_t CAPDUKey::ReadCert(uint16_t nCertFID, uint16_t nOffset, uint8_t* pbyOut, uint32_t* pnLen) {
    TRACE_NAME(L"CAPDUKey::ReadCert");
    APDU_CHECK(!pnLen, L"CHECK pnLen", L"NULL == pnLen", APDU_E_TOO_LONG);
    CommandData<6> data;
    data.u16(0).u16(nCertFID).u16(nOffset);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x4E, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    Le = uint16_t(*pnLen);
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(pbyOut, pnLen));
    return 0;
}
