// The device operator's public keys and key objects: the public-key export,
// the key objects of container keys, the SM2 Z value, hashing on the key and
// the host symmetric-handle factory.
#include <cstring>
#include <new>

#include "APDUCrypto.h"
#include "APDUKey.h"
#include "DeviceContext.h"
#include "DeviceOperator.h"
#include "DeviceResult.h"
#include "RSADevObj.h"
#include "RsaKeyRecord.h"
#include "SM2DevObj.h"
#include "SoftCrypto.h"
#include "SymKeyHandle.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DeviceOperator"

namespace {

constexpr uint32_t DEVOP_E_NEW_OBJECT = 0x80070008u;
constexpr uint32_t DEVOP_E_BAD_NAME = 0x80070057u;   // a name that does not fit the record
constexpr uint32_t SM2_PUBKEY_RECORD_LEN = 96;      // X, Y, 32 zero bytes
constexpr uint32_t PUBKEY_WORK_LEN = 1024;
constexpr uint8_t NO_ALGORITHM = 0xFF;
constexpr uint8_t SIGNATURE_KEY = 2;
constexpr uint8_t EXCHANGE_KEY = 1;

uint32_t PublicKeyRecordLen(uint8_t byAlgID) {
    if (byAlgID == VM_ALG_RSA1024 || byAlgID == VM_ALG_RSA2048) return sizeof(RSA_KEY_RECORD);
    return byAlgID == VM_ALG_SM2 ? SM2_PUBKEY_RECORD_LEN : 0;
}

}  // namespace

uint32_t CDeviceOperator::ExportPublicKey(const char* pszContainerName, uint8_t byKeyType, uint8_t* pbyAlgID,
                                          uint8_t* pbyKeyBuf, uint32_t* pnKeySize) {
    TRACE_NAME(L"CDeviceOperator::ExportPublicKey");
    uint32_t hr = 0;
    uint8_t alg = NO_ALGORITHM;
    uint16_t keyFID = 0;
    uint32_t recordLen = 0;
    // The export writes a SOFT_RSA_PUBKEY for RSA keys: the record's first
    // 520 bytes; the rest of the record stays zero.
    union {
        SOFT_RSA_PUBKEY rsa;
        uint8_t bytes[PUBKEY_WORK_LEN];
    } work = {};

    CHECK_GOTO(!pszContainerName || !pbyAlgID || !pnKeySize, L"CHECK pszContainerName", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = FoldResult(GetContainerInfo(pszContainerName, byKeyType, &alg, &keyFID, nullptr, 0));
    if (hr != 0) {
        *pbyAlgID = NO_ALGORITHM;
        *pnKeySize = 0;
        CHECK_GOTO(true, L"GetContainerInfo", hr);
    }
    *pbyAlgID = alg;
    hr = FoldResult(m_pDeviceContext->GetAPDUKey()->ExportPublicKey(keyFID, alg, work.bytes));
    if (hr != 0) {
        *pnKeySize = 0;
        CHECK_GOTO(true, L"m_pDeviceContext->GetAPDUKey()->ExportPublicKey", hr);
    }
    TRACE_STEP(L"m_pDeviceContext->GetAPDUKey()->ExportPublicKey");
    recordLen = PublicKeyRecordLen(alg);
    if (recordLen == 0) {
        *pnKeySize = 0;
        CHECK_GOTO(true, L"CHECK byAlgID", DEVOP_E_ALGORITHM);
    }
    if (pbyKeyBuf) {
        if (*pnKeySize < recordLen) {
            *pnKeySize = recordLen;
            CHECK_GOTO(true, L"CHECK *pnKeySize SIZE", DEVOP_E_TOO_SMALL);
        }
        std::memcpy(pbyKeyBuf, work.bytes, recordLen);
    }
    *pnKeySize = recordLen;
exit:
    return hr;
}

uint32_t CDeviceOperator::NewAsymKey(uint8_t byAlgID, uint16_t nKeyFID, CAsymKeyObject** ppKeyCtx) {
    TRACE_NAME(L"CDeviceOperator::NewAsymKey");
    uint32_t hr = 0;
    CAsymKeyObject* pAsymKey = nullptr;
    CHECK_GOTO(!ppKeyCtx, L"CHECK ppKeyCtx", DEVOP_E_NULL_POINTER);
    if (byAlgID == VM_ALG_RSA1024 || byAlgID == VM_ALG_RSA2048) {
        pAsymKey = new (std::nothrow) CRSADevObj();
    } else if (byAlgID == VM_ALG_SM2) {
        pAsymKey = new (std::nothrow) CSM2DevObj();
    } else {
        CHECK_GOTO(true, L"CHECK byAlgID", DEVOP_E_ALGORITHM);
    }
    CHECK_GOTO(NULL == pAsymKey, L"new CAsymKeyObject", DEVOP_E_NEW_OBJECT);
    pAsymKey->SetDevCtx(m_pDeviceContext);
    pAsymKey->SetAlgID(byAlgID);
    pAsymKey->SetKeyFID(nKeyFID);
    *ppKeyCtx = pAsymKey;
exit:
    return hr;
}

uint32_t CDeviceOperator::GetUserKey(const char* pszContainerName, uint8_t byKeyType, uint8_t* pbyAlgID,
                                     CAsymKeyObject** ppKeyObject) {
    TRACE_NAME(L"CDeviceOperator::GetUserKey");
    uint32_t hr = 0;
    uint8_t alg = 0;
    uint16_t keyFID = 0;
    CHECK_GOTO(!pszContainerName || !pbyAlgID || !ppKeyObject, L"CHECK pszContainerName", DEVOP_E_NULL_POINTER);
    hr = FoldResult(GetContainerInfo(pszContainerName, byKeyType, &alg, &keyFID, nullptr, 0));
    if (hr != 0) {
        *pbyAlgID = 0;
        CHECK_GOTO(true, L"GetContainerInfo", hr);
    }
    *pbyAlgID = alg;
    hr = FoldResult(NewAsymKey(alg, keyFID, ppKeyObject));
    CHECK_GOTO(hr != 0, L"NewAsymKey", hr);
    TRACE_STEP(L"NewAsymKey");
exit:
    return hr;
}

uint32_t CDeviceOperator::GetZValue(const char* pszContainerName, uint8_t* pbyZValue) {
    TRACE_NAME(L"CDeviceOperator::GetZValue");
    uint32_t hr = 0;
    CONTAINER_RECORD record = {};
    uint8_t keySpec = 0;
    uint8_t alg = 0;
    uint16_t keyFID = 0;
    uint8_t pubKey[64] = {};
    uint8_t z[32] = {};
    size_t nameLen = 0;

    CHECK_GOTO(!pszContainerName || !pbyZValue, L"CHECK pszContainerName", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    nameLen = strnlen(pszContainerName, CONTAINER_NAME_FIELD_LEN);
    CHECK_GOTO(nameLen >= CONTAINER_NAME_FIELD_LEN, L"CHECK pszContainerName", DEVOP_E_BAD_NAME);
    std::memcpy(record.szName, pszContainerName, nameLen);
    hr = FoldResult(ReadContainer(&record, 0));
    CHECK_GOTO(hr != 0, L"ReadContainer", hr);
    TRACE_STEP(L"ReadContainer");

    // The signature key when there is one, else the exchange key.
    keySpec = record.header.SignKeyType != 0 ? SIGNATURE_KEY : EXCHANGE_KEY;
    alg = keySpec == SIGNATURE_KEY ? record.header.SignKeyType : record.header.ExKeyType;
    CHECK_GOTO(VM_ALG_SM2 != alg, L"CHECK byAlgID", DEVOP_E_ALGORITHM);
    keyFID = uint16_t((record.header.abyFileIDBase[0] << 8) | (record.header.abyFileIDBase[1] | keySpec));
    hr = FoldResult(m_pDeviceContext->GetAPDUKey()->ExportPublicKey(keyFID, VM_ALG_SM2, pubKey));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUKey()->ExportPublicKey", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUKey()->ExportPublicKey");
    hr = FoldResult(SM2_GetZVal(pubKey, z));
    CHECK_GOTO(hr != 0, L"SM2_GetZVal", hr);
    TRACE_STEP(L"SM2_GetZVal");
    std::memcpy(pbyZValue, z, sizeof z);
exit:
    return hr;
}

uint32_t CDeviceOperator::HashInit(uint8_t byHashAlgID, void** ppHashHandle) {
    TRACE_NAME(L"CDeviceOperator::HashInit");
    uint32_t hr = 0;
    CHECK_GOTO(!ppHashHandle, L"CHECK ppHashHandle", DEVOP_E_NULL_POINTER);
    // The hash state lives on the key: there is no host handle to hand out.
    *ppHashHandle = nullptr;
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = FoldResult(m_pDeviceContext->GetAPDUCrypto()->HashInit(byHashAlgID));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUCrypto()->HashInit", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUCrypto()->HashInit");
exit:
    return hr;
}

uint32_t CDeviceOperator::HashUpdate(const uint8_t* pbyDataBuf, uint32_t nDataLen) {
    TRACE_NAME(L"CDeviceOperator::HashUpdate");
    uint32_t hr = 0;
    CHECK_GOTO(!pbyDataBuf, L"CHECK pbyDataBuf", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = FoldResult(m_pDeviceContext->GetAPDUCrypto()->HashUpdate(pbyDataBuf, nDataLen));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUCrypto()->HashUpdate", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUCrypto()->HashUpdate");
exit:
    return hr;
}

uint32_t CDeviceOperator::HashFinal(uint8_t* pbyDigestBuf, uint32_t* pnDigestLen) {
    TRACE_NAME(L"CDeviceOperator::HashFinal");
    uint32_t hr = 0;
    uint8_t digest[SOFT_MAX_DIGEST_BYTES] = {};
    uint32_t digestLen = 0;
    CHECK_GOTO(!pbyDigestBuf || !pnDigestLen, L"CHECK pbyDigestBuf", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = FoldResult(m_pDeviceContext->GetAPDUCrypto()->HashFinal(digest, &digestLen));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUCrypto()->HashFinal", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUCrypto()->HashFinal");
    // The digest is copied only into room that holds it.
    if (*pnDigestLen < digestLen) {
        *pnDigestLen = digestLen;
        CHECK_GOTO(true, L"CHECK *pnDigestLen SIZE", DEVOP_E_TOO_SMALL);
    }
    std::memcpy(pbyDigestBuf, digest, digestLen);
    *pnDigestLen = digestLen;
exit:
    return hr;
}

uint32_t CDeviceOperator::InitSymKey(uint8_t byAlgID, uint8_t byCryptType, uint8_t byMode, const uint8_t* pbyKey,
                                     const uint8_t* pbyIV, CSymKeyHandle** ppSymKey) {
    TRACE_NAME(L"CDeviceOperator::InitSymKey");
    uint32_t hr = FoldResult(CSymKeyHandle::Initialize(byAlgID, byCryptType, byMode, pbyKey, pbyIV, ppSymKey));
    if (hr != 0) TRACE_FAIL(L"CSymKeyHandle::Initialize", L"VM_ERR_OK != hResult", hr);
    return hr;
}
