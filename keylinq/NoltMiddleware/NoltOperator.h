#pragma once
// The platform operator: the device operator of the key family in use. Its
// PIN exchanges carry the PIN type in the challenge and set up a new session
// key once when the key no longer accepts the current one; its InitSymKey
// makes a handle that runs the cipher on the key for SM1. Every device,
// application and container object derives from it.
#include <cstdint>

#include "DeviceOperator.h"
#include "OperationCallback.h"

// m_nFlashReadLen of the platform operator.
constexpr uint32_t NOLT_FLASH_READ_BLOCK_LEN = 2048;

class CNoltOperator : public CDeviceOperator {
public:
    explicit CNoltOperator(CDeviceContext* pDeviceContext);
    ~CNoltOperator() override;

    // Overrides of the operator's table.
    uint32_t VerifyPIN(uint8_t byPinType, const char* pszPinBuf, uint8_t byPinLen) override;
    uint32_t ChangePIN(uint8_t byPinType, const char* pszOldPin, uint8_t byOldPinLen, const char* pszNewPin,
                       uint8_t byNewPinLen) override;
    uint32_t InitTokenUser(uint8_t byResetFlag, uint8_t* pbyResetBuf, uint32_t* pnResetLen) override;
    uint32_t InitSymKey(uint8_t byAlgID, uint8_t byCryptType, uint8_t byMode, const uint8_t* pbyKey,
                        const uint8_t* pbyIV, CSymKeyHandle** ppSymKey) override;

    // The button-confirmation and PIN-retry wrappers (NoltOperatorConfirm.cpp):
    // non-virtual overloads taking the operation callback and its context.
    // A null callback returns the key's answer as it is.
    using CDeviceOperator::GenerateKeyPair;
    using CDeviceOperator::ImportKeyPair;
    using CDeviceOperator::ImportCert;
    using CDeviceOperator::ImportEncSessionKey;
    // 0x8000F321 (the key waits for its button): callback code 2 or 3.
    uint32_t VerifyPIN(uint8_t byPinType, const char* pszPinBuf, uint8_t byPinLen, SKF_OPERATION_CALLBACK pfnCallback,
                       SKF_CALLBACK_CONTEXT* pstCallbackContext);
    uint32_t ChangePIN(uint8_t byPinType, const char* pszOldPin, uint8_t byOldPinLen, const char* pszNewPin,
                       uint8_t byNewPinLen, SKF_OPERATION_CALLBACK pfnCallback,
                       SKF_CALLBACK_CONTEXT* pstCallbackContext);
    // 0x80006982 (PIN verification lost): CB_INPUT_PIN once, then the
    // operation once more.
    uint32_t GenerateKeyPair(const char* pszContainerName, uint8_t byKeyType, uint8_t byAlgID,
                             SKF_OPERATION_CALLBACK pfnCallback, SKF_CALLBACK_CONTEXT* pstCallbackContext);
    // Always into the exchange key, whatever byKeyType says.
    uint32_t ImportKeyPair(const char* pszContainerName, uint8_t byKeyType, uint8_t byAlgID, const uint8_t* pKeyBuf,
                           uint32_t nKeyLen, const uint8_t* pbyWrappedKey, uint32_t nWrappedLen,
                           SKF_OPERATION_CALLBACK pfnCallback, SKF_CALLBACK_CONTEXT* pstCallbackContext);
    uint32_t ImportCert(const char* pszContainerName, uint8_t byKeyType, const uint8_t* pbyCertBuf, uint32_t nCertLen,
                        SKF_OPERATION_CALLBACK pfnCallback, SKF_CALLBACK_CONTEXT* pstCallbackContext);
    uint32_t ImportEncSessionKey(uint16_t nKeyFID, const uint8_t* pbySymKeyBuf, uint32_t nSymKeyLen,
                                 SKF_OPERATION_CALLBACK pfnCallback, SKF_CALLBACK_CONTEXT* pstCallbackContext);

    // The confirmation worker's loop: repeats the operation that the
    // middleware context describes every 300 ms while the key waits for its
    // button, until the key answers otherwise or the callback reports a
    // cancel or the end of the countdown (then the key's wait is ended).
    static uint32_t WaitPressButton(SKF_CALLBACK_CONTEXT* pstCallbackContext, MIDDLEWARE_CONTEXT* pMiddlewareContext);
    // Ends the key's wait for its button (a PIN-status command, P2 1).
    static uint32_t CancelPressButton(CDeviceContext* pDeviceContext);
};
