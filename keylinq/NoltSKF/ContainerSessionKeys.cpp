// Session keys brought into the key under the container's private key, or
// agreed by the key with the container's SM2 key: the key keeps the
// session key, and a session-key object drives the key's cipher with it.
#include <cstring>
#include <new>

#include "APDUKey.h"
#include "ContainerKeyBlobs.h"
#include "ContainerObject.h"
#include "DeviceContext.h"
#include "KeyObject.h"
#include "SarFromResult.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"ContainerObject"

namespace {

// What the key's import command carries at most, and the largest cipher of
// an ECCCIPHERBLOB whose C1 C3 C2 form fits it.
constexpr uint32_t kMaxWrappedLen = 492;
constexpr uint32_t kMaxEccCipherLen = kMaxWrappedLen - SM2_CIPHER_OVERHEAD;

// A session key that the key holds can only serve the key's own ciphers:
// the host's triple DES would need the key bytes.
bool CipherOnKey(ULONG ulAlgId) {
    switch (ulAlgId) {
        case 0x00000101:
        case 0x00000102:
        case 0x00000110:
        case 0x00000401:
        case 0x00000402:
        case 0x00000410:
            return true;
        default:
            return false;
    }
}

}  // namespace

uint32_t CContainerObject::ImportSessionKey(ULONG ulAlgId, BYTE* pbWrapedData, ULONG ulWrapedLen, HANDLE* phKey) {
    TRACE_NAME(L"CContainerObject::ImportSessionKey");
    uint32_t hr = 0;
    uint32_t alg = 0;
    uint16_t exchKeyFID = 0;
    uint16_t signKeyFID = 0;
    uint8_t data[kMaxWrappedLen] = {};
    const uint8_t* wrapped = nullptr;
    uint32_t wrappedLen = 0;
    CSymKeyObject* pSymKey = nullptr;
    SKF_CALLBACK_CONTEXT context;
    context.SKFObject = this;
    // Checked before anything reaches the key.
    CHECK_GOTO(!CipherOnKey(ulAlgId), L"CHECK ulAlgId", SAR_NOTSUPPORTYETERR);
    hr = GetContainerValid(&alg, &exchKeyFID, nullptr, &signKeyFID, nullptr);
    CHECK_GOTO(hr != 0, L"GetContainerValid", hr);
    if (alg == VM_ALG_RSA1024 || alg == VM_ALG_RSA2048) {
        CHECK_GOTO(ulWrapedLen > kMaxWrappedLen, L"CHECK ulWrapedLen", SAR_INDATALENERR);
        wrapped = pbWrapedData;
        wrappedLen = ulWrapedLen;
    } else if (alg == VM_ALG_SM2) {
        const uint32_t cipherLen = reinterpret_cast<const ECCCIPHERBLOB*>(pbWrapedData)->CipherLen;
        CHECK_GOTO(cipherLen > kMaxEccCipherLen, L"CHECK CipherLen", SAR_INDATALENERR);
        SKFBuildSM2Cipher(pbWrapedData, cipherLen, data);
        wrapped = data;
        wrappedLen = cipherLen + SM2_CIPHER_OVERHEAD;
    } else {
        CHECK_GOTO(true, L"CHECK ulCtnrAlgID", SAR_KEYINFOTYPEERR);
    }
    pSymKey = new (std::nothrow) CSymKeyObject(m_pDeviceContext);
    CHECK_GOTO(!pSymKey, L"new SKF_SYMKEY_OBJECT", SAR_MEMORYERR);
    hr = FoldObjectResult(CNoltOperator::ImportEncSessionKey(exchKeyFID ? exchKeyFID : signKeyFID, wrapped, wrappedLen,
                                                             &CDialogObject::SKFOperationCallback, &context));
    CHECK_GOTO(hr != 0, L"ImportEncSessionKey", hr);
    hr = pSymKey->SetSymmKey(ulAlgId, nullptr);
    CHECK_GOTO(hr != 0, L"pSymKeyObject->SetSymmKey", hr);
    *phKey = static_cast<CKeyObject*>(pSymKey);
    pSymKey = nullptr;
exit:
    delete pSymKey;
    memset(data, 0, sizeof data);
    return hr;
}

namespace {
constexpr uint32_t kAgreementCommandData = 256;
constexpr uint32_t kAgreementKeyRoom = 4 + 2 * 64;
}  // namespace

uint32_t CContainerObject::AgreementKeyFID(uint16_t* pnKeyFID) {
    TRACE_NAME(L"CContainerObject::AgreementKeyFID");
    uint32_t hr = 0;
    uint16_t exchKeyFID = 0;
    uint16_t signKeyFID = 0;
    CHECK_GOTO(!m_pDeviceContext, L"NULL == pDeviceContext", SAR_INVALIDHANDLEERR);
    CHECK_GOTO(!m_pDeviceContext->GetDeviceHandle(), L"NULL == pDeviceHandle", SAR_INVALIDHANDLEERR);
    CHECK_GOTO(!m_pDeviceContext->GetAPDUKey(), L"NULL == pApduKey", 0x80070101u);
    hr = GetContainerValid(nullptr, &exchKeyFID, nullptr, &signKeyFID, nullptr);
    CHECK_GOTO(hr != 0, L"GetContainerValid", hr);
    *pnKeyFID = exchKeyFID ? exchKeyFID : signKeyFID;
exit:
    return hr;
}

uint32_t CContainerObject::GenerateAgreementDataWithECC(ULONG ulAlgId, ECCPUBLICKEYBLOB* pTempECCPubKeyBlob,
                                                        BYTE* pbID, ULONG ulIDLen, HANDLE* phAgreementHandle) {
    TRACE_NAME(L"CContainerObject::GenerateAgreementDataWithECC");
    uint32_t hr = 0;
    uint16_t keyFID = 0;
    const uint16_t word = SKFAgreementWord(ulAlgId);
    uint8_t reply[AGREEMENT_REPLY_LEN] = {};
    uint32_t replyLen = sizeof reply;
    uint32_t agreementID = 0;
    ECCPUBLICKEYBLOB temp;
    CAgreementObject* pAgreement = nullptr;
    CHECK_GOTO(word == 0, L"CHECK ulAlgId", SAR_INVALIDPARAMERR);
    hr = AgreementKeyFID(&keyFID);
    CHECK_GOTO(hr != 0, L"AgreementKeyFID", hr);
    hr = FoldObjectResult(
        m_pDeviceContext->GetAPDUKey()->GenerateAgreementDataWithECC(keyFID, word, pbID, ulIDLen, reply, &replyLen));
    CHECK_GOTO(hr != 0, L"pApduKey->GenerateAgreementDataWithECC", hr);
    hr = SKFDecodeAgreementReply(reply, replyLen, &temp, &agreementID);
    CHECK_GOTO(hr != 0, L"CHECK reply", hr);
    pAgreement = new (std::nothrow) CAgreementObject(m_pDeviceContext, ulAlgId, keyFID, agreementID);
    CHECK_GOTO(!pAgreement, L"new SKF_AGREEMENT_OBJECT", SAR_MEMORYERR);
    *pTempECCPubKeyBlob = temp;
    *phAgreementHandle = static_cast<CKeyObject*>(pAgreement);
exit:
    return hr;
}

uint32_t CContainerObject::GenerateAgreementDataAndKeyWithECC(ULONG ulAlgId, ECCPUBLICKEYBLOB* pSponsorECCPubKeyBlob,
                                                              ECCPUBLICKEYBLOB* pSponsorTempECCPubKeyBlob,
                                                              ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID,
                                                              ULONG ulIDLen, BYTE* pbSponsorID, ULONG ulSponsorIDLen,
                                                              HANDLE* phKeyHandle) {
    TRACE_NAME(L"CContainerObject::GenerateAgreementDataAndKeyWithECC");
    uint32_t hr = 0;
    uint16_t keyFID = 0;
    const uint16_t word = SKFAgreementWord(ulAlgId);
    uint8_t sponsorKey[kAgreementKeyRoom];
    uint8_t sponsorTempKey[kAgreementKeyRoom];
    uint32_t sponsorKeyLen = 0;
    uint32_t sponsorTempKeyLen = 0;
    uint8_t reply[AGREEMENT_REPLY_LEN] = {};
    uint32_t replyLen = sizeof reply;
    ECCPUBLICKEYBLOB temp;
    CSymKeyObject* pSymKey = nullptr;
    CHECK_GOTO(word == 0, L"CHECK ulAlgId", SAR_INVALIDPARAMERR);
    hr = AgreementKeyFID(&keyFID);
    CHECK_GOTO(hr != 0, L"AgreementKeyFID", hr);
    hr = SKFEncodeAgreementKey(pSponsorECCPubKeyBlob, sponsorKey, &sponsorKeyLen);
    CHECK_GOTO(hr != 0, L"CHECK pSponsorECCPubKeyBlob->BitLen", hr);
    hr = SKFEncodeAgreementKey(pSponsorTempECCPubKeyBlob, sponsorTempKey, &sponsorTempKeyLen);
    CHECK_GOTO(hr != 0, L"CHECK pSponsorTempECCPubKeyBlob->BitLen", hr);
    // The command's data: 0, file id, algorithm word, the two keys and the
    // two IDs with their lengths; IDs that overflow it are refused here.
    CHECK_GOTO(ulIDLen > kAgreementCommandData || ulSponsorIDLen > kAgreementCommandData ||
                   14 + sponsorKeyLen + sponsorTempKeyLen + ulIDLen + ulSponsorIDLen > kAgreementCommandData,
               L"CHECK ulIDLen", SAR_INDATALENERR);
    pSymKey = new (std::nothrow) CSymKeyObject(m_pDeviceContext);
    CHECK_GOTO(!pSymKey, L"new SKF_SYMKEY_OBJECT", SAR_MEMORYERR);
    hr = FoldObjectResult(m_pDeviceContext->GetAPDUKey()->GenerateAgreementDataAndKeyWithECC(
        keyFID, word, sponsorKey, sponsorKeyLen, sponsorTempKey, sponsorTempKeyLen, pbSponsorID, ulSponsorIDLen, pbID,
        ulIDLen, reply, &replyLen));
    CHECK_GOTO(hr != 0, L"pApduKey->GenerateAgreementDataAndKeyWithECC", hr);
    hr = SKFDecodeAgreementReply(reply, replyLen, &temp, nullptr);
    CHECK_GOTO(hr != 0, L"CHECK reply", hr);
    hr = pSymKey->SetSymmKey(ulAlgId, nullptr);
    CHECK_GOTO(hr != 0, L"pSymKeyObject->SetSymmKey", hr);
    *pTempECCPubKeyBlob = temp;
    *phKeyHandle = static_cast<CKeyObject*>(pSymKey);
    pSymKey = nullptr;
exit:
    delete pSymKey;
    return hr;
}
