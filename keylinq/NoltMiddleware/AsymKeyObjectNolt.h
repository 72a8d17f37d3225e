#pragma once
// Signing and decrypting with an on-key key object of the platform, with the
// PIN retry (0x80006982: CB_INPUT_PIN once, then once more) and, for
// signatures, the button confirmation (0x8000F321: CB_SIGN_HASH, the worker
// repeats SignDigest and hands the signature back through the middleware
// context).
#include <cstdint>

#include "OperationCallback.h"

class CAsymKeyObject;

class CAsymKeyObjectNolt {
public:
    // The hash id does not change the signature (callers pass 0xFF for RSA,
    // 18 for SM2). *pnOutLen: in the room at pbyOut, out the length written.
    static uint32_t PrikeySign(CAsymKeyObject* pKey, uint8_t byHashAlgID, const uint8_t* pbyData, uint32_t nDataLen,
                               uint8_t* pbyOut, uint32_t* pnOutLen, SKF_OPERATION_CALLBACK pfnCallback,
                               SKF_CALLBACK_CONTEXT* pstCallbackContext);
    // 0x8000F321 is returned like any other failure; a PIN retry that cannot
    // run or fails gives 0x80006982.
    static uint32_t PrikeyDec(CAsymKeyObject* pKey, const uint8_t* pbyIn, uint32_t nInLen, uint8_t* pbyOut,
                              uint32_t* pnOutLen, SKF_OPERATION_CALLBACK pfnCallback,
                              SKF_CALLBACK_CONTEXT* pstCallbackContext);
};
