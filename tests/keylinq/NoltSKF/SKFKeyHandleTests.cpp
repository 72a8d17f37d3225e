// Key handles through Keylinq.dll against the virtual key: digests (with the
// signer's Z value), session keys on the key (SM4) and on the host (triple
// DES), MACs, and the handles' kinds and lifetimes; results checked with
// OpenSSL's EVP.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "KeyReference.h"
#include "KeylinqLibrary.h"
#include "SKFTestSupport.h"

namespace {

constexpr ULONG SGD_SM3 = 1, SGD_SHA1 = 2, SGD_SHA256 = 4;
constexpr ULONG SGD_SM4_ECB = 0x401, SGD_SM4_CBC = 0x402, SGD_SM4_MAC = 0x410;
constexpr ULONG SGD_3DES_ECB = 0x01000000;

Bytes Pattern(size_t n, uint8_t seed) {
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) out[i] = uint8_t(seed + i * 13);
    return out;
}

BLOCKCIPHERPARAM Param(const Bytes& iv, ULONG padding) {
    BLOCKCIPHERPARAM p;
    memset(&p, 0, sizeof p);
    memcpy(p.IV, iv.data(), iv.size());
    p.IVLen = ULONG(iv.size());
    p.PaddingType = padding;
    return p;
}

class SKFKeyHandles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, k.missing);
        ASSERT_EQ(SAR_OK, key.Connect());
    }
    void TearDown() override {
        for (HANDLE h : open) EXPECT_EQ(SAR_OK, k.SKF_CloseHandle(h));
    }
    HANDLE Keep(HANDLE h) {
        open.push_back(h);
        return h;
    }
    void Close(HANDLE h) {
        EXPECT_EQ(SAR_OK, k.SKF_CloseHandle(h));
        open.erase(std::remove(open.begin(), open.end(), h), open.end());
    }
    HANDLE SetKey(const Bytes& keyBytes, ULONG alg) {
        HANDLE h = nullptr;
        EXPECT_EQ(SAR_OK, k.SKF_SetSymmKey(key.dev, const_cast<BYTE*>(keyBytes.data()), alg, &h));
        return Keep(h);
    }
    // One-shot and streamed (in uneven pieces) in one direction.
    Bytes OneShot(HANDLE h, bool encrypt, const BLOCKCIPHERPARAM& param, const Bytes& in) {
        EXPECT_EQ(SAR_OK, encrypt ? k.SKF_EncryptInit(h, param) : k.SKF_DecryptInit(h, param));
        ULONG len = 0;
        BYTE* data = const_cast<BYTE*>(in.data());
        EXPECT_EQ(SAR_OK, k.SKF_Encrypt(h, data, ULONG(in.size()), nullptr, &len));
        Bytes out(len);
        EXPECT_EQ(SAR_OK, encrypt ? k.SKF_Encrypt(h, data, ULONG(in.size()), out.data(), &len)
                                  : k.SKF_Decrypt(h, data, ULONG(in.size()), out.data(), &len));
        out.resize(len);
        return out;
    }
    Bytes Streamed(HANDLE h, bool encrypt, const BLOCKCIPHERPARAM& param, const Bytes& in, size_t piece) {
        EXPECT_EQ(SAR_OK, encrypt ? k.SKF_EncryptInit(h, param) : k.SKF_DecryptInit(h, param));
        Bytes out;
        for (size_t pos = 0; pos < in.size(); pos += piece) {
            const ULONG n = ULONG(std::min(piece, in.size() - pos));
            Bytes chunk(n + 64);
            ULONG len = ULONG(chunk.size());
            BYTE* data = const_cast<BYTE*>(in.data() + pos);
            EXPECT_EQ(SAR_OK, encrypt ? k.SKF_EncryptUpdate(h, data, n, chunk.data(), &len)
                                      : k.SKF_DecryptUpdate(h, data, n, chunk.data(), &len));
            out.insert(out.end(), chunk.begin(), chunk.begin() + len);
        }
        Bytes last(32);
        ULONG len = ULONG(last.size());
        EXPECT_EQ(SAR_OK, encrypt ? k.SKF_EncryptFinal(h, last.data(), &len) : k.SKF_DecryptFinal(h, last.data(), &len));
        out.insert(out.end(), last.begin(), last.begin() + len);
        return out;
    }

    KeylinqLibrary& k = Keylinq();
    VirtualKeyControl control;
    KeySession<KeylinqLibrary> key{k, control, AddFreshKey(control)};
    std::vector<HANDLE> open;
};

TEST_F(SKFKeyHandles, DigestsEqualEvpInPieces) {
    const Bytes message = Pattern(1000, 7);
    struct Case {
        ULONG alg;
        const char* name;
    } cases[] = {{SGD_SHA1, "SHA1"}, {SGD_SHA256, "SHA256"}, {SGD_SM3, "SM3"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HANDLE h = nullptr;
        ASSERT_EQ(SAR_OK, k.SKF_DigestInit(key.dev, c.alg, nullptr, nullptr, 0, &h));
        Keep(h);
        for (size_t pos = 0; pos < message.size(); pos += 333) {
            const ULONG n = ULONG(std::min<size_t>(333, message.size() - pos));
            ASSERT_EQ(SAR_OK, k.SKF_DigestUpdate(h, const_cast<BYTE*>(message.data() + pos), n));
        }
        ULONG len = 0;
        ASSERT_EQ(SAR_OK, k.SKF_DigestFinal(h, nullptr, &len));
        Bytes digest(len);
        len = len - 1;
        EXPECT_EQ(SAR_BUFFER_TOO_SMALL, k.SKF_DigestFinal(h, digest.data(), &len));
        len = ULONG(digest.size());
        ASSERT_EQ(SAR_OK, k.SKF_DigestFinal(h, digest.data(), &len));
        EXPECT_EQ(RefDigest(c.name, message), digest);
        // A digest handle is no session key.
        EXPECT_EQ(SAR_NOTSUPPORTYETERR, k.SKF_EncryptInit(h, Param({}, 0)));
    }
    HANDLE h = reinterpret_cast<HANDLE>(0x55);
    EXPECT_EQ(SAR_INDATAERR, k.SKF_DigestInit(key.dev, 3, nullptr, nullptr, 0, &h));
    EXPECT_EQ(reinterpret_cast<HANDLE>(0x55), h);
}

TEST_F(SKFKeyHandles, Sm3OverTheSignersZ) {
    const RefSm2Key signer = RefSm2Generate();
    ECCPUBLICKEYBLOB blob;
    memset(&blob, 0x33, sizeof blob);
    blob.BitLen = 256;
    memcpy(blob.XCoordinate + 32, signer.publicKey.data(), 32);
    memcpy(blob.YCoordinate + 32, signer.publicKey.data() + 32, 32);
    const Bytes message = Text("message");
    std::string id = "1234567812345678";
    HANDLE h = nullptr;
    ASSERT_EQ(SAR_OK, k.SKF_DigestInit(key.dev, SGD_SM3, &blob, reinterpret_cast<BYTE*>(&id[0]), 16, &h));
    Keep(h);
    Bytes digest(32);
    ULONG len = 32;
    ASSERT_EQ(SAR_OK, k.SKF_Digest(h, const_cast<BYTE*>(message.data()), ULONG(message.size()), digest.data(), &len));
    EXPECT_EQ(RefSm3(Concat(RefSm2Z(signer.publicKey), message)), digest);
    // OpenSSL's signature over the message verifies against that digest.
    ECCSIGNATUREBLOB signature;
    memset(&signature, 0, sizeof signature);
    const Bytes rs = RefSm2SignMessage(signer, message);
    memcpy(signature.r + 32, rs.data(), 32);
    memcpy(signature.s + 32, rs.data() + 32, 32);
    EXPECT_EQ(SAR_OK, k.SKF_ECCVerify(key.dev, &blob, digest.data(), 32, &signature));

    std::string wrong = "1234567812345679";
    HANDLE refused = nullptr;
    EXPECT_EQ(SAR_INVALIDPARAMERR, k.SKF_DigestInit(key.dev, SGD_SM3, &blob, nullptr, 16, &refused));
    EXPECT_EQ(SAR_INVALIDPARAMERR,
              k.SKF_DigestInit(key.dev, SGD_SM3, &blob, reinterpret_cast<BYTE*>(&wrong[0]), 16, &refused));
    EXPECT_EQ(SAR_INVALIDPARAMERR, k.SKF_DigestInit(key.dev, SGD_SM3, &blob, reinterpret_cast<BYTE*>(&id[0]), 15, &refused));
    EXPECT_EQ(nullptr, refused);
}

TEST_F(SKFKeyHandles, CiphersEqualEvp) {
    const Bytes sm4Key = Pattern(16, 0x21);
    const Bytes desKey = Pattern(24, 0x45);
    const Bytes iv = Pattern(16, 0x99);
    const Bytes plain = Pattern(100, 3);
    struct Case {
        ULONG alg;
        const char* evp;
        const Bytes& key;
        bool cbc;
        ULONG padding;
        size_t evpIv;
    } cases[] = {
        {SGD_SM4_ECB, "SM4-ECB", sm4Key, false, 1, 0},
        {SGD_SM4_CBC, "SM4-CBC", sm4Key, true, 1, 16},
        {SGD_3DES_ECB, "DES-EDE3-ECB", desKey, false, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.evp);
        HANDLE h = SetKey(c.key, c.alg);
        ASSERT_NE(nullptr, h);
        const BLOCKCIPHERPARAM param = Param(c.cbc ? iv : Bytes(), c.padding);
        const Bytes evpIv(iv.begin(), iv.begin() + c.evpIv);
        const Bytes expected = RefCipher(c.evp, c.key, evpIv, plain, true, true);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(expected, OneShot(h, true, param, plain));
        EXPECT_EQ(expected, Streamed(h, true, param, plain, 37));
        EXPECT_EQ(plain, OneShot(h, false, param, expected));
        EXPECT_EQ(plain, Streamed(h, false, param, expected, 40));
        // A digest operation on a session key is refused by its kind.
        ULONG len = 32;
        Bytes out(32);
        EXPECT_EQ(SAR_NOTSUPPORTYETERR, k.SKF_Digest(h, out.data(), 1, out.data(), &len));
    }
    // SM4 without padding, whole blocks.
    HANDLE h = SetKey(sm4Key, SGD_SM4_ECB);
    const Bytes blocks = Pattern(64, 5);
    EXPECT_EQ(RefCipher("SM4-ECB", sm4Key, {}, blocks, false, true), OneShot(h, true, Param({}, 0), blocks));

    // IVs of other lengths are refused, even for triple DES.
    HANDLE des = SetKey(desKey, SGD_3DES_ECB);
    EXPECT_EQ(SAR_INVALIDPARAMERR, k.SKF_EncryptInit(des, Param(Pattern(8, 1), 1)));

    // A failure is never a handle.
    HANDLE none = reinterpret_cast<HANDLE>(0x77);
    EXPECT_EQ(SAR_NOTSUPPORTYETERR, k.SKF_SetSymmKey(key.dev, const_cast<BYTE*>(sm4Key.data()), 2, &none));
    EXPECT_EQ(reinterpret_cast<HANDLE>(0x77), none);
}

// A decryption whose last block holds no valid padding answers
// SAR_DECRYPTPADERR, from the key's SM4 and the host's triple DES alike,
// one-shot and at the final step.
TEST_F(SKFKeyHandles, BadPaddingIsDecryptPadErrOnKeyAndHost) {
    const Bytes sm4Key = Pattern(16, 0x31);
    const Bytes desKey = Pattern(24, 0x32);
    for (ULONG alg : {SGD_SM4_ECB, SGD_3DES_ECB}) {
        SCOPED_TRACE(alg);
        HANDLE h = SetKey(alg == SGD_SM4_ECB ? sm4Key : desKey, alg);
        // The first block of a padded ECB encryption of zeros: it ends in 00,
        // which is no padding.
        const Bytes block(alg == SGD_SM4_ECB ? 16 : 8, 0x00);
        Bytes cipher = OneShot(h, true, Param({}, 1), block);
        ASSERT_EQ(2 * block.size(), cipher.size());
        cipher.resize(block.size());
        Bytes out(64);
        ULONG len = ULONG(out.size());
        ASSERT_EQ(SAR_OK, k.SKF_DecryptInit(h, Param({}, 1)));
        EXPECT_EQ(SAR_DECRYPTPADERR, k.SKF_Decrypt(h, cipher.data(), ULONG(cipher.size()), out.data(), &len));
        ASSERT_EQ(SAR_OK, k.SKF_DecryptInit(h, Param({}, 1)));
        len = ULONG(out.size());
        ASSERT_EQ(SAR_OK, k.SKF_DecryptUpdate(h, cipher.data(), ULONG(cipher.size()), out.data(), &len));
        len = ULONG(out.size());
        EXPECT_EQ(SAR_DECRYPTPADERR, k.SKF_DecryptFinal(h, out.data(), &len));
    }
}

TEST_F(SKFKeyHandles, EncryptFinalKeepsToTheCallersRoom) {
    const Bytes sm4Key = Pattern(16, 0x61);
    const Bytes desKey = Pattern(24, 0x62);
    for (ULONG alg : {SGD_SM4_ECB, SGD_3DES_ECB}) {
        SCOPED_TRACE(alg);
        HANDLE h = SetKey(alg == SGD_SM4_ECB ? sm4Key : desKey, alg);
        const ULONG block = alg == SGD_SM4_ECB ? 16 : 8;
        ASSERT_EQ(SAR_OK, k.SKF_EncryptInit(h, Param({}, 1)));
        Bytes in = Pattern(5, 1);
        Bytes out(64);
        ULONG len = ULONG(out.size());
        ASSERT_EQ(SAR_OK, k.SKF_EncryptUpdate(h, in.data(), 5, out.data(), &len));
        EXPECT_EQ(0u, len);
        Bytes room(block + 4, 0xCC);
        len = block - 1;
        EXPECT_EQ(SAR_BUFFER_TOO_SMALL, k.SKF_EncryptFinal(h, room.data(), &len));
        EXPECT_EQ(block, len);
        EXPECT_EQ(Bytes(block + 4, 0xCC), room);  // nothing written
        len = block;
        ASSERT_EQ(SAR_OK, k.SKF_EncryptFinal(h, room.data(), &len));
        EXPECT_EQ(block, len);
        EXPECT_EQ(0xCC, room[block]);
    }
}

TEST_F(SKFKeyHandles, MacEqualsTheLastCbcBlock) {
    const Bytes sm4Key = Pattern(16, 0x31);
    const Bytes iv = Pattern(16, 0x41);
    const Bytes data = Pattern(96, 9);
    const Bytes cbc = RefCipher("SM4-CBC", sm4Key, iv, data, false, true);
    const Bytes expected(cbc.end() - 16, cbc.end());

    HANDLE session = SetKey(sm4Key, SGD_SM4_MAC);
    BLOCKCIPHERPARAM param = Param(iv, 1);
    HANDLE mac = nullptr;
    ASSERT_EQ(SAR_OK, k.SKF_MacInit(session, &param, &mac));
    Keep(mac);
    EXPECT_EQ(0u, param.PaddingType);
    Bytes out(16);
    ULONG len = 0;
    EXPECT_EQ(SAR_OK, k.SKF_Mac(mac, const_cast<BYTE*>(data.data()), 96, nullptr, &len));
    EXPECT_EQ(16u, len);
    len = 16;
    ASSERT_EQ(SAR_OK, k.SKF_Mac(mac, const_cast<BYTE*>(data.data()), 96, out.data(), &len));
    EXPECT_EQ(expected, out);

    // 48 + 48 bytes, an empty update between, with the session key closed
    // first: the MAC keeps its cipher.
    param = Param(iv, 1);
    HANDLE mac2 = nullptr;
    ASSERT_EQ(SAR_OK, k.SKF_MacInit(session, &param, &mac2));
    Keep(mac2);
    Close(session);
    EXPECT_EQ(SAR_OK, k.SKF_MacUpdate(mac2, const_cast<BYTE*>(data.data()), 48));
    EXPECT_EQ(SAR_OK, k.SKF_MacUpdate(mac2, const_cast<BYTE*>(data.data()), 0));
    EXPECT_EQ(SAR_INDATALENERR, k.SKF_MacUpdate(mac2, const_cast<BYTE*>(data.data()), 20));
    EXPECT_EQ(SAR_OK, k.SKF_MacUpdate(mac2, const_cast<BYTE*>(data.data() + 48), 48));
    len = 15;
    EXPECT_EQ(SAR_BUFFER_TOO_SMALL, k.SKF_MacFinal(mac2, out.data(), &len));
    EXPECT_EQ(16u, len);
    out.assign(16, 0);
    len = 16;
    ASSERT_EQ(SAR_OK, k.SKF_MacFinal(mac2, out.data(), &len));
    EXPECT_EQ(expected, out);
}

// Each handle answers only its own kind's operations; handles of other
// kinds (device, closed) are refused as handles.
TEST_F(SKFKeyHandles, WrongKindTable) {
    HANDLE digest = nullptr;
    ASSERT_EQ(SAR_OK, k.SKF_DigestInit(key.dev, SGD_SM3, nullptr, nullptr, 0, &digest));
    Keep(digest);
    HANDLE session = SetKey(Pattern(16, 4), SGD_SM4_CBC);
    BLOCKCIPHERPARAM param = Param(Pattern(16, 5), 0);
    HANDLE mac = nullptr;
    ASSERT_EQ(SAR_OK, k.SKF_MacInit(session, &param, &mac));
    Keep(mac);
    BYTE data[32] = {};
    ULONG len = sizeof data;
    HANDLE out = nullptr;
    const struct {
        const char* what;
        ULONG result;
        ULONG expected;
    } table[] = {
        {"digest EncryptInit", k.SKF_EncryptInit(digest, param), SAR_NOTSUPPORTYETERR},
        {"digest DecryptUpdate", k.SKF_DecryptUpdate(digest, data, 16, data, &len), SAR_NOTSUPPORTYETERR},
        {"digest MacInit", k.SKF_MacInit(digest, &param, &out), SAR_NOTSUPPORTYETERR},
        {"digest MacUpdate", k.SKF_MacUpdate(digest, data, 16), SAR_NOTSUPPORTYETERR},
        {"session Digest", k.SKF_Digest(session, data, 16, data, &len), SAR_NOTSUPPORTYETERR},
        {"session DigestUpdate", k.SKF_DigestUpdate(session, data, 16), SAR_NOTSUPPORTYETERR},
        {"session MacUpdate", k.SKF_MacUpdate(session, data, 16), SAR_NOTSUPPORTYETERR},
        {"session Mac", k.SKF_Mac(session, data, 16, data, &len), SAR_NOTSUPPORTYETERR},
        {"mac DigestFinal", k.SKF_DigestFinal(mac, data, &len), SAR_NOTSUPPORTYETERR},
        {"digest GenerateKeyWithECC", k.SKF_GenerateKeyWithECC(digest, reinterpret_cast<ECCPUBLICKEYBLOB*>(data),
                                                                reinterpret_cast<ECCPUBLICKEYBLOB*>(data), data, 16, &out),
         SAR_NOTSUPPORTYETERR},
        {"device as key", k.SKF_EncryptInit(key.dev, param), SAR_INVALIDHANDLEERR},
        {"key as device", k.SKF_GenRandom(session, data, 4), SAR_INVALIDHANDLEERR},
        {"device closed as key", k.SKF_CloseHandle(key.dev), SAR_INVALIDHANDLEERR},
    };
    for (const auto& row : table) EXPECT_EQ(row.expected, row.result) << row.what;
    EXPECT_EQ(nullptr, out);
}

TEST_F(SKFKeyHandles, TripleDesMacOnTheHost) {
    const Bytes desKey = Pattern(24, 0x71);
    const Bytes iv = Pattern(16, 0x72);
    const Bytes data = Pattern(48, 0x73);
    const Bytes cbc = RefCipher("DES-EDE3-CBC", desKey, Bytes(iv.begin(), iv.begin() + 8), data, false, true);
    ASSERT_EQ(48u, cbc.size());
    HANDLE session = SetKey(desKey, SGD_3DES_ECB);
    BLOCKCIPHERPARAM param = Param(iv, 0);
    HANDLE mac = nullptr;
    ASSERT_EQ(SAR_OK, k.SKF_MacInit(session, &param, &mac));
    Keep(mac);
    Bytes out(8);
    ULONG len = 0;
    EXPECT_EQ(SAR_OK, k.SKF_MacFinal(mac, nullptr, &len));
    EXPECT_EQ(8u, len);
    EXPECT_EQ(SAR_OK, k.SKF_MacUpdate(mac, const_cast<BYTE*>(data.data()), 24));
    EXPECT_EQ(SAR_OK, k.SKF_MacUpdate(mac, const_cast<BYTE*>(data.data() + 24), 24));
    len = 8;
    ASSERT_EQ(SAR_OK, k.SKF_MacFinal(mac, out.data(), &len));
    EXPECT_EQ(Bytes(cbc.end() - 8, cbc.end()), out);
}

TEST_F(SKFKeyHandles, OpenKeyHandleKeepsTheDevice) {
    HANDLE h = SetKey(Pattern(16, 1), SGD_SM4_ECB);
    EXPECT_EQ(SAR_FAIL, k.SKF_DisConnectDev(key.dev));
    // Still connected, the handle still works.
    const Bytes blocks = Pattern(16, 2);
    EXPECT_EQ(RefCipher("SM4-ECB", Pattern(16, 1), {}, blocks, false, true), OneShot(h, true, Param({}, 0), blocks));
    Close(h);
    EXPECT_EQ(SAR_INVALIDHANDLEERR, k.SKF_CloseHandle(h));
    EXPECT_EQ(SAR_OK, k.SKF_CloseHandle(nullptr));
    EXPECT_EQ(SAR_INVALIDHANDLEERR, k.SKF_EncryptInit(h, Param({}, 0)));
}

}  // namespace
