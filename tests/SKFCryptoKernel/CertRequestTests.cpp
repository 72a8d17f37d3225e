// A renewal's key work end to end against this tree's Keylinq.dll, the
// virtual key and the test server's SM2 CA (host OpenSSL) as the renewal
// server: the request the CA accepts, the certificates it issued for the
// key's points imported, the key pair it enveloped to the temporary key
// usable on the key, and the key's PKCS#7 signature verified by the CA.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "Base64Utility.h"
#include "HostPaths.h"
#include "KeylinqLibrary.h"
#include "SKFCertRequest.h"
#include "SKFDeviceHandler.h"
#include "SKFTestSupport.h"
#include "ServerTestSupport.h"

namespace {

using Bytes = std::vector<BYTE>;

std::wstring KeylinqPath() { return Widen(HostEnvPath("KEYLINQ_DLL")); }

constexpr uint8_t INS_GEN_SM2 = 0x70;

std::string ToText(const Bytes& b) { return std::string(b.begin(), b.end()); }

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

Bytes Base64Decode(const std::string& text) {
    BYTE* out = nullptr;
    int n = 0;
    EXPECT_EQ(S_OK, Base64DecodeEx(text.c_str(), int(text.size()), &out, &n));
    Bytes b(out, out + n);
    delete[] out;
    return b;
}

// Base64 broken by "," and line breaks at odd places, as the server's
// texts may come.
std::wstring ScatteredBase64(const std::string& bytes) {
    char* text = nullptr;
    int len = 0;
    EXPECT_EQ(S_OK, Base64EncodeEx(reinterpret_cast<const BYTE*>(bytes.data()), int(bytes.size()), &text, &len,
                                   ATL_BASE64_FLAG_NOCRLF));
    std::wstring out;
    for (int i = 0; i < len; ++i) {
        out += wchar_t(text[i]);
        if (i % 37 == 36) out += L",";
        if (i % 53 == 52) out += L"\r\n";
    }
    delete[] text;
    return out + L",";
}

// Answers every PIN request with the virtual key's user PIN.
struct PinDelegator : ISKFUIDelegator {
    BOOL IsPINCacheEnabled() override { return TRUE; }
    HRESULT SKFCryptSelectDevice(HSKFCRYPTPROV, std::vector<std::wstring>, std::wstring&) override { return E_NOTIMPL; }
    HRESULT SKFCryptUIInputPIN(std::wstring, BOOL, DWORD, std::wstring& pin) override {
        pin = L"" DEFAULT_USER_PIN;
        return S_OK;
    }
    HRESULT SKFCryptUISetInitPIN(std::wstring, std::wstring&) override { return E_NOTIMPL; }
};

// x1 || y1 || C3 || C2 of OpenSSL's DER SM2Cipher as an ECCCIPHERBLOB.
Bytes CipherBlob(const std::string& der) {
    const BYTE* p = reinterpret_cast<const BYTE*>(der.data());
    size_t at = 2 + (p[1] & 0x80 ? (p[1] & 0x7F) : 0);
    auto next = [&](size_t& start, size_t& length) {
        const BYTE tag = p[at++];
        (void)tag;
        length = p[at++];
        if (length & 0x80) {
            const size_t octets = length & 0x7F;
            length = 0;
            for (size_t i = 0; i < octets; ++i) length = (length << 8) | p[at++];
        }
        start = at;
        at += length;
    };
    size_t s[4], n[4];
    for (int i = 0; i < 4; ++i) next(s[i], n[i]);
    Bytes raw(164 + n[3]);
    ECCCIPHERBLOB* blob = reinterpret_cast<ECCCIPHERBLOB*>(raw.data());
    for (int i = 0; i < 2; ++i) {
        size_t start = s[i], length = n[i];
        while (length > 32) ++start, --length;  // a leading zero of an INTEGER
        BYTE* field = i == 0 ? blob->XCoordinate : blob->YCoordinate;
        memcpy(field + 64 - length, p + start, length);
    }
    memcpy(blob->HASH, p + s[2], 32);
    blob->CipherLen = ULONG(n[3]);
    memcpy(blob->Cipher, p + s[3], n[3]);
    return raw;
}

// The key provider's name registered for this tree's signed Keylinq.dll
// (HKLM, "SKFBin Path"); the value it had is put back afterwards.
class RegisteredProvider {
public:
    RegisteredProvider() {
        const std::wstring key = std::wstring(L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\") +
                                 SKF_KEY_PROVIDER_NAME;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &m_key,
                            nullptr) != ERROR_SUCCESS)
            return;
        wchar_t old[MAX_PATH] = {};
        DWORD size = sizeof old, type = 0;
        m_hadValue = RegQueryValueExW(m_key, L"SKFBin Path", nullptr, &type, reinterpret_cast<BYTE*>(old), &size) ==
                     ERROR_SUCCESS;
        if (m_hadValue) m_old.assign(old, size / sizeof(wchar_t));
        std::wstring path = KeylinqPath();
        std::replace(path.begin(), path.end(), L'/', L'\\');
        m_ok = RegSetValueExW(m_key, L"SKFBin Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                              DWORD((path.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
    ~RegisteredProvider() {
        if (!m_key) return;
        if (m_hadValue)
            RegSetValueExW(m_key, L"SKFBin Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(m_old.data()),
                           DWORD(m_old.size() * sizeof(wchar_t)));
        else
            RegDeleteValueW(m_key, L"SKFBin Path");
        RegCloseKey(m_key);
    }
    bool ok() const { return m_ok; }

private:
    HKEY m_key = nullptr;
    bool m_hadValue = false, m_ok = false;
    std::wstring m_old;
};

class CertRequest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(registered.ok());
        ASSERT_FALSE(KeylinqPath().empty()) << "KEYLINQ_DLL is not set";
        ASSERT_TRUE(control.connected());
        ASSERT_TRUE(ca.connected());
        keyId = AddFreshKey(control);
        {
            KeySession<KeylinqLibrary> probe(k, control, keyId);
            deviceName = Widen(probe.DeviceName());
        }
        ASSERT_FALSE(deviceName.empty());
        SKFRegisterUIDelegator(new PinDelegator);
    }
    void TearDown() override {
        for (HSKFCRYPTPROV h : providers) SKFCryptReleaseContext(h);
        SKFUnregisterUIDelegator();
    }

    // A new provider of Keylinq.dll by its path, released at the end.
    HSKFCRYPTPROV NewProvider() {
        HSKFCRYPTPROV h = 0;
        EXPECT_EQ(S_OK, SKFCryptAcquireContext(deviceName.c_str(), nullptr, &h, SKF_KEY_PROVIDER_NAME, 0,
                                               KeylinqPath().c_str()));
        if (h) providers.push_back(h);
        return h;
    }

    // The container's public key (signature or encryption) as 04 || X || Y,
    // or its certificate, read through the key library's own exports.
    struct Container {
        KeySession<KeylinqLibrary> session;
        HCONTAINER handle = nullptr;
        Container(CertRequest& t, const std::wstring& name) : session(t.k, t.control, t.keyId) {
            EXPECT_EQ(SAR_OK, session.Open());
            std::string narrow = Narrow(name);
            EXPECT_EQ(SAR_OK, t.k.SKF_OpenContainer(session.app, &narrow[0], &handle));
            k = &t.k;
        }
        ~Container() {
            if (handle) k->SKF_CloseContainer(handle);
        }
        std::string Point(BOOL sign) {
            ECCPUBLICKEYBLOB blob = {};
            ULONG len = sizeof blob;
            if (k->SKF_ExportPublicKey(handle, sign, reinterpret_cast<BYTE*>(&blob), &len) != SAR_OK) return "";
            return "\x04" + std::string(reinterpret_cast<char*>(blob.XCoordinate + 32), 32) +
                   std::string(reinterpret_cast<char*>(blob.YCoordinate + 32), 32);
        }
        std::string Certificate(BOOL sign) {
            ULONG len = 0;
            if (k->SKF_ExportCertificate(handle, sign, nullptr, &len) != SAR_OK) return "";
            std::string der(len, '\0');
            if (k->SKF_ExportCertificate(handle, sign, reinterpret_cast<BYTE*>(&der[0]), &len) != SAR_OK) return "";
            der.resize(len);
            return der;
        }
        KeylinqLibrary* k = nullptr;
    };

    std::vector<std::string> ContainerNames() {
        KeySession<KeylinqLibrary> session(k, control, keyId);
        EXPECT_EQ(SAR_OK, session.Open());
        ULONG size = 0;
        EXPECT_EQ(SAR_OK, k.SKF_EnumContainer(session.app, nullptr, &size));
        std::vector<char> list(size + 1);
        EXPECT_EQ(SAR_OK, k.SKF_EnumContainer(session.app, list.data(), &size));
        return SplitNameList(list.data(), size);
    }

    // One renewal request on the provider; the request's DER, the container.
    void Request(HSKFCRYPTPROV* handle, std::string& requestDer, std::wstring& container) {
        char* request = nullptr;
        wchar_t* name = nullptr;
        ASSERT_EQ(S_OK, SKFPKCS10CertRequisition(deviceName.c_str(), handle, &request, &name));
        ASSERT_NE(nullptr, request);
        ASSERT_NE(nullptr, name);
        requestText = request;
        container = name;
        delete[] request;
        delete[] name;
        requestDer = ToText(Base64Decode(requestText));
    }

    RegisteredProvider registered;
    KeylinqLibrary& k = Keylinq();
    VirtualKeyControl control;
    uint32_t keyId = 0;
    std::wstring deviceName;
    testserver::ServerControl ca{TestServerPort()};
    std::vector<HSKFCRYPTPROV> providers;
    std::string requestText;
};

TEST_F(CertRequest, RenewalKeyWorkFromRequestToImportsAndSignature) {
    // The request on no handle: a new provider of the registered name, a new
    // container named by a GUID, 64-character lines.
    HSKFCRYPTPROV handle = 0;
    std::string requestDer;
    std::wstring container;
    ASSERT_NO_FATAL_FAILURE(Request(&handle, requestDer, container));
    ASSERT_NE(nullptr, handle);
    providers.push_back(handle);
    const HSKFCRYPTPROV before = handle;
    ASSERT_EQ(38u, container.size());
    EXPECT_EQ(L'{', container.front());
    EXPECT_EQ(L'}', container.back());
    EXPECT_NE("\r\n", requestText.substr(requestText.size() - 2));
    for (size_t at = 0; at < requestText.size();) {
        const size_t end = requestText.find("\r\n", at);
        const size_t line = (end == std::string::npos ? requestText.size() : end) - at;
        if (end != std::string::npos) EXPECT_EQ(64u, line);
        else EXPECT_LE(line, 64u);
        at = end == std::string::npos ? requestText.size() : end + 2;
    }
    std::vector<std::string> results;
    std::string answer;
    ASSERT_TRUE(ca.CaCommand("CA_REQUEST " + testserver::ServerControl::Hex(requestDer), results, &answer)) << answer;
    ASSERT_EQ(2u, results.size());
    const std::string point = results[0], tempKeyBlob = results[1];
    EXPECT_EQ(Container(*this, container).Point(TRUE), point);

    // The signature certificate the CA issued for that point.
    ASSERT_TRUE(ca.CaCommand("CA_ISSUE SIGN " + testserver::ServerControl::Hex(point), results, &answer)) << answer;
    const std::string signCert = results[0];
    EXPECT_EQ(S_OK, SKFImportSignatureCert(deviceName.c_str(), container.c_str(), handle, SKF_KEY_PROVIDER_NAME,
                                           ScatteredBase64(signCert)));
    EXPECT_EQ(signCert, Container(*this, container).Certificate(TRUE));
    // Again through a provider opened for the call by the registered name.
    EXPECT_EQ(S_OK, SKFImportSignatureCert(deviceName.c_str(), container.c_str(), 0, SKF_KEY_PROVIDER_NAME,
                                           ScatteredBase64(signCert)));

    // The encryption key pair the CA enveloped to the temporary key.
    ASSERT_TRUE(ca.CaCommand("CA_ENVELOPE " + testserver::ServerControl::Hex(tempKeyBlob) + " 306", results, &answer))
        << answer;
    ASSERT_EQ(3u, results.size());
    const std::string envelope = results[0], encCert = results[1], encPoint = results[2];
    EXPECT_EQ(S_OK, SKFImportKeyExchangeCert(deviceName.c_str(), container.c_str(), handle, SKF_KEY_PROVIDER_NAME,
                                             L"SM2", std::wstring(envelope.begin(), envelope.end()),
                                             ScatteredBase64(encCert)));
    Container onKey(*this, container);
    EXPECT_EQ(encPoint, onKey.Point(FALSE));
    EXPECT_EQ(encCert, onKey.Certificate(FALSE));
    const std::string secret = "renewal session secret";
    ASSERT_TRUE(ca.CaCommand("CA_ENCRYPT " + testserver::ServerControl::Hex(encPoint) + " " +
                                 testserver::ServerControl::Hex(secret),
                             results, &answer))
        << answer;
    Bytes blob = CipherBlob(results[0]);
    Bytes plain(256);
    ULONG plainLen = ULONG(plain.size());
    ASSERT_EQ(SAR_OK, onKey.session.Verify(DEFAULT_USER_PIN));
    ASSERT_EQ(SAR_OK, k.SKFEX_ECCDecrypt(onKey.handle, 1, reinterpret_cast<ECCCIPHERBLOB*>(blob.data()), plain.data(),
                                         &plainLen));
    EXPECT_EQ(secret, std::string(plain.begin(), plain.begin() + plainLen));

    // The session text signed by the new container's key, checked by the CA.
    for (const std::string& text : {std::string("{6C2E}session-4711{9A1F}"), std::string()}) {
        SCOPED_TRACE(text.empty() ? "empty data" : "session text");
        wchar_t* pkcs7 = nullptr;
        ASSERT_EQ(S_OK, SKFSignBinaryDataPKCS7(deviceName.c_str(), container.c_str(), &handle,
                                               reinterpret_cast<const BYTE*>(text.data()), DWORD(text.size()), &pkcs7));
        const std::string der = ToText(Base64Decode(Narrow(pkcs7)));
        delete[] pkcs7;
        ASSERT_TRUE(ca.CaCommand("CA_SIGNED " + testserver::ServerControl::Hex(der) + " " +
                                     testserver::ServerControl::Hex(text),
                                 results, &answer))
            << answer;
        EXPECT_EQ(signCert, results[0]);
    }
    EXPECT_EQ(before, handle);
}

TEST_F(CertRequest, KeyPairImportNeedsTheProviderThatMadeTheRequest) {
    HSKFCRYPTPROV handle = NewProvider();
    std::string requestDer;
    std::wstring container;
    ASSERT_NO_FATAL_FAILURE(Request(&handle, requestDer, container));
    std::vector<std::string> results;
    ASSERT_TRUE(ca.CaCommand("CA_REQUEST " + testserver::ServerControl::Hex(requestDer), results));
    ASSERT_TRUE(ca.CaCommand("CA_ENVELOPE " + testserver::ServerControl::Hex(results[1]) + " 0", results));
    const std::wstring envelope(results[0].begin(), results[0].end());
    const std::wstring cert = ScatteredBase64(results[1]);

    HSKFCRYPTPROV other = NewProvider();
    EXPECT_EQ(E_INVALIDARG, SKFImportKeyExchangeCert(deviceName.c_str(), container.c_str(), other,
                                                     SKF_KEY_PROVIDER_NAME, L"SM2", envelope, cert));
    EXPECT_EQ("", Container(*this, container).Point(FALSE));
    // The same import on the request's provider works.
    EXPECT_EQ(S_OK, SKFImportKeyExchangeCert(deviceName.c_str(), container.c_str(), handle, SKF_KEY_PROVIDER_NAME,
                                             L"sm2", envelope, cert));
    EXPECT_EQ(results[2], Container(*this, container).Point(FALSE));
}

TEST_F(CertRequest, FailedKeyGenerationLeavesNoContainer) {
    HSKFCRYPTPROV handle = NewProvider();
    const std::vector<std::string> before = ContainerNames();
    ASSERT_EQ(0u, control.ForceReply(keyId, INS_GEN_SM2, 0x6A80));
    wchar_t* name = nullptr;
    BYTE* key = nullptr;
    DWORD size = 0;
    EXPECT_NE(S_OK, SKFCreatePublicKey(deviceName.c_str(), AT_SIGNATURE, 1, &name, &handle, &key, &size));
    EXPECT_EQ(nullptr, name);
    EXPECT_EQ(nullptr, key);
    EXPECT_EQ(before, ContainerNames());

    // The request fails the same way and leaves neither container nor name.
    ASSERT_EQ(0u, control.ForceReply(keyId, INS_GEN_SM2, 0x6A80));
    char* request = nullptr;
    EXPECT_NE(S_OK, SKFPKCS10CertRequisition(deviceName.c_str(), &handle, &request, &name));
    EXPECT_EQ(nullptr, request);
    EXPECT_EQ(nullptr, name);
    EXPECT_EQ(before, ContainerNames());
}

TEST_F(CertRequest, ArgumentsAreCheckedBeforeTheKeyIsUsed) {
    HSKFCRYPTPROV handle = NewProvider();
    wchar_t* name = nullptr;
    BYTE* key = nullptr;
    DWORD size = 0;
    EXPECT_EQ(E_INVALIDARG, SKFCreatePublicKey(deviceName.c_str(), AT_SIGNATURE, 1, &name, nullptr, &key, &size));
    EXPECT_EQ(E_INVALIDARG, SKFCreatePublicKey(deviceName.c_str(), AT_SIGNATURE, 1, &name, &handle, nullptr, &size));
    EXPECT_EQ(E_INVALIDARG, SKFCreatePublicKey(deviceName.c_str(), AT_KEYEXCHANGE, 0, &name, &handle, &key, &size));
    BYTE* sig = nullptr;
    EXPECT_EQ(E_INVALIDARG, SKFPKCS10SignBinaryData(0, nullptr, 0, SKF_CALG_SM3, &sig, &size));
    EXPECT_EQ(E_INVALIDARG, SKFPKCS10SignBinaryData(handle, nullptr, 1, SKF_CALG_SM3, &sig, &size));
    EXPECT_EQ(E_INVALIDARG, SKFPKCS10SignBinaryData(handle, nullptr, 0, SKF_CALG_SM3, nullptr, &size));
    const std::wstring cert = L"MIIB";
    EXPECT_EQ(E_INVALIDARG, SKFImportSignatureCert(deviceName.c_str(), L"c", handle, nullptr, L""));
    EXPECT_EQ(E_INVALIDARG, SKFImportSignatureCert(deviceName.c_str(), L"", handle, nullptr, cert));
    EXPECT_EQ(E_INVALIDARG, SKFImportSignatureCert(deviceName.c_str(), L"c", 0, L"", cert));
    EXPECT_EQ(E_INVALIDARG, SKFImportSignatureCert(L"", L"c", 0, SKF_KEY_PROVIDER_NAME, cert));
    EXPECT_EQ(E_INVALIDARG, SKFImportKeyExchangeCert(deviceName.c_str(), L"c", handle, nullptr, L"SM2", L"", cert));
    EXPECT_EQ(E_INVALIDARG, SKFImportKeyExchangeCert(deviceName.c_str(), L"c", handle, nullptr, L"SM2", cert, L""));
    EXPECT_EQ(E_INVALIDARG, SKFImportKeyExchangeCert(deviceName.c_str(), L"c", handle, nullptr, nullptr, cert, cert));
    wchar_t* text = nullptr;
    EXPECT_EQ(E_INVALIDARG, SKFSignBinaryDataPKCS7(L"", L"c", &handle, nullptr, 0, &text));
    EXPECT_EQ(E_INVALIDARG, SKFSignBinaryDataPKCS7(deviceName.c_str(), L"", &handle, nullptr, 0, &text));
    EXPECT_EQ(E_INVALIDARG, SKFSignBinaryDataPKCS7(deviceName.c_str(), L"c", &handle, nullptr, 1, &text));
    EXPECT_EQ(E_INVALIDARG, SKFSignBinaryDataPKCS7(deviceName.c_str(), L"c", &handle, nullptr, 0, nullptr));
    char* request = nullptr;
    EXPECT_EQ(E_INVALIDARG, SKFPKCS10RequestBase64(0, SKF_REQUEST_SUBJECT, SKF_REQUEST_PUBLIC_KEY_OID,
                                                   SKF_REQUEST_SIGNATURE_OID, SKF_CALG_SM3, key, 0, nullptr, 0, 0,
                                                   &request, &size));
    EXPECT_EQ(nullptr, name);
    EXPECT_EQ(nullptr, text);
}

}  // namespace
