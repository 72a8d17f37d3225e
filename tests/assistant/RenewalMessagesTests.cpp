// The renewal messages and one renewal's exchange and import, headless on a
// provisioned virtual key against the test server playing the renewal
// server (host OpenSSL checks every field and issues what it answers).
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Base64Utility.h"
#include "HttpWinNet.h"
#include "KeyProvisioning.h"
#include "RenewalMessages.h"
#include "SKFCertRequest.h"
#include "ServerTestSupport.h"
#include "XMLParse.h"

namespace {

using testserver::ServerControl;

const std::string kChineseMessage = "\xE7\xAD\xBE\xE5\x90\x8D\xE6\x97\xA0\xE6\x95\x88";  // 签名无效
const std::wstring kChineseMessageW = L"\x7B7E\x540D\x65E0\x6548";

std::wstring KeylinqPath() { return Widen(HostEnvPath("KEYLINQ_DLL")); }

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

std::string Utf8(const std::wstring& w) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::string Base64Bytes(const std::string& text) {
    BYTE* out = nullptr;
    int n = 0;
    if (Base64DecodeEx(text.c_str(), int(text.size()), &out, &n) != S_OK) return std::string();
    std::string bytes(reinterpret_cast<char*>(out), size_t(n));
    delete[] out;
    return bytes;
}

// Answers every PIN request with the user PIN and counts the requests.
struct CountingDelegator : ISKFUIDelegator {
    static std::atomic<int> asked;
    BOOL IsPINCacheEnabled() override { return TRUE; }
    HRESULT SKFCryptSelectDevice(HSKFCRYPTPROV, std::vector<std::wstring>, std::wstring&) override { return E_NOTIMPL; }
    HRESULT SKFCryptUIInputPIN(std::wstring, BOOL, DWORD, std::wstring& pin) override {
        ++asked;
        pin = Widen(provisioning::USER_PIN);
        return S_OK;
    }
    HRESULT SKFCryptUISetInitPIN(std::wstring, std::wstring&) override { return E_NOTIMPL; }
};
std::atomic<int> CountingDelegator::asked{0};

// COM in the apartment model on the calling thread, as the XML helpers need.
struct ComApartment {
    ComApartment() { ok = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    ~ComApartment() {
        if (ok) CoUninitialize();
    }
    bool ok;
};

// One request as the server recorded it.
struct ServerRecord {
    std::string type, verdict, body, detail;
    std::vector<std::pair<std::string, std::string>> fields;
    std::string Field(const std::string& name) const {
        for (const auto& f : fields)
            if (f.first == name) return f.second;
        return "<absent>";
    }
};

class RenewalServerTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        ASSERT_TRUE(com.ok);
        ASSERT_TRUE(control.Set("RENEWAL_RESET"));
        const std::wstring url = ServerUrl(L"https", port, L"/AssistantServer/RequestAction.do");
        wcsncpy(g_wszServerUrl, url.c_str(), 259);
        g_dwServerExchangeTimeout = 60000;
    }
    void TearDown() override { g_wszServerUrl[0] = 0; }

    unsigned Records() {
        const std::string counts = control.Command("RENEWAL_COUNTS");
        unsigned a = 0, b = 0, c = 0;
        std::sscanf(counts.c_str(), "OK %u %u %u", &a, &b, &c);
        return a + b + c;
    }
    ServerRecord Record(unsigned index) {
        ServerRecord r;
        std::vector<std::string> parts;
        EXPECT_TRUE(control.CaCommand("RENEWAL_REQUEST " + std::to_string(index), parts));
        if (parts.size() < 4) return r;
        r.type = parts[0];
        r.verdict = parts[1];
        r.body = parts[2];
        r.detail = parts[3];
        for (size_t i = 4; i + 1 < parts.size(); i += 2) r.fields.emplace_back(parts[i], parts[i + 1]);
        return r;
    }
    ServerRecord LastRecord() { return Record(Records() - 1); }

    ComApartment com;
};

// ---- documents

TEST_F(RenewalServerTest, BothRequestsReachTheServerAsComposed) {
    char* request = nullptr;
    DWORD length = 0;
    EXPECT_EQ(E_INVALIDARG, ComposeValidateCodeRequest(nullptr, &length));
    ASSERT_EQ(S_OK, ComposeValidateCodeRequest(&request, &length));
    EXPECT_EQ(strlen(request) + 1, length);
    char* reply = nullptr;
    ASSERT_EQ(S_OK, PostUrlRequestData(request, &reply));
    delete[] request;
    delete[] reply;
    ServerRecord r = LastRecord();
    EXPECT_EQ("2001", r.type);
    EXPECT_EQ("2000", r.verdict) << r.detail;
    ASSERT_EQ(1u, r.fields.size());

    // The renewal request's children in order, texts as given (the key id
    // and the seal may be missing: empty elements).
    const std::wstring session = L"session-\x4F1A\x8BDD";
    for (const wchar_t* keyId : {L"SN0001", static_cast<const wchar_t*>(nullptr)}) {
        EXPECT_EQ(E_INVALIDARG, ComposeCertRenewRequestMsg(nullptr, L"p10", keyId, L"seal", session.c_str(), &request, &length));
        EXPECT_EQ(E_INVALIDARG, ComposeCertRenewRequestMsg(L"p7", nullptr, keyId, L"seal", session.c_str(), &request, &length));
        EXPECT_EQ(E_INVALIDARG, ComposeCertRenewRequestMsg(L"p7", L"p10", keyId, L"seal", nullptr, &request, &length));
        EXPECT_EQ(E_INVALIDARG, ComposeCertRenewRequestMsg(L"p7", L"p10", keyId, L"seal", session.c_str(), nullptr, &length));
        ASSERT_EQ(S_OK, ComposeCertRenewRequestMsg(L"P7TEXT", L"P10\r\nTEXT", keyId, keyId ? L"SEAL==" : nullptr,
                                                   session.c_str(), &request, &length));
        ASSERT_EQ(S_OK, PostUrlRequestData(request, &reply));
        delete[] request;
        delete[] reply;
        r = LastRecord();
        EXPECT_EQ("5002", r.type);
        EXPECT_EQ("5003", r.verdict) << "a session the server never issued";
        const std::vector<std::pair<std::string, std::string>> expected{
            {"type", "5002"},          {"keyId", keyId ? "SN0001" : ""},  {"p7", "P7TEXT"},
            {"rsap10", ""},            {"sm2p10", "P10\r\nTEXT"},           {"sealData", keyId ? "SEAL==" : ""},
            {"sessionId", Utf8(session)}};
        EXPECT_EQ(expected, r.fields);
    }
}

// A reply document loaded as the exchange loads it.
struct Reply {
    explicit Reply(const std::string& xml) {
        LoadXMLDom(reinterpret_cast<const BYTE*>(xml.data()), DWORD(xml.size()), &doc);
        if (doc) GetXMLRootNode(doc, &root);
    }
    ~Reply() {
        if (root) root->Release();
        if (doc) doc->Release();
    }
    IXMLDOMDocument* doc = nullptr;
    IXMLDOMNode* root = nullptr;
};

TEST_F(RenewalServerTest, NoServerAddressSendsNothing) {
    g_wszServerUrl[0] = 0;
    std::wstring a, b, c, d;
    EXPECT_EQ(E_INVALIDARG, SubmitValidateCodeRequest(a, b, c, d));
    CertResponseData data;
    EXPECT_EQ(E_INVALIDARG, PostUserCertRenewRequest(L"p10", L"seal", L"id", L"p7", L"session", data, a, b, c));
    SKFUserKeyInfo keyInfo;
    SKFUserCertInfo signCert;
    std::list<CertImportEntry> list;
    BYTE* seal = nullptr;
    DWORD size = 0;
    EXPECT_EQ(E_INVALIDARG, SubmitUserCertRenewRequest(keyInfo, list, a, signCert, nullptr, 0, &seal, &size, 0));
    EXPECT_EQ(nullptr, seal);
    EXPECT_EQ(0u, Records());
}

TEST_F(RenewalServerTest, ResponseCodeTable) {
    struct Case {
        const char* xml;
        HRESULT result;
        const wchar_t* code;     // after the call (started as "-")
        std::wstring message;    // after the call (started as "-")
    } cases[] = {
        {"<r><code>2000</code></r>", S_OK, L"-", L"-"},
        {"<r><code>02000</code></r>", S_OK, L"-", L"-"},
        {"<r><code>2000 </code></r>", S_OK, L"-", L"-"},
        {"<reply><message>x</message><code>2000</code></reply>", S_OK, L"-", L"-"},
        {"<r><code>2001</code><message>\xE7\xAD\xBE\xE5\x90\x8D\xE6\x97\xA0\xE6\x95\x88</message></r>",
         RENEWAL_SERVER_REFUSED, L"2001", kChineseMessageW},
        {"<r><code>2001</code></r>", HRESULT(0x80070490), L"2001", L"-"},
        {"<r><message>m</message></r>", HRESULT(0x80070490), L"-", L"-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml);
        Reply reply(c.xml);
        ASSERT_NE(nullptr, reply.root);
        std::wstring code = L"-", message = L"-";
        EXPECT_EQ(c.result, CheckResponseMsgCodeValue(message, reply.root, code));
        EXPECT_EQ(c.code, code);
        EXPECT_EQ(c.message, message);
    }
    std::wstring code, message;
    EXPECT_EQ(E_INVALIDARG, CheckResponseMsgCodeValue(message, nullptr, code));
}

TEST_F(RenewalServerTest, ValidateCodeRepliesNeedEveryChildAndTheRootLast) {
    struct Case {
        const char* xml;
        bool ok;
    } cases[] = {
        {"<any><code>2000</code><imageBase64>aW1n</imageBase64><sessionId>S1</sessionId></any>", true},
        {"<?xml version=\"1.0\"?><response><code>2000</code><imageBase64/><sessionId>S1</sessionId></response>", true},
        {"<response><code>2000</code><sessionId>S1</sessionId></response>", false},
        {"<response><code>2000</code><imageBase64/></response>", false},
        {"<response><code>2000</code><imageBase64/><sessionId>S1</sessionId></response><!-- after -->", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml);
        std::wstring session, message, image, code;
        const HRESULT hr = ParseValidateCodeResponse(session, message, c.xml, image, code);
        EXPECT_EQ(c.ok, hr == S_OK) << std::hex << hr;
        if (c.ok) { EXPECT_EQ(L"S1", session); }
    }
    std::wstring s, m, i, c;
    EXPECT_EQ(E_INVALIDARG, ParseValidateCodeResponse(s, m, nullptr, i, c));
    CertResponseData data;
    EXPECT_EQ(E_INVALIDARG, ParseCertResponseMsg(s, c, nullptr, data, m));
}

// ---- exchange and import on a provisioned key

class RenewalExchange : public RenewalServerTest {
protected:
    void SetUp() override {
        RenewalServerTest::SetUp();
        ASSERT_FALSE(KeylinqPath().empty()) << "KEYLINQ_DLL is not set";
        CountingDelegator::asked = 0;
        SKFRegisterUIDelegator(new CountingDelegator);
        std::string error;
        ASSERT_TRUE(provisioning::Provision(Keylinq(), keyControl, control, plan, key, error)) << error;
        ASSERT_TRUE(control.Set("EXPECT_KEY " + ServerControl::Hex(key.serial)));
        ASSERT_TRUE(control.Set("EXPECT_SEAL " + ServerControl::Hex(plan.seal)));
        keyInfo.wstrDeviceName = Widen(key.deviceName);
        keyInfo.wstrSerialNumber = Widen(key.serial);
        signCert.wstrContainerName = Widen(key.sm2Container);
        signCert.dwSMCert = 1;
        signCert.dwSignCert = 1;
        ASSERT_EQ(S_OK, SKFCryptAcquireContext(keyInfo.wstrDeviceName.c_str(), nullptr, &context, nullptr, 0,
                                               KeylinqPath().c_str()));
        before = Snapshot();
    }
    void TearDown() override {
        SKFCryptReleaseContext(context);
        SKFUnregisterUIDelegator();
        delete[] newSeal;
        RenewalServerTest::TearDown();
    }

    HRESULT Submit() {
        importList.clear();
        message = L"-";
        delete[] newSeal;
        newSeal = nullptr;
        newSealSize = 0;
        return SubmitUserCertRenewRequest(keyInfo, importList, message, signCert,
                                          reinterpret_cast<const BYTE*>(plan.seal.data()), DWORD(plan.seal.size()),
                                          &newSeal, &newSealSize, context);
    }

    using ContainerState = provisioning::ContainerState;
    std::vector<ContainerState> Snapshot() {
        std::vector<ContainerState> out = provisioning::Containers(Keylinq(), key.deviceName);
        EXPECT_FALSE(out.empty()) << "the key could not be read";
        return out;
    }
    // The containers added since SetUp; the old ones must be as they were.
    std::vector<ContainerState> Added() {
        std::vector<std::string> changed;
        const std::vector<ContainerState> added = provisioning::AddedContainers(before, Snapshot(), changed);
        for (const std::string& name : changed) ADD_FAILURE() << "container changed or gone: " << name;
        return added;
    }
    std::vector<std::string> Issued() {
        std::vector<std::string> parts;
        EXPECT_TRUE(control.CaCommand("RENEWAL_ISSUED", parts));
        return parts;
    }

    provisioning::Plan plan;
    provisioning::Key key;
    VirtualKeyControl keyControl;
    SKFUserKeyInfo keyInfo;
    SKFUserCertInfo signCert;
    HSKFCRYPTPROV context = 0;
    std::vector<ContainerState> before;
    std::list<CertImportEntry> importList;
    std::wstring message;
    BYTE* newSeal = nullptr;
    DWORD newSealSize = 0;
};

TEST_F(RenewalExchange, RenewsAndImportsWhatTheServerIssued) {
    const std::string seal("new seal \x00\x01\xFE bytes", 19);
    ASSERT_TRUE(control.Set("NEW_SEAL " + ServerControl::Hex(seal)));
    ASSERT_TRUE(control.Set("CERT_COMMAS 1"));
    ASSERT_EQ(S_OK, Submit()) << Narrow(message);
    EXPECT_EQ(L"", message);
    EXPECT_EQ("OK 1 1 0", control.Command("RENEWAL_COUNTS").substr(0, 8));
    const ServerRecord request = LastRecord();
    EXPECT_EQ("2000", request.verdict) << request.detail;
    EXPECT_EQ(seal, std::string(reinterpret_cast<char*>(newSeal), newSealSize));

    ASSERT_EQ(2u, importList.size());
    const CertImportEntry sign = importList.front(), exchange = importList.back();
    EXPECT_EQ(2, sign.nKeySpec);
    EXPECT_EQ(1, exchange.nKeySpec);
    for (const CertImportEntry* e : {&sign, &exchange}) {
        EXPECT_EQ(256, e->nKeyBits);
        EXPECT_EQ(L"SM2", e->wstrAlgName);
        EXPECT_EQ(SKF_KEY_PROVIDER_NAME, e->wstrProviderName);
        EXPECT_EQ(38u, e->wstrContainerName.size());
        EXPECT_EQ(sign.wstrContainerName, e->wstrContainerName);
    }
    EXPECT_TRUE(sign.wstrEncPriKey.empty());
    EXPECT_FALSE(exchange.wstrEncPriKey.empty());

    ASSERT_EQ(S_OK, ImportAllCertificates(keyInfo.wstrDeviceName.c_str(), context, importList));
    EXPECT_TRUE(importList.empty());

    const std::vector<std::string> issued = Issued();  // sign, enc, X, Y, D, seal
    ASSERT_EQ(6u, issued.size());
    std::vector<std::string> requestInfo;
    ASSERT_TRUE(control.CaCommand("CA_REQUEST " + ServerControl::Hex(Base64Bytes(request.Field("sm2p10"))),
                                  requestInfo));
    const std::vector<ContainerState> added = Added();
    ASSERT_EQ(1u, added.size());
    EXPECT_EQ(Narrow(sign.wstrContainerName), added[0].name);
    EXPECT_EQ(issued[0], added[0].signCert);
    EXPECT_EQ(issued[1], added[0].encCert);
    EXPECT_EQ(requestInfo[0], added[0].signPoint);
    EXPECT_EQ("\x04" + issued[2] + issued[3], added[0].encPoint);

    // The encryption key on the key opens what host OpenSSL encrypted to (X, Y).
    std::vector<std::string> cipher;
    const std::string secret = "renewed encryption key";
    ASSERT_TRUE(control.CaCommand("CA_ENCRYPT " + ServerControl::Hex(added[0].encPoint) + " " +
                                      ServerControl::Hex(secret), cipher));
    provisioning::Session s(Keylinq(), key.deviceName);
    ASSERT_EQ(SAR_OK, s.Open());
    ASSERT_EQ(SAR_OK, s.VerifyUserPin());
    HCONTAINER container = nullptr;
    std::string name = added[0].name;
    ASSERT_EQ(SAR_OK, Keylinq().SKF_OpenContainer(s.app, &name[0], &container));
    // x1 || y1 || C3 || C2 of the DER SM2Cipher as an ECCCIPHERBLOB.
    const std::string& der = cipher[0];
    size_t at = 2 + ((BYTE(der[1]) & 0x80) ? (BYTE(der[1]) & 0x7F) : 0);
    std::string parts[4];
    for (auto& part : parts) {
        ++at;
        size_t length = BYTE(der[at++]);
        if (length & 0x80) {
            const size_t octets = length & 0x7F;
            length = 0;
            for (size_t i = 0; i < octets; ++i) length = (length << 8) | BYTE(der[at++]);
        }
        part = der.substr(at, length);
        at += length;
    }
    std::vector<BYTE> blobBytes(sizeof(ECCCIPHERBLOB) + parts[3].size());
    ECCCIPHERBLOB* blob = reinterpret_cast<ECCCIPHERBLOB*>(blobBytes.data());
    for (int i = 0; i < 2; ++i) {
        std::string v = parts[i];
        while (v.size() > 32) v.erase(0, 1);
        memcpy((i ? blob->YCoordinate : blob->XCoordinate) + 64 - v.size(), v.data(), v.size());
    }
    memcpy(blob->HASH, parts[2].data(), 32);
    blob->CipherLen = ULONG(parts[3].size());
    memcpy(blob->Cipher, parts[3].data(), parts[3].size());
    std::vector<BYTE> plain(256);
    ULONG plainLength = ULONG(plain.size());
    EXPECT_EQ(SAR_OK, Keylinq().SKFEX_ECCDecrypt(container, 1, blob, plain.data(), &plainLength));
    EXPECT_EQ(secret, std::string(plain.begin(), plain.begin() + plainLength));
    Keylinq().SKF_CloseContainer(container);
}

TEST_F(RenewalExchange, LongSessionIdsAreSignedWhole) {
    for (size_t length : {434u, 435u, 600u}) {
        SCOPED_TRACE(length);
        std::string id(length, 'S');
        for (size_t i = 0; i < length; ++i) id[i] = "0123456789abcdef"[(i * 7) % 16];
        ASSERT_TRUE(control.Set("NEXT_SESSION " + ServerControl::Hex(id)));
        EXPECT_EQ(S_OK, Submit()) << Narrow(message);
        const ServerRecord r = LastRecord();
        EXPECT_EQ("2000", r.verdict) << r.detail;
        EXPECT_EQ(id, r.Field("sessionId"));
        EXPECT_EQ(2u, importList.size());
    }
}

TEST_F(RenewalExchange, FailuresLeaveEveryOtherContainerAlone) {
    const std::string chinese = ServerControl::Hex(kChineseMessage);
    enum Stage { Exchange, Import };
    struct Case {
        const char* setting;
        Stage failsAt;
        HRESULT result;          // of the failing call
        std::wstring message;    // after the exchange
        bool keptWithSignCert;   // else nothing of the renewal stays on the key
    } cases[] = {
        {"VARIANT 5002 CODE 5004 X", Exchange, RENEWAL_SERVER_REFUSED, L"5004 - " + kChineseMessageW, false},
        {"VARIANT 5002 CODE 5099 none", Exchange, HRESULT(0x80070490), L"5099", false},
        {"VARIANT 5002 HTTP500", Exchange, HRESULT(0x800710D8), L"", false},
        {"VARIANT 5002 HTTP302", Exchange, HRESULT(0x800710D8), L"", false},
        {"VARIANT 2001 USED_SESSION", Exchange, RENEWAL_SERVER_REFUSED, L"", false},
        {"VARIANT 5002 EMPTY_SEAL", Exchange, 0, L"", false},
        {"VARIANT 5002 EQUALS_SEAL", Exchange, 0, L"", false},
        {"VARIANT 5002 EMPTY_SM2", Import, 0, L"", false},
        {"VARIANT 5002 OTHER_POINT", Import, 0, L"", false},
        {"VARIANT 5002 OTHER_ENVELOPE", Import, 0, L"", true},
    };
    // A first renewal whose session the USED_SESSION row hands out again.
    ASSERT_EQ(S_OK, Submit());
    ASSERT_EQ(S_OK, ImportAllCertificates(keyInfo.wstrDeviceName.c_str(), context, importList));
    before = Snapshot();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting);
        std::string setting = c.setting;
        if (setting.size() > 2 && setting.substr(setting.size() - 2) == " X") setting.replace(setting.size() - 1, 1, chinese);
        ASSERT_TRUE(control.Set(setting));
        const HRESULT exchange = Submit();
        if (c.failsAt == Exchange) {
            if (c.result) EXPECT_EQ(c.result, exchange);
            else EXPECT_NE(S_OK, exchange);
            EXPECT_TRUE(importList.empty());
            if (std::string(c.setting).find("USED_SESSION") != std::string::npos) {
                EXPECT_EQ("5003", LastRecord().verdict);
                EXPECT_EQ(0u, message.find(L"5003 - "));
            } else {
                EXPECT_EQ(c.message, message);
            }
        } else {
            ASSERT_EQ(S_OK, exchange) << Narrow(message);
            EXPECT_EQ(2u, importList.size());
            EXPECT_NE(S_OK, ImportAllCertificates(keyInfo.wstrDeviceName.c_str(), context, importList));
            EXPECT_FALSE(importList.empty());
        }
        const std::vector<ContainerState> added = Added();
        if (c.keptWithSignCert) {
            ASSERT_EQ(1u, added.size());
            EXPECT_FALSE(added[0].signCert.empty());
            EXPECT_TRUE(added[0].encCert.empty());
            before = Snapshot();
        } else {
            EXPECT_TRUE(added.empty());
        }
    }
}

TEST_F(RenewalExchange, NoAnswerFailsWithinTheExchangeTimeout) {
    g_dwServerExchangeTimeout = 4000;
    ASSERT_TRUE(control.Set("VARIANT 5002 NO_ANSWER"));
    const DWORD start = GetTickCount();
    EXPECT_NE(S_OK, Submit());
    EXPECT_LT(GetTickCount() - start, 40000u) << "well before the default of 60 s";
    EXPECT_EQ(L"", message);
    EXPECT_TRUE(Added().empty());
}

TEST_F(RenewalExchange, DeleteAfterAnotherConnectionClearedTheKeyStateAsksNoPin) {
    ASSERT_TRUE(control.Set("VARIANT 5002 CODE 5004 " + ServerControl::Hex(kChineseMessage)));
    ASSERT_TRUE(control.Set("HOLD 5002"));
    HRESULT result = S_OK;
    std::wstring threadMessage;
    std::thread renewal([&] {
        ComApartment apartment;
        std::list<CertImportEntry> list;
        BYTE* seal = nullptr;
        DWORD sealSize = 0;
        result = SubmitUserCertRenewRequest(keyInfo, list, threadMessage, signCert,
                                            reinterpret_cast<const BYTE*>(plan.seal.data()), DWORD(plan.seal.size()),
                                            &seal, &sealSize, context);
        delete[] seal;
    });
    for (int i = 0; i < 600 && control.Command("HELD") != "OK 1"; ++i) Sleep(100);
    EXPECT_EQ("OK 1", control.Command("HELD"));
    const int askedBefore = CountingDelegator::asked;
    {
        // A scan's connection: it ends with SKF_ClearSecureState.
        provisioning::Session scan(Keylinq(), key.deviceName);
        EXPECT_EQ(SAR_OK, scan.Open());
        EXPECT_EQ(SAR_OK, Keylinq().SKF_ClearSecureState(scan.app));
    }
    ASSERT_TRUE(control.Set("RELEASE"));
    renewal.join();
    EXPECT_EQ(RENEWAL_SERVER_REFUSED, result);
    EXPECT_EQ(L"5004 - " + kChineseMessageW, threadMessage);
    EXPECT_EQ(askedBefore, int(CountingDelegator::asked)) << "the PIN came from the cache";
    EXPECT_TRUE(Added().empty());
}

TEST_F(RenewalExchange, RsaEntryImportsThroughTheKeyProvider) {
    provisioning::Plan rsaPlan;
    rsaPlan.rsaCertificate = true;
    rsaPlan.keyOnlyContainer = false;
    provisioning::Key rsaKey;
    std::string error;
    ASSERT_TRUE(provisioning::Provision(Keylinq(), keyControl, control, rsaPlan, rsaKey, error)) << error;
    // The key's CryptoAPI provider (the test provider of the prefix) holds the container.
    const std::wstring container = Widen(rsaKey.rsaContainer);
    HCRYPTPROV prov = 0;
    HCRYPTKEY k = 0;
    ASSERT_TRUE(CryptAcquireContextW(&prov, container.c_str(), SKF_KEY_PROVIDER_NAME, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    ASSERT_TRUE(CryptGenKey(prov, AT_SIGNATURE, 0, &k));
    CryptDestroyKey(k);
    CryptReleaseContext(prov, 0);

    char* text = nullptr;
    int length = 0;
    ASSERT_EQ(S_OK, Base64EncodeEx(reinterpret_cast<const BYTE*>(rsaKey.rsaCertificate.data()),
                                   int(rsaKey.rsaCertificate.size()), &text, &length, ATL_BASE64_FLAG_NOCRLF));
    CertImportEntry entry;
    entry.nKeySpec = AT_SIGNATURE;
    entry.nKeyBits = 1024;
    entry.wstrCert = Widen(text);
    entry.wstrContainerName = container;
    entry.wstrProviderName = SKF_KEY_PROVIDER_NAME;
    entry.wstrAlgName = L"RSA";
    delete[] text;
    std::list<CertImportEntry> list{entry};
    EXPECT_EQ(S_OK, ImportAllCertificates(Widen(rsaKey.deviceName).c_str(), context, list));
    EXPECT_TRUE(list.empty());

    ASSERT_TRUE(CryptAcquireContextW(&prov, container.c_str(), SKF_KEY_PROVIDER_NAME, PROV_RSA_FULL, 0));
    ASSERT_TRUE(CryptGetUserKey(prov, AT_SIGNATURE, &k));
    std::vector<BYTE> onKey(4096);
    DWORD size = DWORD(onKey.size());
    EXPECT_TRUE(CryptGetKeyParam(k, KP_CERTIFICATE, onKey.data(), &size, 0));
    EXPECT_EQ(rsaKey.rsaCertificate, std::string(onKey.begin(), onKey.begin() + size));
    CryptDestroyKey(k);
    CryptReleaseContext(prov, 0);
    CryptAcquireContextW(&prov, container.c_str(), SKF_KEY_PROVIDER_NAME, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
}

}  // namespace
