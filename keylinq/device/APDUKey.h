#pragma once
// The key commands of the key: random bytes, key-pair generation and
// import into a container's key files, public-key export, symmetric and
// wrapped session-key imports, the SM2 key agreement on the key, and the
// certificate pieces.
//
// Data that would not fit a command's working buffer is refused
// (APDU_E_TOO_LONG) before anything is sent: at most 54 ID bytes for the
// agreement data, 256 bytes of data for the responder's agreement and the
// agreed key, 492 bytes of wrapped key or SM2 key blob, 504 bytes of
// symmetric key and 488 bytes of certificate piece.
#include <cstdint>

#include "APDU.h"

// Algorithm ids of the key's key files.
constexpr uint8_t VM_ALG_RSA1024 = 1;
constexpr uint8_t VM_ALG_RSA2048 = 7;
constexpr uint8_t VM_ALG_SM2 = 17;

constexpr uint32_t RSA_PUBLIC_EXPONENT = 0x00010001;
constexpr uint32_t RSA1024_KEY_BLOB_LEN = 512;  // what ImportRsaKeyPair sends for RSA-1024
constexpr uint32_t RSA2048_KEY_BLOB_LEN = 768;  // and for RSA-2048
constexpr uint32_t AGREEMENT_REPLY_LEN = 72;    // compact temporary key (68) and a 32-bit value

class CAPDUKey : public CAPDU {
public:
    using CAPDU::CAPDU;
    ~CAPDUKey() override = default;

    // nLen random bytes of the key to pbyOut.
    uint32_t GenRandom(uint8_t nLen, uint8_t* pbyOut);
    // RSA (byAlgID 1 or 7) with the public exponent 65537, or SM2.
    uint32_t GenRsaKeyPair(uint8_t byAlgID, const uint8_t* pbyAuthCode, uint16_t nKeyFID);
    uint32_t GenSm2KeyPair(const uint8_t* pbyAuthCode, uint16_t nKeyFID);
    // byAlgID 1 or 7: a SOFT_RSA_PUBKEY at pbyKey; 17: X then Y (64 bytes).
    uint32_t ExportPublicKey(uint16_t nKeyFID, uint8_t byAlgID, void* pbyKey);
    // A session key in the clear (under secure messaging); wAlg is the
    // symmetric algorithm in the high byte and the mode in the low byte.
    uint32_t ImportSymKey(uint16_t wAlg, const uint8_t* pbyKey, uint32_t nKeyLen);
    // A session key wrapped under the container key of nKeyFID.
    uint32_t ImportEncSymKey(const uint8_t* pbyAuthCode, uint16_t nKeyFID, const uint8_t* pbyWrapped,
                             uint32_t nWrappedLen);
    // The key blob holds 512 (byAlgID 1) or 768 bytes (otherwise); bEncrypted
    // says it is encrypted under the session key imported just before.
    uint32_t ImportRsaKeyPair(uint8_t byAlgID, const uint8_t* pbyAuthCode, uint16_t nKeyFID,
                              const uint8_t* pbyKeyBlob, uint8_t bEncrypted);
    uint32_t ImportSm2KeyPair(const uint8_t* pbyAuthCode, uint16_t nKeyFID, const uint8_t* pbyBlob,
                              uint32_t nBlobLen);

    // The sponsor's first step: 72 bytes to pbyOut (room 72), the bytes
    // received to *pnOutLen.
    uint32_t GenerateAgreementDataWithECC(uint16_t nKeyFID, uint16_t wAlg, const uint8_t* pbyID, uint32_t nIDLen,
                                          uint8_t* pbyOut, uint32_t* pnOutLen);
    // The responder's step (public keys in the compact form).
    uint32_t GenerateAgreementDataAndKeyWithECC(uint16_t nKeyFID, uint16_t wAlg, const uint8_t* pbySponsorPubKey,
                                                uint32_t nSponsorPubKeyLen, const uint8_t* pbySponsorTmpPubKey,
                                                uint32_t nSponsorTmpPubKeyLen, const uint8_t* pbySponsorID,
                                                uint32_t nSponsorIDLen, const uint8_t* pbyID, uint32_t nIDLen,
                                                uint8_t* pbyOut, uint32_t* pnOutLen);
    // The sponsor's second step; the key's 32-bit answer to *pnResult.
    uint32_t GenerateKeyWithECC(uint16_t nKeyFID, uint32_t nAgreementID, const uint8_t* pbyPubKey,
                                uint32_t nPubKeyLen, const uint8_t* pbyTmpPubKey, uint32_t nTmpPubKeyLen,
                                const uint8_t* pbyID, uint32_t nIDLen, uint32_t* pnResult);

    // One piece of a certificate; byP1 carries the caller's chunk flags.
    uint32_t WriteCert(uint8_t byP1, const uint8_t* pbyAuthCode, uint16_t nCertFID, uint16_t nOffset,
                       const uint8_t* pbyPiece, uint32_t nPieceLen);
    // *pnLen: in the bytes wanted (and the room at pbyOut), out the bytes received.
    uint32_t ReadCert(uint16_t nCertFID, uint16_t nOffset, uint8_t* pbyOut, uint32_t* pnLen);
};
