#pragma once
// Host symmetric key handle. The one-shot functions serve secure messaging,
// the session-key set-up and the external authentication: CBC under an
// all-zero IV with padding, whatever mode and IV the caller names.
#include <cstdint>

class CSymKeyHandle {
public:
    // Output room: inLen + 16. *pOutLen is the length written, 0 after a failure.
    static uint32_t Encrypt(uint8_t AlgID, uint32_t mode, const uint8_t* pKey, const uint8_t* pIV,
                            const uint8_t* pIn, uint32_t inLen, uint8_t* pOut, uint32_t* pOutLen);
    // Output room: inLen. The padding is checked and removed.
    static uint32_t Decrypt(uint8_t AlgID, uint32_t mode, const uint8_t* pKey, const uint8_t* pIV,
                            const uint8_t* pIn, uint32_t inLen, uint8_t* pOut, uint32_t* pOutLen);
};
