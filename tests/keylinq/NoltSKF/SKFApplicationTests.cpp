// Applications and the PIN family through Keylinq.dll against the virtual
// key: the one application "ZELK", PIN verification, status and change.
#include <gtest/gtest.h>

#include <string>

#include "KeylinqLibrary.h"
#include "SKFTestSupport.h"

namespace {

class SKFApplication : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, k.missing); }
    KeylinqLibrary& k = Keylinq();
    VirtualKeyControl control;
};

TEST_F(SKFApplication, EnumApplicationListsZelkSizeThenData) {
    KeySession<KeylinqLibrary> key(k, control, kSmKey);
    ASSERT_EQ(SAR_OK, key.Connect());
    ULONG size = 0;
    ASSERT_EQ(SAR_OK, k.SKF_EnumApplication(key.dev, nullptr, &size));
    EXPECT_EQ(6u, size);
    char list[8];
    memset(list, 'x', sizeof list);
    size = 5;
    EXPECT_EQ(SAR_BUFFER_TOO_SMALL, k.SKF_EnumApplication(key.dev, list, &size));
    EXPECT_EQ(6u, size);
    EXPECT_EQ('x', list[0]);
    size = 6;
    ASSERT_EQ(SAR_OK, k.SKF_EnumApplication(key.dev, list, &size));
    EXPECT_EQ(6u, size);
    EXPECT_EQ(0, memcmp(list, "ZELK\0\0", 6));
    EXPECT_EQ('x', list[6]);
}

TEST_F(SKFApplication, AKeyWhoseApplicationIsNotLiveListsNoneYetOpensIt) {
    KeySession<KeylinqLibrary> key(k, control, kSmKey);
    ASSERT_EQ(SAR_OK, key.Connect());
    // The key's device information with another life status.
    BYTE command[] = {0xB0, 0x04, 0x00, 0x00, 0x00, 0x00, 0x01, 0x20};
    std::vector<BYTE> reply(4 + 288);
    ULONG len = ULONG(reply.size());
    ASSERT_EQ(SAR_OK, k.SKF_Transmit(key.dev, command, sizeof command, reply.data(), &len));
    ASSERT_EQ(4u + 288u, len);
    std::vector<BYTE> record(reply.begin() + 4, reply.end());
    record[234] = 0x7E;
    ASSERT_EQ(0u, control.ForceReply(kSmKey, 0x04, 0x9000, record));
    ULONG size = 99;
    EXPECT_EQ(SAR_APPLICATION_NOT_EXISTS, k.SKF_EnumApplication(key.dev, nullptr, &size));
    EXPECT_EQ(0u, size);
    ASSERT_EQ(0u, control.ForceReply(kSmKey, 0x04, 0x9000, record));
    char zelk[] = "ZELK";
    ASSERT_EQ(SAR_OK, k.SKF_OpenApplication(key.dev, zelk, &key.app));
}

TEST_F(SKFApplication, OnlyTheExactNameOpens) {
    KeySession<KeylinqLibrary> key(k, control, kSmKey);
    ASSERT_EQ(SAR_OK, key.Connect());
    for (const char* name : {"zelk", "ZELK1", "Z", "ZEL", ""}) {
        std::string text(name);
        HAPPLICATION app = reinterpret_cast<HAPPLICATION>(0x1234);
        EXPECT_EQ(SAR_APPLICATION_NOT_EXISTS, k.SKF_OpenApplication(key.dev, &text[0], &app)) << name;
        EXPECT_EQ(reinterpret_cast<HAPPLICATION>(0x1234), app) << name;
    }
    char zelk[] = "ZELK";
    EXPECT_EQ(SAR_INVALIDPARAMERR, k.SKF_OpenApplication(key.dev, zelk, nullptr));
    HAPPLICATION app = nullptr;
    ASSERT_EQ(SAR_OK, k.SKF_OpenApplication(key.dev, zelk, &app));
    ASSERT_NE(nullptr, app);
    EXPECT_EQ(SAR_OK, k.SKF_CloseApplication(app));
    EXPECT_EQ(SAR_INVALIDHANDLEERR, k.SKF_CloseApplication(app));  // gone from the live set
    EXPECT_EQ(SAR_INVALIDHANDLEERR, k.SKF_CloseApplication(nullptr));
}

TEST_F(SKFApplication, DisconnectWithAnOpenApplicationFailsAndKeepsTheHandle) {
    KeySession<KeylinqLibrary> key(k, control, kSmKey);
    ASSERT_EQ(SAR_OK, key.Open());
    EXPECT_EQ(SAR_FAIL, k.SKF_DisConnectDev(key.dev));
    ULONG maxCount = 0, remain = 0;
    BOOL isDefault = FALSE;
    EXPECT_EQ(SAR_OK, k.SKF_GetPINInfo(key.app, kUserPin, &maxCount, &remain, &isDefault));
    EXPECT_EQ(6u, maxCount);
    // The session closes the application, then disconnects.
}

TEST_F(SKFApplication, VerifyPinCountsTheKeysTriesAndLocksAtTheLast) {
    KeySession<KeylinqLibrary> key(k, control, AddFreshKey(control));
    ASSERT_EQ(SAR_OK, key.Open());
    ULONG maxCount = 0, remain = 0;
    BOOL isDefault = 7;
    ASSERT_EQ(SAR_OK, k.SKF_GetPINInfo(key.app, kUserPin, &maxCount, &remain, &isDefault));
    EXPECT_EQ(6u, maxCount);
    EXPECT_EQ(6u, remain);
    EXPECT_EQ(1, isDefault);  // the key's flag byte, zero-extended

    ULONG retry = 0xFFFF;
    EXPECT_EQ(SAR_OK, key.Verify(DEFAULT_USER_PIN, kUserPin, &retry));
    EXPECT_EQ(0u, retry);
    for (ULONG left = 5; left >= 1; --left) {
        retry = 0xFFFF;
        EXPECT_EQ(SAR_PIN_INCORRECT, key.Verify("87654321", kUserPin, &retry));
        EXPECT_EQ(left, retry);
        ASSERT_EQ(SAR_OK, k.SKF_GetPINInfo(key.app, kUserPin, &maxCount, &remain, &isDefault));
        EXPECT_EQ(left, remain);  // what the key itself reports
    }
    retry = 0xFFFF;
    EXPECT_EQ(SAR_PIN_LOCKED, key.Verify("87654321", kUserPin, &retry));
    EXPECT_EQ(0u, retry);
    retry = 0xFFFF;
    EXPECT_EQ(SAR_PIN_LOCKED, key.Verify(DEFAULT_USER_PIN, kUserPin, &retry));  // 6983, even the right PIN
    EXPECT_EQ(0xFFFFu, retry);
}

TEST_F(SKFApplication, PinsOutsideSixToSixteenAreRefusedBeforeTheKey) {
    KeySession<KeylinqLibrary> key(k, control, kSmKey);
    ASSERT_EQ(SAR_OK, key.Open());
    for (const char* pin : {"12345", "12345678901234567", ""}) {
        key.ClearRecord();
        ULONG retry = 0xFFFF;
        EXPECT_EQ(SAR_INDATALENERR, key.Verify(pin, kUserPin, &retry)) << pin;
        EXPECT_EQ(0xFFFFu, retry);
        EXPECT_TRUE(key.Record().empty()) << pin;
    }
    ULONG retry = 0;
    EXPECT_EQ(SAR_INVALIDPARAMERR, k.SKF_VerifyPIN(key.app, kUserPin, nullptr, &retry));
    char pin[] = DEFAULT_USER_PIN;
    EXPECT_EQ(SAR_INVALIDPARAMERR, k.SKF_VerifyPIN(key.app, kUserPin, pin, nullptr));
    EXPECT_EQ(SAR_INVALIDHANDLEERR, k.SKF_VerifyPIN(nullptr, kUserPin, pin, &retry));
    char admin[] = "88888888";
    EXPECT_EQ(SAR_PIN_INVALID, k.SKF_UnblockPIN(key.app, nullptr, admin, &retry));
    EXPECT_EQ(SAR_NOTSUPPORTYETERR, k.SKF_UnblockPIN(key.app, admin, pin, &retry));
}

TEST_F(SKFApplication, ChangePinTable) {
    KeySession<KeylinqLibrary> key(k, control, AddFreshKey(control));
    ASSERT_EQ(SAR_OK, key.Open());
    const std::string longOld = std::string(DEFAULT_USER_PIN) + std::string(256, 'a');  // 264 characters
    struct Row {
        const char* oldPin;
        const char* newPin;
        ULONG expected;
        bool keyReached;
    } rows[] = {
        {nullptr, "abcdef12", SAR_PIN_INVALID, false},
        {DEFAULT_USER_PIN, nullptr, SAR_PIN_INVALID, false},
        {DEFAULT_USER_PIN, "abc12", SAR_PIN_LEN_RANGE, false},
        {DEFAULT_USER_PIN, "abcdefghijklmnopq", SAR_PIN_LEN_RANGE, false},
        {DEFAULT_USER_PIN, "abc-def12", SAR_PIN_INVALID, false},
        {DEFAULT_USER_PIN, "abc def12", SAR_PIN_INVALID, false},
        {DEFAULT_USER_PIN, DEFAULT_USER_PIN, SAR_PIN_INVALID, false},
        // Never cut to its first bytes: a 264-character PIN is not "12345678".
        {longOld.c_str(), "abcdef12", SAR_INDATALENERR, false},
        {"00000000", "abcdef12", SAR_PIN_INCORRECT, true},
    };
    for (const Row& row : rows) {
        key.ClearRecord();
        std::string oldPin = row.oldPin ? row.oldPin : "";
        std::string newPin = row.newPin ? row.newPin : "";
        ULONG retry = 0xFFFF;
        EXPECT_EQ(row.expected, k.SKF_ChangePIN(key.app, kUserPin, row.oldPin ? &oldPin[0] : nullptr,
                                                row.newPin ? &newPin[0] : nullptr, &retry))
            << (row.oldPin ? row.oldPin : "null") << " -> " << (row.newPin ? row.newPin : "null");
        EXPECT_EQ(row.keyReached, key.CountIns(INS_CHANGE_PIN) > 0) << (row.newPin ? row.newPin : "null");
        if (row.expected == SAR_PIN_INCORRECT) {
            EXPECT_EQ(5u, retry);
        }
    }
    std::string oldPin = DEFAULT_USER_PIN, newPin = "Abc123xyz";
    ULONG retry = 0xFFFF;
    ASSERT_EQ(SAR_OK, k.SKF_ChangePIN(key.app, kUserPin, &oldPin[0], &newPin[0], &retry));
    EXPECT_EQ(0u, retry);
    EXPECT_EQ(SAR_PIN_INCORRECT, key.Verify(DEFAULT_USER_PIN));
    EXPECT_EQ(SAR_OK, key.Verify("Abc123xyz"));
    // An old PIN of any length up to the exchange's limit is accepted.
    std::string back = DEFAULT_USER_PIN;
    EXPECT_EQ(SAR_OK, k.SKF_ChangePIN(key.app, kUserPin, &newPin[0], &back[0], &retry));
    EXPECT_EQ(SAR_OK, key.Verify(DEFAULT_USER_PIN));
}

TEST_F(SKFApplication, ClearSecureStateEndsTheVerification) {
    KeySession<KeylinqLibrary> key(k, control, kSmKey);
    ASSERT_EQ(SAR_OK, key.Open());
    ASSERT_EQ(SAR_OK, key.Verify(DEFAULT_USER_PIN));
    EXPECT_EQ(SAR_OK, k.SKF_ClearSecureState(key.app));
    EXPECT_EQ(SAR_INVALIDHANDLEERR, k.SKF_ClearSecureState(nullptr));
}

}  // namespace
