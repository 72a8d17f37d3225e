// The platform operator's PIN exchanges against the virtual key, which
// checks MD5(MD5(PIN) || challenge) under its own RSA key with OpenSSL; and
// the refusals before anything is sent, against a scripted transport.
#include <algorithm>

#include "APDUPinNolt.h"
#include "ContainerRecord.h"
#include "KeyLog.h"
#include "NoltOperatorTestSupport.h"
#include "RecordingTransport.h"

namespace {

constexpr uint32_t CHALLENGE_VERIFY = 0xB41800;
constexpr uint32_t RESPONSE_VERIFY = 0xB41801;
constexpr uint32_t EXPORT_AUTH_KEY = 0xB00700;
constexpr uint32_t SET_SESSION = 0xB00A00;

class PinTest : public NoltOperatorTest {
protected:
    void SetUp() override {
        NoltOperatorTest::SetUp();
        OpenNoltKey();
    }
    uint8_t RetriesLeft(uint8_t pinType = 1) {
        uint8_t left = 0xEE, state = 0xEE, dflt = 0xEE, max = 0xEE;
        EXPECT_EQ(0u, op->GetPINStatus(pinType, &left, &state, &dflt, &max));
        return left;
    }
};

TEST_F(PinTest, RightPinStoresTheCodeThatTheNextPrivateCommandCarries) {
    ASSERT_EQ(0u, op->VerifyPIN(1, "12345678", 8));
    EXPECT_EQ(16u, record()->m_nAuthCodeLen);
    // No session key yet: the first challenge cannot go and sets one up.
    EXPECT_EQ((std::vector<uint32_t>{EXPORT_AUTH_KEY, SET_SESSION, CHALLENGE_VERIFY, RESPONSE_VERIFY}), Sent());
    EXPECT_EQ(1, Record(keyId)[2].p2);  // the PIN type rides in the challenge
    EXPECT_EQ(0, Record(keyId)[3].p2);

    Clear();
    ASSERT_EQ(0u, op->CreateContainer("C"));
    std::vector<vk::RecordEntry> sent = Record(keyId);
    auto create = std::find_if(sent.begin(), sent.end(), [](const vk::RecordEntry& e) { return e.ins == 0x40; });
    ASSERT_NE(sent.end(), create);
    EXPECT_EQ(Bytes(record()->m_abyAuthCode, record()->m_abyAuthCode + 16),
              Bytes(create->data.begin(), create->data.begin() + 16));

    uint8_t left = 0, state = 0, dflt = 0, max = 0;
    ASSERT_EQ(0u, op->GetPINStatus(1, &left, &state, &dflt, &max));
    EXPECT_EQ(6, left);
    EXPECT_EQ(0x20, state);
    EXPECT_EQ(1, dflt);
    EXPECT_EQ(6, max);
    Clear();
    EXPECT_EQ(0u, op->GetPINStatus(1, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(0xB41400u, Sent().back());  // after the session probe, the status itself
}

TEST_F(PinTest, WrongPinCountsDownEmptiesTheCodeAndLocks) {
    ASSERT_EQ(0u, op->VerifyPIN(1, "12345678", 8));
    for (uint32_t left = 5;; --left) {
        EXPECT_EQ(0x800063C0u + left, op->VerifyPIN(1, "00000000", 8));
        EXPECT_TRUE(AuthCodeEmpty());
        if (left == 0) break;
    }
    EXPECT_EQ(0x80006983u, op->VerifyPIN(1, "12345678", 8));
    EXPECT_EQ(0u, RetriesLeft());
    EXPECT_EQ(0x80070101u, op->VerifyPIN(1, nullptr, 8));
}

TEST_F(PinTest, SessionRetryOnEachTrigger) {
    const uint16_t triggers[] = {0, 0xF525, 0xF526, 0x6700};  // 0: no session key in the device handle
    for (uint16_t sw : triggers) {
        Clear();
        std::vector<uint32_t> expected;
        if (sw) {
            ASSERT_EQ(0u, control.FailCommandAt(keyId, 1, sw));
            expected.push_back(CHALLENGE_VERIFY);
        } else {
            record()->m_bySecMode = 0;  // the command cannot even be protected
        }
        expected.insert(expected.end(), {EXPORT_AUTH_KEY, SET_SESSION, CHALLENGE_VERIFY, RESPONSE_VERIFY});
        EXPECT_EQ(0u, op->VerifyPIN(1, "12345678", 8)) << sw;
        EXPECT_EQ(expected, Sent()) << sw;
    }
    // A second failure is returned as it is, and nothing more is sent.
    Clear();
    ASSERT_EQ(0u, control.FailCommandAt(keyId, 1, 0xF525));
    ASSERT_EQ(0u, control.ForceReply(keyId, 0x18, 0xF526));
    EXPECT_EQ(0x8000F526u, op->VerifyPIN(1, "12345678", 8));
    EXPECT_EQ((std::vector<uint32_t>{CHALLENGE_VERIFY, EXPORT_AUTH_KEY, SET_SESSION, CHALLENGE_VERIFY}), Sent());
    // Another failure is not retried.
    Clear();
    ASSERT_EQ(0u, control.FailCommandAt(keyId, 1, 0x6A80));
    EXPECT_EQ(0x80006A80u, op->VerifyPIN(1, "12345678", 8));
    EXPECT_EQ(1u, Sent().size());
}

TEST_F(PinTest, ChangePinEmptiesTheCodeAndIsLogged) {
    ASSERT_EQ(0u, op->VerifyPIN(1, "12345678", 8));
    ASSERT_EQ(0u, op->ChangePIN(1, "12345678", 8, "87654321", 8));
    EXPECT_TRUE(AuthCodeEmpty());
    // The next private-key command carries sixteen zero bytes and is refused.
    Clear();
    EXPECT_EQ(0x80006982u, op->CreateContainer("C"));
    const std::vector<vk::RecordEntry> sent = Record(keyId);
    EXPECT_EQ(Bytes(16, 0), Bytes(sent.back().data.begin(), sent.back().data.begin() + 16));

    EXPECT_EQ(0x800063C5u, op->VerifyPIN(1, "12345678", 8));
    ASSERT_EQ(0u, op->VerifyPIN(1, "87654321", 8));
    Bytes log(16);
    uint32_t len = 16;
    ASSERT_EQ(0u, op->ReadCosFile(0, KEY_LOG_FILE_ID, log.data(), &len));
    EXPECT_STREQ("ChgPin", reinterpret_cast<const char*>(&log[1]));

    // A wrong old PIN, and an old PIN too long to carry: the code is emptied either way.
    EXPECT_EQ(0x800063C5u, op->ChangePIN(1, "12345678", 8, "11111111", 8));
    EXPECT_TRUE(AuthCodeEmpty());
    ASSERT_EQ(0u, op->VerifyPIN(1, "87654321", 8));
    Clear();
    const std::string tooLong(33, '1');
    EXPECT_EQ(0x80070104u, op->ChangePIN(1, tooLong.c_str(), 33, "11111111", 8));
    EXPECT_TRUE(AuthCodeEmpty());
    EXPECT_TRUE(Sent().empty());
}

TEST_F(PinTest, ResetStepsOfTheUserPin) {
    // Step 2: the token serial number followed by the challenge.
    ASSERT_EQ(0u, op->SetTokenSN("SN-0042", 7));
    uint8_t buf[32] = {};
    uint32_t len = 0;
    Clear();
    ASSERT_EQ(0u, op->InitTokenUser(2, buf, &len));
    EXPECT_EQ(23u, len);
    EXPECT_EQ(0, std::memcmp(buf, "SN-0042", 7));
    // No session key yet: the first challenge sets one up and is sent again.
    EXPECT_EQ((std::vector<uint32_t>{EXPORT_AUTH_KEY, SET_SESSION, 0xB42B00, 0xB00402}), Sent());

    // Step 1 with the administrator PIN resets the user PIN and is logged.
    ASSERT_EQ(0u, op->ChangePIN(1, "12345678", 8, "87654321", 8));
    char admin[] = "88888888";
    len = 8;
    ASSERT_EQ(0u, op->InitTokenUser(1, reinterpret_cast<uint8_t*>(admin), &len));
    EXPECT_EQ(0u, op->VerifyPIN(1, "12345678", 8));
    // Step 3 with key data (after a request) is refused by this key; a wrong step by the operator.
    ASSERT_EQ(0u, op->InitTokenUser(2, buf, &len));
    EXPECT_EQ(0x80006A86u, op->InitTokenUser(3, buf, &len));
    EXPECT_EQ(0x80070115u, op->InitTokenUser(4, buf, &len));
    EXPECT_EQ(0x80070101u, op->InitTokenUser(1, nullptr, &len));
    // Unlock, the base operation, restores the user's count.
    EXPECT_EQ(0x800063C5u, op->VerifyPIN(1, "00000000", 8));
    len = 8;
    ASSERT_EQ(0u, op->UnlockPIN(1, reinterpret_cast<uint8_t*>(admin), &len));
    EXPECT_EQ(6, RetriesLeft());
}

TEST_F(PinTest, PlainOperatorCarriesThePinTypeInTheResponse) {
    CDeviceOperator plain(context);
    ASSERT_EQ(0u, plain.VerifyPIN(1, "12345678", 8));
    std::vector<vk::RecordEntry> sent = Record(keyId);
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(0, sent[sent.size() - 2].p2);
    EXPECT_EQ(1, sent.back().p2);
    EXPECT_EQ(16u, record()->m_nAuthCodeLen);
    ASSERT_EQ(0u, plain.ChangePIN(1, "12345678", 8, "87654321", 8));
    EXPECT_TRUE(AuthCodeEmpty());
    EXPECT_EQ(0u, op->VerifyPIN(1, "87654321", 8));
}

// Replies the virtual key would not give: a scripted transport under the
// platform operator.
class ScriptedPinTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0u, context.Initialize());
        key = new RecordingTransport(*context.GetDeviceHandle());
        key->StartSession();
        op = new CNoltOperator(&context);
    }
    void TearDown() override {
        delete op;
        context.GetDeviceHandle()->m_pTransport = nullptr;
        delete key;
    }
    // A challenge reply with an odd 1024-bit modulus and exponent 65537.
    static Bytes ChallengeReply() {
        Bytes reply(148, 0x5A);
        reply[16] = 0xC3;
        reply[143] |= 1;
        reply[144] = 0; reply[145] = 1; reply[146] = 0; reply[147] = 1;
        return reply;
    }
    CQuibContext context;
    RecordingTransport* key = nullptr;
    CNoltOperator* op = nullptr;
};

TEST_F(ScriptedPinTest, ShortRepliesAndLongDataAreRefusedBeforeTheResponse) {
    VM_DEVICE_HANDLE* record = context.GetDeviceHandle();
    std::memset(record->m_abyAuthCode, 0x77, 16);
    record->m_nAuthCodeLen = 16;

    Bytes shortChallenge = ChallengeReply();
    shortChallenge.resize(147);
    key->Queue(0x9000, shortChallenge);
    EXPECT_EQ(0x8007000Du, op->VerifyPIN(1, "12345678", 8));
    EXPECT_EQ(1u, key->commands.size());
    EXPECT_EQ(16u, record->m_nAuthCodeLen);  // nothing answered: the code stays

    key->commands.clear();
    key->Queue(0x9000, ChallengeReply());
    key->Queue(0x9000, Bytes(15, 0x33));
    EXPECT_EQ(0x8007000Du, op->VerifyPIN(1, "12345678", 8));
    EXPECT_EQ(2u, key->commands.size());
    EXPECT_EQ(0u, record->m_nAuthCodeLen);
    EXPECT_EQ(Bytes(16, 0), Bytes(record->m_abyAuthCode, record->m_abyAuthCode + 16));

    // Step 3 data beyond what the response carries (0000 and 254 bytes).
    key->commands.clear();
    Bytes answer(255, 1);
    uint32_t len = 255;
    EXPECT_EQ(0x80070057u, op->InitTokenUser(3, answer.data(), &len));
    EXPECT_TRUE(key->commands.empty());
}

}  // namespace
