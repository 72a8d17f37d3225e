#pragma once
// Certaide's SM2 inside OpenSSL: the EC key method with Certaide's rules
// (sm2_pkey_method.h) and the INTEGER-form EC private-key decoder
// (sm2_key_decoder.h). Call once at start-up, after the library's own
// algorithms and RegisterSMAlgorithms.

namespace smcrypto {

// Once per process, thread-safe; 1 when both are registered, else 0.
int RegisterSM2Hooks();

}  // namespace smcrypto
