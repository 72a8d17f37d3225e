#pragma once
// Hook of the SM2 core for tests that reproduce the published examples of
// GM/T 0003 (a fixed k). It exists only in the core's test build (library
// sm2core_testseam, compiled with SM2CORE_TEST_SEAM); the release library
// sm2core has neither the function nor the state.
#ifndef SM2CORE_TEST_SEAM
#error "the SM2 core's test hooks exist only in its test build (sm2core_testseam)"
#endif
#include <openssl/bn.h>
#include <openssl/ec.h>

// Makes signature and encryption use k instead of a random value (a draw
// that would have to be repeated fails instead); null restores random k.
void SM2CoreTestFixK(const BIGNUM* k);
