// The operator's token operations against the virtual key: device
// information, label and serial numbers, application information, flash,
// data files, the administrator signature and the slots not offered.
#include <algorithm>

#include "OperatorTestSupport.h"

namespace {

class TokenTest : public OperatorTest {
protected:
    void SetUp() override {
        OperatorTest::SetUp();
        OpenKey(19);
        ASSERT_EQ(0u, op->Initialize(0));
        Clear();
    }
};

TEST_F(TokenTest, DeviceInformationNumbersTurnToHostOrder) {
    Bytes sent(288);
    for (size_t i = 0; i < sent.size(); ++i) sent[i] = uint8_t(i);
    ASSERT_EQ(0u, control.ForceReply(keyId, 0x04, 0x9000, sent));
    Bytes info(288, 0xEE);
    ASSERT_EQ(0u, op->GetDeviceInfo(info.data()));

    // Every converted number, reversed; everything else as sent (230 too).
    Bytes expected = sent;
    const std::pair<size_t, size_t> converted[] = {{200, 4}, {204, 4}, {208, 4}, {212, 4}, {216, 4}, {220, 4},
                                                   {224, 2}, {226, 2}, {228, 2}, {232, 2}, {234, 2}};
    for (auto c : converted) std::reverse(expected.begin() + long(c.first), expected.begin() + long(c.first + c.second));
    EXPECT_EQ(expected, info);
    EXPECT_EQ(230, info[230]);
    EXPECT_EQ(231, info[231]);

    // The key's own record: 00 00 13 01 at 212 reads as 0x1301.
    ASSERT_EQ(0u, op->GetDeviceInfo(info.data()));
    uint32_t authAlg = 0;
    std::memcpy(&authAlg, info.data() + 212, 4);
    EXPECT_EQ(0x1301u, authAlg);
    uint16_t lifeStatus = 0;
    std::memcpy(&lifeStatus, info.data() + 234, 2);
    EXPECT_EQ(0x7F00, lifeStatus);
    EXPECT_EQ(0x80070101u, op->GetDeviceInfo(nullptr));
}

TEST_F(TokenTest, LabelIsPaddedToThirtyTwoBytesAndReadBackBySize) {
    ASSERT_EQ(0u, op->SetTokenLabel("hello", 5));
    std::vector<vk::RecordEntry> entries = Record(keyId);
    ASSERT_EQ(1u, entries.size());
    Bytes padded(32, 0);
    std::memcpy(padded.data(), "hello", 5);
    EXPECT_EQ(padded, entries[0].data);

    const std::string full(32, 'L');
    ASSERT_EQ(0u, op->SetTokenLabel(full.c_str(), 32));
    Clear();
    EXPECT_EQ(0x80070104u, op->SetTokenLabel((full + "!").c_str(), 33));
    EXPECT_TRUE(Sent().empty());

    uint32_t len = 0;
    ASSERT_EQ(0u, op->GetTokenLabel(nullptr, &len));
    EXPECT_EQ(32u, len);
    char label[32] = {};
    len = 10;
    EXPECT_EQ(0x80070103u, op->GetTokenLabel(label, &len));
    EXPECT_EQ(32u, len);
    ASSERT_EQ(0u, op->GetTokenLabel(label, &len));
    EXPECT_EQ(full, std::string(label, 32));
    EXPECT_EQ(0x80070101u, op->GetTokenLabel(label, nullptr));
}

TEST_F(TokenTest, TokenSerialNumberRoundTrip) {
    const char sn[] = "KL20240001ABCDEF";
    ASSERT_EQ(0u, op->SetTokenSN(sn, 16));
    char out[16] = {};
    uint32_t len = 15;
    EXPECT_EQ(0x80070103u, op->GetTokenSN(out, &len));
    EXPECT_EQ(16u, len);
    ASSERT_EQ(0u, op->GetTokenSN(out, &len));
    EXPECT_EQ(std::string(sn, 16), std::string(out, 16));
    EXPECT_EQ(0x80070104u, op->SetTokenSN("12345678901234567", 17));
}

// The base family's chip commands (256-byte pages and blocks): a block of
// the family in use (2048 bytes) is longer than the virtual key's HID
// report can carry.
TEST_F(TokenTest, FlashPagesAreWrittenWholeAndReadBack) {
    CDeviceContext base;
    ASSERT_EQ(0u, base.Open(VEMU_DRIVER_HID, path.c_str()));
    CDeviceOperator flash(&base);
    Bytes data(300);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 + 1);
    ASSERT_EQ(0u, flash.WriteFlash(2, data.data(), uint32_t(data.size())));

    // Two pages: 512 with the first 256 bytes, 768 with the last 44 and 0xFF.
    std::vector<vk::RecordEntry> entries = Record(keyId);
    ASSERT_EQ(2u, entries.size());
    Bytes first = {0, 0, 2, 0};
    first.insert(first.end(), data.begin(), data.begin() + 256);
    Bytes second = {0, 0, 3, 0};
    second.insert(second.end(), data.begin() + 256, data.end());
    second.resize(260, 0xFF);
    EXPECT_EQ(0xE2, entries[0].ins);
    EXPECT_EQ(first, entries[0].data);
    EXPECT_EQ(second, entries[1].data);

    // A read's page counts half a block: page 4 is address 512 here.
    Clear();
    Bytes back(300);
    ASSERT_EQ(0u, flash.ReadFlash(4, back.data(), uint32_t(back.size())));
    EXPECT_EQ(data, back);
    entries = Record(keyId);
    ASSERT_EQ(2u, entries.size());
    EXPECT_EQ((Bytes{0, 0, 2, 0}), entries[0].data);
    EXPECT_EQ((Bytes{0, 0, 3, 0}), entries[1].data);

    Clear();
    EXPECT_EQ(0u, flash.WriteFlash(0, data.data(), 0));
    EXPECT_EQ(0u, flash.ReadFlash(0, back.data(), 0));
    EXPECT_TRUE(Sent().empty()) << "a length of 0 sends nothing";
    EXPECT_EQ(0x80070101u, flash.WriteFlash(0, nullptr, 1));
    EXPECT_EQ(0x80070101u, flash.ReadFlash(0, nullptr, 1));
    EXPECT_EQ(0u, base.Close());
}

TEST_F(TokenTest, DataFilesOnTheKey) {
    const uint16_t id = 0x1001;
    uint8_t size[4] = {};
    EXPECT_EQ(0x8000F102u, op->GetCosFileInfo(id, 0, 0, nullptr)) << "existence test of a missing file";
    ASSERT_EQ(0u, op->CreateCosFile(id, 0x0180));
    EXPECT_EQ(0u, op->GetCosFileInfo(id, 0, 0, nullptr));
    ASSERT_EQ(0u, op->GetCosFileInfo(id, 0, sizeof size, size));
    uint16_t hostSize = 0;
    std::memcpy(&hostSize, size, 2);
    EXPECT_EQ(0x0180, hostSize);
    EXPECT_EQ(0x80070103u, op->GetCosFileInfo(id, 0, 1, size));
    uint8_t info[20] = {};
    ASSERT_EQ(0u, op->GetCosFileInfo(id, 1, sizeof info, info));
    EXPECT_EQ(0x10, info[0]) << "kind 1 passes unchanged";

    Bytes data(300);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(255 - i);
    ASSERT_EQ(0u, op->WriteCosFile(0x20, id, data.data(), uint32_t(data.size())));
    Bytes back(300);
    uint32_t len = uint32_t(back.size());
    ASSERT_EQ(0u, op->ReadCosFile(0x20, id, back.data(), &len));
    EXPECT_EQ(300u, len);
    EXPECT_EQ(data, back);
    EXPECT_EQ(0x80070101u, op->WriteCosFile(0, id, nullptr, 1));
    EXPECT_EQ(0x80070101u, op->ReadCosFile(0, id, nullptr, &len));

    ASSERT_EQ(0u, op->DeleteCosFile(id));
    EXPECT_EQ(0x8000F102u, op->GetCosFileInfo(id, 0, sizeof size, size));
}

TEST_F(TokenTest, ApplicationInformation) {
    char name[32] = {};
    uint8_t info[48];
    std::memset(info, 0xEE, sizeof info);
    ASSERT_EQ(0u, op->GetTokenAppInfo(name, info));
    EXPECT_STREQ("ZELK", name);
    EXPECT_EQ(0x01, info[1]);
    EXPECT_EQ(Bytes(8, 0xEE), Bytes(info + 40, info + 48)) << "40 bytes of information";

    // A reply too short to hold the name is refused; nothing is copied.
    ASSERT_EQ(0u, control.ForceReply(keyId, 0x2A, 0x9000, Bytes(20, 0x41)));
    std::memset(info, 0xEE, sizeof info);
    EXPECT_EQ(0x8007000Du, op->GetTokenAppInfo(name, info));
    EXPECT_EQ(Bytes(48, 0xEE), Bytes(info, info + 48));
    EXPECT_EQ(0x80070101u, op->GetTokenAppInfo(nullptr, info));
    EXPECT_EQ(0x80070101u, op->GetTokenAppInfo(name, nullptr));
}

TEST_F(TokenTest, AdministratorSignatureUsesTheKeysAlgorithmUnderASession) {
    // The administrator PIN verified: the key's authorisation code in the record.
    ASSERT_EQ(0u, control.SetPinVerified(keyId, 0, record()->m_abyAuthCode));
    record()->m_nAuthCodeLen = 16;
    Clear();
    const uint8_t digest[32] = {1, 2, 3};
    uint8_t signature[128] = {};
    uint32_t len = sizeof signature;
    ASSERT_EQ(0u, op->SignWithAdminKey(digest, sizeof digest, signature, &len));
    EXPECT_EQ(64u, len);
    std::vector<vk::RecordEntry> entries = Record(keyId);
    ASSERT_EQ(3u, entries.size()) << "session key set up first";
    EXPECT_EQ(0x0A, entries[1].ins);
    EXPECT_EQ(0x67, entries[2].ins);
    EXPECT_TRUE(entries[2].secure);
    EXPECT_EQ(17, entries[2].p2) << "SM2 administrator key";
    EXPECT_EQ(Bytes(record()->m_abyAuthCode, record()->m_abyAuthCode + 16),
              Bytes(entries[2].data.begin(), entries[2].data.begin() + 16));
    EXPECT_EQ(0x80070101u, op->SignWithAdminKey(nullptr, 1, signature, &len));
}

TEST_F(TokenTest, OperationsNotOfferedSendNothing) {
    const uint32_t results[] = {op->EraseMF(), op->EraseCOS(), op->InitTokenFile(), op->InitTokenApp()};
    for (uint32_t hr : results) EXPECT_EQ(0x80070108u, hr);
    EXPECT_TRUE(Sent().empty());
}

}  // namespace
