// The SKF objects linked into the test program, with windows of the test's
// own in the windows' seam: the operation callback, the confirmation with
// its worker, the PIN window behind the sentinel, the per-key PIN cache,
// the PIN protection against OpenSSL, and the certificate selection of the
// containers with key pairs made by the token operations.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ApplicationObject.h"
#include "ContainerObject.h"
#include "DialogObject.h"
#include "PinCache.h"
#include "PinSentinel.h"
#include "SKFTestSupport.h"
#include "SKFWindows.h"

namespace {

// The exports as linked into this program.
struct LinkedSKF {
#define SKF_MEMBER(name, params) PFN_##name name = &::name;
    SKF_EXPORT_LIST(SKF_MEMBER)
#undef SKF_MEMBER
};

constexpr uint8_t VM_ALG_RSA1024 = 1;
constexpr uint8_t VM_ALG_SM2 = 17;

void ShortPause(uint32_t) { Sleep(5); }

// ---- the test's windows

enum class ConfirmMode { NoWorker, Press, Cancel, TimeOut };

struct FakeWindows {
    static VirtualKeyControl* control;
    static uint32_t keyId;
    static std::atomic<int> pinCalls;
    static int lastTries;
    static std::string pin;
    static uint32_t pinResult;
    static std::atomic<int> confirmCalls;
    static std::wstring lastText;
    static ConfirmMode mode;

    static uint32_t Pin(int32_t nLeftTimes, char** ppszPIN) {
        ++pinCalls;
        lastTries = nLeftTimes;
        if (pinResult != 0) return pinResult;
        *ppszPIN = static_cast<char*>(calloc(pin.size() + 1, 1));
        memcpy(*ppszPIN, pin.data(), pin.size());
        return 0;
    }

    // Waits until the key has answered `tries` tries of its wait.
    static bool WaitForTries(uint32_t tries) {
        for (int i = 0; i < 4000; ++i) {
            bool waiting = false;
            uint32_t seen = 0, gap = 0;
            if (control->ButtonState(keyId, &waiting, &seen, &gap) == 0 && seen >= tries) return true;
            Sleep(5);
        }
        return false;
    }

    static uint32_t Confirm(CONFIRM_TASK* task) {
        ++confirmCalls;
        lastText = task->pszText ? task->pszText : L"";
        if (mode == ConfirmMode::NoWorker) return 0;
        std::thread worker([task] { ConfirmWorkingThread(task); });
        // The worker meets the key's wait at least once more before the
        // user acts.
        EXPECT_TRUE(WaitForTries(2));
        if (mode == ConfirmMode::Press) {
            EXPECT_EQ(0u, control->PressButton(keyId));
        }
        if (mode == ConfirmMode::Cancel) SetConfirmOutcome(task, CB_STATUS_CANCELLED);
        if (mode == ConfirmMode::TimeOut) SetConfirmOutcome(task, CB_STATUS_TIMEOUT);
        worker.join();
        return 0;
    }
};
VirtualKeyControl* FakeWindows::control = nullptr;
uint32_t FakeWindows::keyId = 0;
std::atomic<int> FakeWindows::pinCalls{0};
int FakeWindows::lastTries = -1;
std::string FakeWindows::pin;
uint32_t FakeWindows::pinResult = 0;
std::atomic<int> FakeWindows::confirmCalls{0};
std::wstring FakeWindows::lastText;
ConfirmMode FakeWindows::mode = ConfirmMode::NoWorker;

class SKFObjects : public ::testing::Test {
protected:
    void SetUp() override {
        FakeWindows::control = &control;
        FakeWindows::pinCalls = 0;
        FakeWindows::confirmCalls = 0;
        FakeWindows::pinResult = 0;
        FakeWindows::lastText.clear();
        FakeWindows::lastTries = -1;
        previousPause = SetButtonPause(&ShortPause);
    }
    void TearDown() override {
        SetSKFWindows(SKF_WINDOWS());
        SetButtonPause(previousPause);
        ClearPinCache();
    }
    void InstallWindows(uint32_t keyId) {
        FakeWindows::keyId = keyId;
        SKF_WINDOWS windows;
        windows.pfnPinWindow = &FakeWindows::Pin;
        windows.pfnConfirmWindow = &FakeWindows::Confirm;
        SetSKFWindows(windows);
    }
    // A container with key pairs made by the token operations (key spec 1
    // exchange, 2 signature).
    HCONTAINER ContainerWithKeys(KeySession<LinkedSKF>& key, const char* name, std::vector<uint8_t> specs,
                                 uint8_t alg = VM_ALG_SM2) {
        std::string text(name);
        HCONTAINER h = nullptr;
        EXPECT_EQ(SAR_OK, k.SKF_CreateContainer(key.app, &text[0], &h));
        if (!h) return nullptr;
        for (uint8_t spec : specs)
            EXPECT_EQ(0u, ContainerFromHandle(h)->CDeviceOperator::GenerateKeyPair(name, spec, alg, nullptr));
        return h;
    }
    std::vector<BYTE> Certificate(size_t n, BYTE seed) {
        std::vector<BYTE> cert(n);
        for (size_t i = 0; i < n; ++i) cert[i] = BYTE(seed + 13 * i);
        cert[0] = 0x30;
        cert[1] = 0x82;
        cert[2] = BYTE((n - 4) >> 8);
        cert[3] = BYTE(n - 4);
        return cert;
    }
    std::vector<BYTE> Export(HCONTAINER h, BOOL sign, ULONG* rc) {
        ULONG len = 0;
        *rc = k.SKF_ExportCertificate(h, sign, nullptr, &len);
        if (*rc != SAR_OK) return {};
        std::vector<BYTE> cert(len);
        *rc = k.SKF_ExportCertificate(h, sign, cert.data(), &len);
        cert.resize(*rc == SAR_OK ? len : 0);
        return cert;
    }
    ULONG Import(HCONTAINER h, BOOL sign, std::vector<BYTE> cert) {
        return k.SKF_ImportCertificate(h, sign, cert.data(), ULONG(cert.size()));
    }
    ULONG RemainingTries(KeySession<LinkedSKF>& key) {
        ULONG maxCount = 0, remain = 0;
        BOOL isDefault = FALSE;
        EXPECT_EQ(SAR_OK, k.SKF_GetPINInfo(key.app, kUserPin, &maxCount, &remain, &isDefault));
        return remain;
    }
    std::string Sentinel() { return std::string(PinDialogSentinel(), PIN_DIALOG_SENTINEL_LEN); }

    LinkedSKF k;
    VirtualKeyControl control;
    BUTTON_PAUSE_FN previousPause = nullptr;
};

// ---- the PIN protection

std::vector<uint8_t> OpenSslSm4Cbc(const std::vector<uint8_t>& data, const uint8_t* key) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    const uint8_t iv[16] = {};
    std::vector<uint8_t> out(data.size() + 16);
    int n = 0, m = 0;
    EXPECT_EQ(1, EVP_EncryptInit_ex(ctx, EVP_sm4_cbc(), nullptr, key, iv));
    EXPECT_EQ(1, EVP_EncryptUpdate(ctx, out.data(), &n, data.data(), int(data.size())));
    EXPECT_EQ(1, EVP_EncryptFinal_ex(ctx, out.data() + n, &m));
    EVP_CIPHER_CTX_free(ctx);
    out.resize(size_t(n + m));
    return out;
}

TEST(SKFProtectData, EqualsOpenSslSm4CbcAndRefusesAChangedLastBlock) {
    uint8_t key[32];
    for (int i = 0; i < 32; ++i) key[i] = uint8_t(0xA0 + i * 3);
    for (size_t n : {size_t(6), size_t(16)}) {
        std::vector<uint8_t> pin(n);
        for (size_t i = 0; i < n; ++i) pin[i] = uint8_t('0' + i % 10);
        uint8_t* out = nullptr;
        uint32_t outLen = 0;
        ASSERT_EQ(0u, CreateProtectData(pin.data(), uint32_t(n), key, 32, &out, &outLen));
        const std::vector<uint8_t> protectedPin(out, out + outLen);
        free(out);
        EXPECT_EQ(n == 6 ? 16u : 32u, outLen);
        EXPECT_EQ(OpenSslSm4Cbc(pin, key), protectedPin);

        uint8_t* back = nullptr;
        uint32_t backLen = 0;
        ASSERT_EQ(0u, AcquireProtectData(protectedPin.data(), outLen, key, 32, &back, &backLen));
        EXPECT_EQ(pin, std::vector<uint8_t>(back, back + backLen));
        free(back);

        std::vector<uint8_t> changed = protectedPin;
        changed.back() ^= 0x01;
        back = nullptr;
        EXPECT_NE(0u, AcquireProtectData(changed.data(), outLen, key, 32, &back, &backLen));
        EXPECT_EQ(nullptr, back);
    }
    uint8_t* out = nullptr;
    uint32_t outLen = 0;
    const uint8_t one = 1;
    EXPECT_EQ(0x80070057u, CreateProtectData(nullptr, 6, key, 32, &out, &outLen));
    EXPECT_EQ(0x80070057u, CreateProtectData(&one, 0, key, 32, &out, &outLen));
    EXPECT_EQ(0x80070057u, CreateProtectData(&one, 1, nullptr, 32, &out, &outLen));
    EXPECT_EQ(0x80070057u, CreateProtectData(&one, 1, key, 32, nullptr, &outLen));
    uint8_t word[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    CopyReversed(word, 4, 256);
    EXPECT_EQ(0, memcmp(word, "\x00\x00\x01\x00", 4));
}

// ---- the operation callback

TEST_F(SKFObjects, CallbackCodeTable) {
    KeySession<LinkedSKF> key(k, control, kSmKey);
    ASSERT_EQ(SAR_OK, key.Open());
    InstallWindows(kSmKey);
    FakeWindows::mode = ConfirmMode::NoWorker;
    SKF_CALLBACK_CONTEXT context;
    EXPECT_EQ(0x80070101u, CDialogObject::SKFOperationCallback(CB_QUERY_CANCEL, nullptr, nullptr));
    EXPECT_EQ(0x80070101u, CDialogObject::SKFOperationCallback(CB_INPUT_PIN, nullptr, nullptr));
    SetCallbackStatus(&context, CB_STATUS_TIMEOUT);
    EXPECT_EQ(CB_STATUS_TIMEOUT, CDialogObject::SKFOperationCallback(CB_QUERY_CANCEL, &context, nullptr));
    SetCallbackStatus(&context, 0);
    for (uint32_t code : {0u, 5u, 10u, 12u}) {
        EXPECT_EQ(0x80070108u, CDialogObject::SKFOperationCallback(code, &context, nullptr)) << code;
    }
    EXPECT_EQ(0x80070113u, CDialogObject::SKFOperationCallback(CB_INPUT_PIN, &context, nullptr));
    EXPECT_EQ(0x80070113u, CDialogObject::SKFOperationCallback(CB_SIGN_HASH, &context, nullptr));
    EXPECT_EQ(0, FakeWindows::confirmCalls.load());

    // Codes 2 to 4 show their texts; a window that returns without its
    // worker having run leaves the task's failure, never success.
    context.SKFObject = ApplicationFromHandle(key.app);
    RemainingTries(key);  // a session key, as the command that made the key wait had
    const struct {
        uint32_t code;
        const wchar_t* text;
    } rows[] = {
        {CB_VERIFY_PIN, L"PIN码输入错误次数过多，确认继续尝试请轻触Quib设备按键"},
        {CB_CHANGE_PIN, L"您正在修改用户PIN码，请轻触Quib设备确认本次操作"},
        {CB_SIGN_HASH, L"请仔细核对交易信息，确认无误后轻触Quib设备按键完成本次交易"},
    };
    for (const auto& row : rows) {
        MIDDLEWARE_CONTEXT middleware;
        key.ClearRecord();
        EXPECT_EQ(MW_E_NOT_CARRIED_OUT, CDialogObject::SKFOperationCallback(row.code, &context, &middleware));
        EXPECT_EQ(std::wstring(row.text), FakeWindows::lastText) << row.code;
        // Nobody repeated the command: the key was told to stop waiting.
        const std::vector<vk::RecordEntry> record = key.Record();
        ASSERT_FALSE(record.empty());
        EXPECT_EQ(INS_PIN_STATUS, record.back().ins);
        EXPECT_EQ(0x01, record.back().p2);
    }
    EXPECT_EQ(3, FakeWindows::confirmCalls.load());
}

TEST_F(SKFObjects, ChangePinUnderTheButtonWithTheWorkerAndTheWindow) {
    KeySession<LinkedSKF> key(k, control, AddFreshKey(control));
    ASSERT_EQ(SAR_OK, key.Open());
    InstallWindows(key.KeyId());
    // The key holds the response of each PIN change until its button is
    // pressed.
    ASSERT_EQ(0u, control.RequireButton(key.KeyId(), INS_CHANGE_PIN, 0xFFFFFFFF, 0x9000, 1));
    struct Row {
        ConfirmMode mode;
        ULONG expected;
    } rows[] = {{ConfirmMode::Cancel, SAR_FAIL}, {ConfirmMode::TimeOut, SAR_TIMEOUTERR}, {ConfirmMode::Press, SAR_OK}};
    for (const Row& row : rows) {
        FakeWindows::mode = row.mode;
        key.ClearRecord();
        std::string oldPin = DEFAULT_USER_PIN, newPin = "Pressed1";
        ULONG retry = 0xFFFF;
        EXPECT_EQ(row.expected, k.SKF_ChangePIN(key.app, kUserPin, &oldPin[0], &newPin[0], &retry));
        EXPECT_EQ(std::wstring(L"您正在修改用户PIN码，请轻触Quib设备确认本次操作"), FakeWindows::lastText);
        const std::vector<vk::RecordEntry> record = key.Record();
        ASSERT_FALSE(record.empty());
        if (row.mode != ConfirmMode::Press) {
            // The key was told to stop waiting: B4 14 00 01.
            EXPECT_EQ(0xB4, record.back().cla);
            EXPECT_EQ(INS_PIN_STATUS, record.back().ins);
            EXPECT_EQ(0x00, record.back().p1);
            EXPECT_EQ(0x01, record.back().p2);
        }
    }
    ASSERT_EQ(0u, control.RequireButton(key.KeyId(), INS_CHANGE_PIN, 0, 0));
    EXPECT_EQ(SAR_PIN_INCORRECT, key.Verify(DEFAULT_USER_PIN));

    // A verification that the key holds for its button: confirmed, then cached.
    ASSERT_EQ(0u, control.RequireButton(key.KeyId(), INS_VERIFY_PIN, 0xFFFFFFFF, 0x9000, 1));
    FakeWindows::mode = ConfirmMode::Press;
    ClearPinCache();
    EXPECT_EQ(SAR_OK, key.Verify("Pressed1"));
    EXPECT_EQ(std::wstring(L"PIN码输入错误次数过多，确认继续尝试请轻触Quib设备按键"), FakeWindows::lastText);
    EXPECT_TRUE(PinCache::Has(ApplicationFromHandle(key.app)->PinCacheName()));
    ASSERT_EQ(0u, control.RequireButton(key.KeyId(), INS_VERIFY_PIN, 0, 0));
}

TEST_F(SKFObjects, WithoutAWindowTheConfirmationFailsAndTheKeyStopsWaiting) {
    KeySession<LinkedSKF> key(k, control, AddFreshKey(control));
    ASSERT_EQ(SAR_OK, key.Open());
    ASSERT_EQ(0u, control.RequireButton(key.KeyId(), INS_CHANGE_PIN, 0xFFFFFFFF, 0x9000, 1));
    key.ClearRecord();
    std::string oldPin = DEFAULT_USER_PIN, newPin = "NoWindow1";
    ULONG retry = 0xFFFF;
    EXPECT_EQ(SAR_NOTSUPPORTYETERR, k.SKF_ChangePIN(key.app, kUserPin, &oldPin[0], &newPin[0], &retry));
    const std::vector<vk::RecordEntry> record = key.Record();
    ASSERT_FALSE(record.empty());
    EXPECT_EQ(INS_PIN_STATUS, record.back().ins);
    EXPECT_EQ(0x01, record.back().p2);
    ASSERT_EQ(0u, control.RequireButton(key.KeyId(), INS_CHANGE_PIN, 0, 0));
    EXPECT_EQ(SAR_OK, key.Verify(DEFAULT_USER_PIN));  // unchanged

    // Nor does the sentinel show anything.
    std::string sentinel = Sentinel();
    EXPECT_EQ(SAR_NOTSUPPORTYETERR, k.SKF_VerifyPIN(key.app, kUserPin, &sentinel[0], &retry));
}

// ---- the PIN window behind the sentinel

TEST_F(SKFObjects, TheSentinelAsksThePinWindow) {
    KeySession<LinkedSKF> key(k, control, AddFreshKey(control));
    ASSERT_EQ(SAR_OK, key.Open());
    InstallWindows(key.KeyId());
    const std::string sentinel = Sentinel();
    EXPECT_EQ(PIN_DIALOG_SENTINEL_LEN, strlen(PinDialogSentinel()));
    bool special = false;
    for (char c : sentinel) special |= !isalnum(static_cast<unsigned char>(c));
    EXPECT_TRUE(special);
    ULONG retry = 0xFFFF;

    // The user types the PIN: verified and cached, even when the key already
    // counted it as verified.
    ASSERT_EQ(SAR_OK, key.Verify(DEFAULT_USER_PIN));
    ClearPinCache();
    FakeWindows::pin = DEFAULT_USER_PIN;
    std::string text = sentinel + "anything after it";
    EXPECT_EQ(SAR_OK, k.SKF_VerifyPIN(key.app, kUserPin, &text[0], &retry));
    EXPECT_EQ(0u, retry);
    EXPECT_EQ(1, FakeWindows::pinCalls.load());
    EXPECT_EQ(6, FakeWindows::lastTries);
    EXPECT_TRUE(PinCache::Has(ApplicationFromHandle(key.app)->PinCacheName()));

    // A wrong PIN typed: the key's tries.
    FakeWindows::pin = "00000000";
    EXPECT_EQ(SAR_PIN_INCORRECT, k.SKF_VerifyPIN(key.app, kUserPin, &text[0], &retry));
    EXPECT_EQ(5u, retry);
    // Cancelled.
    FakeWindows::pinResult = CB_STATUS_CANCELLED;
    retry = 0xFFFF;
    EXPECT_EQ(SAR_FAIL, k.SKF_VerifyPIN(key.app, kUserPin, &text[0], &retry));
    EXPECT_EQ(0xFFFFu, retry);
    EXPECT_EQ(3, FakeWindows::pinCalls.load());
    EXPECT_EQ(5, FakeWindows::lastTries);

    // Shorter than the sentinel, or for the administrator: an ordinary PIN.
    std::string shorter = sentinel.substr(0, 9);
    EXPECT_EQ(SAR_PIN_INCORRECT, k.SKF_VerifyPIN(key.app, kUserPin, &shorter[0], &retry));
    std::string adminText = sentinel;
    EXPECT_EQ(SAR_PIN_INCORRECT, k.SKF_VerifyPIN(key.app, kAdminPin, &adminText[0], &retry));
    EXPECT_EQ(3, FakeWindows::pinCalls.load());

    // No tries left: no window.
    FakeWindows::pinResult = 0;
    for (int i = 0; i < 4; ++i) key.Verify("00000000");
    EXPECT_EQ(0u, RemainingTries(key));
    EXPECT_EQ(SAR_PIN_LOCKED, k.SKF_VerifyPIN(key.app, kUserPin, &text[0], &retry));
    EXPECT_EQ(3, FakeWindows::pinCalls.load());
}

// ---- the PIN cache

TEST_F(SKFObjects, TheCachedPinLogsInSilentlyOncePerLostVerification) {
    KeySession<LinkedSKF> key(k, control, AddFreshKey(control));
    ASSERT_EQ(SAR_OK, key.Open());
    ASSERT_EQ(SAR_OK, key.Verify(DEFAULT_USER_PIN));
    HCONTAINER h = ContainerWithKeys(key, "cached", {VM_KEY_SIGNATURE});
    ASSERT_NE(nullptr, h);
    const std::vector<BYTE> cert = Certificate(300, 7);

    ASSERT_EQ(0u, control.LosePinVerification(key.KeyId()));
    key.ClearRecord();
    ASSERT_EQ(SAR_OK, Import(h, TRUE, cert));
    EXPECT_EQ(1u, key.CountIns(INS_VERIFY_PIN, 1));  // one silent verification
    ULONG rc = 0;
    EXPECT_EQ(cert, Export(h, TRUE, &rc));

    // With the verification still standing (state 0x20) nothing is sent.
    key.ClearRecord();
    EXPECT_EQ(0u, ContainerFromHandle(h)->CheckUserPIN(0));
    EXPECT_EQ(0u, key.CountIns(INS_VERIFY_PIN));

    // After SKF_ClearSecureState there is nothing to log in with.
    ASSERT_EQ(SAR_OK, k.SKF_ClearSecureState(key.app));
    key.ClearRecord();
    EXPECT_EQ(SAR_USER_NOT_LOGGED_IN, Import(h, TRUE, cert));
    EXPECT_EQ(0u, key.CountIns(INS_VERIFY_PIN));
    EXPECT_EQ(0x80006982u, ContainerFromHandle(h)->CheckUserPIN(0));
    EXPECT_EQ(SAR_OK, k.SKF_CloseContainer(h));
}

TEST_F(SKFObjects, AChangedPinReplacesTheCachedOneAndAStaleOneIsDropped) {
    KeySession<LinkedSKF> key(k, control, AddFreshKey(control));
    ASSERT_EQ(SAR_OK, key.Open());
    ASSERT_EQ(SAR_OK, key.Verify(DEFAULT_USER_PIN));
    HCONTAINER h = ContainerWithKeys(key, "changed", {VM_KEY_SIGNATURE});
    ASSERT_NE(nullptr, h);
    const std::vector<BYTE> cert = Certificate(120, 3);

    std::string oldPin = DEFAULT_USER_PIN, newPin = "Changed99";
    ULONG retry = 0;
    ASSERT_EQ(SAR_OK, k.SKF_ChangePIN(key.app, kUserPin, &oldPin[0], &newPin[0], &retry));
    ASSERT_EQ(0u, control.LosePinVerification(key.KeyId()));
    ASSERT_EQ(SAR_OK, Import(h, TRUE, cert));
    EXPECT_EQ(6u, RemainingTries(key));  // the new PIN, no try spent

    // A cached PIN that the key no longer takes (changed elsewhere) costs
    // one try and is gone.
    const std::string device = ApplicationFromHandle(key.app)->PinCacheName();
    ASSERT_EQ(0u, PinCache::Store(device.c_str(), "Elsewhere1", 10));
    ASSERT_EQ(0u, control.LosePinVerification(key.KeyId()));
    EXPECT_EQ(SAR_PIN_INCORRECT, Import(h, TRUE, cert));
    EXPECT_FALSE(PinCache::Has(device.c_str()));
    key.ClearRecord();
    EXPECT_EQ(SAR_USER_NOT_LOGGED_IN, Import(h, TRUE, cert));
    EXPECT_EQ(0u, key.CountIns(INS_VERIFY_PIN));
    EXPECT_EQ(5u, RemainingTries(key));
    EXPECT_EQ(SAR_OK, k.SKF_CloseContainer(h));
}

TEST_F(SKFObjects, OneKeysPinNeverReachesAnother) {
    KeySession<LinkedSKF> first(k, control, AddFreshKey(control));
    KeySession<LinkedSKF> second(k, control, AddFreshKey(control, 3));
    ASSERT_EQ(SAR_OK, first.Open());
    ASSERT_EQ(SAR_OK, second.Open());
    ASSERT_EQ(SAR_OK, second.Verify(DEFAULT_USER_PIN));
    HCONTAINER h = ContainerWithKeys(second, "other", {VM_KEY_SIGNATURE}, VM_ALG_RSA1024);
    ASSERT_NE(nullptr, h);
    ASSERT_EQ(SAR_OK, k.SKF_ClearSecureState(second.app));

    // Key 1 has its user PIN cached, key 2 none.
    ASSERT_EQ(SAR_OK, first.Verify(DEFAULT_USER_PIN));
    second.ClearRecord();
    EXPECT_EQ(SAR_USER_NOT_LOGGED_IN, Import(h, TRUE, Certificate(100, 1)));
    EXPECT_EQ(0u, second.CountIns(INS_VERIFY_PIN));
    EXPECT_EQ(6u, RemainingTries(second));
    EXPECT_TRUE(PinCache::Has(ApplicationFromHandle(first.app)->PinCacheName()));
    EXPECT_FALSE(PinCache::Has(ApplicationFromHandle(second.app)->PinCacheName()));
    EXPECT_EQ(SAR_OK, k.SKF_CloseContainer(h));
}

TEST_F(SKFObjects, TwoKeysOnTwoThreadsKeepTheirOwnCachedPins) {
    KeySession<LinkedSKF> first(k, control, AddFreshKey(control));
    KeySession<LinkedSKF> second(k, control, AddFreshKey(control, 3));
    ASSERT_EQ(SAR_OK, first.Open());
    ASSERT_EQ(SAR_OK, second.Open());
    // The second key's user PIN differs from the first's.
    std::string oldPin = DEFAULT_USER_PIN, newPin = "Second22";
    ULONG retry = 0;
    ASSERT_EQ(SAR_OK, k.SKF_ChangePIN(second.app, kUserPin, &oldPin[0], &newPin[0], &retry));
    ASSERT_EQ(SAR_OK, first.Verify(DEFAULT_USER_PIN));
    ASSERT_EQ(SAR_OK, second.Verify("Second22"));
    HCONTAINER h1 = ContainerWithKeys(first, "t1", {VM_KEY_SIGNATURE});
    HCONTAINER h2 = ContainerWithKeys(second, "t2", {VM_KEY_SIGNATURE}, VM_ALG_RSA1024);
    ASSERT_TRUE(h1 && h2);

    // Both caches are replaced over and over at the same time.
    auto verifyMany = [&](KeySession<LinkedSKF>* key, const char* pin) {
        for (int i = 0; i < 20; ++i) EXPECT_EQ(SAR_OK, key->Verify(pin));
    };
    std::thread a(verifyMany, &first, DEFAULT_USER_PIN);
    std::thread b(verifyMany, &second, "Second22");
    a.join();
    b.join();

    // Each key logs in silently with its own PIN.
    for (auto* key : {&first, &second}) {
        ASSERT_EQ(0u, control.LosePinVerification(key->KeyId()));
        key->ClearRecord();
        EXPECT_EQ(SAR_OK, Import(key == &first ? h1 : h2, TRUE, Certificate(64, 5)));
        EXPECT_EQ(1u, key->CountIns(INS_VERIFY_PIN, 1));
        EXPECT_EQ(6u, RemainingTries(*key));
    }
    EXPECT_EQ(SAR_OK, k.SKF_CloseContainer(h1));
    EXPECT_EQ(SAR_OK, k.SKF_CloseContainer(h2));
}

// ---- certificates and the key selection

TEST_F(SKFObjects, CertificateSelectionTable) {
    KeySession<LinkedSKF> key(k, control, AddFreshKey(control));
    ASSERT_EQ(SAR_OK, key.Open());
    ASSERT_EQ(SAR_OK, key.Verify(DEFAULT_USER_PIN));
    ULONG rc = 0;
    const std::vector<BYTE> certA = Certificate(300, 11), certB = Certificate(256, 22);

    // Only an exchange key: the signature flag falls back to it.
    HCONTAINER exchange = ContainerWithKeys(key, "exchange", {VM_KEY_EXCHANGE});
    ULONG type = 0;
    EXPECT_EQ(SAR_OK, k.SKF_GetContainerType(exchange, &type));
    EXPECT_EQ(2u, type);
    Export(exchange, TRUE, &rc);
    EXPECT_EQ(SAR_CERTNOTFOUNTERR, rc);
    ASSERT_EQ(SAR_OK, Import(exchange, TRUE, certA));
    EXPECT_EQ(certA, Export(exchange, FALSE, &rc));
    EXPECT_EQ(certA, Export(exchange, TRUE, &rc));

    // Only a signature key: no exchange certificate, and no fallback to an
    // empty exchange file.
    HCONTAINER sign = ContainerWithKeys(key, "sign", {VM_KEY_SIGNATURE});
    EXPECT_EQ(SAR_KEYNOTFOUNTERR, Import(sign, FALSE, certA));
    Export(sign, FALSE, &rc);
    EXPECT_EQ(SAR_CERTNOTFOUNTERR, rc);
    Export(sign, TRUE, &rc);
    EXPECT_EQ(SAR_CERTNOTFOUNTERR, rc);
    ASSERT_EQ(SAR_OK, Import(sign, TRUE, certA));
    EXPECT_EQ(certA, Export(sign, TRUE, &rc));
    Export(sign, FALSE, &rc);
    EXPECT_EQ(SAR_CERTNOTFOUNTERR, rc);

    // Both keys: each flag its own certificate.
    HCONTAINER both = ContainerWithKeys(key, "both", {VM_KEY_EXCHANGE, VM_KEY_SIGNATURE});
    ASSERT_EQ(SAR_OK, Import(both, TRUE, certA));
    ASSERT_EQ(SAR_OK, Import(both, FALSE, certB));
    EXPECT_EQ(certA, Export(both, TRUE, &rc));
    EXPECT_EQ(certB, Export(both, FALSE, &rc));
    ULONG len = 0;
    ASSERT_EQ(SAR_OK, k.SKF_ExportCertificate(both, TRUE, nullptr, &len));
    EXPECT_EQ(300u, len);
    std::vector<BYTE> shortBuffer(299);
    len = 299;
    EXPECT_EQ(SAR_BUFFER_TOO_SMALL, k.SKF_ExportCertificate(both, TRUE, shortBuffer.data(), &len));

    // Another handle opened on the key sees what was written.
    HCONTAINER reopened = nullptr;
    std::string name = "both";
    ASSERT_EQ(SAR_OK, k.SKF_OpenContainer(key.app, &name[0], &reopened));
    EXPECT_EQ(certB, Export(reopened, FALSE, &rc));
    for (HCONTAINER h : {exchange, sign, both, reopened}) {
        EXPECT_EQ(SAR_OK, k.SKF_CloseContainer(h));
    }
}

}  // namespace
