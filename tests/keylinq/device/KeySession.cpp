#include "KeySession.h"

#include <cstring>

#include "RootPublicKeys.h"
#include "SoftCrypto.h"
#include "SymKeyHandle.h"

const uint8_t EXTERNAL_AUTH_MASTER_KEY[16] = {0x5c, 0x1e, 0x7a, 0x33, 0x09, 0xd4, 0xb6, 0x2f,
                                              0x8e, 0x0a, 0x71, 0xc4, 0xd2, 0x9f, 0x6b, 0x83};

uint32_t KeySession::Open(const std::string& devicePath) {
    return VEmuOpenDevice(VEMU_DRIVER_HID, devicePath.c_str(), &record.m_pTransport);
}

uint32_t KeySession::Close() {
    if (!record.m_pTransport) return 0;
    uint32_t hr = VEmuCloseDevice(record.m_pTransport);
    if (hr == 0) record.m_pTransport = nullptr;
    return hr;
}

uint32_t KeySession::Plain(uint8_t ins, uint8_t p1, uint16_t le, uint8_t* out, uint32_t* outLen) {
    apdu.SetAPDUHeader(0xB0, ins, p1, 0);
    apdu.Le = le;
    return apdu.SendAPDUCmd(out, outLen);
}

uint32_t KeySession::ReadAlgorithm() {
    uint8_t info[288];
    uint32_t len = sizeof info;
    uint32_t hr = Plain(0x04, 0x00, 288, info, &len);
    if (hr) return hr;
    if (len != 288) return 0x8007000D;
    // Big-endian device-authentication algorithm at 212; the id is bits 8 to 15.
    record.m_byAlgID = info[214];
    record.m_wDevInfo = uint16_t(info[228] << 8 | info[229]);
    return 0;
}

uint32_t KeySession::ExternalAuth() {
    uint8_t sn[16];
    uint32_t len = sizeof sn;
    uint32_t hr = Plain(0x04, 0x03, 16, sn, &len);
    if (hr) return hr;
    uint8_t digest[16];
    uint32_t digestLen = 0;
    hr = Hash_Digest(SOFT_HASH_MD5, sn, len, digest, &digestLen);
    if (hr) return hr;
    uint8_t derived[48];
    uint32_t derivedLen = 0;
    hr = CSymKeyHandle::Encrypt(record.m_byAlgID, SOFT_MODE_CBC, EXTERNAL_AUTH_MASTER_KEY, nullptr, digest, 16, derived,
                                &derivedLen);
    if (hr) return hr;

    uint8_t challenge[16];
    len = sizeof challenge;
    hr = Plain(0x10, 0x00, 16, challenge, &len);
    if (hr) return hr;
    uint8_t cryptogram[48];
    uint32_t cryptogramLen = 0;
    hr = CSymKeyHandle::Encrypt(record.m_byAlgID, SOFT_MODE_CBC, derived, nullptr, challenge, 16, cryptogram,
                                &cryptogramLen);
    if (hr) return hr;
    apdu.SetAPDUHeader(0xB0, 0x10, 0x01, 0x00);
    apdu.SetAPDUData(cryptogram, uint16_t(cryptogramLen));
    hr = apdu.SendAPDUCmd(nullptr, nullptr);
    if (hr) return hr;
    std::memcpy(record.m_abyExtAuthKey, derived, AUTH_KEY_LENGTH);
    return 0;
}

uint32_t KeySession::SetSessionKey() {
    const bool sm = record.m_byAlgID == SOFT_ALG_SM4;
    uint8_t r[16];
    uint32_t hr = GenRand(16, r, 1);
    if (hr) return hr;
    uint8_t e[48];
    uint32_t eLen = 0;
    hr = CSymKeyHandle::Encrypt(record.m_byAlgID, SOFT_MODE_CBC, record.m_abyExtAuthKey, nullptr, r, 16, e, &eLen);
    if (hr) return hr;

    uint8_t exported[260] = {};
    uint32_t exportedLen = sizeof exported;
    hr = Plain(0x07, 0x00, sm ? 128 : 260, exported, &exportedLen);
    if (hr) return hr;
    const uint32_t keyLen = sm ? 64 : 132;
    static const char tag[] = "VEMU-Product";
    uint8_t signedData[12 + 132];
    std::memcpy(signedData, tag, 12);
    std::memcpy(signedData + 12, exported, keyLen);

    HASH_CTX* hash = nullptr;
    uint8_t digest[64];
    uint32_t digestLen = 0;
    hr = Hash_Init(&hash, sm ? VM_ALG_SM3 : SOFT_HASH_SHA1);
    if (!hr) hr = Hash_Update(hash, signedData, 12 + keyLen);
    if (!hr) hr = Hash_Final(hash, digest, &digestLen);
    if (hr) return hr;

    uint8_t w[256];
    uint32_t wLen = 0;
    if (sm) {
        hr = SM2_Verify(g_abyRootSM2PubKey, digest, exported + 64, 64);
        if (!hr) hr = SM2_Encrypt(exported, e, eLen, w, &wLen);
    } else {
        SOFT_RSA_PUBKEY root = {};
        std::memcpy(root.modulus, g_abyRootRSAModulus, 128);
        root.nLen = 128;
        std::memcpy(root.exponent, g_abyRootRSAExponent, 4);
        root.eLen = 4;
        hr = RSA_Verify(&root, SOFT_HASH_SHA1, digest, exported + 132, 128);
        SOFT_RSA_PUBKEY authKey = {};
        std::memcpy(authKey.modulus, exported, 128);
        authKey.nLen = 128;
        std::memcpy(authKey.exponent, exported + 128, 4);
        authKey.eLen = 4;
        if (!hr) hr = RSA_Encrypt(&authKey, e, eLen, w, &wLen, 1);
    }
    if (hr) return hr;

    apdu.SetAPDUHeader(0xB0, 0x0A, 0x00, 0x00);
    apdu.SetAPDUData(w, uint16_t(wLen));
    hr = apdu.SendAPDUCmd(nullptr, nullptr);
    if (hr) return hr;
    std::memcpy(record.m_abySessionKey, r, 16);
    record.m_nSessionKeyLen = 16;
    record.m_bySecMode = APDU_SEC_ENC;
    record.m_abyCounter[0] = r[0];
    record.m_abyCounter[1] = r[1];
    return 0;
}

uint32_t KeySession::Connect() {
    uint32_t hr = ReadAlgorithm();
    if (!hr) hr = ExternalAuth();
    if (!hr) hr = SetSessionKey();
    return hr;
}

uint32_t KeySession::PinStatus(uint8_t status[4], uint8_t p2) {
    static const uint8_t zero[2] = {0, 0};
    apdu.SetAPDUHeader(0xB4, 0x14, 0x00, p2);
    apdu.SetAPDUData(zero, 2);
    apdu.Le = 4;
    uint32_t len = 4;
    return apdu.SendAPDUCmd(status, &len);
}
