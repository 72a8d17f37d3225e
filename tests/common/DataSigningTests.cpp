// SM2 signature DER against OpenSSL's i2d/d2i_ECDSA_SIG and SM2 verify, and
// the PKCS#7 SignedData: its structure read back with the DER engine here;
// the outputs go to PKCS_OUTPUT_DIR, where the host step checks them with
// the host checker and the openssl commands.
// CryptoAPI's headers first: OpenSSL's then drop their clashing names.
#include "ASN1EngineEx.h"
#include "DataSigning.h"

#include <gtest/gtest.h>
#include <openssl/ecdsa.h>

#include <cstring>

#include "OpenSslSm2.h"
#include "PkcsTestSupport.h"

namespace {

Bytes EncodeRaw(const Bytes& rs, DWORD type, HRESULT* result = nullptr) {
    BYTE* out = nullptr;
    DWORD size = 0;
    const HRESULT hr = SM2EncodeRawSignature(&size, rs.data(), DWORD(rs.size()), &out, type);
    if (result) *result = hr;
    Bytes b;
    if (hr == S_OK) b.assign(out, out + size);
    delete[] out;
    return b;
}

Bytes OpenSslDer(const Bytes& rs) {
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(rs.data(), 32, nullptr), BN_bin2bn(rs.data() + 32, 32, nullptr));
    unsigned char* der = nullptr;
    const int len = i2d_ECDSA_SIG(sig, &der);
    Bytes b(der, der + len);
    OPENSSL_free(der);
    ECDSA_SIG_free(sig);
    return b;
}

// d2i_ECDSA_SIG accepts it and i2d gives the same bytes back.
bool StrictDer(const Bytes& der) {
    const unsigned char* p = der.data();
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, long(der.size()));
    if (!sig || p != der.data() + der.size()) {
        ECDSA_SIG_free(sig);
        return false;
    }
    unsigned char* again = nullptr;
    const int len = i2d_ECDSA_SIG(sig, &again);
    const bool same = Bytes(again, again + len) == der;
    OPENSSL_free(again);
    ECDSA_SIG_free(sig);
    return same;
}

Bytes Half(const std::string& hexPrefix, BYTE fill) {
    Bytes b = FromHex(hexPrefix);
    b.resize(32, fill);
    return b;
}

TEST(SM2EncodeRawSignature, TableAgainstOpenSslEncoding) {
    struct Case {
        const char* name;
        Bytes r, s;
    } cases[] = {
        {"top bits set", Half("80", 0x11), Half("FF", 0xEE)},
        {"00 then 0x80 and above", Half("009A", 0x22), Half("0080", 0x01)},
        {"one leading zero", Half("0012", 0x33), Half("7F", 0x44)},
        {"two leading zeros", Half("00007F", 0x55), Half("000001", 0x66)},
        {"31 leading zeros", Half(std::string(62, '0') + "05", 0), Half(std::string(62, '0') + "80", 0)},
        {"zero", Bytes(32, 0), Half("01", 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes rs = c.r;
        rs.insert(rs.end(), c.s.begin(), c.s.end());
        const Bytes expected = OpenSslDer(rs);
        EXPECT_EQ(ToHex(EncodeRaw(rs, 2)), ToHex(expected));
        Bytes wrapped = EncodeRaw(rs, 1024);
        ASSERT_GE(wrapped.size(), 2u);
        EXPECT_EQ(wrapped[0], 0x04);
        EXPECT_EQ(size_t(wrapped[1]), wrapped.size() - 2);
        EXPECT_EQ(ToHex(Bytes(wrapped.begin() + 2, wrapped.end())), ToHex(expected));
    }
}

TEST(SM2EncodeRawSignature, RefusesBadArguments) {
    HRESULT hr = S_OK;
    EncodeRaw(Bytes(63, 1), 2, &hr);
    EXPECT_EQ(hr, HRESULT(0x8007000D));
    EncodeRaw(Bytes(65, 1), 1024, &hr);
    EXPECT_EQ(hr, HRESULT(0x8007000D));
    EncodeRaw(Bytes(64, 1), 3, &hr);
    EXPECT_EQ(hr, E_INVALIDARG);
    BYTE* out = nullptr;
    DWORD size = 0;
    EXPECT_EQ(SM2EncodeRawSignature(&size, nullptr, 64, &out, 2), E_INVALIDARG);
    Bytes rs(64, 1);
    EXPECT_EQ(SM2EncodeRawSignature(nullptr, rs.data(), 64, &out, 2), E_INVALIDARG);
    EXPECT_EQ(SM2EncodeRawSignature(&size, rs.data(), 64, nullptr, 2), E_INVALIDARG);
}

// Signatures of our core over random messages, and signatures found by
// search whose r or s starts with a zero octet: OpenSSL takes every one as
// strict DER and verifies it with the default id.
TEST(SM2EncodeRawSignature, CoreSignaturesVerifyInOpenSsl) {
    Sm2KeyPair key;
    key.d = RandomBytes(32);
    key.d[0] &= 0x7F;
    key.xy = Sm2PublicOf(key.d);
    Pkey pkey = MakeSm2Key(Bytes(), key.xy);
    ASSERT_TRUE(pkey);
    int plain = 0, leadingZero = 0, tries = 0;
    while ((plain < 1000 || leadingZero < 20) && tries < 20000) {
        ++tries;
        const Bytes message = RandomBytes(1 + tries % 97);
        const Bytes rs = Sm2CoreSign(key, message);
        ASSERT_EQ(rs.size(), 64u);
        const bool zero = rs[0] == 0 || rs[32] == 0;
        if (plain >= 1000 && !zero) continue;
        const Bytes der = EncodeRaw(rs, 2);
        ASSERT_TRUE(StrictDer(der)) << ToHex(rs);
        ASSERT_TRUE(OpenSslSm2Verify(pkey.get(), message, der)) << ToHex(rs);
        if (plain < 1000) ++plain;
        if (zero && leadingZero < 20) ++leadingZero;
    }
    EXPECT_EQ(plain, 1000);
    EXPECT_EQ(leadingZero, 20);
}

TEST(EncodeObjectID, AlgorithmIdentifierWithNull) {
    BYTE* out = nullptr;
    DWORD size = 0;
    ASSERT_EQ(EncodeObjectID(&size, "1.2.156.10197.1.401", &out), S_OK);
    EXPECT_EQ(ToHex(out, size), "300C06082A811CCF550183110500");
    delete[] out;
    EXPECT_EQ(EncodeObjectID(&size, nullptr, &out), E_INVALIDARG);
}

TEST(GetAlgorithmIdentifiers, Sm3AndSm2WithSm3) {
    std::string digest, signature;
    EXPECT_EQ(GetAlgorithmIdentifiers(digest, signature), S_OK);
    EXPECT_EQ(digest, "1.2.156.10197.1.401");
    EXPECT_EQ(signature, "1.2.156.10197.1.301.1");
}

struct NodeDelete {
    void operator()(ASN1Node* n) const { delete n; }
};

// The SignedData of a Base64 text, and its children by path.
struct Parsed {
    Bytes der;
    std::unique_ptr<ASN1Node, NodeDelete> root;
    const ASN1Node* At(std::initializer_list<int> path) const {
        const ASN1Node* n = root.get();
        for (int i : path) {
            if (!n || size_t(i) >= n->vetNodes.size()) return nullptr;
            n = n->vetNodes[size_t(i)];
        }
        return n;
    }
    Bytes Content(const ASN1Node* n) const {
        if (!n) return {};
        const BYTE* p = n->pbySource + n->ullContentOffset;
        return Bytes(p, p + n->dwContentLength);
    }
};

Parsed Parse(BSTR text) {
    Parsed parsed;
    std::string narrow;
    for (UINT i = 0; i < SysStringLen(text); ++i) narrow += char(text[i]);
    parsed.der = FromBase64(narrow);
    ASN1Node* root = nullptr;
    EXPECT_EQ(DecodeASN1MemoryEx(&root, parsed.der.data(), DWORD(parsed.der.size())), 0);
    parsed.root.reset(root);
    return parsed;
}

Bytes OidContent(const char* dotted) {
    ASN1_OBJECT* o = OBJ_txt2obj(dotted, 1);
    Bytes b(OBJ_get0_data(o), OBJ_get0_data(o) + OBJ_length(o));
    ASN1_OBJECT_free(o);
    return b;
}

class PKCS7 : public ::testing::Test {
protected:
    void SetUp() override {
        cert = LoadCert("c1.der");
        ASSERT_TRUE(cert);
        key = LoadSm2Key("c1.key");
        ASSERT_EQ(key.d.size(), 32u);
        message = ReadBytes(RefPath("message.txt"));
        ASSERT_FALSE(message.empty());
        const Bytes rs = Sm2CoreSign(key, message);
        encryptedDigest = EncodeRaw(rs, 1024);
        ASSERT_FALSE(encryptedDigest.empty());
    }

    HRESULT Make(DWORD contentFlag, DWORD fileFlag, BSTR fileName, BSTR* out, DWORD* length,
                 const char* digest = SM3_DIGEST_OID) {
        return EncapsulatePKCS7(cert.get(), digest, SM2_SM3_SIGNATURE_OID, message.data(), DWORD(message.size()),
                                encryptedDigest.data(), DWORD(encryptedDigest.size()), out, length, fileFlag,
                                contentFlag, 0, fileName);
    }

    CertPtr cert;
    Sm2KeyPair key;
    Bytes message, encryptedDigest;
};

TEST_F(PKCS7, DetachedGmtSignedData) {
    BSTR text = nullptr;
    DWORD length = 0;
    ASSERT_EQ(Make(0, 0, nullptr, &text, &length), S_OK);
    EXPECT_EQ(length, SysStringLen(text));
    Parsed p = Parse(text);
    SysFreeString(text);
    ASSERT_TRUE(p.root);
    EXPECT_EQ(p.Content(p.At({0})), OidContent(GMT_SIGNED_DATA_OID));
    EXPECT_EQ(p.Content(p.At({1, 0, 0})), Bytes{1});                   // version
    EXPECT_EQ(p.Content(p.At({1, 0, 1, 0, 0})), OidContent(SM3_DIGEST_OID));
    const ASN1Node* inner = p.At({1, 0, 2});
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->vetNodes.size(), 1u);                               // no content
    EXPECT_EQ(p.Content(p.At({1, 0, 2, 0})), OidContent(GMT_DATA_OID));
    EXPECT_EQ(p.At({1, 0, 3})->byTag, 0xA0);
    EXPECT_EQ(p.Content(p.At({1, 0, 3})), Bytes(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded));
    const ASN1Node* signer = p.At({1, 0, 4, 0});
    ASSERT_TRUE(signer);
    ASSERT_EQ(signer->vetNodes.size(), 5u);                              // no attributes
    EXPECT_EQ(p.Content(p.At({1, 0, 4, 0, 3, 0})), OidContent(SM2_SM3_SIGNATURE_OID));
    const ASN1Node* digest = p.At({1, 0, 4, 0, 4});
    EXPECT_EQ(Bytes(digest->pbySource + digest->ullContentOffset - 1 - digest->dwLengthOfLength,
                    digest->pbySource + digest->ullContentOffset + digest->dwContentLength),
              encryptedDigest);
    WriteOut("gmt-detached.der", p.der);
}

TEST_F(PKCS7, ContentFlagEmbedsTextFromMemoryAndFile) {
    const std::string file = OutPath("embedded-source.txt");
    CreateDirectoryA(HostEnvPath("PKCS_OUTPUT_DIR").c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(file, message));
    BSTR fileName = SysAllocString(Widen(file).c_str());
    for (DWORD fromFile : {0u, 1u}) {
        SCOPED_TRACE(fromFile);
        BSTR text = nullptr;
        DWORD length = 0;
        ASSERT_EQ(Make(1, fromFile, fileName, &text, &length), S_OK);
        Parsed p = Parse(text);
        SysFreeString(text);
        EXPECT_EQ(p.Content(p.At({1, 0, 2, 1, 0})), message);
        WriteOut(fromFile ? "gmt-embedded-file.der" : "gmt-embedded-memory.der", p.der);
    }
    SysFreeString(fileName);
    BSTR text = nullptr;
    DWORD length = 0;
    EXPECT_EQ(Make(1, 1, nullptr, &text, &length), E_INVALIDARG);
    EXPECT_EQ(EncapsulatePKCS7(cert.get(), SM3_DIGEST_OID, SM2_SM3_SIGNATURE_OID, nullptr, 0, encryptedDigest.data(),
                               DWORD(encryptedDigest.size()), &text, &length, 0, 1, 0, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(text, nullptr);
}

TEST_F(PKCS7, RsaSignerUsesPlatformSignerInfoAndPkcs7Types) {
    CertPtr rsa = LoadCert("c3.der");
    ASSERT_TRUE(rsa);
    const Bytes signature = ReadBytes(RefPath("message.rsasig"));
    ASSERT_EQ(signature.size(), 256u);
    BSTR text = nullptr;
    DWORD length = 0;
    ASSERT_EQ(EncapsulatePKCS7(rsa.get(), "2.16.840.1.101.3.4.2.1", "1.2.840.113549.1.1.1", message.data(),
                               DWORD(message.size()), signature.data(), DWORD(signature.size()), &text, &length, 0, 0,
                               0, nullptr),
              S_OK);
    Parsed p = Parse(text);
    SysFreeString(text);
    EXPECT_EQ(p.Content(p.At({0})), OidContent(PKCS7_SIGNED_DATA_OID));
    EXPECT_EQ(p.Content(p.At({1, 0, 2, 0})), OidContent(PKCS7_DATA_OID));
    EXPECT_EQ(p.Content(p.At({1, 0, 4, 0, 4})), signature);
    WriteOut("rsa-detached.der", p.der);
}

TEST_F(PKCS7, RefusesMissingArguments) {
    BSTR text = nullptr;
    DWORD length = 0;
    EXPECT_EQ(EncapsulatePKCS7(nullptr, SM3_DIGEST_OID, SM2_SM3_SIGNATURE_OID, nullptr, 0, encryptedDigest.data(),
                               DWORD(encryptedDigest.size()), &text, &length, 0, 0, 0, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(EncapsulatePKCS7(cert.get(), SM3_DIGEST_OID, SM2_SM3_SIGNATURE_OID, nullptr, 0, nullptr, 0, &text,
                               &length, 0, 0, 0, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(text, nullptr);
}

}  // namespace
