// The edition's container class and its two decryption extensions.
#include <cstring>
#include <memory>

#include "APDUKey.h"
#include "AsymKeyObject.h"
#include "AsymKeyObjectNolt.h"
#include "ContainerKeyBlobs.h"
#include "ContainerObject.h"
#include "DeviceContext.h"
#include "SarFromResult.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"ContainerZOPRA"

namespace {
constexpr uint32_t kMaxEccPlain = 128;
constexpr uint32_t kWorkLen = 256;
}  // namespace

CContainerZOPRA::CContainerZOPRA(CDeviceContext* pDeviceContext) : CContainerObject(pDeviceContext) {
    CDeviceContext::TraceInfo(L"CContainerZOPRA: Constructor");
}

CContainerZOPRA::~CContainerZOPRA() { CDeviceContext::TraceInfo(L"CContainerZOPRA: Destructor"); }

// The chosen key decrypts nInLen bytes into pbOut (*pnOutLen: room in, length out).
uint32_t CContainerZOPRA::DecryptKey(uint32_t alg, ULONG ulKeySpec, const uint8_t* pbIn, uint32_t nInLen,
                                     uint8_t* pbOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"CContainerZOPRA::DecryptKey");
    uint32_t hr = 0;
    uint16_t exchKeyFID = 0;
    uint16_t signKeyFID = 0;
    uint16_t keyFID = 0;
    CAsymKeyObject* pKey = nullptr;
    uint8_t work[kWorkLen] = {};
    uint32_t workLen = *pnOutLen;
    SKF_CALLBACK_CONTEXT context;
    context.SKFObject = this;
    hr = GetContainerValid(nullptr, &exchKeyFID, nullptr, &signKeyFID, nullptr);
    CHECK_GOTO(hr != 0, L"GetContainerValid", hr);
    if (ulKeySpec == VM_KEY_SIGNATURE) {
        CHECK_GOTO(signKeyFID == 0, L"CHECK nSignKeyFID", SAR_KEYUSAGEERR);
        keyFID = signKeyFID;
    } else {
        CHECK_GOTO(exchKeyFID == 0, L"CHECK nExchKeyFID", SAR_KEYUSAGEERR);
        keyFID = exchKeyFID;
    }
    hr = FoldObjectResult(NewAsymKey(uint8_t(alg), keyFID, &pKey));
    CHECK_GOTO(hr != 0, L"CDeviceOperator::NewAsymKey", hr);
    hr = FoldObjectResult(CAsymKeyObjectNolt::PrikeyDec(pKey, pbIn, nInLen, work, &workLen,
                                                        &CDialogObject::SKFOperationCallback, &context));
    CHECK_GOTO(hr != 0, L"pAsymKeyNolt->PrikeyDec", hr);
    CHECK_GOTO(workLen > *pnOutLen, L"CHECK returned length", SAR_BUFFER_TOO_SMALL);
    memcpy(pbOut, work, workLen);
    *pnOutLen = workLen;
    TRACE_STEP(L"pAsymKeyNolt->PrikeyDec");
exit:
    delete pKey;
    memset(work, 0, sizeof work);
    return hr;
}

uint32_t CContainerZOPRA::RSADecrypt(BYTE* pbIn, ULONG ulInLen, BYTE* pbOut, ULONG* pulOutLen, ULONG ulKeySpec) {
    TRACE_NAME(L"CContainerZOPRA::RSADecrypt");
    uint32_t hr = 0;
    uint32_t alg = 0;
    uint32_t plainLen = 0;
    const ULONG room = *pulOutLen;
    hr = GetContainerValid(&alg, nullptr, nullptr, nullptr, nullptr);
    if (hr != 0) *pulOutLen = 0;
    CHECK_GOTO(hr != 0, L"GetContainerValid", hr);
    if (alg != VM_ALG_RSA1024 && alg != VM_ALG_RSA2048) *pulOutLen = 0;
    CHECK_GOTO(alg != VM_ALG_RSA1024 && alg != VM_ALG_RSA2048, L"CHECK ulAlgID", SAR_KEYINFOTYPEERR);
    plainLen = alg == VM_ALG_RSA2048 ? 256 : 128;
    *pulOutLen = plainLen;
    CHECK_GOTO(ulInLen != plainLen, L"CHECK ulInputLen", SAR_INDATALENERR);
    if (!pbOut) goto exit;
    CHECK_GOTO(room < plainLen, L"CHECK *pulOutputLen SIZE", SAR_BUFFER_TOO_SMALL);
    {
        uint32_t outLen = plainLen;
        hr = DecryptKey(alg, ulKeySpec, pbIn, ulInLen, pbOut, &outLen);
        CHECK_GOTO(hr != 0, L"DecryptKey", hr);
        *pulOutLen = outLen;
    }
exit:
    return hr;
}

uint32_t CContainerZOPRA::ECCDecrypt(ULONG ulKeySpec, ECCCIPHERBLOB* pCipherText, BYTE* pbData, ULONG* pdwDataLen) {
    TRACE_NAME(L"CContainerZOPRA::ECCDecrypt");
    uint32_t hr = 0;
    uint32_t alg = 0;
    const uint32_t plainLen = pCipherText->CipherLen;
    const ULONG room = *pdwDataLen;
    uint8_t cipher[kMaxEccPlain + SM2_CIPHER_OVERHEAD] = {};
    *pdwDataLen = plainLen;
    CHECK_GOTO(plainLen > kMaxEccPlain, L"CHECK pCipherText->CipherLen SIZE", SAR_INDATALENERR);
    hr = GetContainerValid(&alg, nullptr, nullptr, nullptr, nullptr);
    CHECK_GOTO(hr != 0, L"GetContainerValid", hr);
    CHECK_GOTO(alg != VM_ALG_SM2, L"CHECK ulAlgID", SAR_KEYINFOTYPEERR);
    if (!pbData) goto exit;
    CHECK_GOTO(room < plainLen, L"CHECK *pulPlainTextLen SIZE", SAR_BUFFER_TOO_SMALL);
    SKFBuildSM2Cipher(reinterpret_cast<const uint8_t*>(pCipherText), plainLen, cipher);
    {
        uint32_t outLen = plainLen;
        hr = DecryptKey(alg, ulKeySpec, cipher, plainLen + SM2_CIPHER_OVERHEAD, pbData, &outLen);
        CHECK_GOTO(hr != 0, L"DecryptKey", hr);
        *pdwDataLen = outLen;
    }
exit:
    return hr;
}
