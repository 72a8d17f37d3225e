// DES and triple DES (FIPS 46-3) in ECB and CBC, streaming with padding.
#include <cstring>

#include "BlockStream.h"
#include "DesTables.h"
#include "HashBytes.h"
#include "SymCipher.h"

using namespace softcrypto;
using namespace softcrypto::des;

namespace {

constexpr SpTables SP;
constexpr PermTables PERM;
constexpr uint32_t DES_BLOCK = 8;

// Key schedule for one key; a decryption schedule runs the rounds in reverse.
void MakeSchedule(DES_SCHEDULE* s, const uint8_t key[8], uint32_t direction) {
    const uint64_t k = LoadBE64(key);
    uint32_t c = 0, d = 0;  // 28 bits each, the most significant bit first
    for (int i = 0; i < 28; ++i) {
        c = (c << 1) | static_cast<uint32_t>(Bit64(k, PC1[i]));
        d = (d << 1) | static_cast<uint32_t>(Bit64(k, PC1[i + 28]));
    }
    for (int round = 0; round < 16; ++round) {
        for (int n = 0; n < SHIFTS[round]; ++n) {
            c = ((c << 1) | (c >> 27)) & 0x0fffffffu;
            d = ((d << 1) | (d >> 27)) & 0x0fffffffu;
        }
        const uint64_t cd = (static_cast<uint64_t>(c) << 28) | d;  // bit 1 at shift 55
        uint32_t groups[8] = {};
        for (int j = 0; j < 48; ++j) {
            const uint32_t bit = static_cast<uint32_t>((cd >> (56 - PC2[j])) & 1);
            groups[j / 6] = (groups[j / 6] << 1) | bit;
        }
        const int slot = direction == DES_DECRYPT ? 15 - round : round;
        s->k[slot][0] = (groups[0] << 24) | (groups[2] << 16) | (groups[4] << 8) | groups[6];
        s->k[slot][1] = (groups[1] << 24) | (groups[3] << 16) | (groups[5] << 8) | groups[7];
    }
}

inline uint32_t Feistel(uint32_t r, const uint32_t* k) {
    uint32_t w = ((r >> 4) | (r << 28)) ^ k[0];
    uint32_t f = SP.sp[0][(w >> 24) & 63] | SP.sp[2][(w >> 16) & 63] | SP.sp[4][(w >> 8) & 63] | SP.sp[6][w & 63];
    w = r ^ k[1];
    f |= SP.sp[1][(w >> 24) & 63] | SP.sp[3][(w >> 16) & 63] | SP.sp[5][(w >> 8) & 63] | SP.sp[7][w & 63];
    return f;
}

inline uint64_t Permute(const uint64_t (&table)[8][256], uint64_t x) {
    return table[0][x >> 56] | table[1][(x >> 48) & 0xff] | table[2][(x >> 40) & 0xff] |
           table[3][(x >> 32) & 0xff] | table[4][(x >> 24) & 0xff] | table[5][(x >> 16) & 0xff] |
           table[6][(x >> 8) & 0xff] | table[7][x & 0xff];
}

// One block through the state's passes; between passes the final and the
// initial permutation cancel out and are skipped.
inline uint64_t CryptBlock(const DES_STATE* st, uint64_t block) {
    const uint64_t lr = Permute(PERM.ip, block);
    uint32_t l = static_cast<uint32_t>(lr >> 32), r = static_cast<uint32_t>(lr);
    for (uint32_t pass = 0; pass < st->passes; ++pass) {
        const DES_SCHEDULE& s = st->schedule[pass];
        for (int round = 0; round < 16; round += 2) {
            l ^= Feistel(r, s.k[round]);
            r ^= Feistel(l, s.k[round + 1]);
        }
        const uint32_t t = l;
        l = r;
        r = t;
    }
    return Permute(PERM.fp, (static_cast<uint64_t>(l) << 32) | r);
}

void ProcessBlocks(DES_STATE* st, const uint8_t* in, uint8_t* out, uint32_t blocks) {
    if (st->mode == SYM_MODE_ECB) {
        for (; blocks; --blocks, in += 8, out += 8) StoreBE64(out, CryptBlock(st, LoadBE64(in)));
        return;
    }
    uint64_t chain = LoadBE64(st->chain);
    if (st->direction == DES_DECRYPT) {
        for (; blocks; --blocks, in += 8, out += 8) {
            const uint64_t c = LoadBE64(in);  // read before writing: in and out may coincide
            StoreBE64(out, CryptBlock(st, c) ^ chain);
            chain = c;
        }
    } else {
        for (; blocks; --blocks, in += 8, out += 8) {
            chain = CryptBlock(st, LoadBE64(in) ^ chain);
            StoreBE64(out, chain);
        }
    }
    StoreBE64(st->chain, chain);
}

void SetCommon(DES_STATE* st, uint32_t direction, uint32_t mode, const uint8_t* pIV, uint32_t passes) {
    st->direction = direction;
    st->mode = mode;
    if (pIV)
        std::memcpy(st->chain, pIV, 8);
    else
        std::memset(st->chain, 0, 8);
    std::memset(st->buffer, 0, sizeof(st->buffer));
    st->fill = 0;
    st->passes = passes;
}

uint32_t Opposite(uint32_t direction) { return direction == DES_DECRYPT ? DES_ENCRYPT : DES_DECRYPT; }

int Update(DES_STATE* st, const uint8_t* in, uint32_t len, uint8_t* out, uint32_t* pOutLen) {
    if (!st || !in || !out || !pOutLen) return 0;
    StreamUpdate<DES_BLOCK>(st->buffer, st->fill, st->direction == DES_DECRYPT, in, len, out, pOutLen,
                            [st](const uint8_t* i, uint8_t* o, uint32_t n) { ProcessBlocks(st, i, o, n); });
    return ALG_OPENSSL_OK;
}

int Final(DES_STATE* st, uint8_t* out, uint32_t* pOutLen) {
    if (!st || !out || !pOutLen) return 0;
    const bool ok =
        StreamFinal<DES_BLOCK>(st->buffer, st->fill, st->direction == DES_DECRYPT, out, pOutLen,
                               [st](const uint8_t* i, uint8_t* o, uint32_t n) { ProcessBlocks(st, i, o, n); });
    if (!ok) *pOutLen = 0;
    return ok ? ALG_OPENSSL_OK : 0;
}

}  // namespace

int deskey(DES_STATE* st, uint32_t direction, const uint8_t key[8], uint32_t mode, const uint8_t* pIV) {
    if (!st || !key) return 0;
    SetCommon(st, direction, mode, pIV, 1);
    MakeSchedule(&st->schedule[0], key, direction);
    return ALG_OPENSSL_OK;
}

int des2key(DES_STATE* st, uint32_t direction, const uint8_t key[16], uint32_t mode, const uint8_t* pIV) {
    if (!st || !key) return 0;
    SetCommon(st, direction, mode, pIV, 3);
    MakeSchedule(&st->schedule[0], key, direction);
    MakeSchedule(&st->schedule[1], key + 8, Opposite(direction));
    MakeSchedule(&st->schedule[2], key, direction);
    return ALG_OPENSSL_OK;
}

int des3key(DES_STATE* st, uint32_t direction, const uint8_t key[24], uint32_t mode, const uint8_t* pIV) {
    if (!st || !key) return 0;
    SetCommon(st, direction, mode, pIV, 3);
    const uint8_t* first = direction == DES_DECRYPT ? key + 16 : key;
    const uint8_t* last = direction == DES_DECRYPT ? key : key + 16;
    MakeSchedule(&st->schedule[0], first, direction);
    MakeSchedule(&st->schedule[1], key + 8, Opposite(direction));
    MakeSchedule(&st->schedule[2], last, direction);
    return ALG_OPENSSL_OK;
}

int desupdate(DES_STATE* st, const uint8_t* in, uint32_t len, uint8_t* out, uint32_t* pOutLen) {
    return Update(st, in, len, out, pOutLen);
}
int des3update(DES_STATE* st, const uint8_t* in, uint32_t len, uint8_t* out, uint32_t* pOutLen) {
    return Update(st, in, len, out, pOutLen);
}
int desfinal(DES_STATE* st, uint8_t* out, uint32_t* pOutLen) { return Final(st, out, pOutLen); }
int des3final(DES_STATE* st, uint8_t* out, uint32_t* pOutLen) { return Final(st, out, pOutLen); }
