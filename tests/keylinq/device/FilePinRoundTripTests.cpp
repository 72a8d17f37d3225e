// The chip, file and PIN command builders against the virtual key: files
// written and read back, the space limit, the PIN exchanges of both command
// families with the key's retry counting and lock, and the test controls
// that fail or unplug the key in the middle of a sequence.
#include <cstring>
#include <string>

#include "APDUChipNolt.h"
#include "APDUFile.h"
#include "APDUPinNolt.h"
#include "DeviceTestSupport.h"
#include "KeySession.h"
#include "SoftCrypto.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr const char* USER_PIN = "12345678";      // the virtual key's defaults
constexpr const char* ADMIN_PIN = "88888888";
constexpr uint8_t USER_PIN_RETRIES = 6;

Bytes Pattern(size_t n, uint8_t seed = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + i * 31);
    return b;
}

class RoundTripTest : public VirtualKeyTest, public ::testing::WithParamInterface<uint8_t> {
protected:
    void SetUp() override {
        VirtualKeyTest::SetUp();
        keyId = AddKey(GetParam(), &path);
        ASSERT_EQ(0u, session.Open(path));
        ASSERT_EQ(0u, session.Connect());
    }

    // MD5(MD5(PIN) || challenge), encrypted under the challenge's key.
    static uint32_t PinCryptogram(const std::string& pin, const uint8_t challenge[16], const uint8_t pub[132],
                                  uint8_t out[128], uint32_t* outLen) {
        uint8_t input[32];
        uint32_t len = 0;
        uint32_t hr = Hash_Digest(SOFT_HASH_MD5, reinterpret_cast<const uint8_t*>(pin.data()), uint32_t(pin.size()),
                                  input, &len);
        if (hr) return hr;
        std::memcpy(input + 16, challenge, 16);
        uint8_t block[16];
        hr = Hash_Digest(SOFT_HASH_MD5, input, 32, block, &len);
        if (hr) return hr;
        SOFT_RSA_PUBKEY key = {};
        std::memcpy(key.modulus, pub, 128);
        key.nLen = 128;
        std::memcpy(key.exponent, pub + 128, 4);
        key.eLen = 4;
        *outLen = 128;
        return RSA_Encrypt(&key, block, 16, out, outLen, 1);
    }

    // A verification with the family in use (type in the challenge) or the
    // base family (type in the response).
    uint32_t Verify(bool nolt, uint8_t type, const std::string& pinText, uint8_t code[16] = nullptr) {
        uint8_t challenge[16], pub[132], cryptogram[128], ownCode[16];
        uint32_t cryptogramLen = 0, codeLen = 0;
        uint32_t hr = nolt ? pinNolt.GetChallengeCode(0x18, type, challenge, pub)
                           : pin.GetChallengeCode(0x18, challenge, pub);
        if (hr) return hr;
        hr = PinCryptogram(pinText, challenge, pub, cryptogram, &cryptogramLen);
        if (hr) return hr;
        uint8_t* out = code ? code : ownCode;
        hr = nolt ? pinNolt.VerifyPIN_Response(cryptogram, cryptogramLen, out, &codeLen)
                  : pin.VerifyPIN_Response(type, cryptogram, cryptogramLen, out, &codeLen);
        if (!hr && codeLen != 16) return 0x8007000D;
        return hr;
    }
    // Retries left and state byte of a PIN.
    std::pair<uint8_t, uint8_t> PinStatus(uint8_t type) {
        uint8_t left = 0xEE, state = 0xEE;
        EXPECT_EQ(0u, pin.GetPINStatus(type, nullptr, &left, nullptr, &state));
        return {left, state};
    }

    std::string path;
    uint32_t keyId = 0;
    KeySession session;
    CAPDUChip chip{&session.record};
    CAPDUFile file{&session.record};
    CAPDUPin pin{&session.record};
    CAPDUPinNolt pinNolt{&session.record};
};

TEST_P(RoundTripTest, FileWritesReadsBackAndGoes) {
    Bytes content = Pattern(300);
    ASSERT_EQ(0u, file.CreateDataFile(0x1001, 300));
    ASSERT_EQ(0u, file.WriteFile(0x1001, 0, content.data(), 300));
    Bytes back(300);
    uint32_t length = 300;
    ASSERT_EQ(0u, file.ReadFile(0x1001, 0, back.data(), &length));
    EXPECT_EQ(300u, length);
    EXPECT_EQ(content, back);
    // A part from the middle, across a chunk boundary.
    Bytes part(100);
    length = 100;
    ASSERT_EQ(0u, file.ReadFile(0x1001, 200, part.data(), &length));
    EXPECT_EQ(Bytes(content.begin() + 200, content.end()), part);

    uint8_t size[2] = {};
    uint32_t sizeLen = 2;
    ASSERT_EQ(0u, file.GetFileInfo(0x1001, 0, size, &sizeLen));
    EXPECT_EQ(0x01, size[0]);
    EXPECT_EQ(0x2C, size[1]);
    EXPECT_EQ(0u, file.GetFileInfo(0x1001, 0, nullptr, nullptr));
    ASSERT_EQ(0u, file.DeleteDataFile(0x1001));
    EXPECT_EQ(0x8000F102u, file.GetFileInfo(0x1001, 0, nullptr, nullptr));
    EXPECT_EQ(0x8000F102u, file.WriteFile(0x1001, 0, content.data(), 10));

    // The key refuses a write past its file.
    ASSERT_EQ(0u, file.CreateDataFile(0x1002, 16));
    EXPECT_EQ(0x80006B00u, file.WriteFile(0x1002, 8, content.data(), 9));
}

TEST_P(RoundTripTest, FullKeyAnswersF104) {
    ASSERT_EQ(0u, file.CreateDataFile(0xD020, 24576));
    ASSERT_EQ(0u, file.CreateDataFile(0xD040, 24576));
    EXPECT_EQ(0x8000F104u, file.CreateDataFile(0xD060, 1));
    uint8_t info[288];
    uint32_t infoLen = 0;
    ASSERT_EQ(0u, chip.GetDevInfo(info, &infoLen));
    ASSERT_EQ(288u, infoLen);
    EXPECT_EQ((Bytes{0, 0, 0, 0}), Bytes(info + 220, info + 224)) << "no free space";
    ASSERT_EQ(0u, file.DeleteDataFile(0xD040));
    EXPECT_EQ(0u, file.CreateDataFile(0xD060, 1));
}

TEST_P(RoundTripTest, LabelApplicationAndFlash) {
    Bytes label(32, 0);
    std::memcpy(label.data(), "Round trip", 10);
    ASSERT_EQ(0u, chip.SetTokenLabel(label.data()));
    uint8_t out[256];
    uint32_t outLen = 0;
    ASSERT_EQ(0u, chip.GetTokenLabel(out, &outLen));
    EXPECT_EQ(label, Bytes(out, out + outLen));
    uint8_t app[72];
    ASSERT_EQ(0u, file.OpenApplication(app, &outLen));
    EXPECT_EQ(72u, outLen);
    EXPECT_EQ(0, std::memcmp(app, "ZELK", 5));

    Bytes page = Pattern(256, 9);
    ASSERT_EQ(0u, chip.EraseFlash());
    ASSERT_EQ(0u, chip.WriteFlash(0x300, page.data()));
    ASSERT_EQ(0u, chip.ReadFlash(0x300, out));
    EXPECT_EQ(page, Bytes(out, out + 256));
    ASSERT_EQ(0u, chip.ReadFlash(0x200, out));
    EXPECT_EQ(Bytes(256, 0xFF), Bytes(out, out + 256));
}

TEST_P(RoundTripTest, RightPinYieldsCodeInBothFamilies) {
    uint8_t code[16] = {};
    ASSERT_EQ(0u, Verify(true, 1, USER_PIN, code));
    EXPECT_EQ(0x20, PinStatus(1).second);
    EXPECT_EQ(0, PinStatus(0).second);
    uint8_t second[16] = {};
    ASSERT_EQ(0u, Verify(false, 1, USER_PIN, second));
    EXPECT_NE(0, std::memcmp(code, second, 16)) << "each verification a new code";
    ASSERT_EQ(0u, Verify(true, 0, ADMIN_PIN));
    EXPECT_EQ(0x20, PinStatus(0).second);

    ASSERT_EQ(0u, pin.ClearAuthCode());
    EXPECT_EQ(0, PinStatus(0).second);
}

TEST_P(RoundTripTest, WrongPinCountsDownThenLocks) {
    for (int left = USER_PIN_RETRIES - 1; left >= 0; --left) {
        EXPECT_EQ(0x800063C0u + uint32_t(left), Verify(left % 2 == 0, 1, "000000")) << left;
        EXPECT_EQ(left, PinStatus(1).first);
    }
    EXPECT_EQ(0x80006983u, Verify(true, 1, USER_PIN));
    EXPECT_EQ(10, PinStatus(0).first) << "the administrator's count is its own";
}

TEST_P(RoundTripTest, VerificationControls) {
    uint8_t code[16] = {};
    ASSERT_EQ(0u, control.SetPinVerified(keyId, 1, code));
    EXPECT_EQ(0x20, PinStatus(1).second);
    ASSERT_EQ(0u, control.LosePinVerification(keyId));
    EXPECT_EQ(0, PinStatus(1).second);
    EXPECT_NE(0u, control.SetPinVerified(keyId, 2, code)) << "no such PIN";
}

// The k-th command of a chunked write fails, or finds the key pulled out.
TEST_P(RoundTripTest, FailureAndUnplugInTheMiddleOfAWrite) {
    Bytes content = Pattern(600);
    ASSERT_EQ(0u, file.CreateDataFile(0x1003, 600));
    ASSERT_EQ(0u, control.FailCommandAt(keyId, 2, 0x6581));
    EXPECT_EQ(0x80006581u, file.WriteFile(0x1003, 0, content.data(), 600));
    Bytes back(256);
    uint32_t length = 256;
    ASSERT_EQ(0u, file.ReadFile(0x1003, 0, back.data(), &length));
    EXPECT_EQ(Bytes(content.begin(), content.begin() + 256), back) << "the first chunk stays written";

    ASSERT_EQ(0u, control.UnplugAtCommand(keyId, 3));
    EXPECT_NE(0u, file.WriteFile(0x1003, 0, content.data(), 600));
    VirtualKeyState state;
    ASSERT_EQ(0u, control.State(keyId, state));
    EXPECT_FALSE(state.plugged);
    EXPECT_EQ(0x8007048Fu, chip.GetChipSN(back.data(), &length)) << "the handle is dead";
    std::vector<vk::RecordEntry> record = Record(keyId);
    EXPECT_TRUE(record.empty()) << "power gone: the record with it";
}

INSTANTIATE_TEST_SUITE_P(Algorithms, RoundTripTest, ::testing::Values(uint8_t(19), uint8_t(3)),
                         [](const ::testing::TestParamInfo<uint8_t>& info) {
                             return info.param == 19 ? std::string("SM") : std::string("RSA");
                         });

}  // namespace
