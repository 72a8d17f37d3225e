// The command object: framing, secure messaging, status words and the
// counter, checked against what the virtual key read and answered.
#include <algorithm>
#include <cstring>

#include "DeviceTestSupport.h"
#include "KeySession.h"
#include "SymKeyHandle.h"

namespace {

class APDUTest : public VirtualKeyTest, public ::testing::WithParamInterface<uint8_t> {
protected:
    void SetUp() override {
        VirtualKeyTest::SetUp();
        keyId = AddKey(GetParam(), &path);
        ASSERT_EQ(0u, session.Open(path));
        ASSERT_EQ(0u, session.Connect());
        ASSERT_EQ(0u, control.ClearRecord(keyId));
    }
    // A protected PIN-status command with `dataLen` bytes of data.
    uint32_t SendSecure(size_t dataLen, uint8_t* out = nullptr, uint32_t* outLen = nullptr) {
        std::vector<uint8_t> data(dataLen, 0x3C);
        session.apdu.SetAPDUHeader(0xB4, 0x14, 0x00, 0x00);
        if (dataLen) session.apdu.SetAPDUData(data.data(), uint16_t(dataLen));
        session.apdu.Le = 4;
        return session.apdu.SendAPDUCmd(out, outLen);
    }
    std::vector<uint8_t> Counter() const {
        return {session.record.m_abyCounter[0], session.record.m_abyCounter[1]};
    }

    std::string path;
    uint32_t keyId = 0;
    KeySession session;
};

TEST_P(APDUTest, PlainFramesCarryTheDataAndLeAsGiven) {
    uint8_t out[16];
    uint32_t outLen = sizeof out;
    ASSERT_EQ(0u, session.Plain(0x04, 0x03, 16, out, &outLen));
    EXPECT_EQ(16u, outLen);

    // Class 0x80 goes out as B0, unencrypted, even with a session.
    const uint8_t data[5] = {1, 2, 3, 4, 5};
    session.apdu.SetAPDUHeader(0x80, 0x04, 0x03, 0x00);
    session.apdu.SetAPDUData(data, 5);
    session.apdu.Le = 0x1234;
    outLen = sizeof out;
    ASSERT_EQ(0u, session.apdu.SendAPDUCmd(out, &outLen));

    std::vector<vk::RecordEntry> record = Record(keyId);
    ASSERT_EQ(2u, record.size());
    EXPECT_EQ(0xB0, record[0].cla);
    EXPECT_EQ(0u, record[0].bodyLength);
    EXPECT_EQ(16, record[0].le);
    EXPECT_EQ(0xB0, record[1].cla);
    EXPECT_FALSE(record[1].secure);
    EXPECT_EQ(5u, record[1].bodyLength);
    EXPECT_EQ(0x1234, record[1].le);
    EXPECT_EQ(std::vector<uint8_t>(data, data + 5), record[1].data);
}

// Body lengths of protected commands: counter, Lc and data, padded to whole
// blocks (always at least one padding byte).
TEST_P(APDUTest, SecureBlocksArePaddedToWholeCipherBlocks) {
    struct Case {
        size_t dataLen;
        uint16_t sm4Body;
        uint16_t des3Body;
    };
    const Case cases[] = {{0, 16, 8}, {3, 16, 8}, {4, 16, 16}, {11, 16, 16}, {12, 32, 24}, {200, 208, 208}};
    for (const Case& c : cases) {
        std::vector<uint8_t> before = Counter();
        uint8_t status[4];
        uint32_t statusLen = sizeof status;
        ASSERT_EQ(0u, SendSecure(c.dataLen, status, &statusLen)) << c.dataLen;
        EXPECT_EQ(4u, statusLen);
        EXPECT_EQ(10, status[0]);

        vk::RecordEntry last = Record(keyId).back();
        EXPECT_TRUE(last.secure);
        EXPECT_EQ(0xB4, last.cla);
        EXPECT_EQ(GetParam() == 19 ? c.sm4Body : c.des3Body, last.bodyLength) << c.dataLen;
        EXPECT_EQ(std::vector<uint8_t>(c.dataLen, 0x3C), last.data);
        EXPECT_EQ(before, std::vector<uint8_t>(last.counter, last.counter + 2)) << "the counter as held";
        // The host takes over the counter of the reply: the key's next one.
        VirtualKeyState state;
        ASSERT_EQ(0u, control.State(keyId, state));
        EXPECT_EQ(std::vector<uint8_t>(state.counter, state.counter + 2), Counter());
        EXPECT_NE(before, Counter());
    }
}

TEST_P(APDUTest, HeaderOnlyReplyKeepsTheCounter) {
    std::vector<uint8_t> before = Counter();
    ASSERT_EQ(0u, control.ForceReply(keyId, 0x14, 0x9000));
    uint8_t status[4];
    uint32_t statusLen = sizeof status;
    ASSERT_EQ(0u, SendSecure(2, status, &statusLen));
    EXPECT_EQ(0u, statusLen);
    EXPECT_EQ(before, Counter());
    // The key did not move on either: the next command with the same counter works.
    ASSERT_EQ(0u, SendSecure(2));
    EXPECT_NE(before, Counter());
}

TEST_P(APDUTest, SecureCommandWithoutSessionSendsNothing) {
    CDeviceInfo fresh;
    fresh.m_pTransport = session.record.m_pTransport;
    fresh.m_byAlgID = GetParam();
    CAPDU apdu(&fresh);
    apdu.SetAPDUHeader(0xB4, 0x14, 0x00, 0x00);
    EXPECT_EQ(0x80070107u, apdu.SendAPDUCmd(nullptr, nullptr));
    EXPECT_TRUE(Record(keyId).empty());
}

TEST_P(APDUTest, ReplyRoomAndStatusWords) {
    // Reply data of 10 bytes: room 9 fails, room 10 takes it.
    std::vector<uint8_t> ten(10, 0x42);
    uint8_t out[16] = {};
    uint32_t outLen = 9;
    ASSERT_EQ(0u, control.ForceReply(keyId, 0x04, 0x9000, ten));
    EXPECT_EQ(0x80070103u, session.Plain(0x04, 0x03, 16, out, &outLen));
    EXPECT_EQ(0, out[0]) << "nothing copied";
    ASSERT_EQ(0u, control.ForceReply(keyId, 0x04, 0x9000, ten));
    outLen = 10;
    ASSERT_EQ(0u, session.Plain(0x04, 0x03, 16, out, &outLen));
    EXPECT_EQ(10u, outLen);
    EXPECT_EQ(0x42, out[9]);

    // 9000 without a reply buffer succeeds whatever the key returned.
    ASSERT_EQ(0u, session.Plain(0x04, 0x03, 16, nullptr, nullptr));

    // Any other status word is 0x80000000 + SW, and no data is copied.
    for (uint16_t sw : {0x6D00, 0x6982, 0x6A86, 0xF321, 0x63C3}) {
        std::memset(out, 0, sizeof out);
        outLen = sizeof out;
        ASSERT_EQ(0u, control.ForceReply(keyId, 0x04, sw, ten));
        EXPECT_EQ(0x80000000u + sw, session.Plain(0x04, 0x03, 16, out, &outLen)) << std::hex << sw;
        EXPECT_EQ(0, out[0]);
    }
    // Under secure messaging too: a bare status word from the key.
    ASSERT_EQ(0u, control.DropSession(keyId));
    EXPECT_EQ(0x80006982u, SendSecure(2));
}

TEST_P(APDUTest, UnreadableProtectedRepliesLeaveTheCounter) {
    std::vector<uint8_t> before = Counter();
    // A body that is not a ciphertext under the session key fails its padding.
    // A fixed body would decrypt to valid padding under about one random
    // session key in 256: pick one that does not under this key.
    std::vector<uint8_t> garbage(16, 0xEE);
    for (uint8_t fill = 0xEE;; --fill) {
        std::fill(garbage.begin(), garbage.end(), fill);
        uint8_t plain[32];
        uint32_t plainLen = sizeof plain;
        if (CSymKeyHandle::Decrypt(GetParam(), 2, session.record.m_abySessionKey, nullptr, garbage.data(), 16, plain,
                                   &plainLen) != 0)
            break;
    }
    ASSERT_EQ(0u, control.ForceReply(keyId, 0x14, 0x9000, garbage));
    EXPECT_EQ(0x800700EAu, SendSecure(2));
    EXPECT_EQ(before, Counter());

    // A plaintext shorter than the counter and its two bytes is refused.
    uint8_t shortPlain[2] = {0x77, 0x88};
    uint8_t body[32];
    uint32_t bodyLen = 0;
    ASSERT_EQ(0u, CSymKeyHandle::Encrypt(GetParam(), 2, session.record.m_abySessionKey, nullptr, shortPlain, 2, body,
                                         &bodyLen));
    ASSERT_EQ(0u, control.ForceReply(keyId, 0x14, 0x9000, std::vector<uint8_t>(body, body + bodyLen)));
    EXPECT_EQ(0x8007000Du, SendSecure(2));
    EXPECT_EQ(before, Counter());
    ASSERT_EQ(0u, SendSecure(2)) << "the key still expects the same counter";
}

TEST_P(APDUTest, RefusesFramesOver4096BytesBeforeSending) {
    std::vector<uint8_t> data(4089, 1);
    session.apdu.SetAPDUHeader(0xB0, 0x04, 0x03, 0x00);
    ASSERT_EQ(0u, session.apdu.SetAPDUData(data.data(), 4089));
    EXPECT_EQ(0x80070057u, session.apdu.SendAPDUCmd(nullptr, nullptr));
    session.apdu.SetAPDUHeader(0xB4, 0x14, 0x00, 0x00);
    ASSERT_EQ(0u, session.apdu.SetAPDUData(data.data(), 4080));
    EXPECT_EQ(0x80070057u, session.apdu.SendAPDUCmd(nullptr, nullptr));
    EXPECT_TRUE(Record(keyId).empty());
}

TEST_P(APDUTest, KeyBusyPastTheTimeOutGivesStatus05B4) {
    ASSERT_EQ(0u, control.Busy(keyId, 0xFFFFFFFF));
    session.apdu.m_nTimeOut = 1;
    EXPECT_EQ(0x800005B4u, session.Plain(0x04, 0x03, 16, nullptr, nullptr));
    ASSERT_EQ(0u, control.Reset(keyId));
}

INSTANTIATE_TEST_SUITE_P(Algorithms, APDUTest, ::testing::Values(uint8_t(19), uint8_t(3)),
                         [](const ::testing::TestParamInfo<uint8_t>& info) {
                             return info.param == 19 ? std::string("SM4") : std::string("TripleDES");
                         });

TEST(APDUData, ReusesTheBufferOnlyWhileItIsLargeEnough) {
    CDeviceInfo record;
    EXPECT_EQ(0xFF, record.m_byAlgID);
    EXPECT_EQ(0, record.m_bySecMode);
    CAPDU apdu(&record);
    EXPECT_EQ(180u, apdu.m_nTimeOut);
    const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    apdu.SetAPDUHeader(0xB0, 1, 2, 3);
    ASSERT_EQ(0u, apdu.SetAPDUData(data, 8));
    uint8_t* first = apdu.m_pbyData;
    ASSERT_EQ(0u, apdu.SetAPDUData(data, 4));
    EXPECT_EQ(first, apdu.m_pbyData);
    EXPECT_EQ(4, apdu.Lc);
    apdu.Le = 9;
    apdu.SetAPDUHeader(0xB4, 5, 6, 7);
    EXPECT_EQ(nullptr, apdu.m_pbyData);
    EXPECT_EQ(0, apdu.Lc);
    EXPECT_EQ(0, apdu.Le);
}

}  // namespace
