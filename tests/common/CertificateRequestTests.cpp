// PKCS#10 request pieces: Name bytes, the subject failures, SubjectPublicKeyInfo
// against OpenSSL's encoding of the same keys, the CSP blob conversion, and
// requests assembled as the key access layer does, written to
// PKCS_OUTPUT_DIR for the host step (openssl req -verify, d2i_X509_REQ and
// the host checker).
// CryptoAPI's headers first: OpenSSL's then drop their clashing names.
#include "ASN1EngineEx.h"
#include "CertificateRequest.h"

#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <cstring>

#include "PkcsTestSupport.h"
#include "TraceHelper.h"

namespace {

using Pair = std::pair<std::string, std::wstring>;

template <typename F>
Bytes Produce(F&& f, HRESULT* result = nullptr) {
    std::vector<BYTE> out;
    const HRESULT hr = CollectBuffer(out, f);
    if (result) *result = hr;
    return Bytes(out.begin(), out.end());
}

Bytes Subject(const wchar_t* text, HRESULT* result = nullptr) {
    return Produce([&](BYTE** p, DWORD* n) { return ComposeSubject(text, p, n); }, result);
}

TEST(ComposeSubject, NameBytesAndSpacing) {
    const std::string name = "301A310B300906035504061302434E310B300906035504031E020061";
    for (const wchar_t* text : {L"CN=a,C=CN", L"CN=a, C=CN", L"CN =a,C=CN", L" C N=a,C =CN"}) {
        SCOPED_TRACE(Widen("") + text);
        HRESULT hr = E_FAIL;
        EXPECT_EQ(ToHex(Subject(text, &hr)), name);
        EXPECT_EQ(hr, S_OK);
    }
    // A value keeps its spaces: " a" is two characters.
    EXPECT_EQ(ToHex(Subject(L"CN= a,C=CN")), "301C310B300906035504061302434E310D300B06035504031E0400200061");
    EXPECT_EQ(GetObjectID(L"email"), "1.2.840.113549.1.9.1");
    EXPECT_EQ(GetObjectID(L"Postal Code"), "2.5.4.17");
    EXPECT_EQ(GetObjectID(L"X"), "");
}

TEST(ComposeSubject, FailureTable) {
    struct Case {
        const wchar_t* text;
        HRESULT expected;
    } cases[] = {
        {L"CN=a,XX=b", HRESULT(0x80090005)},    // unknown keyword, refused before encoding
        {L"", E_INVALIDARG},                      // empty text
        {L"CN=a,", E_INVALIDARG},                 // trailing comma
        {L"CN=a,,C=CN", E_INVALIDARG},            // two commas in a row
        {L"CN=a,CCN", HRESULT(0x80090005)},       // no '='
        {L"CN=a=b", HRESULT(0x80090005)},         // '=' in a value
        {L"CN=a,C=C@", HRESULT(0x80092021)},      // '@' is no PrintableString character
        {L"CN=a,E=\u00e9t\u00e9@x.cn", HRESULT(0x80092022)},  // non-ASCII e-mail
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToHex(reinterpret_cast<const BYTE*>(c.text), wcslen(c.text) * 2));
        HRESULT hr = S_OK;
        BYTE* out = reinterpret_cast<BYTE*>(1);
        DWORD size = 7;
        hr = ComposeSubject(c.text, &out, &size);
        EXPECT_EQ(hr, c.expected);
        EXPECT_EQ(out, reinterpret_cast<BYTE*>(1));
        EXPECT_EQ(size, 7u);
    }
    std::vector<Pair> pairs;
    EXPECT_EQ(ParseSubject(L"O=x,CN=y", pairs), S_OK);
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0], Pair("2.5.4.10", L"x"));
    EXPECT_EQ(pairs[1], Pair("2.5.4.3", L"y"));
}

std::vector<std::wstring> g_lines;
void Record(ULONG64, const TraceMessageArgs& m) { g_lines.push_back(m.text ? m.text : L""); }

TEST(GetObjectID, UnknownKeywordNoticeUnderTheDiagnosticFlag) {
    for (ULONG flags : {0x01u, 0x0Eu}) {
        g_lines.clear();
        SetTraceWriter(Record);
        SetTraceControlState(true, 1, flags);
        EXPECT_EQ(GetObjectID(L"Nick Name"), "");
        SetTraceControlState(false, 0, 0);
        SetTraceWriter(nullptr);
        size_t notices = 0;
        for (const std::wstring& line : g_lines)
            if (line.find(L"[CertificateRequest(") == 0 && line.find(L"NickName") != std::wstring::npos) ++notices;
        EXPECT_EQ(notices, flags == 0x01u ? 1u : 0u) << flags;
    }
}

TEST(ComposeAnyString, ValueTypesAndCharacterSets) {
    auto any = [](const std::string& value, DWORD type, HRESULT* hr) {
        return Produce([&](BYTE** p, DWORD* n) {
            return ComposeAnyString(p, n, reinterpret_cast<const BYTE*>(value.data()), type, DWORD(value.size()));
        }, hr);
    };
    HRESULT hr = E_FAIL;
    EXPECT_EQ(ToHex(any("CN", ANY_STRING_PRINTABLE, &hr)), "1302434E");
    EXPECT_EQ(ToHex(any("a@b", ANY_STRING_IA5, &hr)), "1603614062");
    EXPECT_EQ(ToHex(any("\x01\xFF", ANY_STRING_OCTET, &hr)), "040201FF");
    any("a@b", ANY_STRING_PRINTABLE, &hr);
    EXPECT_EQ(hr, HRESULT(0x80092021));
    any("\xC3\xA9", ANY_STRING_IA5, &hr);
    EXPECT_EQ(hr, HRESULT(0x80092022));
}

TEST(ComposeMultiByteUnsignedInt, LeastSignificantFirstToDer) {
    const BYTE exponent[] = {0x01, 0x00, 0x01};
    const BYTE topBit[] = {0x02, 0x01, 0x80};
    EXPECT_EQ(ToHex(Produce([&](BYTE** p, DWORD* n) { return ComposeMultiByteUnsignedInt(p, n, exponent, 3); })),
              "0203010001");
    EXPECT_EQ(ToHex(Produce([&](BYTE** p, DWORD* n) { return ComposeMultiByteUnsignedInt(p, n, topBit, 3); })),
              "020400800102");
}

// The key bytes and SubjectPublicKeyInfo of a certificate, by OpenSSL.
struct Spki {
    Bytes key, der;
};
Spki SpkiOf(const std::string& certName) {
    const Bytes cert = ReadBytes(RefPath(certName));
    const unsigned char* p = cert.data();
    X509* x = d2i_X509(nullptr, &p, long(cert.size()));
    Spki spki;
    if (!x) return spki;
    const unsigned char* key = nullptr;
    int keyLen = 0;
    X509_PUBKEY_get0_param(nullptr, &key, &keyLen, nullptr, X509_get_X509_PUBKEY(x));
    spki.key.assign(key, key + keyLen);
    unsigned char* der = nullptr;
    const int derLen = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(x), &der);
    spki.der.assign(der, der + derLen);
    OPENSSL_free(der);
    X509_free(x);
    return spki;
}

TEST(ComposeSignPublicKeyData, EqualsOpenSslSubjectPublicKeyInfo) {
    struct Case {
        const char* cert;
        const char* algorithm;
        const char* algorithmId;
    } cases[] = {
        {"c3.der", RSA_PUBLIC_KEY_OID, "300D06092A864886F70D0101010500"},
        {"c1.der", EC_PUBLIC_KEY_OID, "301306072A8648CE3D020106082A811CCF5501822D"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cert);
        const Spki spki = SpkiOf(c.cert);
        ASSERT_FALSE(spki.key.empty());
        const Bytes ours = Produce([&](BYTE** p, DWORD* n) {
            return ComposeSignPublicKeyData(c.algorithm, spki.key.data(), DWORD(spki.key.size()), p, n);
        });
        EXPECT_EQ(ToHex(ours), ToHex(spki.der));
        EXPECT_NE(ToHex(ours).find(c.algorithmId), std::string::npos);
    }
}

// A CSP blob: 8-byte header, bit length, X and Y fields with the coordinate
// least significant byte first in the first half; the second halves hold a
// marker that the temporary form keeps.
Bytes CspBlob(const Bytes& xy) {
    Bytes blob(140, 0xEE);
    const DWORD bits = 256;
    memcpy(blob.data() + 8, &bits, 4);
    for (int i = 0; i < 32; ++i) {
        blob[12 + i] = xy[31 - i];
        blob[76 + i] = xy[63 - i];
    }
    return blob;
}

TEST(ProcessSM2PublicKey, RewritesBothBlobs) {
    const Bytes signXY = RandomBytes(64), tempXY = RandomBytes(64);
    Bytes sign = CspBlob(signXY), temp = CspBlob(tempXY);
    DWORD signSize = 140, tempSize = 140;
    ASSERT_EQ(ProcessSM2PublicKey(sign.data(), &signSize, temp.data(), &tempSize), S_OK);
    EXPECT_EQ(signSize, 65u);
    EXPECT_EQ(ToHex(Bytes(sign.begin(), sign.begin() + 65)), "04" + ToHex(signXY));
    EXPECT_EQ(Bytes(sign.begin() + 65, sign.end()), Bytes(75, 0));
    EXPECT_EQ(tempSize, 136u);
    Bytes expected = FromHex("00B4000000010000");
    expected.insert(expected.end(), tempXY.begin(), tempXY.begin() + 32);
    expected.insert(expected.end(), 32, 0xEE);
    expected.insert(expected.end(), tempXY.begin() + 32, tempXY.end());
    expected.insert(expected.end(), 32, 0xEE);
    expected.insert(expected.end(), 4, 0x00);
    EXPECT_EQ(ToHex(temp), ToHex(expected));

    // Without a temporary key only the signature key changes.
    sign = CspBlob(signXY);
    signSize = 140;
    EXPECT_EQ(ProcessSM2PublicKey(sign.data(), &signSize, nullptr, nullptr), S_OK);
    EXPECT_EQ(signSize, 65u);
}

TEST(ProcessSM2PublicKey, ShortBlobsChangeNothing) {
    const Bytes xy = RandomBytes(64);
    struct Case {
        DWORD signSize, tempSize;
    } cases[] = {{64, 140}, {139, 140}, {140, 135}, {140, 139}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.signSize * 1000 + c.tempSize);
        Bytes sign = CspBlob(xy), temp = CspBlob(xy);
        const Bytes signBefore = sign, tempBefore = temp;
        DWORD signSize = c.signSize, tempSize = c.tempSize;
        EXPECT_EQ(ProcessSM2PublicKey(sign.data(), &signSize, temp.data(), &tempSize), E_INVALIDARG);
        EXPECT_EQ(sign, signBefore);
        EXPECT_EQ(temp, tempBefore);
        EXPECT_EQ(signSize, c.signSize);
        EXPECT_EQ(tempSize, c.tempSize);
    }
}

// Top-level elements of a DER structure: their tags.
std::string TopTags(const Bytes& der, int depth) {
    ASN1Node* root = nullptr;
    std::string tags;
    if (DecodeASN1MemoryEx(&root, der.data(), DWORD(der.size())) == 0) {
        const ASN1Node* n = root;
        for (int i = 0; i < depth && n; ++i) n = n->vetNodes.empty() ? nullptr : n->vetNodes.back();
        if (n)
            for (const ASN1Node* c : n->vetNodes) tags += ToHex(&c->byTag, 1);
    }
    delete root;
    return tags;
}

class Request : public ::testing::Test {
protected:
    void SetUp() override {
        key.d.resize(32);
        key.xy.resize(64);
        ASSERT_EQ(_SM2_generate_keypair(key.d.data(), key.xy.data(), key.xy.data() + 32), 1);
        Bytes tempD(32);
        tempXY.resize(64);
        ASSERT_EQ(_SM2_generate_keypair(tempD.data(), tempXY.data(), tempXY.data() + 32), 1);
        sign = CspBlob(key.xy);
        temp = CspBlob(tempXY);
        signSize = tempSize = 140;
        ASSERT_EQ(ProcessSM2PublicKey(sign.data(), &signSize, temp.data(), &tempSize), S_OK);
        temp.resize(tempSize);
    }

    Bytes Cri(DWORD form, bool withTemp, HRESULT* hr = nullptr) {
        CertRequestInfoParams params{L"CN=ZOPRA@CertificateApply, O=PELQ TEST CA, C=CN",
                                     EC_PUBLIC_KEY_OID,
                                     sign.data(),
                                     signSize,
                                     withTemp ? temp.data() : nullptr,
                                     withTemp ? tempSize : 0,
                                     form};
        return Produce([&](BYTE** p, DWORD* n) { return ComposeCertRequestInfo(params, p, n); }, hr);
    }

    // CRI, algorithm and signature in a SEQUENCE, signed by our core.
    Bytes Assemble(const Bytes& cri) {
        const Bytes rs = Sm2CoreSign(key, cri);
        const Bytes algorithm = Produce([&](BYTE** p, DWORD* n) {
            return ComposeSignAlgorithm(SM2_SM3_REQUEST_SIGNATURE_OID, p, n);
        });
        const Bytes signature = Produce([&](BYTE** p, DWORD* n) { return ComposeSignature(rs.data(), 64, TRUE, p, n); });
        std::vector<BYTE> body(cri.begin(), cri.end()), request;
        body.insert(body.end(), algorithm.begin(), algorithm.end());
        body.insert(body.end(), signature.begin(), signature.end());
        EXPECT_EQ(ASN1EncodeAppend(request, 0x30, body), S_OK);
        return Bytes(request.begin(), request.end());
    }

    Sm2KeyPair key;
    Bytes tempXY, sign, temp;
    DWORD signSize = 0, tempSize = 0;
};

TEST_F(Request, ElementsOfTheCertificationRequestInfo) {
    EXPECT_EQ(TopTags(Cri(1, false), 0), "023030");
    EXPECT_EQ(TopTags(Cri(1, true), 0), "023030A0");
    // The standard form puts each value in a SET; the own form has no SET.
    EXPECT_EQ(TopTags(Cri(1, true), 1), "3030");
    const Bytes own = Cri(0, true), standard = Cri(1, true);
    ASN1Node* root = nullptr;
    ASSERT_EQ(DecodeASN1MemoryEx(&root, own.data(), DWORD(own.size())), 0);
    for (const ASN1Node* attribute : root->vetNodes[3]->vetNodes) EXPECT_NE(attribute->vetNodes[1]->byTag, 0x31);
    delete root;
    root = nullptr;
    ASSERT_EQ(DecodeASN1MemoryEx(&root, standard.data(), DWORD(standard.size())), 0);
    for (const ASN1Node* attribute : root->vetNodes[3]->vetNodes) EXPECT_EQ(attribute->vetNodes[1]->byTag, 0x31);
    delete root;
}

TEST_F(Request, AssembledRequestsForTheHostChecks) {
    const Bytes standard = Assemble(Cri(1, true));
    const Bytes own = Assemble(Cri(0, true));
    ASSERT_FALSE(standard.empty());
    ASSERT_FALSE(own.empty());
    const unsigned char* p = standard.data();
    X509_REQ* req = d2i_X509_REQ(nullptr, &p, long(standard.size()));
    EXPECT_NE(req, nullptr);
    X509_REQ_free(req);
    WriteOut("request-standard.der", standard);
    WriteOut("request-own.der", own);
    // What the attribute must carry: 0xB400, 256, then the X and Y fields.
    Bytes expected = FromHex("00B4000000010000");
    expected.insert(expected.end(), tempXY.begin(), tempXY.begin() + 32);
    expected.insert(expected.end(), 32, 0xEE);
    expected.insert(expected.end(), tempXY.begin() + 32, tempXY.end());
    expected.insert(expected.end(), 32, 0xEE);
    WriteOut("request-tempkey.bin", expected);
}

TEST_F(Request, SignatureAndAlgorithmPieces) {
    EXPECT_EQ(ToHex(Produce([](BYTE** p, DWORD* n) { return ComposeSignAlgorithm("1.2.156.10197.1.501", p, n); })),
              "300C06082A811CCF550183750500");
    Bytes rs(64, 0x01);
    rs[0] = 0x80;
    // r with its top bit set gets one zero octet in front.
    EXPECT_EQ(ToHex(Produce([&](BYTE** p, DWORD* n) { return ComposeSignature(rs.data(), 64, TRUE, p, n); })),
              "03480030450221008" "0" + ToHex(Bytes(31, 1)) + "0220" + ToHex(Bytes(32, 1)));
    const BYTE rsa[] = {0xAA, 0xBB};
    EXPECT_EQ(ToHex(Produce([&](BYTE** p, DWORD* n) { return ComposeSignature(rsa, 2, FALSE, p, n); })), "030300AABB");
    HRESULT hr = S_OK;
    Produce([&](BYTE** p, DWORD* n) { return ComposeSignature(rs.data(), 63, TRUE, p, n); }, &hr);
    EXPECT_EQ(hr, HRESULT(0x8007000D));
}

std::string Trans(const std::string& in) {
    char* out = nullptr;
    DWORD length = 0;
    EXPECT_EQ(TransBase64ToHoldCRLFPer64Chars(in.data(), DWORD(in.size()), &out, &length), S_OK);
    std::string s(out, length);
    EXPECT_EQ(out[length], '\0');
    delete[] out;
    return s;
}

TEST(TransBase64ToHoldCRLFPer64Chars, LinesOf64) {
    const std::string a64(64, 'A'), b(1, 'B');
    EXPECT_EQ(Trans(a64), a64);
    EXPECT_EQ(Trans(a64 + b), a64 + "\r\n" + b);
    EXPECT_EQ(Trans(a64 + "\r\n"), a64);
    // Base64 in 76-column lines becomes 64-column lines.
    std::string line76, joined;
    for (int i = 0; i < 76; ++i) line76 += char('a' + i % 26);
    const std::string text = line76 + "\r\n" + line76 + "\r\n" + line76.substr(0, 10);
    for (char c : text)
        if (c != '\r' && c != '\n') joined += c;
    std::string expected;
    for (size_t i = 0; i < joined.size(); i += 64) expected += (i ? "\r\n" : "") + joined.substr(i, 64);
    EXPECT_EQ(Trans(text), expected);
    EXPECT_EQ(Trans(""), "");
    char* out = nullptr;
    DWORD length = 0;
    EXPECT_EQ(TransBase64ToHoldCRLFPer64Chars(nullptr, 1, &out, &length), E_INVALIDARG);
}

}  // namespace
