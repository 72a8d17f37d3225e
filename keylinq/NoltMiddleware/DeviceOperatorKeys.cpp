// The device operator's key operations: random bytes, key-pair generation
// in a container's key file, the wrapped session-key import and the key-pair
// import. Every blob is bounded before anything is sent to the key.
#include <cstring>

#include "APDUKey.h"
#include "AsymKeyObject.h"
#include "DeviceContext.h"
#include "DeviceOperator.h"
#include "DeviceResult.h"
#include "RsaKeyRecord.h"
#include "SoftCrypto.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DeviceOperator"

namespace {

constexpr uint8_t VM_KEY_EXCHANGE = 1;
constexpr uint32_t DEVOP_E_KEY_SPEC = 0x80070116u;
// The key commands carry 512 bytes of data, of which the authorisation
// code, the zero field and the key file id take 20.
constexpr uint32_t KEY_IMPORT_DATA_MAX = 492;

uint32_t RsaBlobLen(uint8_t byAlgID) {
    return byAlgID == VM_ALG_RSA2048 ? RSA2048_KEY_BLOB_LEN : RSA1024_KEY_BLOB_LEN;
}

bool WrappedKeyFits(const uint8_t* pbyWrappedKey, uint32_t nWrappedLen) {
    return !pbyWrappedKey || (nWrappedLen != 0 && nWrappedLen <= KEY_IMPORT_DATA_MAX);
}

// The 512-byte RSA-1024 import blob from a key record: its first, third and
// second fields in that order. False when the record is shorter than its
// structure, a field claims more than its 256 bytes or the three together
// more than the blob.
bool BuildRsa1024Blob(const uint8_t* pKeyBuf, uint32_t nKeyLen, uint8_t blob[RSA1024_KEY_BLOB_LEN]) {
    RSA_KEY_RECORD record;
    if (nKeyLen < sizeof record) return false;
    std::memcpy(&record, pKeyBuf, sizeof record);
    const uint32_t lens[3] = {record.nFirstLen, record.nThirdLen, record.nSecondLen};
    const uint8_t* fields[3] = {record.abyFirst, record.abyThird, record.abySecond};
    uint32_t offset = 0;
    for (int i = 0; i < 3; ++i) {
        if (lens[i] > RSA_KEY_FIELD_LEN || lens[i] > RSA1024_KEY_BLOB_LEN - offset) return false;
        std::memcpy(blob + offset, fields[i], lens[i]);
        offset += lens[i];
    }
    return true;
}

}  // namespace

uint32_t CDeviceOperator::GenerateRandom(uint8_t bySource, uint8_t byLen, uint8_t* pbyRandomData) {
    TRACE_NAME(L"CDeviceOperator::GenerateRandom");
    uint32_t hr = 0;
    CHECK_GOTO(!pbyRandomData, L"CHECK pbyRandomData", DEVOP_E_NULL_POINTER);
    if (bySource == 1) {
        CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
        hr = FoldResult(m_pDeviceContext->GetAPDUKey()->GenRandom(byLen, pbyRandomData));
        CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUKey()->GenRandom", hr);
        TRACE_STEP(L"m_pDeviceContext->GetAPDUKey()->GenRandom");
    } else {
        hr = FoldResult(GenRand(byLen, pbyRandomData, 1));
        CHECK_GOTO(hr != 0, L"GenRand", hr);
        TRACE_STEP(L"GenRand");
    }
exit:
    return hr;
}

uint32_t CDeviceOperator::GenerateKeyPair(const char* pszContainerName, uint8_t byKeyType, uint8_t byAlgID,
                                          CAsymKeyObject** ppKeyObject) {
    TRACE_NAME(L"CDeviceOperator::GenerateKeyPair");
    uint32_t hr = 0;
    uint16_t keyFID = 0;
    const uint8_t* authCode = nullptr;
    CAsymKeyObject* keyObject = nullptr;
    CHECK_GOTO(!pszContainerName, L"CHECK pszContainerName", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = FoldResult(GetContainerInfo(pszContainerName, byKeyType, nullptr, &keyFID, nullptr, 0));
    CHECK_GOTO(hr != 0, L"GetContainerInfo", hr);
    TRACE_STEP(L"GetContainerInfo");
    hr = FoldResult(SetSessionKey(0));
    CHECK_GOTO(hr != 0, L"SetSessionKey", hr);
    TRACE_STEP(L"SetSessionKey");

    authCode = m_pDeviceContext->GetDeviceHandle()->m_abyAuthCode;
    if (byAlgID == VM_ALG_RSA1024 || byAlgID == VM_ALG_RSA2048) {
        hr = FoldResult(m_pDeviceContext->GetAPDUKey()->GenRsaKeyPair(byAlgID, authCode, keyFID));
        CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUKey()->GenRsaKeyPair", hr);
        TRACE_STEP(L"m_pDeviceContext->GetAPDUKey()->GenRsaKeyPair");
    } else if (byAlgID == VM_ALG_SM2) {
        hr = FoldResult(m_pDeviceContext->GetAPDUKey()->GenSm2KeyPair(authCode, keyFID));
        CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUKey()->GenSm2KeyPair", hr);
        TRACE_STEP(L"m_pDeviceContext->GetAPDUKey()->GenSm2KeyPair");
    } else {
        CHECK_GOTO(true, L"CHECK byAlgID", DEVOP_E_ALGORITHM);
    }
    UpdateContainerKeyType(pszContainerName, byKeyType, byAlgID);

    if (ppKeyObject) {
        hr = FoldResult(NewAsymKey(byAlgID, keyFID, &keyObject));
        CHECK_GOTO(hr != 0, L"NewAsymKey", hr);
        TRACE_STEP(L"NewAsymKey");
        *ppKeyObject = keyObject;
    }
exit:
    return hr;
}

uint32_t CDeviceOperator::ImportEncSessionKey(uint16_t nKeyFID, const uint8_t* pbyWrappedKey, uint32_t nWrappedLen) {
    TRACE_NAME(L"CDeviceOperator::ImportEncSessionKey");
    uint32_t hr = 0;
    CHECK_GOTO(!pbyWrappedKey, L"CHECK pbyWrappedKey", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    // What the key command cannot carry is refused before the session set-up.
    CHECK_GOTO(nWrappedLen == 0 || nWrappedLen > KEY_IMPORT_DATA_MAX, L"CHECK nWrappedLen", DEVOP_E_TOO_LONG);
    hr = FoldResult(SetSessionKey(0));
    CHECK_GOTO(hr != 0, L"SetSessionKey", hr);
    TRACE_STEP(L"SetSessionKey");
    hr = FoldResult(m_pDeviceContext->GetAPDUKey()->ImportEncSymKey(m_pDeviceContext->GetDeviceHandle()->m_abyAuthCode,
                                                                    nKeyFID, pbyWrappedKey, nWrappedLen));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUKey()->ImportEncSymKey", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUKey()->ImportEncSymKey");
exit:
    return hr;
}

uint32_t CDeviceOperator::ImportKeyPair(const char* pszContainerName, uint8_t byKeyType, uint8_t byAlgID,
                                        const uint8_t* pKeyBuf, uint32_t nKeyLen, const uint8_t* pbyWrappedKey,
                                        uint32_t nWrappedLen, CAsymKeyObject** ppKeyObject) {
    TRACE_NAME(L"CDeviceOperator::ImportKeyPair");
    uint32_t hr = 0;
    uint16_t keyFID = 0;
    const uint8_t* authCode = nullptr;
    CAsymKeyObject* keyObject = nullptr;
    uint8_t rsa1024Blob[RSA1024_KEY_BLOB_LEN] = {};
    // A wrapped session key turns any RSA import into an encrypted one: the
    // caller's key is then the encrypted blob, never a plain key record.
    const bool rsa = byAlgID == VM_ALG_RSA1024 || byAlgID == VM_ALG_RSA2048;
    const bool encrypted = rsa && pbyWrappedKey;

    CHECK_GOTO(!pszContainerName || !pKeyBuf, L"CHECK pszContainerName", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(byKeyType != VM_KEY_EXCHANGE, L"CHECK byKeyType", DEVOP_E_KEY_SPEC);
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    // Every blob is bounded before the first command.
    if (byAlgID == VM_ALG_RSA1024 && !encrypted) {
        CHECK_GOTO(!BuildRsa1024Blob(pKeyBuf, nKeyLen, rsa1024Blob), L"CHECK RSA_KEY_RECORD", DEVOP_E_TOO_LONG);
    } else if (rsa) {
        CHECK_GOTO(nKeyLen < RsaBlobLen(byAlgID), L"CHECK nKeyLen", DEVOP_E_TOO_LONG);
        CHECK_GOTO(!WrappedKeyFits(pbyWrappedKey, nWrappedLen), L"CHECK nWrappedLen", DEVOP_E_TOO_LONG);
    } else if (byAlgID == VM_ALG_SM2) {
        CHECK_GOTO(nKeyLen == 0 || nKeyLen > KEY_IMPORT_DATA_MAX, L"CHECK nKeyLen", DEVOP_E_TOO_LONG);
    }

    hr = FoldResult(GetContainerInfo(pszContainerName, VM_KEY_EXCHANGE, nullptr, &keyFID, nullptr, 0));
    CHECK_GOTO(hr != 0, L"GetContainerInfo", hr);
    TRACE_STEP(L"GetContainerInfo");
    hr = FoldResult(SetSessionKey(0));
    CHECK_GOTO(hr != 0, L"SetSessionKey", hr);
    TRACE_STEP(L"SetSessionKey");

    authCode = m_pDeviceContext->GetDeviceHandle()->m_abyAuthCode;
    if (rsa) {
        if (encrypted) {
            hr = FoldResult(
                m_pDeviceContext->GetAPDUKey()->ImportEncSymKey(authCode, keyFID, pbyWrappedKey, nWrappedLen));
            CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUKey()->ImportEncSymKey", hr);
            TRACE_STEP(L"m_pDeviceContext->GetAPDUKey()->ImportEncSymKey");
        }
        const uint8_t* blob = byAlgID == VM_ALG_RSA1024 && !encrypted ? rsa1024Blob : pKeyBuf;
        hr = FoldResult(
            m_pDeviceContext->GetAPDUKey()->ImportRsaKeyPair(byAlgID, authCode, keyFID, blob, encrypted ? 1 : 0));
        CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUKey()->ImportRsaKeyPair", hr);
        TRACE_STEP(L"m_pDeviceContext->GetAPDUKey()->ImportRsaKeyPair");
    } else if (byAlgID == VM_ALG_SM2) {
        hr = FoldResult(m_pDeviceContext->GetAPDUKey()->ImportSm2KeyPair(authCode, keyFID, pKeyBuf, nKeyLen));
        CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUKey()->ImportSm2KeyPair", hr);
        TRACE_STEP(L"m_pDeviceContext->GetAPDUKey()->ImportSm2KeyPair");
    } else {
        CHECK_GOTO(true, L"CHECK byAlgID", DEVOP_E_ALGORITHM);
    }
    UpdateContainerKeyType(pszContainerName, VM_KEY_EXCHANGE, byAlgID);

    if (ppKeyObject) {
        hr = FoldResult(NewAsymKey(byAlgID, keyFID, &keyObject));
        CHECK_GOTO(hr != 0, L"NewAsymKey", hr);
        TRACE_STEP(L"NewAsymKey");
        *ppKeyObject = keyObject;
    }
    {
        const uint32_t logResult = RecordVemuLog("ImpKeyP");
        CDeviceContext::TraceInfo(L"%ls - RecordVemuLog [HRESULT:0x%x]", traceFunc_, logResult);
    }
exit:
    return hr;
}
