#pragma once
// The symmetric key handle whose key lives in the key: the key is imported
// under secure messaging and the key ciphers whole blocks, in pieces of at
// most 128 bytes; the host holds back the bytes of an unfinished block and
// adds or removes the padding.
#include <cstdint>

#include "SymKeyHandle.h"

class CDeviceContext;

constexpr uint32_t GM_SYM_BLOCK_LEN = 16;      // SM4_BLOCK_SIZE
constexpr uint32_t GM_SYM_PIECE_LEN = 128;     // bytes a command carries
constexpr uint32_t GM_SYM_HOLD_CAPACITY = 256;
constexpr uint8_t GM_ALG_SM1 = 16;
constexpr uint8_t GM_ALG_SM4 = 19;

class CGMSymKeyHandle : public CSymKeyHandle {
public:
    explicit CGMSymKeyHandle(CDeviceContext* pDeviceContext);
    ~CGMSymKeyHandle() override;

    // A new handle for SM1 on the key (always algorithm 16), keyed and
    // started in that direction with padding.
    static uint32_t Initialize(CDeviceContext* pDeviceContext, uint8_t AlgID, uint8_t byCryptType, uint8_t byMode,
                               const uint8_t* pKey, const uint8_t* pIV, CSymKeyHandle** ppHandle);

    // wAlg: the algorithm word, algorithm << 8 | mode.
    uint32_t SetKey(uint16_t wAlg, const uint8_t* pKey, uint32_t nKeyLen) override;
    uint32_t Init(uint8_t AlgID, uint8_t byCryptType, uint8_t byMode, const uint8_t* pIV, uint32_t nPadding) override;
    // *pnOutLen: in the room at pOut, out the length written (or needed).
    uint32_t Update(const uint8_t* pIn, uint32_t inLen, uint8_t* pOut, uint32_t* pnOutLen) override;
    // *pnOutLen: in the room at pOut, out the length written; one block is
    // needed whenever a block goes to the key. A null output asks for 16.
    uint32_t Final(uint8_t* pOut, uint32_t* pnOutLen) override;

    uint32_t GetHeldLen() const { return m_nFinalLen; }

private:
    CDeviceContext* m_pDeviceContext;  // not owned
    uint32_t m_nFinalLen;              // input bytes held back
    uint8_t m_abyFinal[GM_SYM_HOLD_CAPACITY];
};
