// The PIN retry and the button confirmation with a fake operation callback
// that plays the SKF layer: it re-verifies the PIN through the virtual key's
// control, and runs WaitPressButton on a worker thread as the confirmation
// dialog does, answering CB_QUERY_CANCEL from the callback context.
#include <memory>
#include <thread>

#include "AsymKeyObject.h"
#include "AsymKeyObjectNolt.h"
#include "KeyObjectTestSupport.h"
#include "SoftCrypto.h"

namespace {

class ButtonRetryTest;
ButtonRetryTest* g_test = nullptr;
uint32_t g_pauses = 0;
void CountPause(uint32_t ms) {
    EXPECT_EQ(300u, ms);
    ++g_pauses;
}

class ButtonRetryTest : public KeyOperatorTest {
protected:
    enum class Pin { Verify, PretendOnly, Fail };
    void SetUp() override {
        KeyOperatorTest::SetUp();
        g_test = this;
        g_pauses = 0;
        previousPause = SetButtonPause(CountPause);
    }
    void TearDown() override {
        SetButtonPause(previousPause);
        g_test = nullptr;
        KeyOperatorTest::TearDown();
    }

    static uint32_t Callback(uint32_t code, SKF_CALLBACK_CONTEXT* ctx, MIDDLEWARE_CONTEXT* mw) {
        ButtonRetryTest& t = *g_test;
        ++t.calls[code];
        switch (code) {
        case CB_INPUT_PIN:
            EXPECT_EQ(nullptr, mw);
            if (t.pin == Pin::Fail) return 0x800063C5u;
            if (t.pin == Pin::Verify) t.VerifyUserPin();
            return 0;
        case CB_QUERY_CANCEL:
            EXPECT_EQ(nullptr, mw);
            // The user presses the key's button while the dialog shows.
            if (t.pressAfter && t.calls[CB_QUERY_CANCEL] == t.pressAfter) {
                EXPECT_EQ(0u, t.control.PressButton(t.keyId));
            }
            if (t.cancelAfter && t.calls[CB_QUERY_CANCEL] >= t.cancelAfter) SetCallbackStatus(ctx, t.cancelWith);
            return GetCallbackStatus(ctx);
        default: {
            if (!t.runWorker) return 0;
            uint32_t result = 0;
            std::thread worker([&] { result = CNoltOperator::WaitPressButton(ctx, mw); });
            worker.join();
            return GetCallbackStatus(ctx) ? GetCallbackStatus(ctx) : result;
        }
        }
    }

    // The commands of that INS and P1 that the key read since the last clear.
    size_t CountStep(uint8_t ins, uint8_t p1) {
        size_t n = 0;
        for (const vk::RecordEntry& e : Entries()) n += e.ins == ins && e.p1 == p1;
        return n;
    }
    bool CancelSent() {
        for (const vk::RecordEntry& e : Entries())
            if (e.cla == 0xB4 && e.ins == 0x14 && e.p1 == 0 && e.p2 == 1) return true;
        return false;
    }
    Bytes UserPinStatus() {
        uint8_t left = 0, state = 0, dflt = 0, max = 0;
        EXPECT_EQ(0u, op->GetPINStatus(1, &left, &state, &dflt, &max));
        return Bytes{max, left, dflt, state};
    }
    // The key holds the response of that PIN exchange (P1 1) for the button.
    void HoldResponse(uint8_t ins, uint32_t polls, uint16_t outcome = 0x9000) {
        ASSERT_EQ(0u, control.RequireButton(keyId, ins, polls, outcome, 1));
    }

    std::unique_ptr<CAsymKeyObject> SignatureKey() {
        CAsymKeyObject* key = nullptr;
        EXPECT_EQ(0u, op->GenerateKeyPair("C1", 2, VM_ALG_SM2, &key));
        Clear();
        return std::unique_ptr<CAsymKeyObject>(key);
    }

    BUTTON_PAUSE_FN previousPause = nullptr;
    uint32_t calls[16] = {};
    Pin pin = Pin::Verify;
    bool runWorker = true;
    uint32_t cancelAfter = 0;
    uint32_t cancelWith = 0;
    uint32_t pressAfter = 0;
    SKF_CALLBACK_CONTEXT cbContext{};
};

TEST_F(ButtonRetryTest, PinRetryTable) {
    struct Row {
        const char* name;
        bool withCallback;
        Pin pin;
        uint32_t result;
        uint32_t callbacks;
        size_t generations;
    } rows[] = {
        {"6982 then success", true, Pin::Verify, 0, 1, 2},
        {"6982 twice", true, Pin::PretendOnly, 0x80006982u, 1, 2},
        {"failing callback", true, Pin::Fail, 0x800063C5u, 1, 1},
        {"no callback", false, Pin::Verify, 0x80006982u, 0, 1},
    };
    for (const Row& row : rows) {
        VerifyUserPin();
        ASSERT_EQ(0u, control.LosePinVerification(keyId));
        Clear();
        std::fill(std::begin(calls), std::end(calls), 0u);
        pin = row.pin;
        EXPECT_EQ(row.result, op->GenerateKeyPair("C1", 1, VM_ALG_SM2, row.withCallback ? Callback : nullptr, &cbContext))
            << row.name;
        EXPECT_EQ(row.callbacks, calls[CB_INPUT_PIN]) << row.name;
        EXPECT_EQ(row.generations, Count(0x70)) << row.name;
    }
    EXPECT_EQ(0x80070101u, op->GenerateKeyPair(nullptr, 1, VM_ALG_SM2, Callback, &cbContext));
}

TEST_F(ButtonRetryTest, ImportsRetryAndGoIntoTheExchangeKey) {
    std::unique_ptr<CAsymKeyObject> signer = SignatureKey();
    // A certificate import after the key lost the PIN.
    Bytes cert = {0x30, 0x82, 0x00, 0x10};
    cert.resize(20, 0x77);
    ASSERT_EQ(0u, control.LosePinVerification(keyId));
    ASSERT_EQ(0u, op->ImportCert("C1", 1, cert.data(), uint32_t(cert.size()), Callback, &cbContext));
    EXPECT_EQ(1u, calls[CB_INPUT_PIN]);
    EXPECT_EQ(2u, Count(0x4C));

    // An SM2 key pair: a private key wrapped for the signature key (the key's
    // 04 || x1 || y1 || C2 || C3 form), imported whatever key spec is named.
    uint8_t alg = 0;
    uint32_t size = 96;
    Bytes pub(96);
    ASSERT_EQ(0u, op->ExportPublicKey("C1", 2, &alg, pub.data(), &size));
    Bytes priv(32, 0x11);
    Bytes blob(32 + 97);
    uint32_t blobLen = uint32_t(blob.size());
    ASSERT_EQ(0u, SM2_Encrypt(pub.data(), priv.data(), 32, blob.data(), &blobLen));
    ASSERT_EQ(0u, control.LosePinVerification(keyId));
    Clear();
    EXPECT_EQ(0u, op->ImportKeyPair("C1", 2, VM_ALG_SM2, blob.data(), blobLen, nullptr, 0, Callback, &cbContext));
    EXPECT_EQ(2u, calls[CB_INPUT_PIN]);
    EXPECT_EQ(2u, Count(0x72));
    CONTAINER_RECORD* cached = op->FindCachedContainer("C1");
    ASSERT_NE(nullptr, cached);
    EXPECT_EQ(VM_ALG_SM2, cached->header.ExKeyType);
    EXPECT_EQ(0x80070101u, op->ImportKeyPair("C1", 1, VM_ALG_SM2, nullptr, 0, nullptr, 0, Callback, &cbContext));
    EXPECT_EQ(0x80070101u, op->ImportEncSessionKey(exchangeFID, nullptr, 0, Callback, &cbContext));
}

TEST_F(ButtonRetryTest, DecryptionRetriesThePinButNeverWaitsForTheButton) {
    std::unique_ptr<CAsymKeyObject> key = SignatureKey();
    Bytes cipher(120, 0x04), out(23);
    for (auto [withCallback, pinMode, expectedCalls] :
         {std::make_tuple(false, Pin::Verify, 0u), std::make_tuple(true, Pin::Fail, 1u)}) {
        ASSERT_EQ(0u, control.LosePinVerification(keyId));
        std::fill(std::begin(calls), std::end(calls), 0u);
        pin = pinMode;
        uint32_t len = 23;
        EXPECT_EQ(0x80006982u, CAsymKeyObjectNolt::PrikeyDec(key.get(), cipher.data(), 120, out.data(), &len,
                                                              withCallback ? Callback : nullptr, &cbContext));
        EXPECT_EQ(expectedCalls, calls[CB_INPUT_PIN]);
        VerifyUserPin();
    }
    ASSERT_EQ(0u, control.RequireButton(keyId, 0x75, 0xFFFFFFFF));
    uint32_t len = 23;
    EXPECT_EQ(0x8000F321u, CAsymKeyObjectNolt::PrikeyDec(key.get(), cipher.data(), 120, out.data(), &len, Callback,
                                                          &cbContext));
    EXPECT_EQ(0u, calls[CB_SIGN_HASH]);
}

TEST_F(ButtonRetryTest, SignatureAfterTheButtonComesBackThroughTheContext) {
    std::unique_ptr<CAsymKeyObject> key = SignatureKey();
    const uint32_t waits = 3;  // the key answers F321 three times, then signs
    ASSERT_EQ(0u, control.RequireButton(keyId, 0x73, waits));
    Bytes digest(32, 0x5A), signature(64, 0xEE);
    uint32_t len = 64;
    ASSERT_EQ(0u, CAsymKeyObjectNolt::PrikeySign(key.get(), VM_ALG_SM3, digest.data(), 32, signature.data(), &len,
                                                 Callback, &cbContext));
    EXPECT_EQ(64u, len);
    EXPECT_EQ(0u, key->Verify(VM_ALG_SM3, digest.data(), 32, signature.data(), 64));
    // The first try and the worker's three; a query and a pause between two.
    EXPECT_EQ(waits + 1, Count(0x73));
    EXPECT_EQ(1u, calls[CB_SIGN_HASH]);
    EXPECT_EQ(waits - 1, calls[CB_QUERY_CANCEL]);
    EXPECT_EQ(waits - 1, g_pauses);
    // No cancel: the only PIN-status command is the session probe (P2 0).
    for (const vk::RecordEntry& e : Entries()) EXPECT_FALSE(e.ins == 0x14 && e.p2 == 1);

    // A callback that answers success without running the worker hands out
    // nothing.
    runWorker = false;
    std::fill(signature.begin(), signature.end(), 0xEE);
    len = 64;
    EXPECT_EQ(0x80004005u, CAsymKeyObjectNolt::PrikeySign(key.get(), VM_ALG_SM3, digest.data(), 32, signature.data(),
                                                          &len, Callback, &cbContext));
    EXPECT_EQ(Bytes(64, 0xEE), signature);
}

TEST_F(ButtonRetryTest, CancelOrTimeOutEndsTheKeysWait) {
    std::unique_ptr<CAsymKeyObject> key = SignatureKey();
    ASSERT_EQ(0u, control.RequireButton(keyId, 0x73, 0xFFFFFFFF));
    for (uint32_t status : {0x8010006Eu, 0x8010000Au}) {
        Clear();
        std::fill(std::begin(calls), std::end(calls), 0u);
        cbContext.status = 0;
        cancelAfter = 2;
        cancelWith = status;
        Bytes digest(32, 0x5A), signature(64, 0xEE);
        uint32_t len = 64;
        EXPECT_EQ(status, CAsymKeyObjectNolt::PrikeySign(key.get(), VM_ALG_SM3, digest.data(), 32, signature.data(),
                                                         &len, Callback, &cbContext));
        EXPECT_EQ(Bytes(64, 0xEE), signature);
        EXPECT_EQ(64u, len);
        const std::vector<vk::RecordEntry> entries = Entries();
        ASSERT_FALSE(entries.empty());
        const vk::RecordEntry& last = entries.back();
        EXPECT_EQ(0xB4, last.cla);
        EXPECT_EQ(0x14, last.ins);
        EXPECT_EQ(0x00, last.p1);
        EXPECT_EQ(0x01, last.p2);
        EXPECT_EQ(3u, Count(0x73));
    }
}

TEST_F(ButtonRetryTest, OverlongPinsAndBadContextsAreRefused) {
    ASSERT_EQ(0u, control.RequireButton(keyId, 0x16, 0xFFFFFFFF));
    const std::string oldPin(33, '1');
    EXPECT_EQ(0x80070104u, op->ChangePIN(1, oldPin.c_str(), 33, "87654321", 8, Callback, &cbContext));
    EXPECT_EQ(0u, calls[CB_CHANGE_PIN]);

    EXPECT_EQ(0x80070101u, CNoltOperator::WaitPressButton(&cbContext, nullptr));
    MIDDLEWARE_CONTEXT mw;
    EXPECT_EQ(0x80070101u, CNoltOperator::WaitPressButton(&cbContext, &mw));
    mw.Handle = static_cast<CDeviceOperator*>(op);
    mw.Code = 6;
    mw.Callback = Callback;
    Clear();
    EXPECT_EQ(0x80070115u, CNoltOperator::WaitPressButton(&cbContext, &mw));
    mw.Code = uint8_t(CB_VERIFY_PIN);
    mw.Data[0] = 1;
    mw.Data[1] = 40;
    EXPECT_EQ(0x80070104u, CNoltOperator::WaitPressButton(&cbContext, &mw));
    EXPECT_EQ(0x80070104u, mw.Result.load());
    EXPECT_TRUE(Entries().empty());
    EXPECT_EQ(0x80070101u, CNoltOperator::CancelPressButton(nullptr));
}

// The key answers F321 to a PIN exchange's response until its button is
// pressed. Each try of the worker is the whole exchange: a new challenge,
// then the response (the key keeps one wait across them).
constexpr uint32_t HELD = 3;  // F321 answers before the press

TEST_F(ButtonRetryTest, VerifyPinGoesThroughAfterTheButtonAndStoresTheCode) {
    ASSERT_EQ(0u, control.LosePinVerification(keyId));
    ASSERT_EQ(0u, op->ClearAuthCode());
    HoldResponse(0x18, 0xFFFFFFFF);
    pressAfter = HELD - 1;  // the wrapper's try and HELD - 1 of the worker's
    Clear();
    ASSERT_EQ(0u, op->VerifyPIN(1, "12345678", 8, Callback, &cbContext));
    EXPECT_EQ(1u, calls[CB_VERIFY_PIN]);
    EXPECT_EQ(0u, calls[CB_INPUT_PIN]);
    EXPECT_EQ(HELD - 1, calls[CB_QUERY_CANCEL]);
    EXPECT_EQ(HELD - 1, g_pauses);
    EXPECT_EQ(HELD + 1, CountStep(0x18, 0)) << "challenges";
    EXPECT_EQ(HELD + 1, CountStep(0x18, 1)) << "responses";
    EXPECT_FALSE(CancelSent());
    bool waiting = true;
    uint32_t tries = 0, gap = 0;
    ASSERT_EQ(0u, control.ButtonState(keyId, &waiting, &tries, &gap));
    EXPECT_FALSE(waiting);
    EXPECT_EQ(HELD + 1, tries);

    // The code of that verification is in the device handle; the next
    // private-key command carries it and the key accepts it.
    VM_DEVICE_HANDLE* record = context->GetDeviceHandle();
    ASSERT_EQ(16u, record->m_nAuthCodeLen);
    const Bytes code(record->m_abyAuthCode, record->m_abyAuthCode + 16);
    EXPECT_NE(Bytes(16, 0), code);
    Clear();
    ASSERT_EQ(0u, op->CreateContainer("C2"));
    bool carried = false;
    for (const vk::RecordEntry& e : Entries())
        if (e.ins == 0x40) carried = Bytes(e.data.begin(), e.data.begin() + 16) == code;
    EXPECT_TRUE(carried);
    EXPECT_EQ((Bytes{6, 6, 1, 0x20}), UserPinStatus());
}

TEST_F(ButtonRetryTest, ChangePinGoesThroughAfterTheButton) {
    HoldResponse(0x16, 0xFFFFFFFF);
    pressAfter = HELD - 1;
    Clear();
    ASSERT_EQ(0u, op->ChangePIN(1, "12345678", 8, "87654321", 8, Callback, &cbContext));
    EXPECT_EQ(1u, calls[CB_CHANGE_PIN]);
    EXPECT_EQ(HELD - 1, calls[CB_QUERY_CANCEL]);
    EXPECT_EQ(HELD - 1, g_pauses);
    EXPECT_EQ(HELD + 1, CountStep(0x16, 0)) << "challenges";
    EXPECT_EQ(HELD + 1, CountStep(0x16, 1)) << "responses";
    EXPECT_FALSE(CancelSent());
    EXPECT_EQ(0u, context->GetDeviceHandle()->m_nAuthCodeLen) << "a change ends the verification";

    EXPECT_EQ(0x800063C5u, op->VerifyPIN(1, "12345678", 8));
    EXPECT_EQ(0u, op->VerifyPIN(1, "87654321", 8));
    EXPECT_EQ((Bytes{6, 6, 0, 0x20}), UserPinStatus());
}

// The dialog's cancel (or the key's own refusal) during a PIN wait: the PIN
// stays as it was, the old one still verifies.
TEST_F(ButtonRetryTest, CancelledPinWaitLeavesThePinAsItWas) {
    struct Row {
        const char* name;
        uint8_t ins;
        uint32_t polls;
        uint16_t outcome;
        uint32_t result;
        uint32_t queries;  // the cancel comes at the second query
        bool cancelSent;
    } rows[] = {
        {"verify, cancelled", 0x18, 0xFFFFFFFF, 0x9000, 0x8010006Eu, 2, true},
        {"change, cancelled", 0x16, 0xFFFFFFFF, 0x9000, 0x8010006Eu, 2, true},
        {"change, refused by the key", 0x16, 2, 0xF322, 0x8000F322u, 1, false},
    };
    for (const Row& row : rows) {
        std::fill(std::begin(calls), std::end(calls), 0u);
        g_pauses = 0;
        cbContext.status = 0;
        cancelAfter = 2;
        cancelWith = 0x8010006Eu;
        HoldResponse(row.ins, row.polls, row.outcome);
        const Bytes before = UserPinStatus();
        Clear();
        const uint32_t result = row.ins == 0x18 ? op->VerifyPIN(1, "12345678", 8, Callback, &cbContext)
                                                : op->ChangePIN(1, "12345678", 8, "87654321", 8, Callback, &cbContext);
        EXPECT_EQ(row.result, result) << row.name;
        EXPECT_EQ(1u, calls[row.ins == 0x18 ? CB_VERIFY_PIN : CB_CHANGE_PIN]) << row.name;
        EXPECT_EQ(row.queries, calls[CB_QUERY_CANCEL]) << row.name;
        EXPECT_EQ(1u, g_pauses) << row.name;
        EXPECT_EQ(3u, CountStep(row.ins, 1)) << row.name << ": the wrapper's try and two of the worker's";
        EXPECT_EQ(row.cancelSent, CancelSent()) << row.name;
        if (row.cancelSent) {
            const std::vector<vk::RecordEntry> entries = Entries();
            ASSERT_FALSE(entries.empty());
            EXPECT_TRUE(entries.back().ins == 0x14 && entries.back().p2 == 1) << row.name << ": the cancel comes last";
        }
        ASSERT_EQ(0u, control.RequireButton(keyId, row.ins, 0, 0));
        EXPECT_EQ(before, UserPinStatus()) << row.name;
    }
    EXPECT_EQ(0x800063C5u, op->VerifyPIN(1, "87654321", 8)) << "the new PIN was never set";
    EXPECT_EQ(0u, op->VerifyPIN(1, "12345678", 8));
}

}  // namespace
