// The container's key pairs and signatures: generation and import on the
// key, the public-key export into the GM/T 0016 blobs, RSA and SM2
// signatures with the PIN retry and the button confirmation of the
// operation callback.
#include <cstring>
#include <memory>

#include "APDUKey.h"
#include "AsymKeyObject.h"
#include "AsymKeyObjectNolt.h"
#include "ContainerKeyBlobs.h"
#include "ContainerObject.h"
#include "DeviceContext.h"
#include "RsaKeyRecord.h"
#include "SKFDevice.h"
#include "SarFromResult.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"ContainerObject"

namespace {

constexpr ULONG SGD_SM2 = 0x00020100;
constexpr ULONG SGD_SM2_1 = 0x00020200;
constexpr ULONG SGD_SM2_3 = 0x00020800;
constexpr uint32_t kGenerateRecordLen = 780;
constexpr uint32_t kExportRecordLen = 1024;
constexpr uint8_t kHashNone = 0xFF;
constexpr uint8_t kHashSM3 = 18;
constexpr uint32_t kEccHalf = 32;  // a 256-bit value in its 64-byte field

struct KeyObjectDeleter {
    void operator()(CAsymKeyObject* p) const { delete p; }
};
using KeyObjectPtr = std::unique_ptr<CAsymKeyObject, KeyObjectDeleter>;

}  // namespace

uint32_t SKFFillPublicKeyBlob(uint8_t byAlgID, const uint8_t* pRecord, uint32_t nRsaBits, uint8_t* pBlob) {
    if (byAlgID == VM_ALG_RSA1024 || byAlgID == VM_ALG_RSA2048) {
        RSA_KEY_RECORD record;
        memcpy(&record, pRecord, sizeof record);
        // The whole blob is written: a 1024-bit modulus leaves the rest of
        // its field zero, so that no byte of the caller's reads as key.
        memset(pBlob, 0, RSA_PUBLIC_BLOB_LEN);
        StoreLE32(pBlob + 0, SGD_RSA_ALG);
        StoreLE32(pBlob + 4, nRsaBits);
        const uint32_t modLen = record.nFirstLen <= RSA_KEY_FIELD_LEN ? record.nFirstLen : RSA_KEY_FIELD_LEN;
        memcpy(pBlob + 8, record.abyFirst, modLen);
        const uint32_t expLen = record.nSecondLen <= 4 ? record.nSecondLen : 4;
        memcpy(pBlob + 264, record.abySecond, expLen);
        return 0;
    }
    if (byAlgID == VM_ALG_SM2) {
        memset(pBlob, 0, ECC_PUBLIC_BLOB_LEN);
        StoreLE32(pBlob + 0, 256);
        memcpy(pBlob + 4 + kEccHalf, pRecord, kEccHalf);
        memcpy(pBlob + 68 + kEccHalf, pRecord + kEccHalf, kEccHalf);
        return 0;
    }
    return SAR_KEYINFOTYPEERR;
}

uint32_t CContainerObject::GenerateKeyPair(ULONG ulKeySizeOrAlgId, void* pBlob) {
    TRACE_NAME(L"CContainerObject::GenerateKeyPair");
    uint32_t hr = 0;
    uint8_t alg = 0;
    uint8_t recordAlg = 0;
    const uint8_t keySpec = m_bSingleCert == 1 ? VM_KEY_EXCHANGE : VM_KEY_SIGNATURE;
    uint8_t record[kGenerateRecordLen] = {};
    uint32_t recordLen = sizeof record;
    SKF_CALLBACK_CONTEXT context;
    context.SKFObject = this;
    CHECK_GOTO(!pBlob, L"CHECK pKeyBlob", SAR_INVALIDPARAMERR);
    if (ulKeySizeOrAlgId == 1024)
        alg = VM_ALG_RSA1024;
    else if (ulKeySizeOrAlgId == 2048)
        alg = VM_ALG_RSA2048;
    else if (ulKeySizeOrAlgId == SGD_SM2 || ulKeySizeOrAlgId == SGD_SM2_1 || ulKeySizeOrAlgId == SGD_SM2_3)
        alg = VM_ALG_SM2;
    CHECK_GOTO(alg == 0, L"CHECK ulBits", SAR_INDATAERR);
    CHECK_GOTO(IsDeleted(), L"CHECK m_bDeleted", SAR_CONTAINER_NOT_EXISTS);
    hr = FoldObjectResult(CNoltOperator::GenerateKeyPair(m_szContainerName, keySpec, alg,
                                                         &CDialogObject::SKFOperationCallback, &context));
    CHECK_GOTO(hr != 0, L"CNoltOperator::GenerateKeyPair", hr);
    hr = FoldObjectResult(CDeviceOperator::ExportPublicKey(m_szContainerName, keySpec, &recordAlg, record, &recordLen));
    CHECK_GOTO(hr != 0, L"CDeviceOperator::ExportPublicKey", hr);
    hr = SKFFillPublicKeyBlob(recordAlg, record, alg == VM_ALG_RSA2048 ? 2048 : 1024, static_cast<uint8_t*>(pBlob));
    CHECK_GOTO(hr != 0, L"CHECK byAlgID", hr);
    TRACE_STEP(L"CNoltOperator::GenerateKeyPair");
exit:
    return hr;
}

uint32_t CContainerObject::ImportKeyPair(ULONG ulSymAlgId, BYTE* pbWrappedKey, ULONG ulWrappedKeyLen, ULONG ulBits,
                                         BYTE* pbEncryptedKey, ULONG ulEncryptedKeyLen) {
    TRACE_NAME(L"CContainerObject::ImportKeyPair");
    uint32_t hr = 0;
    uint16_t exchKeyFID = 0;
    uint16_t signKeyFID = 0;
    uint8_t record[SM2_IMPORT_RECORD_MAX] = {};
    uint32_t recordLen = 0;
    SKF_CALLBACK_CONTEXT context;
    context.SKFObject = this;
    CHECK_GOTO(m_bSingleCert == 1, L"CHECK m_bSingleCert", SAR_NOTSUPPORTYETERR);
    CHECK_GOTO(!pbEncryptedKey, L"CHECK pbEncryptedKeyBuf", SAR_INVALIDPARAMERR);
    hr = GetContainerValid(nullptr, &exchKeyFID, nullptr, &signKeyFID, nullptr);
    CHECK_GOTO(hr != 0, L"GetContainerValid", hr);
    CHECK_GOTO(signKeyFID == 0 && exchKeyFID != 0, L"CHECK nExchKeyFID and nSignKeyFID", SAR_KEYUSAGEERR);
    if (ulBits == 256) {
        CHECK_GOTO(ulEncryptedKeyLen != ENVELOPED_BLOB_LEN, L"CHECK ulEncryptedKeyLen", SAR_INDATALENERR);
        hr = SKFBuildSM2ImportRecord(pbEncryptedKey, ulSymAlgId, record, &recordLen);
        CHECK_GOTO(hr != 0, L"CHECK ENVELOPEDKEYBLOB", hr);
        hr = FoldObjectResult(CNoltOperator::ImportKeyPair(m_szContainerName, VM_KEY_EXCHANGE, VM_ALG_SM2, record,
                                                           recordLen, nullptr, 0,
                                                           &CDialogObject::SKFOperationCallback, &context));
        CHECK_GOTO(hr != 0, L"CNoltOperator::ImportKeyPair(SM2)", hr);
    } else if (ulBits == 1024 || ulBits == 2048) {
        CHECK_GOTO(!pbWrappedKey, L"CHECK pbWrappedKeyBuf", SAR_INVALIDPARAMERR);
        hr = FoldObjectResult(CNoltOperator::ImportKeyPair(
            m_szContainerName, VM_KEY_EXCHANGE, ulBits == 1024 ? VM_ALG_RSA1024 : VM_ALG_RSA2048, pbEncryptedKey,
            ulEncryptedKeyLen, pbWrappedKey, ulWrappedKeyLen, &CDialogObject::SKFOperationCallback, &context));
        CHECK_GOTO(hr != 0, L"CNoltOperator::ImportKeyPair(RSA)", hr);
    } else {
        CHECK_GOTO(true, L"CHECK ulBits", SAR_INDATAERR);
    }
    TRACE_STEP(L"CNoltOperator::ImportKeyPair");
exit:
    memset(record, 0, sizeof record);
    return hr;
}

uint32_t CContainerObject::NewSigningKey(bool bRsa, uint32_t* pAlgID, CAsymKeyObject** ppKey) {
    TRACE_NAME(L"CContainerObject::NewSigningKey");
    uint32_t hr = 0;
    uint16_t exchKeyFID = 0;
    uint16_t signKeyFID = 0;
    *ppKey = nullptr;
    hr = GetContainerValid(pAlgID, &exchKeyFID, nullptr, &signKeyFID, nullptr);
    CHECK_GOTO(hr != 0, L"GetContainerValid", hr);
    if (bRsa) {
        CHECK_GOTO(*pAlgID != VM_ALG_RSA1024 && *pAlgID != VM_ALG_RSA2048, L"CHECK ulAlgID", SAR_KEYINFOTYPEERR);
    } else {
        CHECK_GOTO(*pAlgID != VM_ALG_SM2, L"CHECK ulAlgID", SAR_KEYINFOTYPEERR);
    }
    hr = FoldObjectResult(NewAsymKey(uint8_t(*pAlgID), signKeyFID ? signKeyFID : exchKeyFID, ppKey));
    CHECK_GOTO(hr != 0, L"CDeviceOperator::NewAsymKey", hr);
exit:
    return hr;
}

uint32_t CContainerObject::RSASignData(BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature, ULONG* pulSignLen) {
    TRACE_NAME(L"CContainerObject::RSASignData");
    uint32_t hr = 0;
    uint32_t alg = 0;
    uint32_t modLen = 0;
    const ULONG room = *pulSignLen;
    CAsymKeyObject* pRaw = nullptr;
    KeyObjectPtr key;
    SKF_CALLBACK_CONTEXT context;
    context.SKFObject = this;
    *pulSignLen = 0;
    hr = NewSigningKey(true, &alg, &pRaw);
    key.reset(pRaw);
    CHECK_GOTO(hr != 0, L"NewSigningKey", hr);
    modLen = key->GetOutLen(ASYM_OP_SIGN, ulDataLen);
    *pulSignLen = modLen;
    CHECK_GOTO(modLen < 11 || ulDataLen > modLen - 11, L"CHECK ulInlen", SAR_INDATALENERR);
    if (!pbSignature) {
        TRACE_STEP(L"CHECK pbOutbuf");
        goto exit;
    }
    CHECK_GOTO(room < modLen, L"CHECK *pulOutlen SIZE", SAR_BUFFER_TOO_SMALL);
    {
        uint32_t outLen = modLen;
        hr = FoldObjectResult(CAsymKeyObjectNolt::PrikeySign(key.get(), kHashNone, pbData, ulDataLen, pbSignature,
                                                             &outLen, &CDialogObject::SKFOperationCallback,
                                                             &context));
        CHECK_GOTO(hr != 0, L"pAsymKeyNolt->PrikeySign", hr);
        *pulSignLen = outLen;
    }
    TRACE_STEP(L"pAsymKeyNolt->PrikeySign");
exit:
    return hr;
}

uint32_t CContainerObject::ECCSignData(BYTE* pbData, ULONG ulDataLen, BYTE* pbR, BYTE* pbS) {
    TRACE_NAME(L"CContainerObject::ECCSignData");
    uint32_t hr = 0;
    uint32_t alg = 0;
    uint8_t signature[2 * kEccHalf] = {};
    uint32_t outLen = sizeof signature;
    CAsymKeyObject* pRaw = nullptr;
    KeyObjectPtr key;
    SKF_CALLBACK_CONTEXT context;
    context.SKFObject = this;
    CHECK_GOTO(ulDataLen != kEccHalf, L"CHECK ulInlen", SAR_INDATALENERR);
    hr = NewSigningKey(false, &alg, &pRaw);
    key.reset(pRaw);
    CHECK_GOTO(hr != 0, L"NewSigningKey", hr);
    hr = FoldObjectResult(CAsymKeyObjectNolt::PrikeySign(key.get(), kHashSM3, pbData, kEccHalf, signature, &outLen,
                                                         &CDialogObject::SKFOperationCallback, &context));
    CHECK_GOTO(hr != 0, L"pAsymKeyNolt->PrikeySign", hr);
    // Each value fills the last 32 bytes of its 64-byte field; the leading
    // bytes are cleared so that the field reads as that value.
    memset(pbR, 0, 2 * kEccHalf);
    memset(pbS, 0, 2 * kEccHalf);
    memcpy(pbR + kEccHalf, signature, kEccHalf);
    memcpy(pbS + kEccHalf, signature + kEccHalf, kEccHalf);
    TRACE_STEP(L"pAsymKeyNolt->PrikeySign");
exit:
    return hr;
}

uint32_t CContainerObject::ExportPublicKey(BOOL bSignFlag, BYTE* pbBlob, ULONG* pulBlobLen) {
    TRACE_NAME(L"CContainerObject::ExportPublicKey");
    uint32_t hr = 0;
    uint8_t keySpec = VM_KEY_EXCHANGE;
    uint8_t recordAlg = 0;
    uint8_t record[kExportRecordLen] = {};
    uint32_t recordLen = sizeof record;
    uint32_t blobLen = 0;
    hr = KeySpecOf(bSignFlag, &keySpec);
    CHECK_GOTO(hr != 0, L"KeySpecOf", hr);
    hr = FoldObjectResult(CDeviceOperator::ExportPublicKey(m_szContainerName, keySpec, &recordAlg, record, &recordLen));
    CHECK_GOTO(hr != 0, L"CDeviceOperator::ExportPublicKey", hr);
    if (recordAlg == VM_ALG_RSA1024 || recordAlg == VM_ALG_RSA2048)
        blobLen = RSA_PUBLIC_BLOB_LEN;
    else if (recordAlg == VM_ALG_SM2)
        blobLen = ECC_PUBLIC_BLOB_LEN;
    CHECK_GOTO(blobLen == 0, L"CHECK byAlgID", SAR_KEYINFOTYPEERR);
    if (!pbBlob) {
        *pulBlobLen = blobLen;
        TRACE_STEP(L"CHECK pbBlob");
        goto exit;
    }
    if (*pulBlobLen < blobLen) {
        *pulBlobLen = blobLen;
        CHECK_GOTO(true, L"CHECK *pulBlobLen SIZE", SAR_BUFFER_TOO_SMALL);
    }
    hr = SKFFillPublicKeyBlob(recordAlg, record, recordAlg == VM_ALG_RSA2048 ? 2048 : 1024, pbBlob);
    *pulBlobLen = blobLen;
    TRACE_STEP(L"CDeviceOperator::ExportPublicKey");
exit:
    return hr;
}

uint32_t SKFBuildSM2ImportRecord(const uint8_t* pBlob, uint32_t ulSymAlgId, uint8_t* pRecord, uint32_t* pnLen) {
    // Offsets in the ENVELOPEDKEYBLOB.
    constexpr uint32_t kBits = 8, kPriKey = 12, kPubBits = 76, kPubX = 80, kPubY = 144;
    constexpr uint32_t kCipherX = 208, kCipherY = 272, kHash = 336, kCipherLen = 368, kCipher = 372;
    const uint32_t cipherLen = LoadLE32(pBlob + kCipherLen);
    memset(pRecord, 0, SM2_IMPORT_RECORD_MAX);
    if (LoadLE32(pBlob) == ENVELOPED_VERSION_BARE) {
        if (cipherLen > SM2_IMPORT_RECORD_MAX - SM2_CIPHER_OVERHEAD) return SAR_INDATALENERR;
        pRecord[0] = 0x04;
        memcpy(pRecord + 1, pBlob + kCipherX + kEccHalf, kEccHalf);
        memcpy(pRecord + 33, pBlob + kCipherY + kEccHalf, kEccHalf);
        memcpy(pRecord + 65, pBlob + kCipher, cipherLen);
        memcpy(pRecord + 65 + cipherLen, pBlob + kHash, kEccHalf);
        *pnLen = SM2_CIPHER_OVERHEAD + cipherLen;
        return 0;
    }
    const uint32_t pubBits = LoadLE32(pBlob + kPubBits);
    const uint32_t bits = LoadLE32(pBlob + kBits);
    const uint32_t n = pubBits / 8;
    const uint32_t m = bits / 8;
    if (n > 64 || m > 64 || cipherLen > SM2_IMPORT_RECORD_MAX) return SAR_INDATALENERR;
    const uint32_t total = 120 + cipherLen + 2 * n + m;
    if (total > SM2_IMPORT_RECORD_MAX) return SAR_INDATALENERR;
    uint8_t* p = pRecord;
    StoreBE32(p, 0x00020200);
    StoreBE32(p + 4, ulSymAlgId);
    StoreBE32(p + 8, 256);
    memcpy(p + 12, pBlob + kCipherX + kEccHalf, kEccHalf);
    memcpy(p + 44, pBlob + kCipherY + kEccHalf, kEccHalf);
    memcpy(p + 76, pBlob + kHash, kEccHalf);
    StoreBE32(p + 108, cipherLen);
    memcpy(p + 112, pBlob + kCipher, cipherLen);
    p += 112 + cipherLen;
    StoreBE32(p, pubBits);
    memcpy(p + 4, pBlob + kPubX + 64 - n, n);
    memcpy(p + 4 + n, pBlob + kPubY + 64 - n, n);
    StoreBE32(p + 4 + 2 * n, m);
    memcpy(p + 8 + 2 * n, pBlob + kPriKey + 64 - m, m);
    *pnLen = total;
    return 0;
}

void SKFBuildSM2Cipher(const uint8_t* pCipherBlob, uint32_t nCipherLen, uint8_t* pOut) {
    pOut[0] = 0x04;
    memcpy(pOut + 1, pCipherBlob + kEccHalf, kEccHalf);
    memcpy(pOut + 33, pCipherBlob + 64 + kEccHalf, kEccHalf);
    memcpy(pOut + 65, pCipherBlob + 128, kEccHalf);
    memcpy(pOut + 97, pCipherBlob + 164, nCipherLen);
}
