// Key-pair and session-key imports: the RSA-1024 record order, the wrapped
// RSA imports (both sizes), the bounds every blob is checked against before
// the first command, and the key spec rule.
#include <memory>

#include "AsymKeyObject.h"
#include "KeyObjectTestSupport.h"
#include "RsaKeyRecord.h"

namespace {

class KeyImportTest : public KeyOperatorTest {
protected:
    Bytes ExportModulus(uint8_t keySpec, size_t len) {
        Bytes record(780);
        uint8_t alg = 0;
        uint32_t size = 780;
        EXPECT_EQ(0u, op->ExportPublicKey("C1", keySpec, &alg, record.data(), &size));
        return Bytes(record.begin(), record.begin() + long(len));
    }
    // A 16-byte key wrapped for the container's RSA-1024 signature key.
    Bytes WrapForSignatureKey(const Bytes& symKey) {
        EXPECT_EQ(0u, op->GenerateKeyPair("C1", 2, VM_ALG_RSA1024, nullptr));
        Bytes record(780);
        uint8_t alg = 0;
        uint32_t size = 780;
        EXPECT_EQ(0u, op->ExportPublicKey("C1", 2, &alg, record.data(), &size));
        return RefRsaEncrypt(Bytes(record.begin(), record.begin() + 128), Bytes(record.begin() + 260, record.begin() + 264),
                             symKey);
    }
    static Bytes Concat(std::initializer_list<const Bytes*> parts) {
        Bytes out;
        for (const Bytes* p : parts) out.insert(out.end(), p->begin(), p->end());
        return out;
    }
};

TEST_F(KeyImportTest, Rsa1024RecordGoesFirstThirdSecondAndTheKeyWorks) {
    const RefRsaKey rsa = RefRsaGenerate(1024);
    RSA_KEY_RECORD rec = {};
    const Bytes third = Concat({&rsa.p, &rsa.q, &rsa.dp, &rsa.dq});
    std::memcpy(rec.abyFirst, rsa.n.data(), 128);
    rec.nFirstLen = 128;
    std::memcpy(rec.abySecond, rsa.d.data(), 128);
    rec.nSecondLen = 128;
    std::memcpy(rec.abyThird, third.data(), 256);
    rec.nThirdLen = 256;

    CAsymKeyObject* raw = nullptr;
    ASSERT_EQ(0u, op->ImportKeyPair("C1", 1, VM_ALG_RSA1024, reinterpret_cast<const uint8_t*>(&rec), sizeof rec,
                                    nullptr, 0, &raw));
    std::unique_ptr<CAsymKeyObject> key(raw);
    std::vector<vk::RecordEntry> chunks;
    for (const vk::RecordEntry& e : Entries())
        if (e.ins == 0x56) chunks.push_back(e);
    ASSERT_EQ(3u, chunks.size());
    const Bytes blob = Concat({&rsa.n, &third, &rsa.d});
    EXPECT_EQ(Bytes(blob.begin(), blob.begin() + 256), Bytes(chunks[0].data.begin() + 20, chunks[0].data.end()));
    EXPECT_EQ(Bytes(blob.begin() + 256, blob.end()), Bytes(chunks[1].data.begin() + 20, chunks[1].data.end()));
    EXPECT_EQ(1, chunks[2].p1);
    EXPECT_EQ(0, chunks[2].p2);  // not encrypted
    EXPECT_EQ(rsa.n, ExportModulus(1, 128));

    const Bytes plain = {'k', 'e', 'y'};
    Bytes cipher = RefRsaEncrypt(rsa.n, rsa.e, plain), block(128);
    uint32_t len = 128;
    ASSERT_EQ(0u, key->PrikeyDec(cipher.data(), 128, block.data(), &len));
    EXPECT_EQ(plain, Bytes(block.end() - 3, block.end()));
}

TEST_F(KeyImportTest, WrappedRsaImportsUnwrapFirstAndSetTheEncryptedFlag) {
    const Bytes symKey = {0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87, 0x98, 0xA9, 0xBA, 0xCB, 0xDC, 0xED, 0xFE, 0x0F};
    // While the exchange key file is empty the key opens the wrapped key
    // with the signature key, afterwards with the exchange key itself.
    Bytes wrapped = WrapForSignatureKey(symKey);
    ASSERT_EQ(128u, wrapped.size());
    for (int bits : {2048, 1024}) {
        const RefRsaKey rsa = RefRsaGenerate(bits);
        Bytes plainBlob = Concat({&rsa.n, &rsa.p, &rsa.q, &rsa.dp, &rsa.dq});
        // The 1024-bit blob ends with d; a wrapped key makes it an encrypted
        // blob like the 2048-bit one, never a key record.
        if (bits == 1024) plainBlob.insert(plainBlob.end(), rsa.d.begin(), rsa.d.end());
        const Bytes blob = RefSm4Ecb(symKey, plainBlob);
        const uint8_t alg = bits == 2048 ? VM_ALG_RSA2048 : VM_ALG_RSA1024;
        Clear();
        ASSERT_EQ(0u, op->ImportKeyPair("C1", 1, alg, blob.data(), uint32_t(blob.size()), wrapped.data(),
                                        uint32_t(wrapped.size()), nullptr))
            << bits;
        std::vector<uint32_t> keyCommands;
        uint8_t closingP2 = 0xFF;
        for (const vk::RecordEntry& e : Entries()) {
            if (e.ins == 0xA0 || e.ins == 0x56) keyCommands.push_back(uint32_t(e.ins) << 8 | e.p1);
            if (e.ins == 0x56 && e.p1 == 1) closingP2 = e.p2;
        }
        std::vector<uint32_t> expected = {0xA000};
        expected.insert(expected.end(), bits / 1024 + 1, 0x5600);
        expected.push_back(0x5601);
        EXPECT_EQ(expected, keyCommands) << bits;
        EXPECT_EQ(1, closingP2) << bits;
        EXPECT_EQ(rsa.n, ExportModulus(1, rsa.n.size())) << bits;
        wrapped = RefRsaEncrypt(rsa.n, rsa.e, symKey);
    }
}

TEST_F(KeyImportTest, BlobsAreBoundedBeforeAnyCommand) {
    RSA_KEY_RECORD rec = {};
    rec.nFirstLen = 128;
    rec.nSecondLen = 128;
    rec.nThirdLen = 256;
    const Bytes big(1024, 0x33), wrapped(128, 0x44);
    struct Row {
        const char* name;
        uint8_t alg;
        uint32_t first, second, third;  // record lengths (RSA-1024 only)
        uint32_t keyLen;
        uint32_t wrappedLen;  // 0: no wrapped key
        uint32_t result;
    } rows[] = {
        {"field longer than 256", VM_ALG_RSA1024, 257, 127, 128, 780, 0, 0x80070104u},
        {"fields above 512 in all", VM_ALG_RSA1024, 256, 1, 256, 780, 0, 0x80070104u},
        {"record shorter than 780", VM_ALG_RSA1024, 128, 128, 256, 779, 0, 0x80070104u},
        {"wrapped 1024 blob shorter than 512", VM_ALG_RSA1024, 0, 0, 0, 511, 128, 0x80070104u},
        {"2048 blob shorter than 768", VM_ALG_RSA2048, 0, 0, 0, 767, 0, 0x80070104u},
        {"wrapped key longer than the command", VM_ALG_RSA2048, 0, 0, 0, 768, 493, 0x80070104u},
        {"empty wrapped key", VM_ALG_RSA2048, 0, 0, 0, 768, 0xFFFFFFFF, 0x80070104u},
        {"SM2 blob longer than the command", VM_ALG_SM2, 0, 0, 0, 493, 0, 0x80070104u},
        {"empty SM2 blob", VM_ALG_SM2, 0, 0, 0, 0, 0, 0x80070104u},
    };
    for (const Row& row : rows) {
        Clear();
        Bytes key = big;
        if (row.alg == VM_ALG_RSA1024 && row.wrappedLen == 0) {
            rec.nFirstLen = row.first;
            rec.nSecondLen = row.second;
            rec.nThirdLen = row.third;
            std::memcpy(key.data(), &rec, sizeof rec);
        }
        const uint32_t wrappedLen = row.wrappedLen == 0xFFFFFFFF ? 0 : row.wrappedLen;
        EXPECT_EQ(row.result, op->ImportKeyPair("C1", 1, row.alg, key.data(), row.keyLen,
                                                row.wrappedLen ? wrapped.data() : nullptr, wrappedLen, nullptr))
            << row.name;
        EXPECT_TRUE(Entries().empty()) << row.name;
    }
    EXPECT_EQ(0x80070116u, op->ImportKeyPair("C1", 2, VM_ALG_SM2, big.data(), 100, nullptr, 0, nullptr));
    EXPECT_EQ(0x80070104u, op->ImportEncSessionKey(exchangeFID, big.data(), 493));
    EXPECT_EQ(0x80070104u, op->ImportEncSessionKey(exchangeFID, big.data(), 0));
    EXPECT_EQ(0x80070101u, op->ImportEncSessionKey(exchangeFID, nullptr, 16));
    EXPECT_TRUE(Entries().empty());
}

TEST_F(KeyImportTest, WrappedSessionKeyImportAndRandomBytes) {
    const Bytes symKey(16, 0x5C);
    const Bytes wrapped = WrapForSignatureKey(symKey);
    Clear();
    ASSERT_EQ(0u, op->ImportEncSessionKey(exchangeFID, wrapped.data(), uint32_t(wrapped.size())));
    EXPECT_EQ(1u, Count(0xA0));
    Bytes bad = wrapped;
    bad[5] ^= 0xFF;
    EXPECT_EQ(0x80006A80u, op->ImportEncSessionKey(exchangeFID, bad.data(), uint32_t(bad.size())));

    Clear();
    uint8_t random[16] = {};
    ASSERT_EQ(0u, op->GenerateRandom(1, 16, random));
    EXPECT_EQ((std::vector<uint32_t>{0xB05000}), Sent());
    Clear();
    ASSERT_EQ(0u, op->GenerateRandom(0, 16, random));
    EXPECT_TRUE(Entries().empty());
    EXPECT_EQ(0x80070101u, op->GenerateRandom(1, 16, nullptr));
}

}  // namespace
