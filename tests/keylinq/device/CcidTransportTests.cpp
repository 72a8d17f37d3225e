// The CCID transport against the virtual key's card: the frame tunnel as the
// card received it, GET RESPONSE, a card reset, the reader listing, and the
// answers that are the card's status or no answer at all.
#include "TransportTestSupport.h"
#include "VemuCCID.h"
#include "VirtualPlatformControl.h"

namespace {

namespace Virtual = DevicePlatform::Virtual;

std::vector<uint8_t> Atr(uint16_t pid, size_t length = 16) {
    std::vector<uint8_t> atr = {0x3B, 0x6C, 0x00, 0x00, 'K', 'Q', uint8_t(pid >> 8), uint8_t(pid)};
    atr.resize(length, 0x00);
    return atr;
}

class CcidTest : public TransportTest {
protected:
    void SetUp() override {
        TransportTest::SetUp();
        keyId = AddTransportKey(VEMU_DRIVER_CCID, &reader);
    }
    void ExpectNothingLeft() {
        EXPECT_EQ(0, Virtual::OpenPcscContexts());
        EXPECT_EQ(0, Virtual::PcscAllocations());
        EXPECT_EQ(0, Virtual::OpenCardHandles());
    }
    std::vector<std::vector<uint8_t>> Apdus() {
        std::vector<std::vector<uint8_t>> apdus;
        for (const TransportUnit& u : Units(keyId, vk::UNIT_APDU)) apdus.push_back(u.bytes);
        return apdus;
    }
    uint32_t keyId = 0;
    std::string reader;
};

TEST_F(CcidTest, FramesTravelInPiecesOf255Bytes) {
    OpenTransport link(VEMU_DRIVER_CCID, reader);
    ASSERT_EQ(0u, link.result);
    std::vector<uint8_t> reply;
    for (size_t frameLen : {size_t(255), size_t(256)}) {
        SCOPED_TRACE(frameLen);
        ASSERT_EQ(0u, control.ClearRecord(keyId));
        std::vector<uint8_t> frame = PlainFrame(0x02, 0, 0, std::vector<uint8_t>(frameLen - 8, 0x5A));
        ASSERT_EQ(0u, link.Send(frame, reply));
        EXPECT_EQ((std::vector<uint8_t>{0x67, 0x00, 0x00, 0x00}), reply) << "the key's own answer to a long label";

        std::vector<std::vector<uint8_t>> apdus = Apdus();
        std::vector<uint8_t> last = {0x80, 0x10, 0x00, 0x00};
        if (frameLen == 255) {
            ASSERT_EQ(1u, apdus.size());
            last.push_back(0xFF);
            last.insert(last.end(), frame.begin(), frame.end());
        } else {
            ASSERT_EQ(2u, apdus.size());
            std::vector<uint8_t> first = {0x90, 0x10, 0x00, 0x00, 0xFF};
            first.insert(first.end(), frame.begin(), frame.begin() + 255);
            EXPECT_EQ(first, apdus[0]);
            last.push_back(0x01);
            last.push_back(frame.back());
        }
        EXPECT_EQ(last, apdus.back());
    }
}

TEST_F(CcidTest, LongRepliesComeThroughGetResponse) {
    OpenTransport link(VEMU_DRIVER_CCID, reader);
    ASSERT_EQ(0u, link.result);
    std::vector<uint8_t> label;
    ASSERT_EQ(0u, link.Send(PlainFrame(0x04, 0x01, 32), label));
    ASSERT_EQ(36u, label.size());

    // 61 20 then 9000: the 32 bytes of GET RESPONSE follow the first answer's 4.
    ASSERT_EQ(0u, transports.CcidResponseSize(keyId, 4));
    ASSERT_EQ(0u, control.ClearRecord(keyId));
    std::vector<uint8_t> reply;
    ASSERT_EQ(0u, link.Send(PlainFrame(0x04, 0x01, 32), reply));
    EXPECT_EQ(label, reply);
    std::vector<std::vector<uint8_t>> apdus = Apdus();
    ASSERT_EQ(2u, apdus.size());
    EXPECT_EQ((std::vector<uint8_t>{0x80, 0xC0, 0x00, 0x00, 0x20}), apdus[1]);

    // A 2048-byte flash block: 256 bytes, then seven GET RESPONSE of 256
    // (Le 00) and one of the last 4.
    ASSERT_EQ(0u, transports.CcidResponseSize(keyId, 256));
    ASSERT_EQ(0u, control.ClearRecord(keyId));
    ASSERT_EQ(0u, link.Send(PlainFrame(0xEA, 0, 2048, {0, 0, 0, 0}), reply));
    ASSERT_EQ(2052u, reply.size());
    EXPECT_EQ((std::vector<uint8_t>{0x90, 0x00, 0x08, 0x00}), std::vector<uint8_t>(reply.begin(), reply.begin() + 4));
    apdus = Apdus();
    ASSERT_EQ(9u, apdus.size());
    for (size_t i = 1; i < 8; ++i) EXPECT_EQ((std::vector<uint8_t>{0x80, 0xC0, 0x00, 0x00, 0x00}), apdus[i]);
    EXPECT_EQ((std::vector<uint8_t>{0x80, 0xC0, 0x00, 0x00, 0x04}), apdus[8]);
}

TEST_F(CcidTest, AResetCardIsReconnectedAndThePieceRepeatedOnce) {
    OpenTransport link(VEMU_DRIVER_CCID, reader);
    ASSERT_EQ(0u, link.result);
    ASSERT_EQ(0u, control.ClearRecord(keyId));
    ASSERT_EQ(0u, transports.CcidResetNext(keyId));
    std::vector<uint8_t> reply;
    ASSERT_EQ(0u, link.Send(PlainFrame(0x04, 0x01, 32), reply));
    EXPECT_EQ(36u, reply.size());
    std::vector<TransportUnit> units;
    ASSERT_EQ(0u, transports.Units(keyId, units));
    ASSERT_EQ(3u, units.size());
    EXPECT_EQ(vk::UNIT_APDU, units[0].kind);
    EXPECT_EQ(vk::UNIT_RECONNECT, units[1].kind);
    EXPECT_EQ(vk::UNIT_APDU, units[2].kind);
    EXPECT_EQ(units[0].bytes, units[2].bytes);
    EXPECT_EQ(1u, Record(keyId).size()) << "the key ran the command once";
}

// Answers that end the tunnel: the card's own status word is the result as
// every status word of the key (0x8000xxxx); no status, or none at all, fails.
TEST_F(CcidTest, TunnelAnswersOtherThan9000FailTheSend) {
    OpenTransport link(VEMU_DRIVER_CCID, reader);
    ASSERT_EQ(0u, link.result);
    const struct {
        std::vector<uint8_t> answer;
        uint32_t result;
    } rows[] = {
        {{0xF3, 0x21}, 0x8000F321u},       // the key waits for its button
        {{0x69, 0x82}, 0x80006982u},       // security status: the PIN retry's cue
        {{0x6A, 0x80}, 0x80006A80u},
        {{0x00, 0x00}, 0x8007000Du},       // no status
        {{0x90}, 0x8007000Du},             // one byte
        {{0x61, 0x10}, 0x8007000Du},       // GET RESPONSE that brings no data
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.answer));
        ASSERT_EQ(0u, transports.CcidNextAnswer(keyId, row.answer));
        std::vector<uint8_t> reply;
        EXPECT_EQ(row.result, link.Send(PlainFrame(0x04, 0x01, 32), reply));
    }
    std::vector<uint8_t> reply;
    EXPECT_EQ(0u, link.Send(PlainFrame(0x04, 0x01, 32), reply)) << "the connection still works";
}

TEST_F(CcidTest, ListingExaminesQualifyingReadersThatItCanIdentify) {
    AddReader("Generic Smart Card Reader 0", true, Atr(KEYLINQ_USB_PRODUCT_ID));
    std::string key2;
    AddTransportKey(VEMU_DRIVER_CCID, &key2);
    AddReader("VARNO CCID Reader Without Card", false, {});
    AddReader("VARNO CCID Short ATR", true, Atr(KEYLINQ_USB_PRODUCT_ID, 7));
    AddReader("VARNO CCID Other Product", true, Atr(0xF123));
    AddReader("varno ccid lower case", true, Atr(KEYLINQ_USB_PRODUCT_ID));

    EXPECT_EQ((std::vector<std::string>{reader, key2}), Listed(VEMU_DRIVER_CCID));
    ExpectNothingLeft();
    EXPECT_EQ((std::vector<std::string>{reader, key2, "VARNO CCID Other Product"}), Listed(VEMU_DRIVER_CCID, 0xF000));
    ExpectNothingLeft();
    EXPECT_TRUE(Listed(VEMU_DRIVER_CCID, 0xF409).empty());
    ExpectNothingLeft();

    // The identification: the ATR's bytes 6 and 7, the family's vendor id.
    {
        CVemuCCID ccid;
        WORD vid = 0, pid = 0;
        EXPECT_EQ(0u, ccid.VEmuGetDeviceID("VARNO CCID Other Product", &vid, &pid));
        EXPECT_EQ(KEYLINQ_USB_VENDOR_ID, vid);
        EXPECT_EQ(0xF123, pid);
        EXPECT_EQ(0x80070111u, ccid.VEmuGetDeviceID("VARNO CCID Short ATR", &vid, &pid));
        EXPECT_EQ(0x8010000Cu, ccid.VEmuGetDeviceID("VARNO CCID Reader Without Card", &vid, &pid));
    }
    ExpectNothingLeft();
}

TEST_F(CcidTest, AnEleventhReaderIsNotExamined) {
    std::vector<std::string> names = {reader};
    for (int i = 1; i <= 10; ++i) {
        std::string name = "VARNO CCID Reader " + std::to_string(i);
        AddReader(name, true, Atr(KEYLINQ_USB_PRODUCT_ID));
        if (i < 10) names.push_back(name);
    }
    EXPECT_EQ(names, Listed(VEMU_DRIVER_CCID));
    ExpectNothingLeft();
}

TEST_F(CcidTest, TheListFollowsTheSizeBound) {
    std::string key2;
    AddTransportKey(VEMU_DRIVER_CCID, &key2);
    char list[512];
    DWORD exact = DWORD(reader.size() + key2.size() + 3);
    DWORD size = exact;
    ASSERT_EQ(0u, VEmuEnumDevice(VEMU_DRIVER_CCID, 0, KEYLINQ_USB_PRODUCT_ID, list, &size));
    EXPECT_EQ(exact, size);
    size = exact - 1;
    ASSERT_EQ(0u, VEmuEnumDevice(VEMU_DRIVER_CCID, 0, KEYLINQ_USB_PRODUCT_ID, list, &size));
    EXPECT_EQ((std::vector<std::string>{reader}), SplitPathList(list, size));
    ExpectNothingLeft();
}

}  // namespace
