#pragma once
// The base of the application and container objects: the platform operator
// with the user-PIN cache, the PIN dialog flow and the operation callback
// through which the token operations ask for the user (a silent
// re-verification of the cached PIN, the button confirmation).
#include <cstdint>

#include "NoltOperator.h"
#include "OperationCallback.h"

class CDialogObject : public CNoltOperator {
public:
    explicit CDialogObject(CDeviceContext* pDeviceContext);
    ~CDialogObject() override;

    // Verifies the PIN on the key (with the button confirmation when the
    // key asks for it); a verified user PIN becomes this key's cached PIN.
    uint32_t VerifyAndProtectPIN(uint32_t ulPINType, const char* pszPin, uint32_t nPinLen);
    // Makes the user PIN verified on the key: show 1 through the PIN window,
    // show 0 silently from this key's cached PIN (0x80006982 without one;
    // nothing sent when the key already counts it as verified). A cached PIN
    // that the key refuses is dropped at once.
    uint32_t CheckUserPIN(uint32_t show);
    // The PIN typed into the PIN window; the caller frees it (FreeUserPIN).
    uint32_t GetUserPIN(int32_t nLeftTimes, char** ppszPIN);

    // The callback of the token operations (codes 1 to 4 and 11).
    static uint32_t SKFOperationCallback(uint32_t dwOperationCode, SKF_CALLBACK_CONTEXT* pstCallbackContext,
                                         MIDDLEWARE_CONTEXT* pMiddlewareContext);
    // The confirmation window for codes 2 to 4 with the worker that repeats
    // the operation. A window that cannot be shown ends the key's wait and
    // returns its failure.
    static uint32_t Confirm(uint32_t dwOperationCode, SKF_CALLBACK_CONTEXT* pstCallbackContext,
                            MIDDLEWARE_CONTEXT* pMiddlewareContext);

    // This key's name in the PIN cache.
    const char* PinCacheName() const;
};

// Protects (SM4-CBC, zero IV, PKCS#7 padding, key = the first 16 bytes of
// pbyPIN) and recovers a buffer; the output is allocated with malloc for
// the caller. dwPINSize is not used.
uint32_t CreateProtectData(const uint8_t* pbyDataIn, uint32_t dwDataInSize, const uint8_t* pbyPIN, uint32_t dwPINSize,
                           uint8_t** ppbyDataOut, uint32_t* pdwDataOutSize);
uint32_t AcquireProtectData(const uint8_t* pbyDataIn, uint32_t dwDataInSize, const uint8_t* pbyPIN, uint32_t dwPINSize,
                            uint8_t** ppbyDataOut, uint32_t* pdwDataOutSize);
// Stores the low `length` (1 to 4) bytes of value, most significant first.
uint8_t* CopyReversed(uint8_t* destination, uint32_t length, uint32_t value);
