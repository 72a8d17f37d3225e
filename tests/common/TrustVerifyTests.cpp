// File trust end to end, on libraries signed by osslsigncode: the signature
// through WinTrust (or, in the program that Wine tells it runs on Windows XP,
// the own verifier), then the signer's chain against the embedded trust
// chain and the roots the prefix trusts.
#include <gtest/gtest.h>
#include <windows.h>
// wincrypt.h after windows.h.
#include <wincrypt.h>

#include <string>
#include <vector>

#include "CertificateChain.h"
#include "ImageVerifyAsn1.h"
#include "HostPaths.h"
#include "ResultCodes.h"
#include "TestFiles.h"
#include "TrustVerify.h"
#include "XMLCertChain.h"

namespace {

using Bytes = std::vector<BYTE>;

std::wstring Sample(const char* name) { return Widen(HostEnvPath("SIGNED_SAMPLES")) + L"\\" + Widen(name); }
std::wstring Fixture(const char* name) { return Widen(HostEnvPath("CODE_SIGNING_DIR")) + L"\\" + Widen(name); }

bool LegacyRoad() {
    const char* v = std::getenv("TRUST_LEGACY_ROAD");
    return v && *v == '1';
}

DWORD MajorVersion() {
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    GetVersionExW(&info);
    return info.dwMajorVersion;
}

PCCERT_CONTEXT LoadCert(const std::wstring& path) {
    const Bytes file = ReadAllBytes(path);
    Bytes der = file;
    DWORD len = 0;
    const char* text = reinterpret_cast<const char*>(file.data());
    if (CryptStringToBinaryA(text, static_cast<DWORD>(file.size()), CRYPT_STRING_BASE64HEADER, nullptr, &len, nullptr,
                             nullptr)) {
        der.resize(len);
        CryptStringToBinaryA(text, static_cast<DWORD>(file.size()), CRYPT_STRING_BASE64HEADER, der.data(), &len,
                             nullptr, nullptr);
    }
    return CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
}

HCERTSTORE StoreOf(std::initializer_list<const char*> files) {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, nullptr);
    for (const char* f : files) {
        PCCERT_CONTEXT c = LoadCert(Fixture(f));
        EXPECT_NE(c, nullptr) << f;
        if (c) {
            CertAddCertificateContextToStore(store, c, CERT_STORE_ADD_ALWAYS, nullptr);
            CertFreeCertificateContext(c);
        }
    }
    return store;
}

// The stores as the trusted loading builds them: the embedded chain of this
// program (its CERTCHAIN resource) as the extra store, with the user's ROOT
// and CA certificates added, and the embedded chain alone as the anchors.
struct TrustStores {
    TrustStores() {
        BYTE* p7b = nullptr;
        DWORD len = 0;
        EXPECT_EQ(LoadP7bFromXMLCertChainRes(GetModuleHandleW(nullptr), &p7b, &len), S_OK);
        EXPECT_EQ(ImportP7bToMemoryStore(p7b, len, &extra), S_OK);
        EXPECT_EQ(ImportP7bToMemoryStore(p7b, len, &embedded), S_OK);
        delete[] p7b;
        EXPECT_EQ(AppendLocalTrustedCertStore(&extra), S_OK);
    }
    ~TrustStores() {
        if (extra) CertCloseStore(extra, 0);
        if (embedded) CertCloseStore(embedded, 0);
    }
    HCERTSTORE extra = nullptr;
    HCERTSTORE embedded = nullptr;
};

TEST(TrustVerify, RoadMatchesTheReportedVersion) {
    if (LegacyRoad()) {
        EXPECT_EQ(MajorVersion(), 5u) << "the prefix set-up did not make Wine report Windows XP";
    } else {
        EXPECT_GT(MajorVersion(), 5u);
    }
}

TEST(TrustVerify, SignedSamples) {
    const bool legacy = LegacyRoad();
    const struct {
        const char* file;
        HRESULT winTrust;
        HRESULT legacy;
    } cases[] = {
        {"root-sha256.dll", S_OK, S_OK},
        {"root-sha1.dll", S_OK, S_OK},
        {"root-nointer.dll", S_OK, S_OK},  // the intermediate comes from the embedded chain
        {"root-pe32plus.dll", S_OK, S_OK},
        {"root-nested.dll", S_OK, S_OK},
        {"root-stamped.dll", S_OK, S_OK},
        {"system.dll", S_OK, S_OK},     // a root the prefix trusts
        {"expired.dll", S_OK, S_OK},    // signed while valid: keeps loading
        {"e3.dll", S_OK, S_OK},
        {"foreign.dll", CERT_E_UNTRUSTEDROOT, CERT_E_UNTRUSTEDROOT},
        {"second.dll", RESULT_CHAIN_PARTIAL, RESULT_CHAIN_PARTIAL},  // intermediate nowhere
        {"changed.dll", TRUST_E_BAD_DIGEST, static_cast<HRESULT>(0x8007000D)},
        {"unsigned.dll", S_OK /* any failure */, TRUST_E_NOSIGNATURE},
    };
    for (const auto& c : cases) {
        TrustStores stores;
        const HRESULT hr = VerifySpecFileTrust(Sample(c.file).c_str(), stores.extra, stores.embedded);
        const HRESULT expect = legacy ? c.legacy : c.winTrust;
        if (std::string(c.file) == "unsigned.dll" && !legacy) {
            EXPECT_LT(hr, 0) << c.file;
        } else {
            EXPECT_EQ(hr, expect) << c.file;
        }
    }
    if (legacy) {
        // The own verifier's refusals reach the caller unchanged.
        for (const char* file : {"forged.dll", "serial-twin.dll"}) {
            TrustStores stores;
            EXPECT_EQ(VerifySpecFileTrust(Sample(file).c_str(), stores.extra, stores.embedded),
                      static_cast<HRESULT>(0x8007000D))
                << file;
        }
    } else {
        // WinTrust refuses the twin's signature by the other issuer's key.
        TrustStores stores;
        EXPECT_LT(VerifySpecFileTrust(Sample("serial-twin.dll").c_str(), stores.extra, stores.embedded), 0);
    }
}

// A signature whose certificate list also holds an element that is no
// certificate: the own verifier (which looks only for the signer's
// certificate) accepts it, CryptoAPI cannot read it, so no signer
// certificate is found and no chain can be validated.
TEST(TrustVerify, NoSignerCertificates) {
    Bytes pe = ReadAllBytes(Sample("root-sha256.dll"));
    ASSERT_FALSE(pe.empty());
    auto get32 = [&](size_t at) { return *reinterpret_cast<const DWORD*>(&pe[at]); };
    auto put32 = [&](size_t at, DWORD v) { *reinterpret_cast<DWORD*>(&pe[at]) = v; };
    const size_t security = get32(0x3C) + 152;
    const DWORD table = get32(security), length = get32(table);
    // ContentInfo, [0], SignedData and certificates [0] each grow by the
    // added element (their lengths are written in two bytes).
    Asn1TreeNode* root = ParseAsn1Data(&pe[table + 8], length - 8);
    ASSERT_NE(root, nullptr);
    Asn1TreeNode* enclosing[] = {root, GetAsn1Node(root, "1"), GetAsn1Node(root, "1.0"), GetAsn1Node(root, "1.0.3:A0")};
    const Bytes element = {0x04, 0x01, 0x00};
    const size_t insertAt = static_cast<size_t>(enclosing[3]->Data - pe.data()) + enclosing[3]->Size;
    for (Asn1TreeNode* n : enclosing) {
        ASSERT_TRUE(n && n->Header[1] == 0x82);
        const size_t at = static_cast<size_t>(n->Header - pe.data());
        const DWORD size = n->Size + static_cast<DWORD>(element.size());
        pe[at + 2] = static_cast<BYTE>(size >> 8);
        pe[at + 3] = static_cast<BYTE>(size);
    }
    FreeAsn1Tree(root);
    pe.insert(pe.begin() + static_cast<long>(insertAt), element.begin(), element.end());
    const DWORD newLength = length + static_cast<DWORD>(element.size());
    put32(table, newLength);
    pe.resize(table + ((newLength + 7) & ~7u), 0);
    put32(security + 4, static_cast<DWORD>(pe.size() - table));

    const std::wstring dir = NewScratchFolder(L"trust");
    ASSERT_FALSE(dir.empty());
    const std::wstring file = dir + L"\\no-signer-certificates.dll";
    ASSERT_EQ(WriteFileSimple(file.c_str(), pe.data(), static_cast<DWORD>(pe.size())), S_OK);
    TrustStores stores;
    const HRESULT hr = VerifySpecFileTrust(file.c_str(), stores.extra, stores.embedded);
    if (LegacyRoad()) {
        EXPECT_EQ(hr, RESULT_NO_SIGNER);
    } else {
        EXPECT_LT(hr, 0);
    }
    DeleteFileW(file.c_str());
    RemoveDirectoryW(dir.c_str());
}

TEST(TrustVerify, StoresAndArguments) {
    TrustStores stores;
    // Twice with one store: certificates already there are no error.
    EXPECT_EQ(VerifySpecFileTrust(Sample("root-sha256.dll").c_str(), stores.extra, stores.embedded), S_OK);
    EXPECT_EQ(VerifySpecFileTrust(Sample("root-sha256.dll").c_str(), stores.extra, stores.embedded), S_OK);
    // The signer's certificate went into the extra store, the root did not
    // come from the signature (it is the embedded one).
    PCCERT_CONTEXT signer = LoadCert(Fixture("signer.pem"));
    ASSERT_NE(signer, nullptr);
    PCCERT_CONTEXT found =
        CertFindCertificateInStore(stores.extra, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, signer, nullptr);
    EXPECT_NE(found, nullptr);
    if (found) CertFreeCertificateContext(found);
    CertFreeCertificateContext(signer);

    // Without stores the test root is nowhere: the chain stays incomplete.
    EXPECT_EQ(VerifySpecFileTrust(Sample("root-sha256.dll").c_str(), nullptr, nullptr), RESULT_CHAIN_PARTIAL);
    // With the root at hand but not among the anchors, it is not trusted.
    HCERTSTORE lender = StoreOf({"root.pem"});
    EXPECT_EQ(VerifySpecFileTrust(Sample("root-sha256.dll").c_str(), lender, nullptr), CERT_E_UNTRUSTEDROOT);
    CertCloseStore(lender, 0);
    // The user's stores lend issuers but anchor nothing.
    HCERTSTORE userStore = StoreOf({"foreign-root.pem"});
    EXPECT_EQ(VerifySpecFileTrust(Sample("foreign.dll").c_str(), userStore, stores.embedded), CERT_E_UNTRUSTEDROOT);
    CertCloseStore(userStore, 0);

    EXPECT_EQ(VerifySpecFileTrust(nullptr, stores.extra, stores.embedded), E_INVALIDARG);
    EXPECT_EQ(VerifySpecFileTrust(L"", stores.extra, stores.embedded), E_INVALIDARG);
    HCERTSTORE store = nullptr;
    EXPECT_EQ(ImportP7bToMemoryStore(nullptr, 5, &store), E_INVALIDARG);
    const BYTE junk[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    EXPECT_LT(ImportP7bToMemoryStore(junk, sizeof(junk), &store), 0);
}

TEST(CertificateChain, ChainJudgement) {
    PCCERT_CONTEXT signer = LoadCert(Fixture("signer.pem"));
    PCCERT_CONTEXT expired = LoadCert(Fixture("expired.pem"));
    PCCERT_CONTEXT foreign = LoadCert(Fixture("foreign-signer.pem"));
    PCCERT_CONTEXT root = LoadCert(Fixture("root.pem"));
    PCCERT_CONTEXT intermediate = LoadCert(Fixture("intermediate.pem"));
    ASSERT_TRUE(signer && expired && foreign && root && intermediate);

    HCERTSTORE anchors = StoreOf({"root.pem", "intermediate.pem"});
    HCERTSTORE good = StoreOf({"root.pem", "intermediate.pem"});
    HCERTSTORE broken = StoreOf({"root.pem", "intermediate-badsig.der"});
    HCERTSTORE noIntermediate = StoreOf({"root.pem"});
    HCERTSTORE foreignStore = StoreOf({"foreign-root.pem"});

    EXPECT_EQ(CertValidateCertChain(signer, good, anchors), S_OK);
    EXPECT_EQ(CertValidateCertChain(expired, good, anchors), S_OK);  // validity is not checked
    EXPECT_EQ(CertValidateCertChain(signer, broken, anchors), RESULT_CHAIN_BAD_SIGNATURE);
    EXPECT_EQ(CertValidateCertChain(signer, noIntermediate, anchors), RESULT_CHAIN_PARTIAL);
    EXPECT_EQ(CertValidateCertChain(foreign, foreignStore, anchors), CERT_E_UNTRUSTEDROOT);
    EXPECT_EQ(CertValidateCertChain(signer, good, nullptr), CERT_E_UNTRUSTEDROOT);
    // Only self-signed certificates of the anchors count: the intermediate
    // as the top of a chain anchors nothing.
    HCERTSTORE onlyIntermediate = StoreOf({"intermediate.pem"});
    EXPECT_EQ(CertValidateCertChain(signer, good, onlyIntermediate), CERT_E_UNTRUSTEDROOT);
    CertCloseStore(onlyIntermediate, 0);
    EXPECT_EQ(ValidateCertificate(nullptr, good, anchors), E_INVALIDARG);
    EXPECT_EQ(CertValidateCertChain(nullptr, good, anchors), E_INVALIDARG);

    EXPECT_TRUE(IsRootCertificate(root));
    EXPECT_FALSE(IsRootCertificate(intermediate));
    EXPECT_FALSE(IsRootCertificate(nullptr));
    EXPECT_NE(GetCertSubjectDN(signer).find(L"Certaide Test Signer"), std::wstring::npos);

    for (HCERTSTORE s : {anchors, good, broken, noIntermediate, foreignStore}) CertCloseStore(s, 0);
    for (PCCERT_CONTEXT c : {signer, expired, foreign, root, intermediate}) CertFreeCertificateContext(c);
}

TEST(CertificateChain, AppendLocalTrustedCertStore) {
    HCERTSTORE store = nullptr;
    ASSERT_EQ(AppendLocalTrustedCertStore(&store), S_OK);
    ASSERT_NE(store, nullptr);
    // Every certificate of the user's ROOT store is now in it.
    HCERTSTORE root = CertOpenSystemStoreW(0, L"ROOT");
    ASSERT_NE(root, nullptr);
    int count = 0;
    for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(root, c)) != nullptr; ++count) {
        PCCERT_CONTEXT f = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, c, nullptr);
        EXPECT_NE(f, nullptr);
        if (f) CertFreeCertificateContext(f);
    }
    EXPECT_GT(count, 0);
    CertCloseStore(root, 0);
    EXPECT_EQ(AppendLocalTrustedCertStore(&store), S_OK);  // again: all there already
    CertCloseStore(store, 0);
}

}  // namespace
