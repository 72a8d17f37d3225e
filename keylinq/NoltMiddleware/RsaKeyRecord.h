#pragma once
// The record in which RSA keys cross the operator's interface: three fields
// of 256 bytes, each followed by the length of its contents (host order).
// As a public key (export): modulus, public exponent (4 bytes), nothing;
// its first 520 bytes have the layout of SOFT_RSA_PUBKEY. As a 1024-bit key
// pair (import): the key's import command takes the contents of the first,
// third and second fields, in that order, 512 bytes in all.
#include <cstdint>

constexpr uint32_t RSA_KEY_FIELD_LEN = 256;

struct RSA_KEY_RECORD {
    uint8_t abyFirst[RSA_KEY_FIELD_LEN];
    uint32_t nFirstLen;
    uint8_t abySecond[RSA_KEY_FIELD_LEN];
    uint32_t nSecondLen;
    uint8_t abyThird[RSA_KEY_FIELD_LEN];
    uint32_t nThirdLen;
};

static_assert(sizeof(RSA_KEY_RECORD) == 780, "the RSA key record is 780 bytes");
