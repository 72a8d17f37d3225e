// Connecting to a key: the operator's initialisation, external
// authentication, session key, authentication code and finalisation.
#include "APDUChip.h"
#include "BuiltInKeys.h"
#include "OperatorTestSupport.h"

namespace {

constexpr uint32_t DEVINFO = 0xB00400, CHIP_SN = 0xB00403, CHALLENGE = 0xB01000, RESPONSE = 0xB01001;
constexpr uint32_t EXPORT_AUTH_KEY = 0xB00700, SET_SESSION = 0xB00A00, PROBE = 0xB41400;

class ConnectTest : public OperatorTest, public ::testing::WithParamInterface<uint8_t> {
protected:
    void SetUp() override {
        OperatorTest::SetUp();
        OpenKey(GetParam());
    }
};

TEST_P(ConnectTest, InitializeReadsTheKeyAndAuthenticatesWithTheDerivedKey) {
    ASSERT_EQ(0u, op->Initialize(0));
    EXPECT_EQ((std::vector<uint32_t>{DEVINFO, CHIP_SN, CHALLENGE, RESPONSE}), Sent());
    EXPECT_EQ(GetParam(), record()->m_byAlgID);
    EXPECT_EQ(0x0100, record()->m_wDevInfo);
    const void* root = GetParam() == 19 ? static_cast<const void*>(GetRootSM2PublicKey())
                                        : static_cast<const void*>(GetRootRSAPublicKey());
    EXPECT_EQ(root, record()->m_pRootPubKey);
    VirtualKeyState state;
    ASSERT_EQ(0u, control.State(keyId, state));
    EXPECT_TRUE(state.authenticated);
    EXPECT_FALSE(state.session);
    EXPECT_EQ(APDU_SEC_NONE, record()->m_bySecMode);

    // The derived key: the master key's encryption of MD5(chip serial number).
    uint8_t chipSN[16];
    uint32_t chipSNLen = 0;
    ASSERT_EQ(0u, op->GetChipSN(chipSN, &chipSNLen));
    ASSERT_EQ(16u, chipSNLen);
    Bytes digest = ReferenceMd5(Bytes(chipSN, chipSN + 16));
    Bytes expected = GetParam() == 19 ? ReferenceSm4Ecb(g_abyExternAuthMasterKey, digest.data())
                                      : ReferenceCbc16(3, g_abyExternAuthMasterKey, digest.data());
    EXPECT_EQ(expected, Bytes(record()->m_abyExtAuthKey, record()->m_abyExtAuthKey + 16));
    uint8_t computed[16];
    ASSERT_EQ(0u, op->ComputeExternAuthKey(chipSN, 16, computed));
    EXPECT_EQ(expected, Bytes(computed, computed + 16));
}

TEST_P(ConnectTest, InitializeWithFlagBit0ReadsOnlyTheDeviceInformation) {
    ASSERT_EQ(0u, op->Initialize(1));
    EXPECT_EQ((std::vector<uint32_t>{DEVINFO}), Sent());
    EXPECT_EQ(GetParam(), record()->m_byAlgID);
    VirtualKeyState state;
    ASSERT_EQ(0u, control.State(keyId, state));
    EXPECT_FALSE(state.authenticated);
}

TEST_P(ConnectTest, ExternalAuthWithAGivenKey) {
    ASSERT_EQ(0u, op->Initialize(0));
    const Bytes good(record()->m_abyExtAuthKey, record()->m_abyExtAuthKey + 16);
    Clear();
    ASSERT_EQ(0u, op->ExternalAuth(good.data()));
    EXPECT_EQ((std::vector<uint32_t>{CHALLENGE, RESPONSE}), Sent()) << "no chip serial number";

    // A key the key refuses leaves the accepted one in the record.
    uint8_t wrong[16] = {1, 2, 3};
    EXPECT_EQ(0x80006300u, op->ExternalAuth(wrong));
    EXPECT_EQ(good, Bytes(record()->m_abyExtAuthKey, record()->m_abyExtAuthKey + 16));
    EXPECT_EQ(0x80070101u, op->ComputeExternAuthKey(nullptr, 16, wrong));
}

TEST_P(ConnectTest, SetSessionKeyProbesFirstUnlessForced) {
    ASSERT_EQ(0u, op->Initialize(0));
    Clear();
    // No session yet: the probe is refused on the host, a new key goes out.
    ASSERT_EQ(0u, op->SetSessionKey(0));
    EXPECT_EQ((std::vector<uint32_t>{EXPORT_AUTH_KEY, SET_SESSION}), Sent());
    VirtualKeyState state;
    ASSERT_EQ(0u, control.State(keyId, state));
    ASSERT_TRUE(state.session);
    EXPECT_EQ(0, std::memcmp(state.sessionKey, record()->m_abySessionKey, 16));
    EXPECT_EQ(16u, record()->m_nSessionKeyLen);
    EXPECT_EQ(APDU_SEC_ENC, record()->m_bySecMode);
    EXPECT_EQ(0, std::memcmp(record()->m_abyCounter, record()->m_abySessionKey, 2))
        << "the first counter is the session key's first two bytes";

    // A live session: only the probe.
    Clear();
    ASSERT_EQ(0u, op->SetSessionKey(0));
    EXPECT_EQ((std::vector<uint32_t>{PROBE}), Sent());

    // Forced: a new key without a probe.
    const Bytes before(record()->m_abySessionKey, record()->m_abySessionKey + 16);
    Clear();
    ASSERT_EQ(0u, op->SetSessionKey(1));
    EXPECT_EQ((std::vector<uint32_t>{EXPORT_AUTH_KEY, SET_SESSION}), Sent());
    EXPECT_NE(before, Bytes(record()->m_abySessionKey, record()->m_abySessionKey + 16));

    // The key lost it: the probe fails and a new one is set.
    ASSERT_EQ(0u, control.DropSession(keyId));
    Clear();
    ASSERT_EQ(0u, op->SetSessionKey(0));
    EXPECT_EQ((std::vector<uint32_t>{PROBE, EXPORT_AUTH_KEY, SET_SESSION}), Sent());
}

TEST_P(ConnectTest, AuthenticationKeySignedByAForeignRootGetsNoSession) {
    ASSERT_EQ(0u, op->Initialize(0));
    const bool sm = GetParam() == 19;
    uint8_t pub[132] = {}, sig[128] = {};
    ASSERT_EQ(0u, context->GetAPDUChip()->ExportAuthKey(sm ? 19 : 3, pub, sig));
    const Bytes publicKey(pub, pub + (sm ? 64 : 132));
    ForeignRoot foreign(GetParam());
    Bytes forged = foreign.Sign(publicKey);
    ASSERT_TRUE(foreign.Verify(publicKey, forged)) << "a genuine signature, by the wrong root";
    Bytes reply = publicKey;
    reply.insert(reply.end(), forged.begin(), forged.end());
    ASSERT_EQ(0u, control.ForceReply(keyId, 0x07, 0x9000, reply));
    Clear();

    EXPECT_NE(0u, op->SetSessionKey(1));
    EXPECT_EQ((std::vector<uint32_t>{EXPORT_AUTH_KEY}), Sent()) << "no session key goes to such a key";
    VirtualKeyState state;
    ASSERT_EQ(0u, control.State(keyId, state));
    EXPECT_FALSE(state.session);
    EXPECT_EQ(APDU_SEC_NONE, record()->m_bySecMode);
    EXPECT_EQ(0u, record()->m_nSessionKeyLen);
}

TEST_P(ConnectTest, ClearAuthCodeEmptiesTheRecord) {
    ASSERT_EQ(0u, op->Initialize(0));
    std::memset(record()->m_abyAuthCode, 0x5A, 16);
    record()->m_nAuthCodeLen = 16;
    Clear();
    ASSERT_EQ(0u, op->ClearAuthCode());
    EXPECT_EQ((std::vector<uint32_t>{0xB01C00}), Sent());
    EXPECT_EQ(0u, record()->m_nAuthCodeLen);
    EXPECT_EQ(Bytes(16, 0), Bytes(record()->m_abyAuthCode, record()->m_abyAuthCode + 16));

    // The key refuses: the code stays.
    record()->m_nAuthCodeLen = 16;
    record()->m_abyAuthCode[0] = 7;
    ASSERT_EQ(0u, control.ForceReply(keyId, 0x1C, 0x6985));
    EXPECT_EQ(0x80006985u, op->ClearAuthCode());
    EXPECT_EQ(16u, record()->m_nAuthCodeLen);
    EXPECT_EQ(7, record()->m_abyAuthCode[0]);
}

INSTANTIATE_TEST_SUITE_P(Algorithms, ConnectTest, ::testing::Values(uint8_t(19), uint8_t(3)),
                         [](const ::testing::TestParamInfo<uint8_t>& info) {
                             return info.param == 19 ? std::string("SM") : std::string("RSA");
                         });

// A device information record whose device-authentication algorithm
// (offset 212, big-endian) names the given session algorithm.
Bytes DeviceInfoWithAlgorithm(uint8_t alg) {
    Bytes info(288, 0);
    info[214] = alg;
    info[215] = 0x01;
    return info;
}

TEST_F(OperatorTest, InitializeAcceptsOnlyCiphersThatCarryTheSession) {
    OpenKey(19);
    struct Case {
        uint8_t alg;
        uint32_t result;
    };
    // DES and two-key triple DES run on 16-byte keys in CBC (RSA root);
    // three-key triple DES would need 24 key bytes, RC4 has no CBC.
    for (Case c : {Case{2, 0}, Case{3, 0}, Case{4, 0x80070114}, Case{8, 0x80070114}, Case{0x11, 0x80070114}}) {
        SCOPED_TRACE(int(c.alg));
        record()->m_byAlgID = DEVICE_ALG_UNKNOWN;
        record()->m_pRootPubKey = nullptr;
        ASSERT_EQ(0u, control.ForceReply(keyId, 0x04, 0x9000, DeviceInfoWithAlgorithm(c.alg)));
        EXPECT_EQ(c.result, op->Initialize(1));
        if (c.result == 0) {
            EXPECT_EQ(c.alg, record()->m_byAlgID);
            EXPECT_EQ(static_cast<const void*>(GetRootRSAPublicKey()), record()->m_pRootPubKey);
        } else {
            EXPECT_EQ(DEVICE_ALG_UNKNOWN, record()->m_byAlgID);
            EXPECT_EQ(nullptr, record()->m_pRootPubKey);
        }
    }
    // The mutex was released every time.
    EXPECT_EQ(0u, context->WaitDevMutexFor(0));
    EXPECT_EQ(0u, context->ReleaseDevMutex());
}

TEST_F(OperatorTest, ShortDeviceInformationIsRefused) {
    OpenKey(19);
    // Stale bytes in the caller's buffer must not pass for the key's.
    Bytes shortInfo = DeviceInfoWithAlgorithm(19);
    shortInfo.resize(200);
    ASSERT_EQ(0u, control.ForceReply(keyId, 0x04, 0x9000, shortInfo));
    Bytes buffer = DeviceInfoWithAlgorithm(3);
    EXPECT_EQ(0x8007000Du, op->GetDeviceInfo(buffer.data()));
    EXPECT_EQ(Bytes(288, 0), buffer);

    ASSERT_EQ(0u, control.ForceReply(keyId, 0x04, 0x9000, shortInfo));
    EXPECT_EQ(0x8007000Du, op->Initialize(0));
    EXPECT_EQ(DEVICE_ALG_UNKNOWN, record()->m_byAlgID);
}

TEST_F(OperatorTest, FinalizeRefusesWhileOtherObjectsUseTheContext) {
    OpenKey(19);
    ASSERT_EQ(0u, op->Initialize(0));
    CDeviceOperator* application = new CDeviceOperator(context);
    EXPECT_EQ(0x800700AAu, op->Finalize());
    EXPECT_EQ(context, op->GetDeviceContext());
    EXPECT_NE(nullptr, record()->m_pTransport) << "the key stays open";
    delete application;

    ASSERT_EQ(0u, op->Finalize());
    EXPECT_EQ(nullptr, op->GetDeviceContext());
    EXPECT_EQ(0x80070101u, op->Finalize());
    context = nullptr;
}

}  // namespace
