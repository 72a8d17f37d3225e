// An SM2Cipher whose x1 is below 2^248, so that its minimal DER form carries
// the XCoordinate in 31 bytes (the leading zero byte dropped). Encrypts with
// the SM2 core until such a C1 comes up (about 1 in 512 tries).
#pragma once

#include "OpenSslSm2.h"
#include "sm2_core.h"

inline Bytes Sm2CipherWithShortX(EVP_PKEY* key, const Bytes& message) {
    const EC_KEY* ec = EVP_PKEY_get0_EC_KEY(key);
    BIGNUM* x = BN_new();
    BIGNUM* y = BN_new();
    Bytes raw(97 + message.size());
    bool ok = EC_POINT_get_affine_coordinates(EC_KEY_get0_group(ec), EC_KEY_get0_public_key(ec), x, y, nullptr) == 1;
    while (ok) {
        ok = _SM2_encrypt(SM2_CURVE_NID, message.data(), int(message.size()), x, y, raw.data()) == 1;
        if (ok && raw[1] == 0 && raw[2] < 0x80) break;
    }
    BN_free(x);
    BN_free(y);
    return ok ? Sm2RawToDer(raw) : Bytes();
}
