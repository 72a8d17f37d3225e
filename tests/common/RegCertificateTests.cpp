// Certificate fields against OpenSSL's reading of the same certificates,
// the filter on a memory store of five certificates, the private-key
// criterion with a container in Wine's own provider, a user store, and the
// provider list against the registry.
// CryptoAPI's headers first: OpenSSL's then drop their clashing names.
#include "RegCertificate.h"

#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <map>

#include "PkcsTestSupport.h"
#include "ResultCodes.h"

namespace {

const char* const kCertNames[] = {"c1.der", "c2.der", "c3.der", "c4.der", "c5.der"};

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
std::unique_ptr<X509, X509Free> OpenSslCert(const std::string& name) {
    const Bytes der = ReadBytes(RefPath(name));
    const unsigned char* p = der.data();
    return std::unique_ptr<X509, X509Free>(d2i_X509(nullptr, &p, long(der.size())));
}

// The serialNumber INTEGER's content octets, by OpenSSL.
Bytes SerialContent(X509* x) {
    unsigned char* der = nullptr;
    const int len = i2d_ASN1_INTEGER(X509_get0_serialNumber(x), &der);
    Bytes b(der + 2, der + len);
    OPENSSL_free(der);
    return b;
}

std::wstring Subject(PCCERT_CONTEXT cert, DWORD* length = nullptr) {
    wchar_t* text = nullptr;
    EXPECT_EQ(GetCertSubject(&text, cert, length, CERT_X500_NAME_STR), S_OK);
    std::wstring s = text ? text : L"";
    delete[] text;
    return s;
}

std::wstring Issuer(PCCERT_CONTEXT cert) {
    wchar_t* text = nullptr;
    EXPECT_EQ(GetCertIssuer(cert, &text), S_OK);
    std::wstring s = text ? text : L"";
    delete[] text;
    return s;
}

TEST(CertificateFields, AgainstOpenSsl) {
    struct Expected {
        const wchar_t* subject;
        const wchar_t* issuer;
    } expected[] = {
        {L"CN=Alice Sign, OU=Renewal, O=Certaide Test, C=CN", L"CN=Certaide Test SM2 CA, O=Certaide Test, C=CN"},
        {L"CN=Alice Encrypt, OU=Renewal, O=Certaide Test, C=CN", L"CN=Certaide Test SM2 CA, O=Certaide Test, C=CN"},
        {L"CN=Bob Sign, O=Certaide Test, C=CN", L"CN=Certaide Test RSA CA, O=Certaide Test, C=CN"},
        {L"CN=Carol Plain, O=Other Org, C=US", L"CN=Certaide Test RSA CA, O=Certaide Test, C=CN"},
        {L"CN=Dave Empty Usage, O=Certaide Test, C=CN", L"CN=Certaide Test SM2 CA, O=Certaide Test, C=CN"},
    };
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(kCertNames[i]);
        CertPtr cert = LoadCert(kCertNames[i]);
        auto x = OpenSslCert(kCertNames[i]);
        ASSERT_TRUE(cert);
        ASSERT_TRUE(x);
        DWORD length = 0;
        EXPECT_EQ(Subject(cert.get(), &length), expected[i].subject);
        EXPECT_EQ(length, wcslen(expected[i].subject) + 1);
        EXPECT_EQ(Issuer(cert.get()), expected[i].issuer);
        std::wstring cn;
        EXPECT_EQ(GetCertSubjectCN(cert.get(), cn), S_OK);
        EXPECT_EQ(cn, std::wstring(expected[i].subject).substr(0, std::wstring(expected[i].subject).find(L',')));

        // Serial: text is the content octets in hex, bytes are them reversed.
        const Bytes content = SerialContent(x.get());
        std::wstring serialText;
        EXPECT_EQ(GetCertSerialNumber(cert.get(), serialText), S_OK);
        EXPECT_EQ(serialText, Widen(ToHex(content)));
        BYTE* serial = nullptr;
        DWORD serialLen = 0;
        EXPECT_EQ(GetCertSerialNumber(cert.get(), &serial, &serialLen), S_OK);
        EXPECT_EQ(Bytes(serial, serial + serialLen), Bytes(content.rbegin(), content.rend()));
        delete[] serial;

        // Key usage: OpenSSL's first byte; none, and an empty bit string reads as 0.
        DWORD usage = 0xDEAD;
        const HRESULT usageResult = GetCertKeyUsage(cert.get(), &usage);
        const bool hasUsage = X509_get_extension_flags(x.get()) & EXFLAG_KUSAGE;
        if (i == 4) {
            EXPECT_EQ(usageResult, S_OK);
            EXPECT_EQ(usage, 0u);
        } else if (!hasUsage) {
            EXPECT_EQ(usageResult, RESULT_NO_KEY_USAGE);
        } else {
            EXPECT_EQ(usageResult, S_OK);
            EXPECT_EQ(usage, X509_get_key_usage(x.get()) & 0xFF);
        }

        DWORD idLen = 0;
        BYTE* id = reinterpret_cast<BYTE*>(&idLen);  // a reader nulls its out buffer on failure
        const ASN1_OCTET_STRING* ski = X509_get0_subject_key_id(x.get());
        const HRESULT idResult = GetCertSubjectKeyID(cert.get(), &id, &idLen);
        if (ski) {
            EXPECT_EQ(idResult, S_OK);
            EXPECT_EQ(Bytes(id, id + idLen), Bytes(ski->data, ski->data + ski->length));
        } else {
            EXPECT_EQ(idResult, RESULT_NO_SUBJECT_KEY_ID);
            EXPECT_EQ(id, nullptr);
        }
        delete[] id;
    }
    // c1 and c4 have serials with their top bit set.
    CertPtr c1 = LoadCert("c1.der");
    std::wstring serialText;
    GetCertSerialNumber(c1.get(), serialText);
    EXPECT_EQ(serialText, L"008A0102030405060708");
}

TEST(CertificateChecks, SignatureAlgorithmAndKeyUsage) {
    CertPtr sm2 = LoadCert("c1.der"), rsa = LoadCert("c3.der"), plain = LoadCert("c4.der");
    EXPECT_EQ(CheckCertSignatureAlg(sm2.get(), "1.2.156.10197"), S_OK);
    EXPECT_EQ(CheckCertSignatureAlg(rsa.get(), "1.2.156.10197"), E_FAIL);
    EXPECT_EQ(CheckCertSignatureAlg(rsa.get(), nullptr), S_OK);
    EXPECT_EQ(CheckCertSignatureAlg(nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(CheckCertKeyUsage(plain.get(), 0x80), RESULT_NO_KEY_USAGE);
    EXPECT_EQ(CheckCertKeyUsage(plain.get(), 0), S_OK);
    EXPECT_EQ(CheckCertKeyUsage(sm2.get(), 0x20), E_FAIL);
    EXPECT_EQ(CheckCertKeyUsage(sm2.get(), 0x21), E_FAIL);
    EXPECT_EQ(CheckCertKeyUsage(sm2.get(), 0x40), S_OK);
    EXPECT_EQ(CheckCertSubjectName(sm2.get(), CERT_X500_NAME_STR, {L"nobody", L"alice"}), S_OK);
    EXPECT_EQ(CheckCertIssuer(sm2.get(), {L"RSA CA"}), E_FAIL);
    EXPECT_EQ(CheckCertSubjectName(nullptr, CERT_X500_NAME_STR, {}), S_OK);
    wchar_t* text = nullptr;
    EXPECT_EQ(GetCertSubject(&text, nullptr, nullptr, CERT_X500_NAME_STR), E_INVALIDARG);
    EXPECT_EQ(GetCertIssuer(sm2.get(), nullptr), E_INVALIDARG);
}

class Filter : public ::testing::Test {
protected:
    void SetUp() override {
        store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
        ASSERT_NE(store, nullptr);
        // The set in the order of the names; the store's own order may differ.
        for (const char* name : kCertNames) {
            const Bytes der = ReadBytes(RefPath(name));
            PCCERT_CONTEXT added = nullptr;
            ASSERT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), DWORD(der.size()),
                                                         CERT_STORE_ADD_ALWAYS, &added));
            all.push_back(added);
        }
        CertContextSet extracted;
        ASSERT_EQ(ExtractCertificatesFromStore(store, extracted), S_OK);
        EXPECT_EQ(extracted.size(), 5u);
        for (PCCERT_CONTEXT cert : extracted) EXPECT_NE(Number(cert), 0);
        RemoveAllCertificates(extracted);
    }
    void TearDown() override {
        RemoveAllCertificates(all);
        CertCloseStore(store, 0);
    }

    // The certificates that pass, as their numbers 1-5 in set order.
    std::string Pick(const CertFilter& filter, HRESULT expected = S_OK) {
        CertContextSet out;
        EXPECT_EQ(FilterCertificates(&filter, out, all), expected);
        std::string picked;
        for (PCCERT_CONTEXT cert : out) picked += char('0' + Number(cert));
        RemoveAllCertificates(out);
        return picked;
    }
    int Number(PCCERT_CONTEXT cert) {
        for (size_t i = 0; i < all.size(); ++i)
            if (CertCompareCertificate(X509_ASN_ENCODING, cert->pCertInfo, all[i]->pCertInfo)) return int(i) + 1;
        return 0;
    }
    PCCERT_CONTEXT Cert(int number) { return all[size_t(number - 1)]; }

    HCERTSTORE store = nullptr;
    CertContextSet all;
};

TEST_F(Filter, EachCriterionAloneAndTogether) {
    EXPECT_EQ(Subject(Cert(1)).substr(0, 13), L"CN=Alice Sign");
    CertContextSet out;
    EXPECT_EQ(FilterCertificates(nullptr, out, all), S_OK);
    EXPECT_EQ(out.size(), 5u);
    RemoveAllCertificates(out);

    struct Case {
        const char* name;
        CertFilter filter;
        const char* expected;
    } cases[] = {
        {"all-zero", {}, "12345"},
        {"subject", {L"alice"}, "12"},
        {"subject parts", {L"Alice Sign#bob sign"}, "13"},
        {"subject with an empty part", {L"Nobody#"}, "12345"},
        {"subject of two empty parts", {L"##"}, "12345"},
        {"subject none", {L"Nobody"}, ""},
        {"issuer", {nullptr, L"SM2 CA"}, "125"},
        {"key usage 0x80", {nullptr, nullptr, nullptr, nullptr, 0x80}, "13"},
        {"key usage 0x30", {nullptr, nullptr, nullptr, nullptr, 0x30}, "2"},
        {"signature algorithm SM", {nullptr, nullptr, nullptr, nullptr, 0, 0, "1.2.156.10197"}, "125"},
        {"signature algorithm RSA", {nullptr, nullptr, nullptr, nullptr, 0, 0, "1.2.840.113549.1.1"}, "34"},
        {"need private key 2", {nullptr, nullptr, nullptr, nullptr, 0, 2}, "12345"},
        {"together", {L"Alice", L"Certaide", nullptr, nullptr, 0x80, 0, "1.2.156.10197"}, "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Pick(c.filter), c.expected);
    }
}

TEST_F(Filter, IdentifierAndSerialLengths) {
    BYTE* id = nullptr;
    DWORD idLen = 0;
    ASSERT_EQ(GetCertSubjectKeyID(Cert(2), &id, &idLen), S_OK);
    BYTE* serial = nullptr;
    DWORD serialLen = 0;
    ASSERT_EQ(GetCertSerialNumber(Cert(3), &serial, &serialLen), S_OK);
    Bytes longId(id, id + idLen), longSerial(serial, serial + serialLen);
    longId.push_back(0x00);
    longSerial.push_back(0x00);
    struct Case {
        const char* name;
        CertFilter filter;
        const char* expected;
    } cases[] = {
        {"identifier equal", {nullptr, nullptr, id, nullptr, 0, 0, nullptr, idLen, 0}, "2"},
        {"identifier shorter", {nullptr, nullptr, id, nullptr, 0, 0, nullptr, idLen - 1, 0}, ""},
        {"identifier longer", {nullptr, nullptr, longId.data(), nullptr, 0, 0, nullptr, idLen + 1, 0}, ""},
        {"serial equal", {nullptr, nullptr, nullptr, serial, 0, 0, nullptr, 0, serialLen}, "3"},
        {"serial shorter", {nullptr, nullptr, nullptr, serial, 0, 0, nullptr, 0, serialLen - 1}, ""},
        {"serial longer", {nullptr, nullptr, nullptr, longSerial.data(), 0, 0, nullptr, 0, serialLen + 1}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Pick(c.filter), c.expected);
    }
    delete[] id;
    delete[] serial;
}

TEST_F(Filter, NeedPrivateKeyPassesOnlyALinkedCertificate) {
    const wchar_t* container = L"CertaideFilterTestContainer";
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextW(&prov, container, MS_ENHANCED_PROV_W, PROV_RSA_FULL, 0))
        ASSERT_TRUE(CryptAcquireContextW(&prov, container, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    HCRYPTKEY key = 0;
    ASSERT_TRUE(CryptGenKey(prov, AT_KEYEXCHANGE, 0, &key));
    CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);

    CRYPT_KEY_PROV_INFO info = {};
    info.pwszContainerName = const_cast<wchar_t*>(container);
    info.pwszProvName = const_cast<wchar_t*>(MS_ENHANCED_PROV_W);
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = AT_KEYEXCHANGE;
    ASSERT_TRUE(CertSetCertificateContextProperty(Cert(4), CERT_KEY_PROV_INFO_PROP_ID, 0, &info));

    EXPECT_EQ(Pick({nullptr, nullptr, nullptr, nullptr, 0, 1}), "4");
    EXPECT_EQ(Pick({nullptr, nullptr, nullptr, nullptr, 0, 2}), "12345");
    CryptAcquireContextW(&prov, container, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
}

TEST_F(Filter, EmptyStoreAndFailures) {
    // An empty store: result 0 and the set as it was.
    HCERTSTORE empty = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    CertContextSet set{CertDuplicateCertificateContext(Cert(1))};
    EXPECT_EQ(ExtractCertificatesFromStore(empty, set), S_OK);
    EXPECT_EQ(set.size(), 1u);
    CertCloseStore(empty, 0);

    // No match leaves the out set as it was.
    CertFilter none = {L"Nobody"};
    EXPECT_EQ(FilterCertificates(&none, set, all), S_OK);
    EXPECT_EQ(set.size(), 1u);
    // An empty input set too.
    EXPECT_EQ(FilterCertificates(nullptr, set, CertContextSet()), S_OK);
    EXPECT_EQ(set.size(), 1u);

    // A null entry fails the signature-algorithm check and is left out.
    CertContextSet withNull{Cert(2), nullptr};
    EXPECT_EQ(FilterCertificates(nullptr, set, withNull), S_OK);
    ASSERT_EQ(set.size(), 2u);
    EXPECT_EQ(Number(set[1]), 2);

    // A failing filter empties the out set, what it held before included.
    // (Wine opens a user store of any name, and duplicating a live context
    // cannot fail, so the failure here is a missing store name.)
    EXPECT_EQ(FilterCertificatesFromLocalStore(nullptr, nullptr, set), E_INVALIDARG);
    EXPECT_TRUE(set.empty());

    set.push_back(CertDuplicateCertificateContext(Cert(1)));
    EXPECT_EQ(ExtractCertificatesFromStore(nullptr, set), E_INVALIDARG);
    EXPECT_TRUE(set.empty());
    set.push_back(CertDuplicateCertificateContext(Cert(1)));
    EXPECT_EQ(ExtractCertificatesFromLocalStore(nullptr, set), E_INVALIDARG);
    EXPECT_TRUE(set.empty());
}

TEST_F(Filter, UserStoreOfItsOwnName) {
    const wchar_t* name = L"CertaideFilterTestStore";
    HCERTSTORE user = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, name);
    ASSERT_NE(user, nullptr);
    ASSERT_TRUE(CertAddCertificateContextToStore(user, Cert(1), CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    ASSERT_TRUE(CertAddCertificateContextToStore(user, Cert(3), CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    CertCloseStore(user, 0);

    CertContextSet set;
    EXPECT_EQ(ExtractCertificatesFromLocalStore(name, set), S_OK);
    EXPECT_EQ(set.size(), 2u);
    RemoveAllCertificates(set);
    CertFilter bob = {L"Bob"};
    EXPECT_EQ(FilterCertificatesFromLocalStore(name, &bob, set), S_OK);
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(Number(set[0]), 3);
    RemoveAllCertificates(set);

    CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_DELETE_FLAG, name);
}

TEST(GetSystemCSPName, EqualsTheRegistryProviderList) {
    std::vector<std::wstring> names;
    ASSERT_EQ(GetSystemCSPName(names), S_OK);
    std::vector<std::wstring> registry;
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider", 0, KEY_READ,
                            &key),
              ERROR_SUCCESS);
    wchar_t sub[256];
    for (DWORD i = 0;; ++i) {
        DWORD len = 256;
        if (RegEnumKeyExW(key, i, sub, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        registry.push_back(sub);
    }
    RegCloseKey(key);
    EXPECT_FALSE(names.empty());
    std::sort(names.begin(), names.end());
    std::sort(registry.begin(), registry.end());
    EXPECT_EQ(names, registry);
}

}  // namespace
