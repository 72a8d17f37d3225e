// The server key envelope read field by field (types, lengths, commas and
// the DER of each part), the encryption certificate's text, and installing
// an RSA certificate through Wine's "Microsoft" provider into "MY" with its
// link back to the container.
#include "CertificateImport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ASN1EngineEx.h"
#include "Base64Utility.h"
#include "Misc.h"

namespace {

using Bytes = std::vector<BYTE>;

const Bytes kSessionValue = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

Bytes Tlv(BYTE tag, const Bytes& content) {
    Bytes out;
    EXPECT_EQ(S_OK, ASN1EncodeAppend(out, tag, content));
    return out;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// SEQUENCE { OID 1.2.3, OCTET STRING value } and variants.
Bytes Part(const Bytes& value) { return Tlv(0x30, Concat(Tlv(0x06, {0x2A, 0x03}), Tlv(0x04, value))); }

Bytes PrivateValue() {
    Bytes v(192);
    for (size_t i = 0; i < v.size(); ++i) v[i] = BYTE(0x80 + i);
    return v;
}

// Base64 with a "," after every 10 characters and at the end.
std::wstring CommaText(const Bytes& der, bool closingComma = true) {
    char* text = nullptr;
    int len = 0;
    EXPECT_EQ(S_OK, Base64EncodeEx(der.data(), int(der.size()), &text, &len, ATL_BASE64_FLAG_NOCRLF));
    std::wstring out;
    for (int i = 0; i < len; ++i) {
        out += wchar_t(text[i]);
        if (i % 10 == 9 && i + 1 < len) out += L',';
    }
    delete[] text;
    if (closingComma) out += L',';
    return out;
}

// Sixteen characters: the text after zeros, or after two blanks and
// followed by blanks.
std::wstring FieldText(const std::wstring& text) { return std::wstring(16 - text.size(), L'0') + text; }
std::wstring Field(long long n) { return FieldText(std::to_wstring(n)); }
std::wstring BlankField(size_t n) {
    std::wstring f = L"  " + std::to_wstring(n);
    return f + std::wstring(16 - f.size(), L' ');
}

std::wstring Envelope(const std::wstring& types, const std::wstring& session, const std::wstring& key) {
    return types + Field(long(session.size())) + session + Field(long(key.size())) + key;
}

struct Parsed {
    HRESULT hr = E_FAIL;
    DWORD alg = 0xDEADBEEF;
    bool sessionTouched = false, keyTouched = false;
    Bytes session, key;
    bool sessionNull = false;
};

Parsed Parse(const std::wstring& text) {
    Parsed p;
    BYTE* const sentinel = reinterpret_cast<BYTE*>(1);
    BYTE* session = sentinel;
    BYTE* key = sentinel;
    DWORD sessionSize = 77, keySize = 77;
    p.hr = ParseEncryptCertPrivateKeyData(text.c_str(), &p.alg, &session, &sessionSize, &key, &keySize);
    p.sessionTouched = session != sentinel || sessionSize != 77;
    p.keyTouched = key != sentinel || keySize != 77;
    if (p.hr == S_OK) {
        p.sessionNull = session == nullptr;
        if (session) p.session.assign(session, session + sessionSize);
        p.key.assign(key, key + keySize);
        delete[] session;
        delete[] key;
    }
    return p;
}

const std::wstring kTypes306 = Field(1) + Field(2) + Field(306);
const std::wstring kTypes0 = Field(0) + Field(1) + Field(0);

TEST(KeyEnvelope, ValidEnvelopesGiveTheSecondElementOfEachPart) {
    const std::wstring session = CommaText(Part(kSessionValue));
    const std::wstring key = CommaText(Part(PrivateValue()));
    // Fourteen zeros and "88"-style fields, blanks and a sign read as numbers.
    const std::wstring blankTypes = L"               2" + std::wstring(L"  +1            ") + L"0000000000000306";
    struct Case {
        const char* name;
        std::wstring text;
        DWORD alg;
        bool sessionKey;
    } cases[] = {
        {"session 306", Envelope(kTypes306, session, key), 0x6603, true},
        {"session 0 skips its part", Envelope(kTypes0, session, key), 0, false},
        {"session 0, empty part", Envelope(kTypes0, L"", key), 0, false},
        {"blanks, sign and zeros", Envelope(blankTypes, session, key), 0x6603, true},
        {"text after the key part", Envelope(kTypes306, session, key) + L"trailing", 0x6603, true},
        {"blank-padded lengths", kTypes0 + BlankField(0) + BlankField(key.size()) + key, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Parsed p = Parse(c.text);
        ASSERT_EQ(S_OK, p.hr);
        EXPECT_EQ(c.alg, p.alg);
        EXPECT_EQ(PrivateValue(), p.key);
        if (c.sessionKey) {
            EXPECT_EQ(kSessionValue, p.session);
        } else {
            EXPECT_TRUE(p.sessionNull);
            EXPECT_TRUE(p.session.empty());
        }
    }
}

TEST(KeyEnvelope, MalformedEnvelopesFailWithoutWritingTheKeys) {
    const std::wstring session = CommaText(Part(kSessionValue));
    const std::wstring key = CommaText(Part(PrivateValue()));
    const HRESULT kInvalid = E_INVALIDARG, kData = HRESULT(0x8007000D), kType = HRESULT(0x8007070C);
    const std::wstring full = Envelope(kTypes306, session, key);
    const Bytes threeChildren = Tlv(0x30, Concat(Concat(Tlv(0x06, {0x2A}), Tlv(0x04, {1})), Tlv(0x04, {2})));
    struct Case {
        const char* name;
        std::wstring text;
        HRESULT hr;
        DWORD alg;  // reported when the types were read
    } cases[] = {
        {"47 characters", full.substr(0, 47), kInvalid, 0xDEADBEEF},
        {"48 characters: no session length", full.substr(0, 48), kInvalid, 0x6603},
        {"device type 3", Field(3) + Field(1) + Field(0) + full.substr(48), kType, 0xDEADBEEF},
        {"device type 2^32 + 1 (no wrap to 1)", Field(4294967297LL) + Field(1) + Field(0) + full.substr(48), kType,
         0xDEADBEEF},
        {"encrypt type 0", Field(1) + Field(0) + Field(0) + full.substr(48), kType, 0xDEADBEEF},
        {"session type 305", Field(1) + Field(1) + Field(305) + full.substr(48), kType, 0xDEADBEEF},
        {"session type 2^32 + 306", Field(1) + Field(1) + Field(4294967602LL) + full.substr(48), kType, 0xDEADBEEF},
        {"negative session length", kTypes306 + std::wstring(L"-1              ") + session + Field(long(key.size())) + key, kData, 0x6603},
        {"session length past the end", kTypes306 + Field(long(full.size())) + session + Field(long(key.size())) + key,
         kData, 0x6603},
        {"16-digit length", kTypes306 + L"9999999999999999" + session + Field(long(key.size())) + key, kData, 0x6603},
        {"length 2^32 + real length (no wrap)",
         kTypes306 + Field(4294967296LL + long(session.size())) + session + Field(long(key.size())) + key, kData,
         0x6603},
        {"key length one over", kTypes306 + Field(long(session.size())) + session + Field(long(key.size()) + 1) + key,
         kData, 0x6603},
        {"no key length field", kTypes306 + Field(long(session.size())) + session, kInvalid, 0x6603},
        {"session part without its comma",
         Envelope(kTypes306, CommaText(Part(kSessionValue), false), key), kData, 0x6603},
        {"key part without its comma", Envelope(kTypes306, session, CommaText(Part(PrivateValue()), false)), kData,
         0x6603},
        {"empty key part", Envelope(kTypes306, session, L""), HRESULT(0xA0071005), 0x6603},
        {"key part of three elements", Envelope(kTypes306, session, CommaText(threeChildren)), kData, 0x6603},
        {"key part not DER", Envelope(kTypes0, L"", L"QUJD,"), kData, 0},
        {"session 306 with an empty part", Envelope(kTypes306, L"", key), HRESULT(0xA0071005), 0x6603},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Parsed p = Parse(c.text);
        EXPECT_EQ(c.hr, p.hr);
        EXPECT_EQ(c.alg, p.alg);
        EXPECT_FALSE(p.sessionTouched);
        EXPECT_FALSE(p.keyTouched);
    }
}

TEST(KeyEnvelope, MissingPointersAreRefused) {
    const std::wstring text = Envelope(kTypes0, L"", CommaText(Part(PrivateValue())));
    BYTE* a = nullptr;
    BYTE* b = nullptr;
    DWORD alg = 0, na = 0, nb = 0;
    EXPECT_EQ(E_INVALIDARG, ParseEncryptCertPrivateKeyData(text.c_str(), &alg, nullptr, &na, &b, &nb));
    EXPECT_EQ(E_INVALIDARG, ParseEncryptCertPrivateKeyData(text.c_str(), &alg, &a, &na, nullptr, &nb));
    EXPECT_EQ(E_INVALIDARG, ParseEncryptCertPrivateKeyData(text.c_str(), &alg, &a, nullptr, &b, &nb));
    EXPECT_EQ(E_INVALIDARG, ParseEncryptCertPrivateKeyData(nullptr, &alg, &a, &na, &b, &nb));
    EXPECT_EQ(E_INVALIDARG, GetSessionKeyAndPriKeyASN1Object(text, &alg, nullptr, &na, &b, &nb));
    const Bytes der = Part(kSessionValue);
    EXPECT_EQ(HRESULT(0x8007057B), GetSessionKeyOrPriKeyFromASN1Object(nullptr, 4, &a, &na));
    EXPECT_EQ(HRESULT(0x8007057B), GetSessionKeyOrPriKeyFromASN1Object(der.data(), DWORD(der.size()), nullptr, &na));
    size_t position = 0;
    std::wstring part;
    EXPECT_EQ(E_INVALIDARG, GetBase64KeyFromEncryptedData(L"0000000000000001", nullptr, part));
    position = 1;
    EXPECT_EQ(E_INVALIDARG, GetBase64KeyFromEncryptedData(L"0000000000000001", &position, part));
    EXPECT_EQ(1u, position);
}

TEST(EncryptionCertificateText, CommasAndLineBreaksAnywhereAreIgnored) {
    Bytes cert(300);
    for (size_t i = 0; i < cert.size(); ++i) cert[i] = BYTE(i * 7);
    char* text = nullptr;
    int len = 0;
    ASSERT_EQ(S_OK, Base64EncodeEx(cert.data(), int(cert.size()), &text, &len, ATL_BASE64_FLAG_NONE));
    std::wstring wide(text, text + len);
    delete[] text;
    wide.insert(0, L",");
    wide.insert(5, L",,");
    wide.insert(wide.size() - 3, L",\r\n");
    wide += L",";
    BYTE* out = nullptr;
    DWORD size = 0;
    ASSERT_EQ(S_OK, ParseEncryptCertPublicKeyCert(wide.c_str(), &out, &size));
    EXPECT_EQ(cert, Bytes(out, out + size));
    delete[] out;
    EXPECT_EQ(E_INVALIDARG, ParseEncryptCertPublicKeyCert(wide.c_str(), nullptr, &size));
}

// ---- installing a certificate through a CryptoAPI provider

const wchar_t kMicrosoftProvider[] = L"Microsoft Enhanced Cryptographic Provider v1.0";

// A container of Wine's rsaenh holding an RSA key of the given kind
// (AT_KEYEXCHANGE or AT_SIGNATURE) and a self-signed certificate of that
// key; both removed at the end.
class MicrosoftContainer {
public:
    explicit MicrosoftContainer(DWORD keySpec) {
        CreateGUIDString(name);
        if (!CryptAcquireContextW(&prov, name.c_str(), kMicrosoftProvider, PROV_RSA_FULL, CRYPT_NEWKEYSET)) return;
        HCRYPTKEY key = 0;
        if (!CryptGenKey(prov, keySpec, (1024 << 16) | CRYPT_EXPORTABLE, &key)) return;
        CryptDestroyKey(key);
        BYTE nameDer[256];
        DWORD nameSize = sizeof nameDer;
        if (!CertStrToNameW(X509_ASN_ENCODING, L"CN=Certaide Import Test", CERT_X500_NAME_STR, nullptr, nameDer,
                            &nameSize, nullptr))
            return;
        CERT_NAME_BLOB subject = {nameSize, nameDer};
        CRYPT_KEY_PROV_INFO info = {};
        info.pwszContainerName = const_cast<wchar_t*>(name.c_str());
        info.pwszProvName = const_cast<wchar_t*>(kMicrosoftProvider);
        info.dwProvType = PROV_RSA_FULL;
        info.dwKeySpec = keySpec;
        PCCERT_CONTEXT cert = CertCreateSelfSignCertificate(prov, &subject, 0, &info, nullptr, nullptr, nullptr,
                                                            nullptr);
        if (!cert) return;
        der.assign(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded);
        CertFreeCertificateContext(cert);
        // rsaenh stores the container's keys when its last context goes.
        CryptReleaseContext(prov, 0);
        prov = 0;
    }
    ~MicrosoftContainer() {
        if (prov) CryptReleaseContext(prov, 0);
        HCRYPTPROV gone = 0;
        CryptAcquireContextW(&gone, name.c_str(), kMicrosoftProvider, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
        RemoveFromMy();
    }
    // The copy of the certificate in "MY", or null.
    PCCERT_CONTEXT FindInMy() const {
        HCERTSTORE my = CertOpenSystemStoreW(0, L"MY");
        CRYPT_HASH_BLOB hash = {};
        BYTE sha1[20];
        DWORD sha1Size = sizeof sha1;
        CryptHashCertificate(0, CALG_SHA1, 0, der.data(), DWORD(der.size()), sha1, &sha1Size);
        hash.cbData = sha1Size;
        hash.pbData = sha1;
        PCCERT_CONTEXT found =
            CertFindCertificateInStore(my, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &hash, nullptr);
        CertCloseStore(my, 0);
        return found;
    }
    void RemoveFromMy() const {
        if (PCCERT_CONTEXT found = FindInMy()) CertDeleteCertificateFromStore(found);
    }
    std::wstring Base64WithCommas() const {
        char* text = nullptr;
        int len = 0;
        Base64EncodeEx(der.data(), int(der.size()), &text, &len, ATL_BASE64_FLAG_NONE);
        std::wstring wide;
        for (int i = 0; i < len; ++i) {
            wide += wchar_t(text[i]);
            if (i % 50 == 49) wide += L',';
        }
        delete[] text;
        return wide;
    }

    std::wstring name;
    HCRYPTPROV prov = 0;
    Bytes der;
};

TEST(ImportSignCert, MicrosoftProviderAddsTheCertificateToMyWithTheKeyLink) {
    for (DWORD keySpec : {DWORD(AT_SIGNATURE), DWORD(AT_KEYEXCHANGE)}) {
        SCOPED_TRACE(keySpec);
        MicrosoftContainer container(keySpec);
        ASSERT_FALSE(container.der.empty()) << "rsaenh container and self-signed certificate";
        ASSERT_EQ(nullptr, container.FindInMy());

        ASSERT_EQ(S_OK, ImportSignCert(keySpec, container.Base64WithCommas().c_str(), kMicrosoftProvider,
                                       container.name.c_str(), L"rsa"));
        PCCERT_CONTEXT mine = container.FindInMy();
        ASSERT_NE(nullptr, mine);
        DWORD size = 0;
        ASSERT_TRUE(CertGetCertificateContextProperty(mine, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
        std::vector<BYTE> buffer(size);
        ASSERT_TRUE(CertGetCertificateContextProperty(mine, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size));
        const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
        EXPECT_EQ(container.name, info->pwszContainerName);
        EXPECT_STREQ(kMicrosoftProvider, info->pwszProvName);
        EXPECT_EQ(DWORD(PROV_RSA_FULL), info->dwProvType);
        EXPECT_EQ(0u, info->dwFlags);
        EXPECT_EQ(0u, info->cProvParam);
        EXPECT_EQ(keySpec, info->dwKeySpec);

        // The link leads back to the container's key.
        HCRYPTPROV linked = 0;
        DWORD linkedSpec = 0;
        BOOL mustFree = FALSE;
        ASSERT_TRUE(CryptAcquireCertificatePrivateKey(mine, 0, nullptr, &linked, &linkedSpec, &mustFree));
        char containerName[128] = {};
        DWORD nameSize = sizeof containerName;
        EXPECT_TRUE(CryptGetProvParam(linked, PP_CONTAINER, reinterpret_cast<BYTE*>(containerName), &nameSize, 0));
        EXPECT_EQ(std::string(container.name.begin(), container.name.end()), containerName);
        EXPECT_EQ(keySpec, linkedSpec);
        if (mustFree) CryptReleaseContext(linked, 0);
        CertFreeCertificateContext(mine);

        // Importing again replaces the copy: still one.
        EXPECT_EQ(S_OK, ImportSignCert(keySpec, container.Base64WithCommas().c_str(), kMicrosoftProvider,
                                       container.name.c_str(), L"RSA"));
    }
}

TEST(ImportSignCert, KeyProviderPutsTheCertificateOnTheContainerKeyAndLeavesMyAlone) {
    const wchar_t kKeyProvider[] = L"Quib CSP v6.0 (ZOPRA)";
    MicrosoftContainer source(AT_SIGNATURE);  // only for a certificate
    ASSERT_FALSE(source.der.empty());
    std::wstring name;
    ASSERT_EQ(S_OK, CreateGUIDString(name));
    HCRYPTPROV prov = 0;
    HCRYPTKEY key = 0;
    ASSERT_TRUE(CryptAcquireContextW(&prov, name.c_str(), kKeyProvider, PROV_RSA_FULL, CRYPT_NEWKEYSET))
        << "the test provider is registered by the prefix set-up";
    ASSERT_TRUE(CryptGenKey(prov, AT_SIGNATURE, 0, &key));
    CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);

    EXPECT_EQ(S_OK, ImportSignCert(AT_SIGNATURE, source.Base64WithCommas().c_str(), kKeyProvider, name.c_str(), L"RSA"));
    EXPECT_EQ(nullptr, source.FindInMy());
    // No exchange key in the container: refused, nothing written.
    EXPECT_EQ(HRESULT(NTE_NO_KEY),
              ImportSignCert(AT_KEYEXCHANGE, source.Base64WithCommas().c_str(), kKeyProvider, name.c_str(), L"RSA"));

    ASSERT_TRUE(CryptAcquireContextW(&prov, name.c_str(), kKeyProvider, PROV_RSA_FULL, 0));
    ASSERT_TRUE(CryptGetUserKey(prov, AT_SIGNATURE, &key));
    Bytes onKey(4096);
    DWORD size = DWORD(onKey.size());
    EXPECT_TRUE(CryptGetKeyParam(key, KP_CERTIFICATE, onKey.data(), &size, 0));
    onKey.resize(size);
    EXPECT_EQ(source.der, onKey);
    CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);
    CryptAcquireContextW(&prov, name.c_str(), kKeyProvider, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
}

TEST(ImportSignCert, FailuresLeaveMyAlone) {
    MicrosoftContainer container(AT_SIGNATURE);
    ASSERT_FALSE(container.der.empty());
    const std::wstring text = container.Base64WithCommas();
    struct Case {
        const char* name;
        DWORD keySpec;
        const wchar_t* provider;
        const wchar_t* alg;
        std::wstring containerName;
    } cases[] = {
        // Another algorithm name opens a verify-only context: no user key.
        {"verify-only context", AT_SIGNATURE, kMicrosoftProvider, L"SM2", container.name},
        {"no key of that kind", AT_KEYEXCHANGE, kMicrosoftProvider, L"RSA", container.name},
        {"no such container", AT_SIGNATURE, kMicrosoftProvider, L"RSA", L"{no-such-container}"},
        {"no such provider", AT_SIGNATURE, L"Microsoft Nonexistent Provider", L"RSA", container.name},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(S_OK, ImportSignCert(c.keySpec, text.c_str(), c.provider, c.containerName.c_str(), c.alg));
        EXPECT_EQ(nullptr, container.FindInMy());
    }
    EXPECT_EQ(E_INVALIDARG, ImportSignCert(AT_SIGNATURE, nullptr, kMicrosoftProvider, container.name.c_str(), L"RSA"));
    EXPECT_EQ(E_INVALIDARG,
              AddCertToSystemStore(kMicrosoftProvider, container.der.data(), 0, 0, AT_SIGNATURE, container.name.c_str()));
    EXPECT_EQ(E_INVALIDARG, AddCertToSystemStore(kMicrosoftProvider, container.der.data(), DWORD(container.der.size()),
                                                 0, AT_SIGNATURE, L""));
    EXPECT_EQ(E_INVALIDARG, AddCertToSystemStore(nullptr, container.der.data(), DWORD(container.der.size()), 0,
                                                 AT_SIGNATURE, container.name.c_str()));
}

}  // namespace
