// The legacy verifier's DER node tree, its paths and its identifier table
// (checked against OpenSSL's encoding of the dotted identifiers).
#include <gtest/gtest.h>
#include <openssl/objects.h>

#include <string>
#include <vector>

#include "ImageVerifyAsn1.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes Tlv(BYTE tag, const Bytes& content) {
    Bytes out{tag};
    const size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<BYTE>(n));
    } else if (n < 0x100) {
        out.insert(out.end(), {0x81, static_cast<BYTE>(n)});
    } else if (n < 0x10000) {
        out.insert(out.end(), {0x82, static_cast<BYTE>(n >> 8), static_cast<BYTE>(n)});
    } else {
        out.insert(out.end(), {0x83, static_cast<BYTE>(n >> 16), static_cast<BYTE>(n >> 8), static_cast<BYTE>(n)});
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Tree {
    explicit Tree(const Bytes& b) : bytes(b), root(ParseAsn1Data(bytes.data(), static_cast<DWORD>(bytes.size()))) {}
    ~Tree() { FreeAsn1Tree(root); }
    Bytes bytes;
    Asn1TreeNode* root;
};

const Bytes kInt = Tlv(0x02, {0x05});
const Bytes kOct = Tlv(0x04, {0xAA, 0xBB});

TEST(Asn1Tree, ParseTable) {
    const struct {
        const char* what;
        Bytes bytes;
        bool parses;
    } cases[] = {
        {"nothing", {}, false},
        {"zeros only", {0, 0, 0}, false},
        {"zeros before the element", Cat({{0, 0}, kInt}), true},
        {"zeros between children", Tlv(0x30, Cat({kInt, {0, 0}, kOct})), true},
        {"zeros after the last child", Tlv(0x30, Cat({kInt, {0, 0}})), false},
        {"length byte 0x85", {0x04, 0x85, 0, 0, 0, 0, 1, 0xAA}, false},
        {"0x84 with four length bytes", {0x04, 0x84, 0, 0, 0, 1, 0xAA}, true},
        {"0x80: empty element", {0x30, 0x80}, true},
        {"content longer than the bytes", {0x04, 0x03, 0xAA, 0xBB}, false},
        {"length bytes missing", {0x04, 0x82, 0x01}, false},
        {"a child that does not parse", Tlv(0x30, Cat({kInt, {0x04, 0x05, 0xAA}})), false},
        {"bytes after the element ignored", Cat({kInt, {0xFF, 0xFF}}), true},
        {"a length near 2^32 does not wrap", {0x04, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA}, false},
        {"a child length near 2^32 does not wrap", Tlv(0x30, {0x04, 0x84, 0xFF, 0xFF, 0xFF, 0xFA, 0xAA}), false},
        {"single non-zero byte", {0x30}, false},
    };
    for (const auto& c : cases) {
        Tree t(c.bytes);
        EXPECT_EQ(t.root != nullptr, c.parses) << c.what;
    }
}

TEST(Asn1Tree, NodesPointIntoTheBytes) {
    const Bytes bits = Tlv(0x03, Cat({{0x00}, Tlv(0x30, Cat({kInt, kInt}))}));
    const Bytes seq = Tlv(0x30, Cat({Tlv(0xA0, kInt), bits, kOct}));
    Tree t(Cat({{0, 0}, seq}));
    ASSERT_NE(t.root, nullptr);
    EXPECT_EQ(t.root->Tag, 0x30);
    EXPECT_EQ(t.root->Header, t.bytes.data() + 2);
    EXPECT_EQ(t.root->TotalSize, seq.size());
    EXPECT_EQ(t.root->Size, seq.size() - 2);
    EXPECT_EQ(t.root->Data, t.bytes.data() + 4);

    Asn1TreeNode* tagged = GetAsn1Node(t.root, "0:A0.0:02");
    ASSERT_NE(tagged, nullptr);
    EXPECT_EQ(tagged->Data[0], 0x05);
    // A BIT STRING is a leaf; its content (unused-bits byte 0) parses again.
    Asn1TreeNode* bitString = GetAsn1Node(t.root, "1:03");
    ASSERT_NE(bitString, nullptr);
    EXPECT_EQ(bitString->Child, nullptr);
    EXPECT_EQ(bitString->Size, bits.size() - 2);
    Asn1TreeNode* inner = ParseAsn1Data(bitString->Data, bitString->Size);
    ASSERT_NE(inner, nullptr);
    EXPECT_NE(GetAsn1Node(inner, "1:02"), nullptr);
    FreeAsn1Tree(inner);
}

TEST(Asn1Tree, Paths) {
    // A version 1 certificate: no [0] version, so index 1 is the algorithm.
    const Bytes tbs = Tlv(0x30, Cat({kInt, Tlv(0x30, Tlv(0x06, {0x2A})), Tlv(0x30, {})}));
    Tree t(Tlv(0x30, Cat({tbs, Tlv(0x30, {}), Tlv(0x03, {0x00})})));
    ASSERT_NE(t.root, nullptr);
    EXPECT_EQ(GetAsn1Node(t.root, "0.1:02"), nullptr);
    EXPECT_NE(GetAsn1Node(t.root, "0.1:30"), nullptr);
    EXPECT_NE(GetAsn1Node(t.root, "0.1"), nullptr);
    EXPECT_NE(GetAsn1Node(t.root, "0.1:0"), nullptr);  // tag 0 accepts any
    EXPECT_NE(GetAsn1Node(t.root, "0.0000001:30"), nullptr);
    const char* refused[] = {
        "0.3",                  // no such child
        "0.0.0",                // a leaf has no children
        "",                     // empty path
        "0..1",                 // empty step
        "x",                    // not a number
        "0.1:",                 // tag missing
        "0.1:3g",               // not hexadecimal
        "0.00000001",           // index over 7 digits
        "0.0000001:000000030",  // step over 15 characters
    };
    for (const char* path : refused) EXPECT_EQ(GetAsn1Node(t.root, path), nullptr) << path;
}

TEST(Asn1Tree, NestingIsBounded) {
    // n nested SEQUENCEs around an INTEGER, built from the inside out.
    auto nested = [](int n) {
        Bytes b = kInt;
        for (int i = 0; i < n; ++i) b = Tlv(0x30, b);
        return b;
    };
    {
        Tree ok(nested(ASN1_MAX_DEPTH - 1));  // the INTEGER is at the cap
        EXPECT_NE(ok.root, nullptr);
        Tree deep(nested(ASN1_MAX_DEPTH));
        EXPECT_EQ(deep.root, nullptr);
    }
    // 100,000 levels of 30 84 <length>: refused without exhausting the stack.
    const int levels = 100000;
    Bytes b(static_cast<size_t>(levels) * 6 + 3);
    for (int i = 0; i < levels; ++i) {
        const DWORD remaining = static_cast<DWORD>(b.size() - (i + 1) * 6);
        BYTE* p = &b[static_cast<size_t>(i) * 6];
        p[0] = 0x30;
        p[1] = 0x84;
        p[2] = static_cast<BYTE>(remaining >> 24);
        p[3] = static_cast<BYTE>(remaining >> 16);
        p[4] = static_cast<BYTE>(remaining >> 8);
        p[5] = static_cast<BYTE>(remaining);
    }
    b[b.size() - 3] = 0x02;
    b[b.size() - 2] = 0x01;
    b[b.size() - 1] = 0x05;
    Tree deep(b);
    EXPECT_EQ(deep.root, nullptr);
}

TEST(Asn1Oid, TableEqualsOpenSslEncoding) {
    const char* dotted[ASN1_OID_COUNT] = {
        "1.3.14.3.2.26",          "2.16.840.1.101.3.4.2.1", "1.2.840.113549.1.1.5",      "1.2.840.113549.1.1.11",
        "1.3.6.1.4.1.311.2.1.12", "1.3.6.1.4.1.311.2.1.11", "1.3.6.1.4.1.311.2.1.4",     "1.2.840.113549.1.9.3",
        "1.2.840.113549.1.9.4",   "1.2.840.113549.1.9.6",   "1.2.840.113549.1.7.2",      "1.2.840.113549.1.9.16.1.4",
        "1.3.6.1.4.1.311.2.4.1",  "1.3.6.1.4.1.311.3.3.1",  "2.5.29.14",                 "2.5.29.35",
    };
    for (int i = 0; i < ASN1_OID_COUNT; ++i) {
        ASN1_OBJECT* obj = OBJ_txt2obj(dotted[i], 1);
        ASSERT_NE(obj, nullptr) << dotted[i];
        const Bytes expected(OBJ_get0_data(obj), OBJ_get0_data(obj) + OBJ_length(obj));
        ASN1_OBJECT_free(obj);
        EXPECT_EQ(g_Asn1OidTable[i].Key, static_cast<DWORD>(i + 1));
        EXPECT_EQ(Bytes(g_Asn1OidTable[i].Value, g_Asn1OidTable[i].Value + g_Asn1OidTable[i].Length), expected)
            << dotted[i];
    }
}

Bytes Oid(int key) {
    const Asn1OidEntry& e = g_Asn1OidTable[key - 1];
    return Tlv(0x06, Bytes(e.Value, e.Value + e.Length));
}

TEST(Asn1Oid, MatchesSearchAndDigests) {
    const Bytes sha256WithParams = Tlv(0x30, Cat({Oid(OID_sha256), Tlv(0x05, {})}));
    const Bytes twoOids = Tlv(0x30, Cat({kInt, Oid(OID_sha1), Oid(OID_sha256)}));
    const Bytes attrs = Tlv(0xA0, Cat({Tlv(0x30, Cat({Oid(OID_contentType), Tlv(0x31, Oid(OID_SpcIndirectDataContent))})),
                                      Tlv(0x31, Oid(OID_messageDigest)),  // a SET, not searched
                                      Tlv(0x30, Cat({Oid(OID_messageDigest), Tlv(0x31, kOct)}))}));
    Tree params(sha256WithParams), two(twoOids), a(attrs);
    EXPECT_TRUE(Asn1OIDMatches(params.root, OID_sha256));
    EXPECT_EQ(GetAsn1DigestAlg(params.root), DigestAlg_SHA256);
    EXPECT_TRUE(Asn1OIDMatches(two.root, OID_sha1));
    EXPECT_FALSE(Asn1OIDMatches(two.root, OID_sha256));  // only the first identifier counts
    EXPECT_FALSE(Asn1OIDMatches(two.root, 99));
    EXPECT_EQ(GetAsn1DigestAlg(two.root), DigestAlg_SHA1);
    EXPECT_EQ(GetAsn1DigestAlg(nullptr), DigestAlg_Unknown);

    const Bytes algs[] = {Tlv(0x30, Oid(OID_sha1WithRSAEncryption)), Tlv(0x30, Oid(OID_sha256WithRSAEncryption)),
                          Tlv(0x30, Tlv(0x06, {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02}))};  // SHA-384
    const Asn1DigestAlg expect[] = {DigestAlg_SHA1, DigestAlg_SHA256, DigestAlg_Unknown};
    for (int i = 0; i < 3; ++i) {
        Tree t(algs[i]);
        EXPECT_EQ(GetAsn1DigestAlg(t.root), expect[i]) << i;
    }

    Asn1TreeNode* found = SearchAsn1Object(a.root, OID_messageDigest);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found, GetAsn1Node(a.root, "2"));
    EXPECT_EQ(SearchAsn1Object(a.root, OID_countersignature), nullptr);
}

}  // namespace
