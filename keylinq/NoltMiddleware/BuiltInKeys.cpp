#include "BuiltInKeys.h"

#include <cstring>

#include "RootPublicKeys.h"

const uint8_t g_abyExternAuthMasterKey[EXTERN_AUTH_MASTER_KEY_LEN] = {
    0x5c, 0x1e, 0x7a, 0x33, 0x09, 0xd4, 0xb6, 0x2f, 0x8e, 0x0a, 0x71, 0xc4, 0xd2, 0x9f, 0x6b, 0x83};

namespace {

SOFT_RSA_PUBKEY MakeRootRSA() {
    SOFT_RSA_PUBKEY key = {};
    std::memcpy(key.modulus, g_abyRootRSAModulus, sizeof g_abyRootRSAModulus);
    key.nLen = sizeof g_abyRootRSAModulus;
    std::memcpy(key.exponent, g_abyRootRSAExponent, sizeof g_abyRootRSAExponent);
    key.eLen = sizeof g_abyRootRSAExponent;
    return key;
}

}  // namespace

const uint8_t* GetRootSM2PublicKey() { return g_abyRootSM2PubKey; }

const SOFT_RSA_PUBKEY* GetRootRSAPublicKey() {
    // Built on first use: no dependence on the order of static initialisation.
    static const SOFT_RSA_PUBKEY key = MakeRootRSA();
    return &key;
}
