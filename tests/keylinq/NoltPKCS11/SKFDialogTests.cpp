// Keylinq.dll's own windows against the virtual key: the export runs on
// the test's thread, a driver thread finds its dialog, types and clicks
// with SendInput and runs the countdown by posting the hidden window's
// timer ticks (the real ticks are set far apart for the test).
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <vector>
#include <string>
#include <thread>
#include <atomic>
#include <cstring>

#include "DesktopInput.h"
#include "KeyReference.h"
#include "KeylinqLibrary.h"
#include "SKFTestSupport.h"

namespace {

constexpr int ID_OK = 9008, ID_CANCEL = 9009, ID_EDIT = 9007, ID_TRIES = 9006, ID_PROMPT = 9005;
constexpr int ID_MESSAGE = 9002, ID_LABEL = 9004;
constexpr uint8_t INS_VERIFY_PIN = 0x18;
const wchar_t kCountdownClass[] = L"KeylinqConfirmCountdown";

std::wstring LibraryString(UINT id) {
    wchar_t text[260] = {};
    LoadStringW(Keylinq().module, id, text, 260);
    return text;
}

std::wstring Label(int seconds) { return L"取消(" + std::to_wstring(seconds) + L"秒)"; }

class SKFDialogs : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, k.missing); }

    // Runs the export on this thread while `drive` acts on its windows from
    // another; a driver that gives up closes what it finds.
    ULONG WithDriver(const std::function<ULONG()>& call, const std::function<void(DWORD)>& drive) {
        const DWORD tid = GetCurrentThreadId();
        std::thread driver([&] {
            drive(tid);
            // Whatever is left open ends as a cancel.
            for (int id : {ID_EDIT, ID_LABEL})
                if (HWND left = desk::FindThreadDialog(tid, id)) PostMessageW(left, WM_CLOSE, 0, 0);
        });
        const ULONG rc = call();
        driver.join();
        return rc;
    }
    ULONG VerifyWithDialog(KeySession<KeylinqLibrary>& key, ULONG* retry) {
        char sentinel[] = "[KLQ:PIN?]";
        return k.SKF_VerifyPIN(key.app, kUserPin, sentinel, retry);
    }
    ULONG RemainingTries(KeySession<KeylinqLibrary>& key) {
        ULONG maxCount = 0, remain = 0;
        BOOL isDefault = FALSE;
        EXPECT_EQ(SAR_OK, k.SKF_GetPINInfo(key.app, kUserPin, &maxCount, &remain, &isDefault));
        return remain;
    }
    static HWND WaitDialog(DWORD tid, int id) {
        HWND found = nullptr;
        desk::WaitFor([&] { return (found = desk::FindThreadDialog(tid, id)) != nullptr; });
        return found;
    }
    static bool WaitStars(HWND dlg, size_t n) {
        return desk::WaitFor([&] { return desk::Text(GetDlgItem(dlg, ID_EDIT)) == std::wstring(n, L'*'); });
    }
    static void WaitEditFocus(HWND dlg) {
        desk::WaitFor([&] {
            GUITHREADINFO info = {};
            info.cbSize = sizeof info;
            return GetGUIThreadInfo(GetWindowThreadProcessId(dlg, nullptr), &info) &&
                   info.hwndFocus == GetDlgItem(dlg, ID_EDIT);
        });
    }
    // Types the PIN into an open PIN dialog and presses OK.
    static void EnterPin(HWND dlg, const char* pin) {
        WaitEditFocus(dlg);
        desk::Type(pin);
        EXPECT_TRUE(WaitStars(dlg, strlen(pin)));
        EXPECT_TRUE(desk::WaitFor([&] { return IsWindowEnabled(GetDlgItem(dlg, ID_OK)) != FALSE; }));
        EXPECT_TRUE(desk::ClickToClose(GetDlgItem(dlg, ID_OK), dlg));
    }

    // A new container with an SM2 signature key pair made on the key; its
    // public key X || Y.
    Bytes NewSm2Signer(KeySession<KeylinqLibrary>& key, const char* name, HCONTAINER* container) {
        std::string text = name;
        EXPECT_EQ(SAR_OK, k.SKF_CreateContainer(key.app, &text[0], container));
        ECCPUBLICKEYBLOB blob = {};
        EXPECT_EQ(SAR_OK, k.SKF_GenECCKeyPair(*container, 0x00020100 /* SGD_SM2_1 */, &blob));
        return Concat(Bytes(blob.XCoordinate + 32, blob.XCoordinate + 64),
                      Bytes(blob.YCoordinate + 32, blob.YCoordinate + 64));
    }
    static Bytes RawSignature(const ECCSIGNATUREBLOB& signature) {
        return Concat(Bytes(signature.r + 32, signature.r + 64), Bytes(signature.s + 32, signature.s + 64));
    }

    KeylinqLibrary& k = Keylinq();
    VirtualKeyControl control;
};

TEST_F(SKFDialogs, TypedPinVerifiesWithOkFollowingTheStoredLength) {
    KeySession<KeylinqLibrary> key(k, control, AddFreshKey(control));
    ASSERT_EQ(SAR_OK, key.Open());
    ULONG retry = 0xFFFF;
    const ULONG rc = WithDriver([&] { return VerifyWithDialog(key, &retry); }, [&](DWORD tid) {
        HWND dlg = WaitDialog(tid, ID_EDIT);
        ASSERT_NE(nullptr, dlg);
        HWND ok = GetDlgItem(dlg, ID_OK);
        EXPECT_EQ(LibraryString(109) + L" 6", desk::Text(GetDlgItem(dlg, ID_TRIES)));
        EXPECT_EQ(LibraryString(101), desk::Text(GetDlgItem(dlg, ID_PROMPT)));
        EXPECT_EQ(L"确认", desk::Text(ok));
        EXPECT_EQ(L"取消", desk::Text(GetDlgItem(dlg, ID_CANCEL)));
        EXPECT_FALSE(IsWindowEnabled(ok));
        WaitEditFocus(dlg);
        desk::Type("12345");
        EXPECT_TRUE(WaitStars(dlg, 5));
        EXPECT_FALSE(IsWindowEnabled(ok));
        desk::Type("6");
        EXPECT_TRUE(WaitStars(dlg, 6));
        EXPECT_TRUE(IsWindowEnabled(ok));
        EXPECT_TRUE(desk::Capture(dlg, "keylinq-pin-dialog-6-chars"));
        desk::Key(VK_BACK);
        EXPECT_TRUE(WaitStars(dlg, 5));
        EXPECT_FALSE(IsWindowEnabled(ok));
        // A posted character bypasses the hook: nothing is stored or shown.
        PostMessageW(GetDlgItem(dlg, ID_EDIT), WM_CHAR, '6', 0);
        desk::Key(VK_NUMPAD6);
        EXPECT_TRUE(WaitStars(dlg, 6));
        desk::Type("78");
        EXPECT_TRUE(WaitStars(dlg, 8));
        EXPECT_TRUE(IsWindowEnabled(ok));
        EXPECT_TRUE(desk::ClickToClose(ok, dlg));
    });
    EXPECT_EQ(SAR_OK, rc);
    EXPECT_EQ(6u, RemainingTries(key));  // the key took it as the right PIN
}

TEST_F(SKFDialogs, WrongPinGivesTheKeysCount) {
    KeySession<KeylinqLibrary> key(k, control, AddFreshKey(control));
    ASSERT_EQ(SAR_OK, key.Open());
    ULONG retry = 0xFFFF;
    const ULONG rc = WithDriver([&] { return VerifyWithDialog(key, &retry); }, [&](DWORD tid) {
        HWND dlg = WaitDialog(tid, ID_EDIT);
        ASSERT_NE(nullptr, dlg);
        EnterPin(dlg, "87654321");
    });
    EXPECT_EQ(SAR_PIN_INCORRECT, rc);
    EXPECT_EQ(5u, retry);
    EXPECT_EQ(5u, RemainingTries(key));
}

TEST_F(SKFDialogs, CancelAndSystemCloseFail) {
    KeySession<KeylinqLibrary> key(k, control, AddFreshKey(control));
    ASSERT_EQ(SAR_OK, key.Open());
    for (int way = 0; way < 2; ++way) {
        ULONG retry = 0xFFFF;
        const ULONG rc = WithDriver([&] { return VerifyWithDialog(key, &retry); }, [&](DWORD tid) {
            HWND dlg = WaitDialog(tid, ID_EDIT);
            ASSERT_NE(nullptr, dlg);
            WaitEditFocus(dlg);
            desk::Type("123456");
            EXPECT_TRUE(WaitStars(dlg, 6));
            if (way == 0) {
                EXPECT_TRUE(desk::ClickToClose(GetDlgItem(dlg, ID_CANCEL), dlg));
            } else {
                PostMessageW(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
                EXPECT_TRUE(desk::WaitFor([&] { return !IsWindow(dlg); }));
            }
        });
        EXPECT_EQ(SAR_FAIL, rc) << way;
    }
    EXPECT_EQ(6u, RemainingTries(key));  // nothing reached the key
}

TEST_F(SKFDialogs, NoTriesLeftLocksWithoutAWindow) {
    KeySession<KeylinqLibrary> key(k, control, AddFreshKey(control));
    ASSERT_EQ(SAR_OK, key.Open());
    ULONG retry = 0;
    for (int i = 0; i < 6; ++i) key.Verify("87654321", kUserPin, &retry);
    ASSERT_EQ(0u, RemainingTries(key));
    bool sawWindow = false;
    std::atomic<bool> done{false};
    const ULONG rc = WithDriver(
        [&] {
            const ULONG r = VerifyWithDialog(key, &retry);
            done = true;
            return r;
        },
        [&](DWORD tid) {
            while (!done)
                if (desk::FindThreadDialog(tid, ID_EDIT)) sawWindow = true;
        });
    EXPECT_EQ(SAR_PIN_LOCKED, rc);
    EXPECT_FALSE(sawWindow);
}

// The PIN typed into the window is what the library keeps for that key:
// when the key later forgets the verification, a signature logs in again
// from it without showing anything, and the signature is sound.
TEST_F(SKFDialogs, TypedPinLogsInAgainSilentlyForASignature) {
    KeySession<KeylinqLibrary> key(k, control, AddFreshKey(control));
    ASSERT_EQ(SAR_OK, key.Open());
    ULONG retry = 0;
    const ULONG verified = WithDriver([&] { return VerifyWithDialog(key, &retry); }, [&](DWORD tid) {
        HWND dlg = WaitDialog(tid, ID_EDIT);
        ASSERT_NE(nullptr, dlg);
        EnterPin(dlg, DEFAULT_USER_PIN);
    });
    ASSERT_EQ(SAR_OK, verified);

    HCONTAINER container = nullptr;
    const Bytes publicKey = NewSm2Signer(key, "dialog-signer", &container);
    ASSERT_FALSE(HasFailure());

    ASSERT_EQ(0u, control.LosePinVerification(key.KeyId()));
    const Bytes message = Text("signed after the key forgot the PIN");
    const Bytes digest = RefSm3(Concat(RefSm2Z(publicKey), message));
    ECCSIGNATUREBLOB signature = {};
    std::atomic<bool> done{false};
    bool sawWindow = false;
    const ULONG signedRc = WithDriver(
        [&] {
            const ULONG r = k.SKF_ECCSignData(container, const_cast<BYTE*>(digest.data()), 32, &signature);
            done = true;
            return r;
        },
        [&](DWORD tid) {
            while (!done)
                if (desk::FindThreadDialog(tid, ID_EDIT) || desk::FindThreadDialog(tid, ID_LABEL)) sawWindow = true;
        });
    EXPECT_EQ(SAR_OK, signedRc);
    EXPECT_FALSE(sawWindow);
    EXPECT_TRUE(RefSm2VerifyMessage(publicKey, message, RawSignature(signature)));
    EXPECT_EQ(6u, RemainingTries(key));  // one silent verification, with the right PIN
    EXPECT_EQ(SAR_OK, k.SKF_CloseContainer(container));
}

// ---- the confirmation

class SKFConfirm : public SKFDialogs {
protected:
    void Ticks(HWND hidden, int n) {
        for (int i = 0; i < n; ++i) PostMessageW(hidden, WM_TIMER, 1, 0);
    }
    bool WaitLabel(HWND dlg, const std::wstring& text) {
        return desk::WaitFor([&] { return desk::Text(GetDlgItem(dlg, ID_LABEL)) == text; });
    }
    bool WaitTries(uint32_t keyId, uint32_t n) {
        return desk::WaitFor([&] {
            bool waiting = false;
            uint32_t tries = 0, gap = 0;
            return control.ButtonState(keyId, &waiting, &tries, &gap) == 0 && tries >= n;
        });
    }
    bool KeyWaiting(uint32_t keyId) {
        bool waiting = false;
        uint32_t tries = 0, gap = 0;
        control.ButtonState(keyId, &waiting, &tries, &gap);
        return waiting;
    }
    ULONG PlainVerify(KeySession<KeylinqLibrary>& key) {
        ULONG retry = 0;
        return key.Verify(DEFAULT_USER_PIN, kUserPin, &retry);
    }
};

TEST_F(SKFConfirm, PressCarriesOutWhileTheLabelCountsDown) {
    KeySession<KeylinqLibrary> key(k, control, AddFreshKey(control));
    ASSERT_EQ(SAR_OK, key.Open());
    ASSERT_EQ(0u, control.RequireButton(key.KeyId(), INS_VERIFY_PIN, 0xFFFFFFFFu, 0x9000, 1));
    HWND seen = nullptr;
    const ULONG rc = WithDriver([&] { return PlainVerify(key); }, [&](DWORD tid) {
        HWND dlg = WaitDialog(tid, ID_LABEL);
        ASSERT_NE(nullptr, dlg);
        seen = dlg;
        EXPECT_EQ(LibraryString(122), desk::Text(GetDlgItem(dlg, ID_MESSAGE)));
        EXPECT_TRUE(WaitLabel(dlg, Label(30)));
        EXPECT_TRUE(desk::Capture(dlg, "keylinq-confirm-opening"));
        HWND hidden = desk::FindThreadWindow(tid, kCountdownClass);
        ASSERT_NE(nullptr, hidden);
        Ticks(hidden, 18);
        EXPECT_TRUE(WaitLabel(dlg, Label(12)));
        EXPECT_TRUE(desk::Capture(dlg, "keylinq-confirm-after-18-ticks"));
        EXPECT_TRUE(WaitTries(key.KeyId(), 3));  // the worker repeats the command
        EXPECT_EQ(0u, control.PressButton(key.KeyId()));
        EXPECT_TRUE(desk::WaitFor([&] { return !IsWindow(dlg); }));
    });
    EXPECT_EQ(SAR_OK, rc);
    EXPECT_NE(nullptr, seen);
    EXPECT_FALSE(IsWindow(seen));
    EXPECT_EQ(6u, RemainingTries(key));
}

TEST_F(SKFConfirm, CancelTimeOutAndKeyRefusals) {
    struct Row {
        const char* name;
        uint32_t polls;
        uint16_t outcome;
        std::function<void(HWND dlg, HWND hidden)> act;
        ULONG expected;
    } rows[] = {
        {"label click", 0xFFFFFFFFu, 0x9000, [](HWND dlg, HWND) { EXPECT_TRUE(desk::ClickToClose(GetDlgItem(dlg, ID_LABEL), dlg)); },
         SAR_FAIL},
        {"30th tick", 0xFFFFFFFFu, 0x9000,
         [this](HWND dlg, HWND hidden) {
             Ticks(hidden, 29);
             EXPECT_TRUE(WaitLabel(dlg, Label(1)));
             EXPECT_TRUE(IsWindow(dlg));
             Ticks(hidden, 1);
         },
         SAR_TIMEOUTERR},
        {"system close", 0xFFFFFFFFu, 0x9000, [](HWND dlg, HWND) { PostMessageW(dlg, WM_SYSCOMMAND, SC_CLOSE, 0); },
         SAR_FAIL},
        {"key refuses F322", 3, 0xF322, [](HWND, HWND) {}, SAR_FAIL},
        {"key times out F323", 3, 0xF323, [](HWND, HWND) {}, SAR_TIMEOUTERR},
    };
    KeySession<KeylinqLibrary> key(k, control, AddFreshKey(control));
    ASSERT_EQ(SAR_OK, key.Open());
    for (const Row& row : rows) {
        ASSERT_EQ(0u, control.RequireButton(key.KeyId(), INS_VERIFY_PIN, row.polls, row.outcome, 1));
        const ULONG rc = WithDriver([&] { return PlainVerify(key); }, [&](DWORD tid) {
            HWND dlg = WaitDialog(tid, ID_LABEL);
            ASSERT_NE(nullptr, dlg) << row.name;
            HWND hidden = desk::FindThreadWindow(tid, kCountdownClass);
            ASSERT_NE(nullptr, hidden);
            EXPECT_TRUE(WaitTries(key.KeyId(), 2)) << row.name;
            row.act(dlg, hidden);
            EXPECT_TRUE(desk::WaitFor([&] { return !IsWindow(dlg); }))
                << row.name << "\n" << desk::InputState(dlg);
        });
        EXPECT_EQ(row.expected, rc) << row.name;
        EXPECT_FALSE(KeyWaiting(key.KeyId())) << row.name;  // the key's wait was ended
        control.RequireButton(key.KeyId(), INS_VERIFY_PIN, 0, 0, 1);
    }
}

TEST_F(SKFConfirm, ChangePinAsksWithItsOwnText) {
    KeySession<KeylinqLibrary> key(k, control, AddFreshKey(control));
    ASSERT_EQ(SAR_OK, key.Open());
    ASSERT_EQ(0u, control.RequireButton(key.KeyId(), 0x16, 0xFFFFFFFFu, 0x9000, 1));
    const ULONG rc = WithDriver(
        [&] {
            char oldPin[] = DEFAULT_USER_PIN;
            char newPin[] = "abcdef12";
            ULONG retry = 0;
            return k.SKF_ChangePIN(key.app, kUserPin, oldPin, newPin, &retry);
        },
        [&](DWORD tid) {
            HWND dlg = WaitDialog(tid, ID_LABEL);
            ASSERT_NE(nullptr, dlg);
            EXPECT_EQ(LibraryString(123), desk::Text(GetDlgItem(dlg, ID_MESSAGE)));
            EXPECT_TRUE(WaitTries(key.KeyId(), 2));
            EXPECT_EQ(0u, control.PressButton(key.KeyId()));
            EXPECT_TRUE(desk::WaitFor([&] { return !IsWindow(dlg); }));
        });
    EXPECT_EQ(SAR_OK, rc);
    control.RequireButton(key.KeyId(), 0x16, 0, 0, 1);
    EXPECT_EQ(SAR_OK, key.Verify("abcdef12"));  // the key took the new PIN
}

// A signature that waits for the key's button asks with its own text, and
// the signature made after the press is sound.
TEST_F(SKFConfirm, SignatureAsksWithItsOwnText) {
    KeySession<KeylinqLibrary> key(k, control, AddFreshKey(control));
    ASSERT_EQ(SAR_OK, key.Open());
    ASSERT_EQ(SAR_OK, PlainVerify(key));
    HCONTAINER container = nullptr;
    const Bytes publicKey = NewSm2Signer(key, "confirmed-signer", &container);
    ASSERT_FALSE(HasFailure());
    const Bytes message = Text("signed after a touch of the key");
    const Bytes digest = RefSm3(Concat(RefSm2Z(publicKey), message));

    constexpr uint8_t INS_SM2_SIGN = 0x73;
    ASSERT_EQ(0u, control.RequireButton(key.KeyId(), INS_SM2_SIGN, 0xFFFFFFFFu, 0x9000));
    ECCSIGNATUREBLOB signature = {};
    const ULONG rc = WithDriver(
        [&] { return k.SKF_ECCSignData(container, const_cast<BYTE*>(digest.data()), 32, &signature); },
        [&](DWORD tid) {
            HWND dlg = WaitDialog(tid, ID_LABEL);
            ASSERT_NE(nullptr, dlg);
            EXPECT_EQ(LibraryString(124), desk::Text(GetDlgItem(dlg, ID_MESSAGE)));
            EXPECT_TRUE(WaitTries(key.KeyId(), 2));
            EXPECT_EQ(0u, control.PressButton(key.KeyId()));
            EXPECT_TRUE(desk::WaitFor([&] { return !IsWindow(dlg); }));
        });
    EXPECT_EQ(SAR_OK, rc);
    EXPECT_TRUE(RefSm2VerifyMessage(publicKey, message, RawSignature(signature)));
    control.RequireButton(key.KeyId(), INS_SM2_SIGN, 0, 0);
    EXPECT_EQ(SAR_OK, k.SKF_CloseContainer(container));
}

// The press and the countdown's last tick together: whichever wins, the
// result agrees with the key (0 exactly when the key verified; otherwise
// the key's wait was ended by the cancel command after its last try).
TEST_F(SKFConfirm, PressAtTheLastTickAgreesWithTheKey) {
    int carriedOut = 0, timedOut = 0;
    for (int round = 0; round < 20; ++round) {
        KeySession<KeylinqLibrary> key(k, control, AddFreshKey(control));
        ASSERT_EQ(SAR_OK, key.Open());
        ASSERT_EQ(0u, control.RequireButton(key.KeyId(), INS_VERIFY_PIN, 0xFFFFFFFFu, 0x9000, 1));
        key.ClearRecord();
        const ULONG rc = WithDriver([&] { return PlainVerify(key); }, [&](DWORD tid) {
            HWND dlg = WaitDialog(tid, ID_LABEL);
            ASSERT_NE(nullptr, dlg);
            HWND hidden = desk::FindThreadWindow(tid, kCountdownClass);
            ASSERT_NE(nullptr, hidden);
            Ticks(hidden, 29);
            EXPECT_TRUE(WaitLabel(dlg, Label(1)));
            EXPECT_TRUE(WaitTries(key.KeyId(), 2));
            if (round % 2) Ticks(hidden, 1);
            control.PressButton(key.KeyId());
            if (!(round % 2)) Ticks(hidden, 1);
            EXPECT_TRUE(desk::WaitFor([&] { return !IsWindow(dlg); }));
        });
        const std::vector<vk::RecordEntry> record = key.Record();
        size_t lastTry = record.size();
        for (size_t i = 0; i < record.size(); ++i)
            if (record[i].ins == INS_VERIFY_PIN && record[i].p1 == 1) lastTry = i;
        ASSERT_LT(lastTry, record.size());
        bool cancelSent = false;
        for (size_t i = lastTry + 1; i < record.size(); ++i)
            if (record[i].ins == 0x14) cancelSent = true;
        if (rc == SAR_OK) {
            ++carriedOut;
            EXPECT_FALSE(cancelSent) << round;
        } else {
            ++timedOut;
            EXPECT_EQ(SAR_TIMEOUTERR, rc) << round;
            EXPECT_TRUE(cancelSent) << round;
        }
        EXPECT_FALSE(KeyWaiting(key.KeyId())) << round;
    }
    EXPECT_EQ(20, carriedOut + timedOut);
}

// Two keys on two threads: each confirmation counts its own seconds.
TEST_F(SKFConfirm, TwoKeysOnTwoThreadsKeepTheirOwnCountdowns) {
    KeySession<KeylinqLibrary> first(k, control, AddFreshKey(control));
    KeySession<KeylinqLibrary> second(k, control, AddFreshKey(control));
    ASSERT_EQ(SAR_OK, first.Open());
    ASSERT_EQ(SAR_OK, second.Open());
    ASSERT_EQ(0u, control.RequireButton(first.KeyId(), INS_VERIFY_PIN, 0xFFFFFFFFu, 0x9000, 1));
    ASSERT_EQ(0u, control.RequireButton(second.KeyId(), INS_VERIFY_PIN, 0xFFFFFFFFu, 0x9000, 1));
    std::atomic<DWORD> otherThread{0};
    ULONG otherRc = 0xFFFFFFFF;
    std::thread other([&] {
        otherThread = GetCurrentThreadId();
        otherRc = PlainVerify(second);
    });
    const ULONG rc = WithDriver([&] { return PlainVerify(first); }, [&](DWORD tid) {
        HWND mine = WaitDialog(tid, ID_LABEL);
        ASSERT_TRUE(desk::WaitFor([&] { return otherThread.load() != 0; }));
        HWND theirs = WaitDialog(otherThread, ID_LABEL);
        ASSERT_NE(nullptr, mine);
        ASSERT_NE(nullptr, theirs);
        Ticks(desk::FindThreadWindow(tid, kCountdownClass), 5);
        Ticks(desk::FindThreadWindow(otherThread, kCountdownClass), 10);
        EXPECT_TRUE(WaitLabel(mine, Label(25)));
        EXPECT_TRUE(WaitLabel(theirs, Label(20)));
        EXPECT_TRUE(WaitTries(first.KeyId(), 2));
        EXPECT_TRUE(WaitTries(second.KeyId(), 2));
        control.PressButton(first.KeyId());
        control.PressButton(second.KeyId());
        EXPECT_TRUE(desk::WaitFor([&] { return !IsWindow(mine) && !IsWindow(theirs); }));
        if (IsWindow(theirs)) PostMessageW(theirs, WM_CLOSE, 0, 0);
    });
    other.join();
    EXPECT_EQ(SAR_OK, rc);
    EXPECT_EQ(SAR_OK, otherRc);
}

TEST_F(SKFDialogs, LibraryStringsAndTemplates) {
    const std::pair<UINT, const wchar_t*> strings[] = {
        {101, L"请输入PIN码"},
        {103, L"确认"},
        {104, L"取消"},
        {105, L"取消(%d秒)"},
        {106, L"错误"},
        {107, L"由于输入错误PIN次数过多，您的Quib设备已被锁"},
        {108, L"PIN码为空，请重新输入"},
        {109, L"PIN码可试剩余次数："},
        {122, L"PIN码输入错误次数过多，确认继续尝试请轻触Quib设备按键"},
        {123, L"您正在修改用户PIN码，请轻触Quib设备确认本次操作"},
        {124, L"请仔细核对交易信息，确认无误后轻触Quib设备按键完成本次交易"},
    };
    for (const auto& s : strings) EXPECT_EQ(std::wstring(s.second), LibraryString(s.first)) << s.first;

    struct Template {
        UINT id;
        DWORD style;
        WORD cx, cy, points;
        WORD controls;
    } templates[] = {
        {8102, WS_POPUP | WS_VISIBLE | DS_CENTER | DS_SETFOREGROUND | DS_SETFONT | DS_SYSMODAL, 130, 143, 12, 3},
        {8103, WS_POPUP | WS_VISIBLE | DS_CENTER | DS_SETFOREGROUND | DS_SETFONT | DS_SYSMODAL | WS_SYSMENU, 160, 91,
         10, 6},
    };
    for (const Template& t : templates) {
        HRSRC found = FindResourceW(Keylinq().module, MAKEINTRESOURCEW(t.id), MAKEINTRESOURCEW(5));  // RT_DIALOG
        ASSERT_NE(nullptr, found) << t.id;
        const BYTE* p = static_cast<const BYTE*>(LockResource(LoadResource(Keylinq().module, found)));
        ASSERT_NE(nullptr, p);
        // DLGTEMPLATEEX: version, signature, help id, extended style, style,
        // count, x, y, cx, cy, menu, class, title, points, weight, italic,
        // charset, face.
        auto word = [&](size_t at) { return WORD(p[at] | p[at + 1] << 8); };
        auto dword = [&](size_t at) { return DWORD(word(at) | DWORD(word(at + 2)) << 16); };
        EXPECT_EQ(0xFFFF, word(2)) << t.id;
        EXPECT_EQ(DWORD(WS_EX_TOPMOST), dword(8)) << t.id;
        EXPECT_EQ(t.style, dword(12)) << t.id;
        EXPECT_EQ(t.controls, word(16)) << t.id;
        EXPECT_EQ(t.cx, word(22)) << t.id;
        EXPECT_EQ(t.cy, word(24)) << t.id;
        size_t at = 26;
        for (int field = 0; field < 3; ++field) {  // menu, class, title: empty
            EXPECT_EQ(0, word(at)) << t.id;
            at += 2;
        }
        EXPECT_EQ(t.points, word(at)) << t.id;
        EXPECT_EQ(400, word(at + 2)) << t.id;
        EXPECT_EQ(134, p[at + 5]) << t.id;
        const wchar_t* face = reinterpret_cast<const wchar_t*>(p + at + 6);
        EXPECT_EQ(std::wstring(L"微软雅黑"), std::wstring(face)) << t.id;
    }
    // No icon and no confirmation picture; the PIN picture is there.
    EXPECT_EQ(nullptr, FindResourceW(Keylinq().module, MAKEINTRESOURCEW(9011), L"PNG"));
    EXPECT_EQ(nullptr, FindResourceW(Keylinq().module, MAKEINTRESOURCEW(9010), MAKEINTRESOURCEW(14)));
    EXPECT_NE(nullptr, FindResourceW(Keylinq().module, MAKEINTRESOURCEW(9012), L"PNG"));
}

}  // namespace
