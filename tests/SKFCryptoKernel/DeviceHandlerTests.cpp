// The device handler against this tree's Keylinq.dll and the virtual key:
// the connection and its key information, a failed open, the lock, and the
// PIN road through a scripted UI delegator with and without the cache.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <cstring>
#include <malloc.h>
#include <new>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FreeWatch.h"
#include "HostPaths.h"
#include "KeylinqLibrary.h"
#include "SKFDeviceHandler.h"
#include "SKFTestSupport.h"

namespace {

std::wstring KeylinqPath() { return Widen(HostEnvPath("KEYLINQ_DLL")); }

// One PIN request as the delegator received it.
struct PinRequest {
    std::wstring serial;
    BOOL retry;
    DWORD remaining;
};

// A delegator that answers from a script: each request takes the next
// entry (a PIN, or a result code other than 0 for a cancel) and is recorded.
struct ScriptedDelegator : ISKFUIDelegator {
    struct Answer {
        HRESULT result;
        std::wstring pin;
    };
    BOOL cacheEnabled = FALSE;
    std::deque<Answer> script;
    std::vector<PinRequest> requests;
    bool* destroyed = nullptr;
    // When set: answers a request once the script is used up.
    std::function<Answer(const PinRequest&)> policy;

    ~ScriptedDelegator() override {
        if (destroyed) *destroyed = true;
    }
    BOOL IsPINCacheEnabled() override { return cacheEnabled; }
    HRESULT SKFCryptSelectDevice(HSKFCRYPTPROV, std::vector<std::wstring>, std::wstring&) override { return E_NOTIMPL; }
    HRESULT SKFCryptUIInputPIN(std::wstring serial, BOOL retry, DWORD remaining, std::wstring& pin) override {
        requests.push_back({serial, retry, remaining});
        Answer a = {HRESULT(0x800704C7), L""};
        if (!script.empty()) {
            a = script.front();
            script.pop_front();
        } else if (policy) {
            a = policy(requests.back());
        }
        if (a.result == S_OK) pin = a.pin;
        return a.result;
    }
    HRESULT SKFCryptUISetInitPIN(std::wstring, std::wstring&) override { return E_NOTIMPL; }
    void Say(const wchar_t* pin) { script.push_back({S_OK, pin}); }
    void Cancel(HRESULT code = HRESULT(0x800704C7)) { script.push_back({code, L""}); }
};

// The handler with its PIN cache in view.
struct HandlerView : CSKFDeviceHandler {
    using CSKFDeviceHandler::CSKFDeviceHandler;
    std::vector<BYTE> CachedBlob() const {
        return m_pbyCachedPIN ? std::vector<BYTE>(m_pbyCachedPIN, m_pbyCachedPIN + m_dwCachedPINSize)
                              : std::vector<BYTE>();
    }
    BYTE ByteAfterBlob() const { return m_pbyCachedPIN[m_dwCachedPINSize]; }
};

// A binding whose SKF_OpenApplication fails and whose SKF_DisConnectDev is counted.
int g_disconnects = 0;
FARPROC g_realDisconnect = nullptr;
ULONG __stdcall FailOpen(DEVHANDLE, LPSTR, HAPPLICATION*) { return SAR_FAIL; }
ULONG __stdcall CountDisconnect(DEVHANDLE dev) {
    ++g_disconnects;
    return reinterpret_cast<ULONG(__stdcall*)(DEVHANDLE)>(reinterpret_cast<void*>(g_realDisconnect))(dev);
}
struct RefusingOpen : ISKFModuleCaller {
    void Refuse() {
        m_pfnEntries[SKFEntry_SKF_OpenApplication] = reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FailOpen));
        g_realDisconnect = m_pfnEntries[SKFEntry_SKF_DisConnectDev];
        m_pfnEntries[SKFEntry_SKF_DisConnectDev] = reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&CountDisconnect));
    }
};

constexpr HRESULT kCancel = HRESULT(0x800704C7);

class DeviceHandler : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(control.connected());
        caller.LoadSKFModule(KeylinqPath().c_str());
        keyId = AddFreshKey(control);
        KeySession<KeylinqLibrary> probe(Keylinq(), control, keyId);
        deviceName = probe.DeviceName();
        ASSERT_FALSE(deviceName.empty());
        wideName = Widen(deviceName);
    }
    void TearDown() override { SKFUnregisterUIDelegator(); }

    // A delegator registered for the test (the layer deletes it).
    ScriptedDelegator* Register(BOOL cache) {
        ScriptedDelegator* d = new ScriptedDelegator;
        d->cacheEnabled = cache;
        SKFRegisterUIDelegator(d);
        return d;
    }
    // A handler opened on the test's key, wrapped for the cache view.
    std::unique_ptr<HandlerView> Open() {
        std::unique_ptr<HandlerView> h(new HandlerView(&caller));
        EXPECT_EQ(S_OK, h->OpenDeviceHandle(wideName.c_str()));
        return h;
    }
    DWORD Remaining(CSKFDeviceHandler& h) {
        DWORD max = 0, remaining = 0;
        BOOL isDefault = FALSE;
        EXPECT_EQ(S_OK, h.GetDevicePINInfo(&max, &remaining, &isDefault));
        return remaining;
    }
    // The user PIN changed through a connection of its own.
    void ChangePinElsewhere(const char* pin) {
        KeySession<KeylinqLibrary> other(Keylinq(), control, keyId);
        ASSERT_EQ(SAR_OK, other.Open());
        char oldPin[] = DEFAULT_USER_PIN;
        std::string newPin = pin;
        ULONG retry = 0;
        ASSERT_EQ(SAR_OK, Keylinq().SKF_ChangePIN(other.app, kUserPin, oldPin, &newPin[0], &retry));
    }
    // The key's remaining user PIN tries through a connection of its own.
    DWORD KeyRemaining() {
        KeySession<KeylinqLibrary> other(Keylinq(), control, keyId);
        EXPECT_EQ(SAR_OK, other.Open());
        ULONG max = 0, remaining = 0;
        BOOL isDefault = FALSE;
        EXPECT_EQ(SAR_OK, Keylinq().SKF_GetPINInfo(other.app, kUserPin, &max, &remaining, &isDefault));
        return remaining;
    }
    size_t Verifications() {
        size_t n = 0;
        std::vector<vk::RecordEntry> record;
        EXPECT_EQ(0u, control.Record(keyId, record));
        for (const vk::RecordEntry& e : record) n += e.ins == INS_VERIFY_PIN ? 1 : 0;
        return n;
    }

    ISKFModuleCaller caller;
    VirtualKeyControl control;
    uint32_t keyId = 0;
    std::string deviceName;
    std::wstring wideName;
};

TEST_F(DeviceHandler, ConnectsWithTheKeysLabelAndSerialAndCloses) {
    CSKFDeviceHandler* h = CSKFDeviceHandler::FromDeviceName(wideName.c_str(), &caller);
    ASSERT_NE(nullptr, h);
    EXPECT_NE(nullptr, h->GetDeviceHandle());
    EXPECT_NE(nullptr, h->GetApplicationHandle());
    EXPECT_EQ(wideName, h->GetDeviceName());

    // The key's own DEVINFO through a second connection.
    KeySession<KeylinqLibrary> other(Keylinq(), control, keyId);
    ASSERT_EQ(SAR_OK, other.Connect());
    DEVINFO info = {};
    ASSERT_EQ(SAR_OK, Keylinq().SKF_GetDevInfo(other.dev, &info));
    EXPECT_EQ(Widen(std::string(info.Label, strnlen(info.Label, 32))), h->GetDeviceLabel());
    EXPECT_EQ(Widen(std::string(info.SerialNumber, strnlen(info.SerialNumber, 32))), h->GetSerialNumber());
    EXPECT_FALSE(h->GetSerialNumber().empty());

    // A 32-character label (no zero in the field) reads whole on a new connection.
    const std::string label32(32, 'L');
    std::string labelArg = label32;
    ASSERT_EQ(SAR_OK, Keylinq().SKF_SetLabel(other.dev, &labelArg[0]));
    other.Close();
    {
        std::unique_ptr<HandlerView> h32 = Open();
        EXPECT_EQ(Widen(label32), h32->GetDeviceLabel());
    }

    EXPECT_EQ(S_OK, h->LockDevice());
    EXPECT_EQ(S_OK, h->UnlockDevice());
    DWORD max = 0, remaining = 0;
    BOOL isDefault = 7;
    EXPECT_EQ(S_OK, h->GetDevicePINInfo(&max, &remaining, &isDefault));
    EXPECT_EQ(6u, max);
    EXPECT_EQ(6u, remaining);
    EXPECT_EQ(TRUE, isDefault);

    EXPECT_EQ(S_OK, h->CloseDeviceHandle());
    EXPECT_EQ(nullptr, h->GetDeviceHandle());
    EXPECT_EQ(nullptr, h->GetApplicationHandle());
    EXPECT_EQ(E_INVALIDARG, h->LockDevice());
    EXPECT_EQ(E_INVALIDARG, h->GetDevicePINInfo(&max, &remaining, &isDefault));
    EXPECT_EQ(S_OK, h->CloseDeviceHandle());  // nothing left to close
    delete h;
}

TEST_F(DeviceHandler, AFailedOpenGivesNoHandlerAndLeavesNoConnection) {
    EXPECT_EQ(nullptr, CSKFDeviceHandler::FromDeviceName(L"", &caller));
    EXPECT_EQ(nullptr, CSKFDeviceHandler::FromDeviceName(nullptr, &caller));
    EXPECT_EQ(nullptr, CSKFDeviceHandler::FromDeviceName(wideName.c_str(), nullptr));
    EXPECT_EQ(nullptr, CSKFDeviceHandler::FromDeviceName(L"no such key", &caller));

    // The library refuses to open the application: no handler, and the
    // connection it made is closed again.
    g_disconnects = 0;
    RefusingOpen refusing;
    refusing.LoadSKFModule(KeylinqPath().c_str());
    refusing.Refuse();
    EXPECT_EQ(nullptr, CSKFDeviceHandler::FromDeviceName(wideName.c_str(), &refusing));
    EXPECT_EQ(1, g_disconnects);
    // The connection was closed again: a new handler opens and closes normally.
    CSKFDeviceHandler* h = CSKFDeviceHandler::FromDeviceName(wideName.c_str(), &caller);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(S_OK, h->CloseDeviceHandle());
    delete h;

    // The key itself fails the application's opening (its container list):
    // no handler, and the process holds no handle more than before.
    DWORD before = 0, after = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &before));
    ASSERT_EQ(0u, control.ForceReply(keyId, 0x46, 0x6581));
    EXPECT_EQ(nullptr, CSKFDeviceHandler::FromDeviceName(wideName.c_str(), &caller));
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &after));
    EXPECT_EQ(before, after);
}

TEST_F(DeviceHandler, WithoutADelegatorVerificationFails) {
    std::unique_ptr<HandlerView> h = Open();
    EXPECT_EQ(HRESULT(0x80070032), h->VerifyDeviceIdentity());
}

TEST_F(DeviceHandler, CachingOffAsksEveryTimeAndCachesNothing) {
    ScriptedDelegator* d = Register(FALSE);
    d->Say(L"" DEFAULT_USER_PIN);
    d->Say(L"" DEFAULT_USER_PIN);
    std::unique_ptr<HandlerView> h = Open();
    EXPECT_EQ(S_OK, h->VerifyDeviceIdentity());
    EXPECT_EQ(S_OK, h->VerifyDeviceIdentity());
    ASSERT_EQ(2u, d->requests.size());
    for (const PinRequest& r : d->requests) {
        EXPECT_EQ(h->GetSerialNumber(), r.serial);
        EXPECT_EQ(FALSE, r.retry);
        EXPECT_EQ(6u, r.remaining);
    }
    EXPECT_TRUE(h->IsCachedPINEmpty());
}

TEST_F(DeviceHandler, CachingOnAsksOncePerHandlerAndTheBlobHoldsThePin) {
    ScriptedDelegator* d = Register(TRUE);
    d->Say(L"" DEFAULT_USER_PIN);
    d->Say(L"" DEFAULT_USER_PIN);
    std::unique_ptr<HandlerView> h = Open();
    EXPECT_EQ(S_OK, h->VerifyDeviceIdentity());
    ASSERT_FALSE(h->IsCachedPINEmpty());
    ASSERT_EQ(0u, control.ClearRecord(keyId));
    EXPECT_EQ(S_OK, h->VerifyDeviceIdentity());
    EXPECT_EQ(1u, d->requests.size());
    EXPECT_LT(0u, Verifications());  // the cached PIN went to the key

    // The blob is CryptProtectData's, with one zero byte beyond it; it
    // unprotects to the UTF-16 PIN and its zero, under the description.
    const std::vector<BYTE> blob = h->CachedBlob();
    EXPECT_EQ(0, h->ByteAfterBlob());
    DATA_BLOB in = {DWORD(blob.size()), const_cast<BYTE*>(blob.data())}, out = {};
    LPWSTR description = nullptr;
    ASSERT_TRUE(CryptUnprotectData(&in, &description, nullptr, nullptr, nullptr, 0, &out)) << GetLastError();
    const std::wstring pin = L"" DEFAULT_USER_PIN;
    ASSERT_EQ((pin.size() + 1) * sizeof(wchar_t), out.cbData);
    EXPECT_EQ(0, memcmp(out.pbData, pin.c_str(), out.cbData));
    EXPECT_STREQ(L"SKFProvSecureData", description);
    LocalFree(out.pbData);
    LocalFree(description);

    // A new handler (a new provider's) asks again.
    std::unique_ptr<HandlerView> second = Open();
    EXPECT_EQ(S_OK, second->VerifyDeviceIdentity());
    EXPECT_EQ(2u, d->requests.size());
}

TEST_F(DeviceHandler, APinChangedElsewhereMakesTheNextVerificationAsk) {
    ScriptedDelegator* d = Register(TRUE);
    d->Say(L"" DEFAULT_USER_PIN);
    std::unique_ptr<HandlerView> h = Open();
    ASSERT_EQ(S_OK, h->VerifyDeviceIdentity());

    ChangePinElsewhere("87654321");

    d->Say(L"87654321");
    EXPECT_EQ(S_OK, h->VerifyDeviceIdentity());
    ASSERT_EQ(2u, d->requests.size());
    EXPECT_EQ(FALSE, d->requests[1].retry);
    // The key's count as it reports it after the cached PIN failed (the
    // stale verification across the PIN change costs no try here).
    EXPECT_EQ(6u, d->requests[1].remaining);
    // The new PIN is the cache now: no further dialog.
    ASSERT_EQ(0u, control.LosePinVerification(keyId));
    EXPECT_EQ(S_OK, h->VerifyDeviceIdentity());
    EXPECT_EQ(2u, d->requests.size());
}

// Wrong PINs until the key has no tries left; the last dialog then cancels
// or confirms.
class WrongPins : public DeviceHandler, public ::testing::WithParamInterface<bool> {};

TEST_P(WrongPins, AskAgainWithFallingCountsUntilLocked) {
    const bool cancelLast = GetParam();
    ScriptedDelegator* d = Register(TRUE);
    d->Say(L"" DEFAULT_USER_PIN);
    std::unique_ptr<HandlerView> h = Open();
    ASSERT_EQ(S_OK, h->VerifyDeviceIdentity());
    ASSERT_FALSE(h->IsCachedPINEmpty());
    // The cached PIN no longer verifies (the key now wants another one).
    ChangePinElsewhere("24682468");
    // Wrong PINs while tries remain; at 0 a cancel, or the right PIN.
    d->policy = [cancelLast](const PinRequest& r) -> ScriptedDelegator::Answer {
        if (r.remaining > 0) return {S_OK, L"00000000"};
        if (cancelLast) return {kCancel, L""};
        return {S_OK, L"24682468"};
    };
    const HRESULT hr = h->VerifyDeviceIdentity();
    EXPECT_EQ(cancelLast ? kCancel : HRESULT(0x80070025), hr);
    ASSERT_LE(3u, d->requests.size());
    EXPECT_EQ(FALSE, d->requests[1].retry);
    const DWORD first = d->requests[1].remaining;
    ASSERT_EQ(first + 2, d->requests.size());
    for (size_t i = 2; i < d->requests.size(); ++i) {
        EXPECT_EQ(TRUE, d->requests[i].retry) << i;
        EXPECT_EQ(DWORD(first - (i - 1)), d->requests[i].remaining) << i;
    }
    EXPECT_EQ(0u, d->requests.back().remaining);
    EXPECT_EQ(0u, KeyRemaining());
    EXPECT_TRUE(h->IsCachedPINEmpty());
}

INSTANTIATE_TEST_SUITE_P(LastDialog, WrongPins, ::testing::Values(true, false));

TEST_F(DeviceHandler, ProtectDataRefusesBadArgumentsAndRoundTrips) {
    BYTE* out = nullptr;
    DWORD size = 0;
    const BYTE data[] = {1, 2, 3};
    EXPECT_EQ(E_INVALIDARG, CSKFDeviceHandler::CreateProtectData(nullptr, 3, &out, &size));
    EXPECT_EQ(E_INVALIDARG, CSKFDeviceHandler::CreateProtectData(data, 0, &out, &size));
    EXPECT_EQ(E_INVALIDARG, CSKFDeviceHandler::AcquireProtectData(data, 3, nullptr, &size));
    ASSERT_EQ(S_OK, CSKFDeviceHandler::CreateProtectData(data, 3, &out, &size));
    BYTE* clear = nullptr;
    DWORD clearSize = 0;
    ASSERT_EQ(S_OK, CSKFDeviceHandler::AcquireProtectData(out, size, &clear, &clearSize));
    ASSERT_EQ(3u, clearSize);
    EXPECT_EQ(0, memcmp(clear, data, 3));
    EXPECT_EQ(0, clear[3]);
    delete[] out;
    delete[] clear;

    std::unique_ptr<HandlerView> h = Open();
    EXPECT_EQ(HRESULT(0x8007000D), h->VerifyCachedPIN());
    EXPECT_EQ(E_INVALIDARG, h->CacheUserPIN(L""));
}

// ---- seal data and containers

class SealAndContainers : public DeviceHandler {
protected:
    // A handler whose connection has the user PIN verified.
    std::unique_ptr<HandlerView> OpenVerified() {
        std::unique_ptr<HandlerView> h = Open();
        EXPECT_EQ(S_OK, h->VerifyDevicePIN(L"" DEFAULT_USER_PIN));
        return h;
    }
    void PutFile(CSKFDeviceHandler& h, std::string name, const std::string& content) {
        ASSERT_EQ(SAR_OK, caller.SKF_CreateFile(h.GetApplicationHandle(), &name[0], ULONG(content.size())));
        std::string data = content;
        ASSERT_EQ(SAR_OK, caller.SKF_WriteFile(h.GetApplicationHandle(), &name[0],
                                               reinterpret_cast<BYTE*>(&data[0]), ULONG(data.size())));
    }
    // The seal as a new connection reads it: one string per file.
    std::vector<std::string> ReadSeal(HRESULT expected = S_OK) {
        std::unique_ptr<HandlerView> h = Open();
        std::vector<SealData> seal;
        EXPECT_EQ(expected, h->GetDeviceSealData(seal));
        std::vector<std::string> out;
        for (SealData& s : seal) {
            EXPECT_EQ(0, s.pbySealData[s.dwSealDataSize]);
            out.emplace_back(reinterpret_cast<char*>(s.pbySealData), s.dwSealDataSize);
            delete[] s.pbySealData;
        }
        return out;
    }
    std::vector<std::string> FileNames(CSKFDeviceHandler& h) {
        ULONG size = 0;
        EXPECT_EQ(SAR_OK, caller.SKF_EnumFiles(h.GetApplicationHandle(), nullptr, &size));
        std::vector<char> list(size + 1);
        EXPECT_EQ(SAR_OK, caller.SKF_EnumFiles(h.GetApplicationHandle(), list.data(), &size));
        return SplitNameList(list.data(), size);
    }
    HRESULT Write(CSKFDeviceHandler& h, std::string content) {
        SealData s = {reinterpret_cast<BYTE*>(&content[0]), DWORD(content.size())};
        return h.WriteDeviceSealData(s);
    }
};

TEST_F(SealAndContainers, NoFilesFailsBothWaysAndChangesNothing) {
    std::unique_ptr<HandlerView> h = OpenVerified();
    EXPECT_TRUE(ReadSeal(HRESULT(0x8007002F)).empty());
    EXPECT_EQ(HRESULT(0x8007000D), Write(*h, "seal"));
    EXPECT_TRUE(FileNames(*h).empty());
}

TEST_F(SealAndContainers, FilesReadInListOrderAndAWriteLeavesOneUnderTheFirstName) {
    std::unique_ptr<HandlerView> h = OpenVerified();
    PutFile(*h, "sealA", "first seal file");
    EXPECT_EQ(std::vector<std::string>({"first seal file"}), ReadSeal());
    PutFile(*h, "sealB", std::string("second\0file", 11));
    const std::vector<std::string> names = FileNames(*h);
    ASSERT_EQ(2u, names.size());
    const std::vector<std::string> seal = ReadSeal();
    ASSERT_EQ(2u, seal.size());
    EXPECT_EQ(names[0] == "sealA" ? "first seal file" : std::string("second\0file", 11), seal[0]);

    // Above 24,576 bytes, under the first listed name.
    std::string big(30000, 0);
    for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 7 + 3);
    ASSERT_EQ(S_OK, Write(*h, big));
    EXPECT_EQ(std::vector<std::string>({names[0]}), FileNames(*h));
    EXPECT_EQ(std::vector<std::string>({big}), ReadSeal());

    ASSERT_EQ(S_OK, Write(*h, "small again"));
    EXPECT_EQ(std::vector<std::string>({names[0]}), FileNames(*h));
    EXPECT_EQ(std::vector<std::string>({"small again"}), ReadSeal());
}

TEST_F(SealAndContainers, AWriteFailingAtAnyCommandLosesNoSeal) {
    {
        std::unique_ptr<HandlerView> h = OpenVerified();
        PutFile(*h, "sealA", "old seal one");
        PutFile(*h, "sealB", "old seal two");
    }
    const std::vector<std::string> oldSeal = ReadSeal();
    ASSERT_EQ(2u, oldSeal.size());
    bool written = false;
    for (uint32_t k = 1; k < 300 && !written; ++k) {
        std::unique_ptr<HandlerView> h = OpenVerified();
        ASSERT_EQ(0u, control.FailCommandAt(keyId, k, 0x6581));
        const HRESULT hr = Write(*h, "the new seal");
        ASSERT_EQ(0u, control.FailCommandAt(keyId, 0, 0));
        const std::vector<std::string> names = FileNames(*h);
        h.reset();
        if (hr == S_OK) {
            // Past the write's last command: the new seal alone, under the
            // first old name.
            EXPECT_EQ(std::vector<std::string>({"sealA"}), names) << "k = " << k;
            EXPECT_EQ(std::vector<std::string>({"the new seal"}), ReadSeal()) << "k = " << k;
            written = true;
        } else {
            EXPECT_EQ(oldSeal, ReadSeal()) << "k = " << k << ", hr " << std::hex << hr;
        }
    }
    EXPECT_TRUE(written);
    // Without a fault the new seal replaces the old one whole.
    std::unique_ptr<HandlerView> h = OpenVerified();
    ASSERT_EQ(S_OK, Write(*h, "the new seal"));
    h.reset();
    EXPECT_EQ(std::vector<std::string>({"the new seal"}), ReadSeal());
}

TEST_F(SealAndContainers, ContainerNamesListInUtf8) {
    std::unique_ptr<HandlerView> h = OpenVerified();
    std::vector<std::wstring> names;
    EXPECT_EQ(S_OK, h->EnumerateAllContainers(names));
    EXPECT_TRUE(names.empty());
    const std::wstring wide = L"\u5BB9\u5668-\u00E9";
    std::string utf8 = "\xE5\xAE\xB9\xE5\x99\xA8-\xC3\xA9";
    std::string plain = "plain";
    HCONTAINER c = nullptr;
    ASSERT_EQ(SAR_OK, caller.SKF_CreateContainer(h->GetApplicationHandle(), &utf8[0], &c));
    EXPECT_EQ(SAR_OK, caller.SKF_CloseContainer(c));
    ASSERT_EQ(SAR_OK, caller.SKF_CreateContainer(h->GetApplicationHandle(), &plain[0], &c));
    EXPECT_EQ(SAR_OK, caller.SKF_CloseContainer(c));
    names.push_back(L"kept");
    EXPECT_EQ(S_OK, h->EnumerateAllContainers(names));
    ASSERT_EQ(3u, names.size());
    EXPECT_EQ(L"kept", names[0]);
    EXPECT_TRUE((names[1] == wide && names[2] == L"plain") || (names[2] == wide && names[1] == L"plain"));
}

// ---- no freed block keeps the PIN

bool g_watchFrees = false;
int g_pinFound = 0;

bool HoldsPin(const void* p, size_t n) {
    static const char utf8[] = DEFAULT_USER_PIN;
    static const wchar_t utf16[] = L"" DEFAULT_USER_PIN;
    const char* b = static_cast<const char*>(p);
    for (size_t i = 0; i + sizeof utf8 - 1 <= n; ++i)
        if (memcmp(b + i, utf8, sizeof utf8 - 1) == 0) return true;
    for (size_t i = 0; i + sizeof utf16 - 2 <= n; ++i)
        if (memcmp(b + i, utf16, sizeof utf16 - 2) == 0) return true;
    return false;
}

// A delegator that hands the PIN over from a static array, so that any heap
// block holding it belongs to the layer.
struct StaticPinDelegator : ISKFUIDelegator {
    BOOL cache = TRUE;
    BOOL IsPINCacheEnabled() override { return cache; }
    HRESULT SKFCryptSelectDevice(HSKFCRYPTPROV, std::vector<std::wstring>, std::wstring&) override { return E_NOTIMPL; }
    HRESULT SKFCryptUIInputPIN(std::wstring, BOOL, DWORD, std::wstring& pin) override {
        static const wchar_t text[] = L"" DEFAULT_USER_PIN;
        pin.assign(text);
        return S_OK;
    }
    HRESULT SKFCryptUISetInitPIN(std::wstring, std::wstring&) override { return E_NOTIMPL; }
};

TEST_F(DeviceHandler, NoFreedBlockHoldsThePin) {
    StaticPinDelegator* d = new StaticPinDelegator;
    SKFRegisterUIDelegator(d);
    std::unique_ptr<HandlerView> h = Open();
    g_pinFound = 0;
    g_watchFrees = true;
    EXPECT_EQ(S_OK, h->VerifyDeviceIdentity());    // dialog, verification, cache
    EXPECT_EQ(S_OK, h->VerifyDeviceIdentity());    // the cached PIN
    d->cache = FALSE;
    EXPECT_EQ(S_OK, h->VerifyDeviceIdentity());    // dialog without the cache
    h.reset();
    g_watchFrees = false;
    EXPECT_EQ(0, g_pinFound);
}

TEST(UIDelegator, UnregisteringDeletesTheObject) {
    bool destroyed = false;
    ScriptedDelegator* d = new ScriptedDelegator;
    d->destroyed = &destroyed;
    SKFRegisterUIDelegator(d);
    EXPECT_EQ(d, g_ptrSKFUIDelegator);
    SKFUnregisterUIDelegator();
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(nullptr, g_ptrSKFUIDelegator);
}

}  // namespace

bool (*g_freedBlockCheck)(const void* p, size_t n) = nullptr;
int g_freedSecretBlocks = 0;

// The program's array and scalar deletes look into each block they free
// while a test watches.
void operator delete(void* p) noexcept {
    if (p && g_watchFrees && HoldsPin(p, _msize(p))) ++g_pinFound;
    if (p && g_freedBlockCheck && g_freedBlockCheck(p, _msize(p))) ++g_freedSecretBlocks;
    free(p);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, size_t) noexcept { operator delete(p); }
void operator delete[](void* p, size_t) noexcept { operator delete(p); }
