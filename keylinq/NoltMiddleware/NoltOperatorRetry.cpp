// The platform operator's PIN-retry wrappers: when the key has lost the
// user's PIN verification (0x80006982), the operation callback verifies the
// cached PIN once, silently, and the operation runs once more.
#include "DeviceResult.h"
#include "NoltOperator.h"
#include "PinRetry.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DeviceOperator"

uint32_t CNoltOperator::GenerateKeyPair(const char* pszContainerName, uint8_t byKeyType, uint8_t byAlgID,
                                        SKF_OPERATION_CALLBACK pfnCallback, SKF_CALLBACK_CONTEXT* pstCallbackContext) {
    TRACE_NAME(L"CNoltOperator::GenerateKeyPair");
    if (!pszContainerName) {
        TRACE_FAIL(L"CHECK pszContainerName", L"NULL == pszContainerName", MW_E_NULL_POINTER);
        return MW_E_NULL_POINTER;
    }
    return RunWithPinRetry(
        [&] { return CDeviceOperator::GenerateKeyPair(pszContainerName, byKeyType, byAlgID, nullptr); }, pfnCallback,
        pstCallbackContext);
}

uint32_t CNoltOperator::ImportKeyPair(const char* pszContainerName, uint8_t, uint8_t byAlgID, const uint8_t* pKeyBuf,
                                      uint32_t nKeyLen, const uint8_t* pbyWrappedKey, uint32_t nWrappedLen,
                                      SKF_OPERATION_CALLBACK pfnCallback, SKF_CALLBACK_CONTEXT* pstCallbackContext) {
    TRACE_NAME(L"CNoltOperator::ImportKeyPair");
    if (!pszContainerName || !pKeyBuf) {
        TRACE_FAIL(L"CHECK pszContainerName", L"NULL == pszContainerName || NULL == pKeyBuf", MW_E_NULL_POINTER);
        return MW_E_NULL_POINTER;
    }
    // Only exchange key pairs are imported: the key spec is not passed on.
    return RunWithPinRetry(
        [&] {
            return CDeviceOperator::ImportKeyPair(pszContainerName, 1, byAlgID, pKeyBuf, nKeyLen, pbyWrappedKey,
                                                  nWrappedLen, nullptr);
        },
        pfnCallback, pstCallbackContext);
}

uint32_t CNoltOperator::ImportCert(const char* pszContainerName, uint8_t byKeyType, const uint8_t* pbyCertBuf,
                                   uint32_t nCertLen, SKF_OPERATION_CALLBACK pfnCallback,
                                   SKF_CALLBACK_CONTEXT* pstCallbackContext) {
    TRACE_NAME(L"CNoltOperator::ImportCert");
    if (!pszContainerName || !pbyCertBuf) {
        TRACE_FAIL(L"CHECK pszContainerName", L"NULL == pszContainerName || NULL == pbyCertBuf", MW_E_NULL_POINTER);
        return MW_E_NULL_POINTER;
    }
    return RunWithPinRetry(
        [&] { return CDeviceOperator::ImportCert(pszContainerName, byKeyType, pbyCertBuf, nCertLen); }, pfnCallback,
        pstCallbackContext);
}

uint32_t CNoltOperator::ImportEncSessionKey(uint16_t nKeyFID, const uint8_t* pbySymKeyBuf, uint32_t nSymKeyLen,
                                            SKF_OPERATION_CALLBACK pfnCallback,
                                            SKF_CALLBACK_CONTEXT* pstCallbackContext) {
    TRACE_NAME(L"CNoltOperator::ImportEncSessionKey");
    if (!pbySymKeyBuf) {
        TRACE_FAIL(L"CHECK pbySymKeyBuf", L"NULL == pbySymKeyBuf", MW_E_NULL_POINTER);
        return MW_E_NULL_POINTER;
    }
    return RunWithPinRetry([&] { return CDeviceOperator::ImportEncSessionKey(nKeyFID, pbySymKeyBuf, nSymKeyLen); },
                           pfnCallback, pstCallbackContext);
}
