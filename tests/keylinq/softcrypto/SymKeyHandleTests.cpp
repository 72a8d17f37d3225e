// The host key handle's whole-cycle Encrypt after Update calls of the same
// cycle: the bytes those calls left in the context come out with the new
// input, so the needed length counts them and nothing is written beyond the
// room the caller gave. OpenSSL's SM4-CBC is the reference.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "SymKeyHandle.h"
#include "TestBytes.h"

namespace {

const Bytes KEY = FromHex("0123456789abcdeffedcba9876543210");
const Bytes IV = FromHex("000102030405060708090a0b0c0d0e0f");
constexpr uint8_t ALG_SM4 = 19;
constexpr uint8_t MODE_CBC = 2;
constexpr uint8_t CANARY = 0xCC;

Bytes EvpSm4(const Bytes& in, bool encrypt) {
    EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
    Bytes out(in.size() + 16);
    int n = 0, f = 0;
    EVP_CipherInit_ex(c, EVP_sm4_cbc(), nullptr, KEY.data(), IV.data(), encrypt ? 1 : 0);
    EVP_CipherUpdate(c, out.data(), &n, in.data(), static_cast<int>(in.size()));
    EVP_CipherFinal_ex(c, out.data() + n, &f);
    EVP_CIPHER_CTX_free(c);
    out.resize(size_t(n + f));
    return out;
}

struct Case {
    const char* name;
    uint8_t cryptType;
    Bytes first;   // fed with Update
    Bytes second;  // fed with Encrypt
    uint32_t needed;
    Bytes result;  // what the whole cycle gives
};

TEST(SymKeyHandle, EncryptAfterUpdateCountsTheHeldBytes) {
    const Bytes message = FromText("seventeen bytes!!");  // 17 bytes: two blocks with padding
    const Bytes cipher = EvpSm4(message, true);
    ASSERT_EQ(32u, cipher.size());
    const Case cases[] = {
        // 15 bytes wait for a block; 1 more plus padding makes two blocks.
        {"encrypt", SYMKEY_ENCRYPT, Bytes(message.begin(), message.begin() + 15),
         Bytes(message.begin() + 15, message.begin() + 16), 32,
         EvpSm4(Bytes(message.begin(), message.begin() + 16), true)},
        // The first block is held back for the final step.
        {"decrypt", SYMKEY_DECRYPT, Bytes(cipher.begin(), cipher.begin() + 16),
         Bytes(cipher.begin() + 16, cipher.end()), 32, message},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CSymKeyHandle* h = nullptr;
        ASSERT_EQ(0u, CSymKeyHandle::Initialize(ALG_SM4, c.cryptType, MODE_CBC, KEY.data(), IV.data(), &h));
        Bytes scratch(64, 0);
        uint32_t len = 0;
        ASSERT_EQ(0u, h->Update(c.first.data(), uint32_t(c.first.size()), scratch.data(), &len));
        EXPECT_EQ(0u, len);

        // Size query and a room of the input's own length: the held bytes count.
        len = 0;
        EXPECT_EQ(0u, h->Encrypt(c.second.data(), uint32_t(c.second.size()), nullptr, &len));
        EXPECT_EQ(c.needed, len);
        Bytes out(64, CANARY);
        len = 16;
        EXPECT_EQ(SYMKEY_E_TOO_SMALL, h->Encrypt(c.second.data(), uint32_t(c.second.size()), out.data(), &len));
        EXPECT_EQ(c.needed, len);
        EXPECT_EQ(Bytes(64, CANARY), out) << "written beyond a room of 16 bytes";

        len = c.needed;
        ASSERT_EQ(0u, h->Encrypt(c.second.data(), uint32_t(c.second.size()), out.data(), &len));
        EXPECT_EQ(c.result, Bytes(out.begin(), out.begin() + len));
        EXPECT_EQ(CANARY, out[c.needed]);
        delete h;
    }
}

}  // namespace
