#pragma once
// The PIN retry shared by the platform operator's wrappers and the key
// objects' signing: an operation that the key refuses with 0x80006982 (the
// user's PIN verification is gone) runs once more after the callback has
// verified the cached PIN (CB_INPUT_PIN). So the PIN is verified at most
// once per call and the operation runs at most twice.
#include "DeviceResult.h"
#include "OperationCallback.h"

template <typename Operation>
uint32_t RunWithPinRetry(Operation operation, SKF_OPERATION_CALLBACK pfnCallback,
                         SKF_CALLBACK_CONTEXT* pstCallbackContext) {
    uint32_t retries = 1;
    for (;;) {
        const uint32_t result = FoldResult(operation());
        if (result != KEY_E_PIN_NOT_VERIFIED || !pfnCallback || retries == 0) return result;
        --retries;
        const uint32_t verified = FoldResult(pfnCallback(CB_INPUT_PIN, pstCallbackContext, nullptr));
        if (verified != 0) return verified;
    }
}
