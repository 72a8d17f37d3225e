// Key pairs on the key and their key objects: SM2 and RSA generation,
// public-key export, signatures and decryption on the key checked with
// OpenSSL, the host-side encryption and verification, and the RSA padding.
#include <memory>

#include "AsymKeyObject.h"
#include "KeyObjectTestSupport.h"
#include "RsaKeyRecord.h"
#include "SoftCrypto.h"

namespace {

using KeyPtr = std::unique_ptr<CAsymKeyObject>;

class KeyObjectTest : public KeyOperatorTest {
protected:
    KeyPtr Generate(uint8_t keySpec, uint8_t alg) {
        CAsymKeyObject* key = nullptr;
        EXPECT_EQ(0u, op->GenerateKeyPair("C1", keySpec, alg, &key));
        return KeyPtr(key);
    }
    Bytes PublicKey(uint8_t keySpec, uint32_t expectedSize) {
        uint8_t alg = 0;
        uint32_t size = 0;
        EXPECT_EQ(0u, op->ExportPublicKey("C1", keySpec, &alg, nullptr, &size));
        EXPECT_EQ(expectedSize, size);
        Bytes out(size);
        EXPECT_EQ(0u, op->ExportPublicKey("C1", keySpec, &alg, out.data(), &size));
        return out;
    }
    // The data of the last command with that INS, after the 20-byte prefix.
    Bytes LastData(uint8_t ins) {
        Bytes data;
        for (const vk::RecordEntry& e : Entries())
            if (e.ins == ins) data.assign(e.data.begin() + 20, e.data.end());
        return data;
    }
};

TEST_F(KeyObjectTest, Sm2KeyGeneratedOnTheKeySignsWhatOpenSslVerifies) {
    KeyPtr generated = Generate(2, VM_ALG_SM2);
    ASSERT_TRUE(generated);
    EXPECT_EQ(1u, Count(0x70));

    // The export: 96 bytes (X, Y, 32 zero bytes), size query first.
    uint8_t alg = 0;
    uint32_t size = 95;
    Bytes small(95);
    EXPECT_EQ(0x80070103u, op->ExportPublicKey("C1", 2, &alg, small.data(), &size));
    EXPECT_EQ(96u, size);
    EXPECT_EQ(VM_ALG_SM2, alg);
    const Bytes record = PublicKey(2, 96);
    EXPECT_EQ(Bytes(32, 0), Bytes(record.begin() + 64, record.end()));
    const Bytes pub(record.begin(), record.begin() + 64);

    // Z of the container's key, and a signature of e = SM3(Z || M).
    uint8_t z[32] = {};
    ASSERT_EQ(0u, op->GetZValue("C1", z));
    EXPECT_EQ(RefSm2Z(pub), Bytes(z, z + 32));
    const Bytes message = {'r', 'e', 'n', 'e', 'w'};
    Bytes zm(z, z + 32);
    zm.insert(zm.end(), message.begin(), message.end());
    const Bytes e = RefSm3(zm);

    uint16_t fid = 0;
    ASSERT_EQ(0u, op->GetContainerInfo("C1", 2, nullptr, &fid, nullptr, 1));
    CAsymKeyObject* raw = nullptr;
    ASSERT_EQ(0u, op->NewAsymKey(VM_ALG_SM2, fid, &raw));
    KeyPtr key(raw);
    Bytes signature(64);
    uint32_t len = 64;
    ASSERT_EQ(0u, key->PrikeySign(VM_ALG_SM3, e.data(), 32, signature.data(), &len));
    EXPECT_EQ(64u, len);
    EXPECT_TRUE(RefSm2VerifyMessage(pub, message, signature));
    EXPECT_EQ(0u, key->Verify(VM_ALG_SM3, e.data(), 32, signature.data(), 64));
    Bytes forged = signature;
    forged[10] ^= 1;
    EXPECT_EQ(0x80070212u, key->Verify(VM_ALG_SM3, e.data(), 32, forged.data(), 64));

    // A 20-byte digest never reaches the key.
    Clear();
    len = 64;
    EXPECT_EQ(0x80070104u, key->SignDigest(e.data(), 20, signature.data(), &len));
    EXPECT_EQ(0x80070104u, key->PrikeySign(VM_ALG_SM3, e.data(), 20, signature.data(), &len));
    EXPECT_EQ(0u, Count(0x73));
}

TEST_F(KeyObjectTest, Sm2HostEncryptionOpensOnTheKeyAndShortCiphertextsAreRefused) {
    KeyPtr key = Generate(1, VM_ALG_SM2);
    ASSERT_TRUE(key);
    const Bytes plain = {'s', 'e', 's', 's', 'i', 'o', 'n', ' ', 'k', 'e', 'y'};
    Bytes cipher(plain.size() + 97);
    uint32_t cipherLen = uint32_t(cipher.size()) - 1;
    EXPECT_EQ(0x80070103u, key->Encrypt(plain.data(), uint32_t(plain.size()), cipher.data(), &cipherLen));
    cipherLen = uint32_t(cipher.size());
    ASSERT_EQ(0u, key->Encrypt(plain.data(), uint32_t(plain.size()), cipher.data(), &cipherLen));
    ASSERT_EQ(cipher.size(), cipherLen);
    // The key takes 04 || x1 || y1 || C3 || C2.
    Bytes keyForm(cipher.begin(), cipher.begin() + 65);
    keyForm.insert(keyForm.end(), cipher.end() - 32, cipher.end());
    keyForm.insert(keyForm.end(), cipher.begin() + 65, cipher.end() - 32);

    Bytes out(plain.size());
    uint32_t outLen = uint32_t(out.size()) - 1;
    EXPECT_EQ(0x80070103u, key->PrikeyDec(keyForm.data(), uint32_t(keyForm.size()), out.data(), &outLen));
    EXPECT_EQ(plain.size(), outLen);
    ASSERT_EQ(0u, key->PrikeyDec(keyForm.data(), uint32_t(keyForm.size()), out.data(), &outLen));
    EXPECT_EQ(plain, out);

    // A ciphertext without plaintext needs no output: refused, not sized.
    Clear();
    outLen = 16;
    EXPECT_EQ(0x80070104u, key->PrikeyDec(keyForm.data(), 97, out.data(), &outLen));
    EXPECT_EQ(0u, outLen);
    EXPECT_EQ(0u, key->GetOutLen(ASYM_OP_DECRYPT, 20));
    EXPECT_EQ(3u, key->GetOutLen(ASYM_OP_DECRYPT, 100));
    EXPECT_EQ(0u, Count(0x75));
}

TEST_F(KeyObjectTest, RsaKeyDecryptsHostAndOpenSslEncryption) {
    KeyPtr key = Generate(1, VM_ALG_RSA1024);
    ASSERT_TRUE(key);
    EXPECT_EQ(1u, Count(0x54));
    const Bytes record = PublicKey(1, 780);
    RSA_KEY_RECORD rec;
    std::memcpy(&rec, record.data(), sizeof rec);
    ASSERT_EQ(128u, rec.nFirstLen);
    ASSERT_EQ(4u, rec.nSecondLen);
    EXPECT_EQ(0u, rec.nThirdLen);
    const Bytes n(rec.abyFirst, rec.abyFirst + 128), e(rec.abySecond, rec.abySecond + 4);
    EXPECT_EQ((Bytes{0, 1, 0, 1}), e);

    const Bytes plain = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    for (bool host : {true, false}) {
        Bytes cipher(128);
        uint32_t cipherLen = 128;
        if (host) {
            ASSERT_EQ(0u, key->Encrypt(plain.data(), uint32_t(plain.size()), cipher.data(), &cipherLen));
        } else {
            cipher = RefRsaEncrypt(n, e, plain);
        }
        Bytes block(128);
        uint32_t blockLen = 128;
        ASSERT_EQ(0u, key->PrikeyDec(cipher.data(), 128, block.data(), &blockLen));
        EXPECT_EQ(0x00, block[0]);
        EXPECT_EQ(0x02, block[1]);
        EXPECT_EQ(0x00, block[128 - plain.size() - 1]);
        EXPECT_EQ(plain, Bytes(block.end() - long(plain.size()), block.end())) << (host ? "host" : "OpenSSL");
    }
    Bytes block(128);
    uint32_t blockLen = 128;
    EXPECT_EQ(0x80070104u, key->Decrypt(block.data(), 127, block.data(), &blockLen));
    Bytes tooLong(118, 0x42);
    EXPECT_EQ(0x80070104u, key->Encrypt(tooLong.data(), 118, block.data(), &blockLen));
}

TEST_F(KeyObjectTest, RsaSignDigestPadding) {
    KeyPtr key = Generate(2, VM_ALG_RSA1024);
    ASSERT_TRUE(key);
    const Bytes record = PublicKey(2, 780);
    const Bytes n(record.begin(), record.begin() + 128), e(record.begin() + 260, record.begin() + 264);

    const Bytes sha1 = RefSha1({'a', 'b', 'c'});
    Bytes digestInfo = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
    digestInfo.insert(digestInfo.end(), sha1.begin(), sha1.end());
    ASSERT_EQ(35u, digestInfo.size());
    auto typeOne = [](const Bytes& data) {
        Bytes block = {0x00, 0x01};
        block.insert(block.end(), 128 - data.size() - 3, 0xFF);
        block.push_back(0x00);
        block.insert(block.end(), data.begin(), data.end());
        return block;
    };
    Bytes prePadded = typeOne(digestInfo);
    Bytes startsLikePadding = digestInfo;
    startsLikePadding[0] = 0x00;
    startsLikePadding[1] = 0x01;
    Bytes shortPadded(prePadded.begin(), prePadded.end() - 1);

    struct Row {
        const char* name;
        Bytes input;
        uint32_t result;
        Bytes sentBlock;  // empty: no command
    } rows[] = {
        {"35-byte DigestInfo", digestInfo, 0, typeOne(digestInfo)},
        {"full-length block 00 01", prePadded, 0, prePadded},
        {"short data that starts 00 01", startsLikePadding, 0, typeOne(startsLikePadding)},
        {"one byte", Bytes{0x01}, 0, typeOne(Bytes{0x01})},
        {"117 bytes", Bytes(117, 0x5A), 0, typeOne(Bytes(117, 0x5A))},
        {"118 bytes", Bytes(118, 0x5A), 0x80070104u, {}},
        {"127-byte block 00 01", shortPadded, 0x80070104u, {}},
    };
    for (const Row& row : rows) {
        Clear();
        Bytes signature(128);
        uint32_t len = 128;
        EXPECT_EQ(row.result, key->PrikeySign(0xFF, row.input.data(), uint32_t(row.input.size()), signature.data(),
                                              &len))
            << row.name;
        EXPECT_EQ(row.sentBlock.empty() ? 0u : 1u, Count(0x57)) << row.name;
        if (!row.sentBlock.empty()) {
            EXPECT_EQ(row.sentBlock, LastData(0x57)) << row.name;
        }
        if (row.input == digestInfo) {
            EXPECT_TRUE(RefRsaVerifySha1(n, e, sha1, signature));
            EXPECT_EQ(0u, key->Verify(SOFT_HASH_SHA1, sha1.data(), 20, signature.data(), 128));
            EXPECT_EQ(0x80070104u, key->Verify(SOFT_HASH_SHA1, sha1.data(), 19, signature.data(), 128));
            EXPECT_EQ(0x80070114u, key->Verify(18, sha1.data(), 20, signature.data(), 128));
        }
    }

    // An RSA-2048 object needs 256 bytes of room before anything is sent.
    CAsymKeyObject* raw = nullptr;
    ASSERT_EQ(0u, op->NewAsymKey(VM_ALG_RSA2048, 0x1F01, &raw));
    KeyPtr big(raw);
    Clear();
    Bytes out(128);
    uint32_t len = 128;
    EXPECT_EQ(0x80070103u, big->PrikeySign(0xFF, digestInfo.data(), 35, out.data(), &len));
    EXPECT_EQ(256u, len);
    EXPECT_TRUE(Entries().empty());
}

TEST_F(KeyObjectTest, FactoryAndAlgorithmChecks) {
    CAsymKeyObject* raw = nullptr;
    EXPECT_EQ(0x80070114u, op->NewAsymKey(3, 0x1F01, &raw));
    EXPECT_EQ(nullptr, raw);
    EXPECT_EQ(0x80070101u, op->NewAsymKey(VM_ALG_SM2, 0x1F01, nullptr));
    ASSERT_EQ(0u, op->NewAsymKey(VM_ALG_RSA2048, 0x1F02, &raw));
    KeyPtr key(raw);
    EXPECT_EQ(VM_ALG_RSA2048, key->GetAlgID());
    EXPECT_EQ(0x1F02, key->GetKeyFID());
    EXPECT_EQ(context, key->GetDevCtx());
    EXPECT_EQ(256u, key->GetOutLen(ASYM_OP_SIGN, 1));

    // Generation with an unknown algorithm sends no generation command.
    EXPECT_EQ(0x80070114u, op->GenerateKeyPair("C1", 2, 3, nullptr));
    EXPECT_EQ(0u, Count(0x54) + Count(0x70));
    // An SM2 signature of a key file without a key: the key's own answer.
    KeyPtr empty(nullptr);
    ASSERT_EQ(0u, op->NewAsymKey(VM_ALG_SM2, exchangeFID, &raw));
    empty.reset(raw);
    Bytes digest(32, 1), signature(64);
    uint32_t len = 64;
    EXPECT_EQ(0x80006A88u, empty->PrikeySign(VM_ALG_SM3, digest.data(), 32, signature.data(), &len));
    // A key object without a device context.
    CAsymKeyObject* detached = nullptr;
    ASSERT_EQ(0u, op->NewAsymKey(VM_ALG_SM2, exchangeFID, &detached));
    detached->SetDevCtx(nullptr);
    len = 64;
    EXPECT_EQ(0x80070113u, detached->PrikeySign(VM_ALG_SM3, digest.data(), 32, signature.data(), &len));
    EXPECT_EQ(0u, len);
    delete detached;
}

}  // namespace
