#pragma once
// The process-wide cached user PIN. Empty at load; the PIN family fills it.
#include <cstdint>

struct SKF_PROTECTED_BLOB {
    uint32_t cbData;  // 0: no PIN cached
    uint8_t* pbData;  // owned by the cache
};

struct SKF_PIN_CACHE {
    uint8_t key[32];  // protection key, drawn anew at every caching
    SKF_PROTECTED_BLOB stEncryptedPIN;
};

extern SKF_PIN_CACHE g_stPIN;

// Every byte zero: no cached PIN, no protection key. Used at load.
void ClearPinCache();
