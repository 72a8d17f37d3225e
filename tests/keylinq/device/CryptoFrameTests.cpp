// Exact frames of the cryptographic commands, the bounded button poll and
// the inputs the builders refuse.
#include "KeyCommandTestSupport.h"

namespace {

const ByteVec USER_ID = {'1', '2', '3', '4', '5', '6', '7', '8', '1', '2', '3', '4', '5', '6', '7', '8'};

class CryptoFrames : public KeyCommandTest {
protected:
    void SetUp() override {
        KeyCommandTest::SetUp();
        base = ContainerWithSm2SignKey("SIGN");
        fid = uint16_t(base | 2);
    }
    uint16_t base = 0;
    uint16_t fid = 0;
};

TEST_F(CryptoFrames, MultiStepSignatureOf600Bytes) {
    ByteVec message(600);
    for (size_t i = 0; i < message.size(); ++i) message[i] = uint8_t(i);
    uint8_t signature[64];
    uint32_t len = 0;
    ASSERT_EQ(0u, crypto.SM2SignDisp(auth, fid, message.data(), uint32_t(message.size()), signature, &len));
    EXPECT_EQ(64u, len);

    std::vector<vk::RecordEntry> frames = Taken();
    ASSERT_EQ(6u, frames.size());
    struct Row {
        uint8_t p1;
        ByteVec data;
        uint16_t le;
    };
    const Row rows[] = {{0, Cat(Prefix(fid), USER_ID), 0},
                        {1, Cat(Prefix(fid), ByteVec(message.begin(), message.begin() + 256)), 0},
                        {1, Cat(Prefix(fid), ByteVec(message.begin() + 256, message.begin() + 512)), 0},
                        {1, Cat(Prefix(fid), ByteVec(message.begin() + 512, message.end())), 0},
                        {2, Prefix(fid), 0},
                        {3, Prefix(fid), 64}};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(0xB4, frames[i].cla) << i;
        EXPECT_EQ(0x74, frames[i].ins) << i;
        EXPECT_EQ(rows[i].p1, frames[i].p1) << i;
        EXPECT_EQ(0, frames[i].p2) << i;
        EXPECT_EQ(rows[i].data, frames[i].data) << i;
        EXPECT_EQ(rows[i].le, frames[i].le) << i;
    }
    EXPECT_EQ(36u, frames[0].data.size());
    EXPECT_EQ(108u, frames[3].data.size());

    // An empty message: steps 0, 2 and 3 only.
    ASSERT_EQ(0u, crypto.SM2SignDisp(auth, fid, nullptr, 0, signature, &len));
    frames = Taken();
    ASSERT_EQ(3u, frames.size());
    EXPECT_EQ((ByteVec{0, 2, 3}), (ByteVec{frames[0].p1, frames[1].p1, frames[2].p1}));
}

TEST_F(CryptoFrames, RsaMultiStepSignatureRefusesAnUnknownAlgorithmAtItsLastStep) {
    ASSERT_EQ(0u, keyCmd.GenRsaKeyPair(1, auth, uint16_t(base | 1)));
    Taken();
    const ByteVec message(10, 7);
    uint8_t signature[256];
    uint32_t len = 0;
    EXPECT_EQ(0x80070114u, crypto.RSASignDisp(auth, uint16_t(base | 1), 3, 11, message.data(), 10, signature, &len));
    std::vector<vk::RecordEntry> frames = Taken();
    ASSERT_EQ(3u, frames.size()) << "steps 0 to 2 went out, step 3 did not";
    EXPECT_EQ(Cat(Prefix(uint16_t(base | 1)), {11}), frames[0].data);
    EXPECT_EQ(0x58, frames[2].ins);
    EXPECT_EQ(2, frames[2].p1);

    ASSERT_EQ(0u, crypto.RSASignDisp(auth, uint16_t(base | 1), 1, 11, message.data(), 10, signature, &len));
    EXPECT_EQ(128u, len);
    EXPECT_EQ(128, Taken().back().le);
}

TEST_F(CryptoFrames, SymmetricInitUpdateFinalAndHashFrames) {
    uint8_t iv[16];
    for (uint8_t i = 0; i < 16; ++i) iv[i] = uint8_t(0xF0 + i);
    const ByteVec key(16, 0x42);
    ASSERT_EQ(0u, keyCmd.ImportSymKey(0x1301, key.data(), 16));
    ASSERT_EQ(0u, crypto.SymEncryptInit(1, 0x1301, iv));
    ASSERT_EQ(0u, crypto.SymEncryptInit(2, 0x1301, iv));
    ASSERT_EQ(0u, crypto.SymEncryptInit(0, 0x1002, nullptr));
    uint8_t out[128];
    uint32_t len = 0;
    ASSERT_EQ(0u, crypto.SymEncryptFinal(0, nullptr, 0, out, &len));
    EXPECT_EQ(0u, len);
    ASSERT_EQ(0u, crypto.HashInit(18));
    const uint8_t abc[3] = {'a', 'b', 'c'};
    ASSERT_EQ(0u, crypto.HashUpdate(abc, 3));
    ASSERT_EQ(0u, crypto.HashFinal(out, &len));
    EXPECT_EQ(32u, len);

    std::vector<vk::RecordEntry> frames = Taken();
    ASSERT_EQ(8u, frames.size());
    EXPECT_EQ(0xB4, frames[0].cla);
    EXPECT_EQ((ByteVec{0, 0, 0, 0, 0x13, 0x01, 0, 16, 0x42}), ByteVec(frames[0].data.begin(), frames[0].data.begin() + 9));
    const ByteVec init = Cat(Cat({0, 0, 0, 0, 0x13, 0x01, 0x00, 0x10}, Bytes(iv, 16)), ByteVec(8, 0));
    EXPECT_EQ(0xB0, frames[1].cla);
    EXPECT_EQ(0xA4, frames[1].ins);
    EXPECT_EQ(init, frames[1].data);
    EXPECT_EQ(0xAC, frames[2].ins);
    EXPECT_EQ(init, frames[2].data);
    EXPECT_EQ(0xAC, frames[3].ins) << "any direction but 1 decrypts";
    EXPECT_EQ(Cat({0, 0, 0, 0, 0x10, 0x02, 0x00, 0x10}, ByteVec(24, 0)), frames[3].data);
    EXPECT_EQ(0xB2, frames[4].ins);
    EXPECT_EQ((ByteVec{0, 0, 0, 0}), frames[4].data);
    EXPECT_EQ(128, frames[4].le);
    EXPECT_EQ((ByteVec{0xB6, 0x00, 0x12}), (ByteVec{frames[5].ins, frames[5].p1, frames[5].p2}));
    EXPECT_TRUE(frames[5].data.empty());
    EXPECT_EQ((ByteVec{'a', 'b', 'c'}), frames[6].data);
    EXPECT_EQ(0, frames[6].le);
    EXPECT_TRUE(frames[7].data.empty());
    EXPECT_EQ(64, frames[7].le);
}

TEST_F(CryptoFrames, InputsThatCannotBeCarriedAreRefusedUnsent) {
    ByteVec big(5000, 1);
    uint8_t out[300];
    uint32_t len = 0;
    // Shorter than the 97 bytes of C1 and C3 around the plaintext.
    EXPECT_EQ(0x80070057u, crypto.SM2Decrypt(auth, fid, big.data(), 96, out, &len));
    EXPECT_EQ(0x80070057u, crypto.SM2Decrypt(auth, fid, big.data(), 301, out, &len));
    EXPECT_EQ(0x80070057u, crypto.SM2SignDigest(auth, fid, big.data(), 45, out, &len));
    EXPECT_EQ(0x80070057u, crypto.RSAPriKeyRaw(auth, fid, 1, big.data(), 301, out, &len));
    EXPECT_EQ(0x80070057u, crypto.SignWithAdminKey(auth, 17, big.data(), 305, out, &len));
    EXPECT_EQ(0x80070057u, crypto.SymEncryptUpdate(1, big.data(), 317, out, &len));
    EXPECT_EQ(0x80070057u, crypto.SymEncryptFinal(1, big.data(), 317, out, &len));
    // A hash update longer than a frame carries.
    EXPECT_EQ(0x80070057u, crypto.HashUpdate(big.data(), 4089));
    EXPECT_EQ(0x80070114u, crypto.RSAPriKeyRaw(auth, fid, 2, big.data(), 128, out, &len));
    EXPECT_EQ(0x80070114u, crypto.SignWithAdminKey(auth, 7, big.data(), 32, out, &len));
    EXPECT_TRUE(Taken().empty());

    // (Over HID a frame must also fit one feature report: 320 bytes of plain data.)
    ASSERT_EQ(0u, crypto.HashInit(18));
    EXPECT_EQ(0u, crypto.HashUpdate(big.data(), 320));
    // 113 bytes of ciphertext ask for 16 bytes of plaintext.
    EXPECT_EQ(0x80006A80u, crypto.SM2Decrypt(auth, fid, big.data(), 113, out, &len));
    std::vector<vk::RecordEntry> frames = Taken();
    ASSERT_EQ(3u, frames.size());
    EXPECT_EQ(320u, frames[1].data.size());
    EXPECT_EQ(16, frames[2].le);
    EXPECT_EQ(133u, frames[2].data.size());
}

// A clock that runs 10 s per pause: the poll's limit comes after a few tries.
uint32_t g_fakeNow = 0;
uint32_t g_pauses = 0;
uint32_t FakeNow() { return g_fakeNow; }
void FakePause(uint32_t ms) {
    EXPECT_EQ(100u, ms);
    ++g_pauses;
    g_fakeNow += 10000;
}
const APDUPollClock FAKE_CLOCK = {FakeNow, FakePause};

TEST_F(CryptoFrames, ButtonPollEndsAfterThirtySeconds) {
    ASSERT_EQ(0u, control.RequireButton(keyId, 0x74, 0xFFFFFFFF));
    g_fakeNow = 5;
    g_pauses = 0;
    const APDUPollClock* previous = CAPDUCrypto::SetPollClock(&FAKE_CLOCK);
    uint8_t signature[64];
    uint32_t len = 0;
    const uint8_t m[1] = {1};
    const uint32_t hr = crypto.SM2SignDisp(auth, fid, m, 1, signature, &len);
    CAPDUCrypto::SetPollClock(previous);
    EXPECT_EQ(0x8000F323u, hr);
    EXPECT_EQ(3u, g_pauses) << "tries at 10, 20 and 30 s";
    bool waiting = false;
    uint32_t tries = 0;
    ASSERT_EQ(0u, control.ButtonState(keyId, &waiting, &tries, nullptr));
    EXPECT_EQ(3u, tries);

    // Another status word of the last step ends the method at its first try.
    ASSERT_EQ(0u, control.RequireButton(keyId, 0x74, 0, 0));
    ASSERT_EQ(0u, control.FailCommandAt(keyId, 4, 0x6982));
    g_pauses = 0;
    previous = CAPDUCrypto::SetPollClock(&FAKE_CLOCK);
    EXPECT_EQ(0x80006982u, crypto.SM2SignDisp(auth, fid, m, 1, signature, &len));
    CAPDUCrypto::SetPollClock(previous);
    EXPECT_EQ(1u, g_pauses);
}

}  // namespace
