// RC4 from the cryptographic library.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/rc4.h>

#include "SymCipher.h"

int rc4key(rc4_key_st* pKey, const uint8_t key[16]) {
    if (!pKey || !key) return 0;
    RC4_set_key(pKey, 16, key);
    return ALG_OPENSSL_OK;
}

int rc4update(rc4_key_st* pKey, const uint8_t* pIn, uint32_t len, uint8_t* pOut, uint32_t* pOutLen) {
    if (!pKey || !pIn || !pOut || !pOutLen) return 0;
    RC4(pKey, len, pIn, pOut);
    *pOutLen = len;
    return ALG_OPENSSL_OK;
}

int rc4final(rc4_key_st* pKey, uint8_t* pOut, uint32_t* pOutLen) {
    if (!pKey || !pOut || !pOutLen) return 0;
    *pOutLen = 0;
    return ALG_OPENSSL_OK;
}
