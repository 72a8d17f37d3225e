#pragma once
// Keys built into the library, the same for every key of the family: the
// external-authentication master key and the root public keys that sign
// each key's authentication key.
#include <cstdint>

#include "SoftCrypto.h"

constexpr uint32_t EXTERN_AUTH_MASTER_KEY_LEN = 16;
extern const uint8_t g_abyExternAuthMasterKey[EXTERN_AUTH_MASTER_KEY_LEN];

// SM2 root public key, X then Y (64 bytes).
const uint8_t* GetRootSM2PublicKey();
// RSA-1024 root public key, exponent 65537.
const SOFT_RSA_PUBKEY* GetRootRSAPublicKey();
