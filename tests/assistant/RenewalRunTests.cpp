// One whole renewal as the renewal thread runs it, headless: a provisioned
// virtual key, the test server as the renewal server, a scripted PIN
// delegator and a sink that records every report.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "HttpWinNet.h"
#include "KeyProvisioning.h"
#include "RenewalMessages.h"
#include "RenewalThread.h"
#include "SKFCryptoAPI.h"
#include "ServerTestSupport.h"

namespace {

using testserver::ServerControl;

const std::string kServerMessage = "\xE7\xAD\xBE\xE5\x90\x8D\xE6\x97\xA0\xE6\x95\x88";  // 签名无效
const std::wstring kServerMessageW = L"\x7B7E\x540D\x65E0\x6548";
constexpr HRESULT kCancelled = HRESULT(0x800704C7);

// Answers PIN requests from a script (a PIN, or a failure when empty) and
// records each request's retry flag and remaining count.
struct ScriptedDelegator : ISKFUIDelegator {
    struct Ask {
        BOOL retry;
        DWORD remaining;
    };
    static std::mutex lock;
    static std::vector<std::wstring> script;  // consumed from the front; the last answer repeats
    static std::vector<Ask> asked;

    BOOL IsPINCacheEnabled() override { return TRUE; }
    HRESULT SKFCryptSelectDevice(HSKFCRYPTPROV, std::vector<std::wstring>, std::wstring&) override { return 50; }
    HRESULT SKFCryptUIInputPIN(std::wstring, BOOL retry, DWORD remaining, std::wstring& pin) override {
        std::lock_guard<std::mutex> g(lock);
        asked.push_back({retry, remaining});
        std::wstring answer = script.empty() ? std::wstring() : script.front();
        if (script.size() > 1) script.erase(script.begin());
        if (answer.empty()) return kCancelled;
        pin = answer;
        return S_OK;
    }
    HRESULT SKFCryptUISetInitPIN(std::wstring, std::wstring&) override { return E_NOTIMPL; }
};
std::mutex ScriptedDelegator::lock;
std::vector<std::wstring> ScriptedDelegator::script;
std::vector<ScriptedDelegator::Ask> ScriptedDelegator::asked;

struct RecordingSink : IRenewalStatusSink {
    void Report(const RenewalReport& report) override {
        reports.push_back(report);
        if (onReport) onReport(report);
    }
    std::vector<int> Statuses() const {
        std::vector<int> out;
        for (const RenewalReport& r : reports) out.push_back(r.status);
        return out;
    }
    std::vector<RenewalReport> reports;
    std::function<void(const RenewalReport&)> onReport;
};

struct ComApartment {
    ComApartment() { ok = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    ~ComApartment() {
        if (ok) CoUninitialize();
    }
    bool ok;
};

class RenewalRun : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        ASSERT_TRUE(com.ok);
        const std::string keylinq = HostEnvPath("KEYLINQ_DLL");
        ASSERT_FALSE(keylinq.empty()) << "KEYLINQ_DLL is not set";
        SetEnvironmentVariableW(L"CERTAIDE_KEY_LIBRARY", Widen(keylinq).c_str());
        ASSERT_TRUE(control.Set("RENEWAL_RESET"));
        const std::wstring url = ServerUrl(L"https", port, L"/AssistantServer/RequestAction.do");
        wcsncpy(g_wszServerUrl, url.c_str(), 259);
        g_dwServerExchangeTimeout = 60000;
        ScriptedDelegator::script = {Widen(provisioning::USER_PIN)};
        ScriptedDelegator::asked.clear();
        SKFRegisterUIDelegator(new ScriptedDelegator);
    }
    void TearDown() override {
        SKFUnregisterUIDelegator();
        g_wszServerUrl[0] = 0;
    }

    // A fresh key of the plan; the server expects its serial and seal.
    void Provision(const provisioning::Plan& plan) {
        std::string error;
        ASSERT_TRUE(provisioning::Provision(Keylinq(), keyControl, control, plan, key, error)) << error;
        ASSERT_TRUE(control.Set("EXPECT_KEY " + ServerControl::Hex(key.serial)));
        ASSERT_TRUE(control.Set("EXPECT_SEAL " + ServerControl::Hex(plan.seal)));
        seal = plan.seal;
        before = Snapshot();
    }

    // The request as a scan reports the key: every certificate of it.
    RenewalRequest Request() {
        RenewalRequest request;
        request.key.wstrDeviceName = Widen(key.deviceName);
        request.key.wstrSerialNumber = Widen(key.serial);
        request.key.dwPINNotLocked = 1;
        auto add = [&](const std::string& container, bool sm2) {
            SKFUserCertInfo cert;
            cert.wstrContainerName = Widen(container);
            cert.dwSMCert = sm2 ? 1 : 0;
            cert.dwKeyBits = sm2 ? 256 : 1024;
            cert.dwSignCert = 1;
            cert.dwFilled = 1;
            request.key.vetCertInfo.push_back(cert);
        };
        add(key.sm2Container, true);
        if (!key.rsaContainer.empty()) add(key.rsaContainer, false);
        request.key.dwCertFound = 1;
        return request;
    }

    HRESULT Run(RecordingSink& sink, bool& rescan) {
        rescan = true;
        return RunRenewal(Request(), sink, &rescan);
    }

    std::string Counts() { return control.Command("RENEWAL_COUNTS").substr(0, 8); }

    using ContainerState = provisioning::ContainerState;
    struct KeyState {
        std::vector<ContainerState> containers;
        std::vector<std::pair<std::string, std::string>> files;  // name, content
    };
    KeyState Snapshot() {
        KeyState state;
        state.containers = provisioning::Containers(Keylinq(), key.deviceName);
        EXPECT_FALSE(state.containers.empty()) << "the key could not be read";
        provisioning::Session s(Keylinq(), key.deviceName);
        EXPECT_EQ(SAR_OK, s.Open());
        for (const std::string& name : s.FileNames()) state.files.emplace_back(name, s.File(name));
        return state;
    }
    // The containers added since the key was provisioned; every old one must
    // be as it was.
    std::vector<ContainerState> Added(const KeyState& now) {
        std::vector<std::string> changed;
        const std::vector<ContainerState> added = provisioning::AddedContainers(before.containers, now.containers, changed);
        for (const std::string& name : changed) ADD_FAILURE() << "container changed or gone: " << name;
        return added;
    }
    std::vector<std::string> Issued() {
        std::vector<std::string> parts;
        EXPECT_TRUE(control.CaCommand("RENEWAL_ISSUED", parts));
        return parts;
    }

    ComApartment com;
    VirtualKeyControl keyControl;
    provisioning::Key key;
    std::string seal;
    KeyState before;
};

// Both renewals of one key go through: the new certificates and the new
// seal are on the key beside the old container, which is untouched.
TEST_F(RenewalRun, RenewsTheKeyTwice) {
    ASSERT_NO_FATAL_FAILURE(Provision(provisioning::Plan()));
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        const std::string newSeal = "seal of round " + std::to_string(round) + std::string("\x00\xFF", 2);
        ASSERT_TRUE(control.Set("NEW_SEAL " + ServerControl::Hex(newSeal)));
        RecordingSink sink;
        bool rescan = false;
        ASSERT_EQ(S_OK, Run(sink, rescan));
        EXPECT_EQ((std::vector<int>{42, 44, 40}), sink.Statuses());
        for (const RenewalReport& r : sink.reports) {
            EXPECT_EQ(S_OK, r.code);
            EXPECT_EQ(L"", r.serverMessage);
        }
        EXPECT_TRUE(rescan);
        EXPECT_EQ(round == 1 ? "OK 1 1 0" : "OK 2 2 0", Counts());
        std::vector<std::string> record;
        ASSERT_TRUE(control.CaCommand("RENEWAL_REQUEST " + std::to_string(2 * round - 1), record));
        ASSERT_GE(record.size(), 4u);
        EXPECT_EQ("5002", record[0]);
        EXPECT_EQ("2000", record[1]) << record[3];

        const std::vector<std::string> issued = Issued();  // sign, enc, X, Y, D, seal
        ASSERT_EQ(6u, issued.size());
        const KeyState now = Snapshot();
        const std::vector<ContainerState> added = Added(now);
        ASSERT_EQ(1u, added.size());
        EXPECT_EQ(issued[0], added[0].signCert);
        EXPECT_EQ(issued[1], added[0].encCert);
        ASSERT_EQ(1u, now.files.size());
        EXPECT_EQ(newSeal, now.files[0].second);
        // The next round starts from this state and the server expects this seal.
        before = now;
        ASSERT_TRUE(control.Set("EXPECT_SEAL " + ServerControl::Hex(newSeal)));
    }
    ASSERT_FALSE(ScriptedDelegator::asked.empty());
    EXPECT_EQ(FALSE, ScriptedDelegator::asked[0].retry);
}

// Every end but success, on a fresh key each: what is reported, whether the
// server was asked, and what is left on the key.
TEST_F(RenewalRun, Outcomes) {
    enum KeyFault { NoFault, NoSeal, TwoSeals, SealReadRefused, SealCreateRefused };
    enum Left { Nothing, Certificates };  // of the renewal on the key
    struct Case {
        const char* name;
        bool rsa;
        KeyFault fault;
        const char* serverSetting;  // "" none
        std::vector<std::wstring> pins;
        std::vector<int> statuses;
        HRESULT code;               // of the final report; 1: any failure
        std::wstring message;       // the final report's server message
        const char* counts;
        bool rescan;
        Left left;
    } cases[] = {
        {"rsa certificate", true, NoFault, "", {}, {101}, S_OK, L"", "OK 0 0 0", false, Nothing},
        {"no seal", false, NoSeal, "", {}, {102}, S_OK, L"", "OK 0 0 0", false, Nothing},
        {"two seals", false, TwoSeals, "", {}, {102}, S_OK, L"", "OK 0 0 0", false, Nothing},
        {"seal read refused", false, SealReadRefused, "", {}, {103}, 1, L"", "OK 0 0 0", false, Nothing},
        {"server refuses", false, NoFault, "VARIANT 5002 CODE 5004 X", {}, {42, 41}, RENEWAL_SERVER_REFUSED,
         L"5004 - " + kServerMessageW, "OK 1 1 0", true, Nothing},
        {"http 500", false, NoFault, "VARIANT 5002 HTTP500", {}, {42, 41}, HRESULT(0x800710D8), L"", "OK 1 1 0",
         true, Nothing},
        {"certificate for another point", false, NoFault, "VARIANT 5002 OTHER_POINT", {}, {42, 44, 45}, 1, L"",
         "OK 1 1 0", true, Nothing},
        {"seal create refused", false, SealCreateRefused, "", {}, {42, 44, 104}, 1, L"", "OK 1 1 0", false,
         Certificates},
        {"pin cancelled", false, NoFault, "", {L""}, {42, 41}, kCancelled, L"", "OK 1 0 0", true, Nothing},
        {"wrong pin first", false, NoFault, "", {L"87654321", L"12345678"}, {42, 44, 40}, S_OK, L"", "OK 1 1 0",
         true, Certificates},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        provisioning::Plan plan;
        plan.rsaCertificate = c.rsa;
        ASSERT_NO_FATAL_FAILURE(Provision(plan));
        ASSERT_TRUE(control.Set("RENEWAL_RESET"));
        ASSERT_TRUE(control.Set("EXPECT_KEY " + ServerControl::Hex(key.serial)));
        ASSERT_TRUE(control.Set("EXPECT_SEAL " + ServerControl::Hex(seal)));
        ScriptedDelegator::script = c.pins.empty() ? std::vector<std::wstring>{Widen(provisioning::USER_PIN)} : c.pins;
        ScriptedDelegator::asked.clear();
        std::string setting = c.serverSetting;
        if (setting.size() > 2 && setting.substr(setting.size() - 2) == " X")
            setting.replace(setting.size() - 1, 1, ServerControl::Hex(kServerMessage));
        if (!setting.empty()) { ASSERT_TRUE(control.Set(setting)); }

        if (c.fault == NoSeal || c.fault == TwoSeals) {
            provisioning::Session s(Keylinq(), key.deviceName);
            ASSERT_EQ(SAR_OK, s.Open());
            ASSERT_EQ(SAR_OK, s.VerifyUserPin());
            std::string name = key.sealFile;
            if (c.fault == NoSeal) {
                ASSERT_EQ(SAR_OK, Keylinq().SKF_DeleteFile(s.app, &name[0]));
            } else {
                name = "SealData2";
                ASSERT_EQ(SAR_OK, Keylinq().SKF_CreateFile(s.app, &name[0], 4, 0xFF, 0xFF));
            }
            s.k.SKF_ClearSecureState(s.app);
        }
        RecordingSink sink;
        if (c.fault == SealCreateRefused) {
            // Armed once the certificates are being imported: the seal
            // write's create is the next file creation.
            sink.onReport = [&](const RenewalReport& r) {
                if (r.status == 44) { EXPECT_EQ(0u, keyControl.ForceReply(key.keyId, 0x30, 0x6A84)); }
            };
        }
        const KeyState start = Snapshot();
        if (c.fault == SealReadRefused) {
            // Aimed by the key's record of the same steps run once before:
            // the last file read of opening the key and reading its seals.
            ASSERT_EQ(0u, keyControl.ClearRecord(key.keyId));
            HSKFCRYPTPROV context = 0;
            const std::wstring device = Widen(key.deviceName), library = Widen(HostEnvPath("KEYLINQ_DLL"));
            ASSERT_EQ(S_OK, SKFCryptAcquireContext(device.c_str(), nullptr, &context, nullptr, 0, library.c_str()));
            std::vector<SealData> seals;
            EXPECT_EQ(S_OK, SKFCryptGetDeviceSeals(device.c_str(), context, seals));
            for (SealData& s : seals) delete[] s.pbySealData;
            std::vector<vk::RecordEntry> record;
            ASSERT_EQ(0u, keyControl.Record(key.keyId, record));
            SKFCryptReleaseContext(context);
            uint32_t k = 0;
            for (size_t i = 0; i < record.size(); ++i)
                if (record[i].ins == 0x38) k = uint32_t(i + 1);
            ASSERT_NE(0u, k);
            ASSERT_EQ(0u, keyControl.FailCommandAt(key.keyId, k, 0x6A82));
        }
        bool rescan = false;
        const HRESULT hr = Run(sink, rescan);
        EXPECT_EQ(c.statuses, sink.Statuses());
        ASSERT_FALSE(sink.reports.empty());
        const RenewalReport& last = sink.reports.back();
        if (c.code == 1) {
            EXPECT_TRUE(FAILED(last.code)) << std::hex << last.code;
        } else {
            EXPECT_EQ(c.code, last.code) << std::hex << last.code;
        }
        // A failure never returns success, even where its report has no code.
        EXPECT_EQ(last.status == 40, hr == S_OK) << std::hex << hr;
        if (last.code != S_OK) { EXPECT_EQ(last.code, hr); }
        EXPECT_EQ(c.message, last.serverMessage);
        EXPECT_EQ(c.rescan, rescan);
        EXPECT_EQ(c.counts, Counts());
        const KeyState now = Snapshot();
        const std::vector<ContainerState> added = Added(now);
        if (c.left == Nothing) {
            EXPECT_TRUE(added.empty());
        } else {
            const std::vector<std::string> issued = Issued();
            ASSERT_EQ(1u, added.size());
            ASSERT_EQ(6u, issued.size());
            EXPECT_EQ(issued[0], added[0].signCert);
            EXPECT_EQ(issued[1], added[0].encCert);
        }
        if (last.status == 40) {
            ASSERT_EQ(1u, now.files.size());
            EXPECT_EQ(Issued().back(), now.files[0].second);
        } else {
            EXPECT_EQ(start.files, now.files) << "the seal files are as they were";
        }
        if (!c.pins.empty() && c.pins.size() == 2) {
            ASSERT_EQ(2u, ScriptedDelegator::asked.size());
            EXPECT_EQ(FALSE, ScriptedDelegator::asked[0].retry);
            EXPECT_EQ(TRUE, ScriptedDelegator::asked[1].retry);
            EXPECT_EQ(ScriptedDelegator::asked[0].remaining - 1, ScriptedDelegator::asked[1].remaining);
        }
    }
}

}  // namespace
