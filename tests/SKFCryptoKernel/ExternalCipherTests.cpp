// Host SM2 and SM4 of the key access layer against OpenSSL's own SM2 and
// SM4: key pairs on OpenSSL's curve, ciphertexts that OpenSSL decrypts and
// that come from OpenSSL, and SM4-ECB with and without padding.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <climits>

#include "OpenSslSm2.h"
#include "SKFExternalCipher.h"

namespace {

constexpr HRESULT kBadData = static_cast<HRESULT>(0x80090020);

struct KeyHandleDelete {
    void operator()(SM2KeyHandle* h) const {
        delete[] h->pbPrivateKey;
        delete[] h->pbPublicKey;
        delete h;
    }
};
using KeyHandle = std::unique_ptr<SM2KeyHandle, KeyHandleDelete>;

KeyHandle NewKeyHandle() {
    SM2KeyHandle* h = nullptr;
    EXPECT_EQ(SKFExtCipher::CreateKeyHandle(&h), S_OK);
    return KeyHandle(h);
}

Bytes PrivateOf(const SM2KeyHandle& h) { return Bytes(h.pbPrivateKey, h.pbPrivateKey + h.dwPrivateKeySize); }
Bytes PublicOf(const SM2KeyHandle& h) { return Bytes(h.pbPublicKey, h.pbPublicKey + h.dwPublicKeySize); }

// ---- key pairs

TEST(HostSm2KeyPair, PublicKeyIsDTimesGOnOpenSslsCurve) {
    for (int i = 0; i < 4; ++i) {
        KeyHandle h = NewKeyHandle();
        ASSERT_TRUE(h);
        ASSERT_EQ(h->dwPublicKeySize, 64u);
        ASSERT_EQ(h->dwPrivateKeySize, 32u);
        EXPECT_EQ(ToHex(PublicOf(*h)), ToHex(Sm2PublicOf(PrivateOf(*h))));
        EXPECT_NE(h->pbPublicKey[0], 0);
        EXPECT_NE(h->pbPublicKey[32], 0);
    }
    EXPECT_EQ(SKFExtCipher::CreateKeyHandle(nullptr), E_INVALIDARG);
}

// Injected generators: what each call writes is scripted.
int g_calls = 0;
int g_goodFromCall = 0;  // 0: never good
int g_failAtCall = 0;    // 0: never fails

int ScriptedGenerator(unsigned char d[32], unsigned char X[32], unsigned char Y[32]) {
    ++g_calls;
    if (g_calls == g_failAtCall) return 0;
    for (int i = 0; i < 32; ++i) {
        d[i] = BYTE(g_calls);
        X[i] = BYTE(0x10 + g_calls);
        Y[i] = BYTE(0x20 + g_calls);
    }
    if (g_goodFromCall == 0 || g_calls < g_goodFromCall) {
        if (g_calls % 2) X[0] = 0;  // a leading zero byte in X, or in Y
        else Y[0] = 0;
    }
    return 1;
}

TEST(HostSm2KeyPair, LeadingZeroCoordinatesAreRetriedThreeTimes) {
    const struct {
        int goodFrom, failAt;
        HRESULT expected;
        int calls;
    } rows[] = {
        {0, 0, E_FAIL, 3},  // never a full-width pair
        {2, 0, S_OK, 2},    // accepted on the second try
        {3, 0, S_OK, 3},
        {4, 0, E_FAIL, 3},
        {0, 1, E_FAIL, 1},  // the generator itself fails: no retry
        {0, 2, E_FAIL, 2},
    };
    SetSM2KeyPairGeneratorForTest(ScriptedGenerator);
    for (const auto& r : rows) {
        g_calls = 0;
        g_goodFromCall = r.goodFrom;
        g_failAtCall = r.failAt;
        SM2KeyHandle* h = reinterpret_cast<SM2KeyHandle*>(0x1);
        const HRESULT hr = SKFExtCipher::CreateKeyHandle(&h);
        EXPECT_EQ(hr, r.expected) << r.goodFrom << "/" << r.failAt;
        EXPECT_EQ(g_calls, r.calls) << r.goodFrom << "/" << r.failAt;
        if (hr == S_OK) {
            KeyHandle owned(h);
            EXPECT_EQ(ToHex(PrivateOf(*h)), ToHex(Bytes(32, BYTE(r.calls))));
            EXPECT_EQ(ToHex(PublicOf(*h)).substr(0, 2), ToHex(Bytes(1, BYTE(0x10 + r.calls))));
        } else {
            EXPECT_EQ(h, reinterpret_cast<SM2KeyHandle*>(0x1));
        }
    }
    SetSM2KeyPairGeneratorForTest(nullptr);
}

// ---- SM2 encryption and decryption

// 04 || x1 || y1 || C2 || C3 from the key's C1C3C2.
Bytes RawFromC1C3C2(const Bytes& c) {
    Bytes raw{0x04};
    raw.insert(raw.end(), c.begin(), c.begin() + 64);
    raw.insert(raw.end(), c.begin() + 96, c.end());
    raw.insert(raw.end(), c.begin() + 64, c.begin() + 96);
    return raw;
}

Bytes OurEncrypt(const Bytes& plain16, const Bytes& xy) {
    BYTE* out = nullptr;
    DWORD size = 0;
    EXPECT_EQ(SKFExtCipher::SM2Encrypt(plain16.data(), xy.data(), xy.data() + 32, &out, &size), S_OK);
    Bytes c(out, out + size);
    delete[] out;
    return c;
}

HRESULT OurDecrypt(const Bytes& cipher, const Bytes& d, Bytes* plain) {
    BYTE* const untouched = reinterpret_cast<BYTE*>(0x10);
    BYTE* out = untouched;
    DWORD size = 12345;
    const HRESULT hr = SKFExtCipher::SM2Decrypt(cipher.empty() ? d.data() : cipher.data(), DWORD(cipher.size()),
                                                d.data(), DWORD(d.size()), &out, &size);
    if (hr == S_OK) {
        plain->assign(out, out + size);
        delete[] out;
    } else {
        EXPECT_EQ(out, untouched) << "no plaintext on failure";
        EXPECT_EQ(size, 12345u);
    }
    return hr;
}

TEST(HostSm2, EncryptionDecryptsWithOpenSsl) {
    KeyHandle h = NewKeyHandle();
    ASSERT_TRUE(h);
    Pkey key = MakeSm2Key(PrivateOf(*h), PublicOf(*h));
    ASSERT_TRUE(key);
    for (int i = 0; i < 3; ++i) {
        const Bytes plain = RandomBytes(16);
        const Bytes c = OurEncrypt(plain, PublicOf(*h));
        ASSERT_EQ(c.size(), 112u);
        EXPECT_EQ(ToHex(OpenSslSm2Crypt(key.get(), Sm2RawToDer(RawFromC1C3C2(c)), false)), ToHex(plain));
        Bytes back;
        EXPECT_EQ(OurDecrypt(c, PrivateOf(*h), &back), S_OK);
        EXPECT_EQ(ToHex(back), ToHex(plain));
    }
    const Bytes plain(16, 1), xy = PublicOf(*h);
    BYTE* out = nullptr;
    DWORD size = 0;
    EXPECT_EQ(SKFExtCipher::SM2Encrypt(nullptr, xy.data(), xy.data() + 32, &out, &size), E_INVALIDARG);
    EXPECT_EQ(SKFExtCipher::SM2Encrypt(plain.data(), nullptr, xy.data() + 32, &out, &size), E_INVALIDARG);
    EXPECT_EQ(SKFExtCipher::SM2Encrypt(plain.data(), xy.data(), nullptr, &out, &size), E_INVALIDARG);
    EXPECT_EQ(SKFExtCipher::SM2Encrypt(plain.data(), xy.data(), xy.data() + 32, nullptr, &size), E_INVALIDARG);
    // A point off the curve cannot be encrypted to.
    Bytes off = xy;
    off[63] ^= 1;
    EXPECT_EQ(SKFExtCipher::SM2Encrypt(plain.data(), off.data(), off.data() + 32, &out, &size), kBadData);
}

TEST(HostSm2, ServerCiphertextDecryptsInBothOrders) {
    KeyHandle h = NewKeyHandle();
    ASSERT_TRUE(h);
    Pkey pub = MakeSm2Key({}, PublicOf(*h));
    // What the server sends: X || Y || D of the new key pair, encrypted by OpenSSL.
    const Bytes payload = RandomBytes(96);
    const Bytes raw = Sm2DerToRaw(OpenSslSm2Crypt(pub.get(), payload, true));
    ASSERT_EQ(raw.size(), 97u + 96u);
    const Bytes c1c2c3(raw.begin() + 1, raw.end());
    Bytes c1c3c2(raw.begin() + 1, raw.begin() + 65);
    c1c3c2.insert(c1c3c2.end(), raw.end() - 32, raw.end());
    c1c3c2.insert(c1c3c2.end(), raw.begin() + 65, raw.end() - 32);

    KeyHandle other = NewKeyHandle();
    for (const Bytes* c : std::initializer_list<const Bytes*>{&c1c3c2, &c1c2c3}) {
        Bytes plain;
        EXPECT_EQ(OurDecrypt(*c, PrivateOf(*h), &plain), S_OK);
        EXPECT_EQ(ToHex(plain), ToHex(payload));
        EXPECT_EQ(OurDecrypt(*c, PrivateOf(*other), &plain), kBadData) << "wrong key";
    }
    // A changed byte of C3, in each order.
    Bytes bad = c1c3c2;
    bad[64 + 5] ^= 0x40;
    Bytes plain;
    EXPECT_EQ(OurDecrypt(bad, PrivateOf(*h), &plain), kBadData);
    bad = c1c2c3;
    bad[bad.size() - 3] ^= 0x40;
    EXPECT_EQ(OurDecrypt(bad, PrivateOf(*h), &plain), kBadData);
}

TEST(HostSm2, DecryptionRefusesBadSizesWithoutWriting) {
    KeyHandle h = NewKeyHandle();
    ASSERT_TRUE(h);
    const Bytes good = OurEncrypt(Bytes(16, 7), PublicOf(*h));
    const Bytes d = PrivateOf(*h);
    Bytes plain;
    for (size_t keySize : {31u, 33u, 0u}) {
        Bytes k = d;
        k.resize(keySize, 1);
        if (keySize == 0) k.push_back(0);  // a pointer, with a size of 0
        BYTE* out = reinterpret_cast<BYTE*>(0x10);
        DWORD size = 5;
        EXPECT_EQ(SKFExtCipher::SM2Decrypt(good.data(), DWORD(good.size()), k.data(), DWORD(keySize), &out, &size),
                  E_INVALIDARG)
            << keySize;
        EXPECT_EQ(out, reinterpret_cast<BYTE*>(0x10));
    }
    for (size_t n = 0; n < 96; ++n)
        EXPECT_EQ(OurDecrypt(Bytes(good.begin(), good.begin() + n), d, &plain), E_INVALIDARG) << n;
    EXPECT_EQ(OurDecrypt(Bytes(good.begin(), good.begin() + 96), d, &plain), kBadData);
    BYTE* out = nullptr;
    DWORD size = 0;
    EXPECT_EQ(SKFExtCipher::SM2Decrypt(nullptr, 112, d.data(), 32, &out, &size), E_INVALIDARG);
    EXPECT_EQ(SKFExtCipher::SM2Decrypt(good.data(), 112, nullptr, 32, &out, &size), E_INVALIDARG);
    EXPECT_EQ(SKFExtCipher::SM2Decrypt(good.data(), 112, d.data(), 32, nullptr, &size), E_INVALIDARG);
}

// ---- SM4 ECB

Bytes OpenSslSm4Ecb(const Bytes& key, const Bytes& in, bool pad) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(in.size() + 16);
    int n1 = 0, n2 = 0;
    EVP_EncryptInit_ex(ctx, EVP_sm4_ecb(), nullptr, key.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0);
    EVP_EncryptUpdate(ctx, out.data(), &n1, in.data(), int(in.size()));
    EVP_EncryptFinal_ex(ctx, out.data() + n1, &n2);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(size_t(n1 + n2));
    return out;
}

HRESULT OurSm4(const Bytes& data, const Bytes& key, Bytes* out) {
    BYTE* enc = nullptr;
    int size = 0;
    const HRESULT hr = SKFExtCipher::SM4EncryptDataECB(data.data(), int(data.size()), key.data(), int(key.size()),
                                                       &enc, &size);
    if (hr == S_OK) {
        out->assign(enc, enc + size);
        delete[] enc;
    }
    return hr;
}

TEST(HostSm4, StandardExampleAndIndependentBlocks) {
    const Bytes key = FromHex("0123456789ABCDEFFEDCBA9876543210");
    Bytes out;
    ASSERT_EQ(OurSm4(key, key, &out), S_OK);
    EXPECT_EQ(ToHex(out), "681EDF34D206965E86B3E94F536E4246");
    Bytes four;
    for (int i = 0; i < 4; ++i) four.insert(four.end(), key.begin(), key.end());
    ASSERT_EQ(OurSm4(four, key, &out), S_OK);
    EXPECT_EQ(ToHex(out), "681EDF34D206965E86B3E94F536E4246681EDF34D206965E86B3E94F536E4246"
                          "681EDF34D206965E86B3E94F536E4246681EDF34D206965E86B3E94F536E4246");
}

TEST(HostSm4, WholeBlocksEqualOpenSsl) {
    for (int i = 0; i < 40; ++i) {
        const Bytes key = RandomBytes(16);
        Bytes sizeByte = RandomBytes(2);
        const size_t blocks = 1 + ((sizeByte[0] << 8 | sizeByte[1]) % 256);  // up to 4096 bytes
        const Bytes data = RandomBytes(blocks * 16);
        Bytes out;
        ASSERT_EQ(OurSm4(data, key, &out), S_OK);
        EXPECT_EQ(ToHex(out), ToHex(OpenSslSm4Ecb(key, data, false))) << data.size();
    }
    for (int n : {1, 15, 17, 63, 65, 4095}) {
        Bytes out;
        EXPECT_EQ(OurSm4(RandomBytes(size_t(n)), RandomBytes(16), &out), E_FAIL) << n;
    }
}

TEST(HostSm4, StreamingWithPaddingEqualsOpenSsl) {
    for (size_t n : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 100u, 1000u}) {
        const Bytes key = RandomBytes(16), data = RandomBytes(n);
        SM4ECBContext ctx;
        ASSERT_EQ(SM4ECBInit(key.data(), &ctx, 1), 1);
        Bytes out(n + 16);
        size_t written = 0, at = 0;
        size_t piece = 1;
        while (at < n) {  // pieces of 1, 2, 3, ... bytes cross block borders
            const size_t take = std::min(piece++, n - at);
            int w = -1;
            ASSERT_EQ(SM4ECBUpdate(&ctx, data.data() + at, int(take), out.data() + written, &w), 1);
            at += take;
            written += size_t(w);
            EXPECT_EQ(written, at / 16 * 16);
        }
        int w = -1;
        ASSERT_EQ(SM4ECBFinal(&ctx, out.data() + written, &w), 1);
        EXPECT_EQ(w, 16);
        out.resize(written + size_t(w));
        EXPECT_EQ(ToHex(out), ToHex(OpenSslSm4Ecb(key, data, true))) << n;
    }
    // Without padding, input still pending cannot be finished.
    SM4ECBContext ctx;
    const Bytes key = RandomBytes(16);
    BYTE out[32];
    int w = -1;
    ASSERT_EQ(SM4ECBInit(key.data(), &ctx, 0), 1);
    ASSERT_EQ(SM4ECBUpdate(&ctx, key.data(), 5, out, &w), 1);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(SM4ECBFinal(&ctx, out, &w), 0);
    EXPECT_EQ(SM4ECBInit(key.data(), nullptr, 0), 0);
    EXPECT_EQ(SM4ECBInit(nullptr, &ctx, 0), 0);
    EXPECT_EQ(SM4ECBUpdate(&ctx, nullptr, 16, out, &w), 0);
    EXPECT_EQ(SM4ECBUpdate(&ctx, key.data(), -1, out, &w), 0);
}

TEST(HostSm4, RefusesBadArguments) {
    const Bytes key(16, 1), data(32, 2);
    BYTE* out = reinterpret_cast<BYTE*>(0x10);
    int size = 9;
    const struct {
        const BYTE* data;
        int dataSize;
        const BYTE* key;
        int keyLen;
        int* outSize;
    } rows[] = {
        {nullptr, 32, key.data(), 16, &size},
        {data.data(), 0, key.data(), 16, &size},
        {data.data(), -16, key.data(), 16, &size},
        {data.data(), 32, nullptr, 16, &size},
        {data.data(), 32, key.data(), 0, &size},
        {data.data(), 32, key.data(), 8, &size},   // SM4 reads 16 key bytes
        {data.data(), 32, key.data(), 17, &size},
        {data.data(), 32, key.data(), 16, nullptr},
        {data.data(), INT_MAX - 15, key.data(), 16, &size},  // size + 16 overflows
        {data.data(), INT_MAX, key.data(), 16, &size},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(SKFExtCipher::SM4EncryptDataECB(r.data, r.dataSize, r.key, r.keyLen, &out, r.outSize), E_INVALIDARG)
            << r.dataSize << "/" << r.keyLen;
        EXPECT_EQ(out, reinterpret_cast<BYTE*>(0x10));
    }
    EXPECT_EQ(SKFExtCipher::SM4EncryptDataECB(data.data(), 32, key.data(), 16, nullptr, &size), E_INVALIDARG);
}

}  // namespace
