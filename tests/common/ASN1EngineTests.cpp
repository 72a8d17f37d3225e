// DER engine: length octets and headers against OpenSSL's own ASN.1 code,
// node trees against `openssl asn1parse -i` of structures made by the host's
// openssl, random nested trees, and malformed lengths that must not wrap.
#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/rand.h>

#include <climits>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ASN1EngineEx.h"
#include "HostPaths.h"
#include "TraceHelper.h"
#include "TestBytes.h"

namespace {

struct NodeDelete {
    void operator()(ASN1Node* n) const { delete n; }
};
using Tree = std::unique_ptr<ASN1Node, NodeDelete>;

struct Decoded {
    int result;
    Tree root;
};

Decoded Decode(const Bytes& data) {
    ASN1Node* root = nullptr;
    const int result = DecodeASN1MemoryEx(&root, data.empty() ? nullptr : data.data(), DWORD(data.size()));
    return {result, Tree(root)};
}

// "tag(offset,lengthOctets,content,total){children}" in pre-order.
std::string Describe(const ASN1Node* n) {
    if (!n) return "null";
    char head[96];
    snprintf(head, sizeof(head), "%02X(%llu,%lu,%lu,%lu)", n->byTag, (unsigned long long)n->ullContentOffset,
             (unsigned long)n->dwLengthOfLength, (unsigned long)n->dwContentLength, (unsigned long)n->dwTotalLength);
    std::string s = head;
    if (!n->vetNodes.empty()) {
        s += "{";
        for (size_t i = 0; i < n->vetNodes.size(); ++i) s += (i ? "," : "") + Describe(n->vetNodes[i]);
        s += "}";
    }
    return s;
}

// Every node of a (possibly partial) tree has offsets and lengths inside
// the buffer, the tree's source and limit, and its parent as parent. An
// element still open (indefinite, end not found) carries the open markers.
void ExpectConsistent(const ASN1Node* n, const Bytes& data, const ASN1Node* parent) {
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->pbySource, data.data());
    EXPECT_EQ(n->dwLimit, data.size() - 1);
    EXPECT_EQ(n->pParent, parent);
    EXPECT_GE(n->ullContentOffset, 1 + n->dwLengthOfLength);
    EXPECT_LE(n->ullContentOffset, data.size());
    if (n->wIndefinite) {
        EXPECT_EQ(n->dwContentLength, 0xFFFFFFFFu);
        EXPECT_EQ(n->dwTotalLength, 0xFFFFFFFFu);
    } else {
        EXPECT_LE(n->ullContentOffset + n->dwContentLength, data.size());
        EXPECT_EQ(n->dwTotalLength, 1 + n->dwLengthOfLength + n->dwContentLength);
    }
    for (const ASN1Node* c : n->vetNodes) ExpectConsistent(c, data, n);
}

Bytes Encode(BYTE tag, const Bytes& content, bool signedForm) {
    BYTE* out = nullptr;
    DWORD len = 0;
    const BYTE* p = content.empty() ? nullptr : content.data();
    const HRESULT hr = signedForm ? ASN1Encode(&out, &len, tag, p, int(content.size()))
                                  : ASN1Encode(&out, &len, tag, p, DWORD(content.size()));
    EXPECT_EQ(hr, S_OK);
    Bytes b(out, out + len);
    delete[] out;
    return b;
}

TEST(DerLength, OctetsOfTheTable) {
    const struct {
        ULONGLONG length;
        const char* hex;
    } rows[] = {{0, "00"},        {127, "7F"},         {128, "8180"},
                {255, "81FF"},    {256, "820100"},     {65535, "82FFFF"},
                {65536, "83010000"}, {1ULL << 24, "8401000000"}, {0x7FFFFFFF, "847FFFFFFF"},
                {0xFFFFFFFFULL, "84FFFFFFFF"}, {1ULL << 32, "850100000000"}};
    for (const auto& r : rows) {
        BYTE* octets = nullptr;
        const int n = EncodeASN1Length(r.length, &octets);
        ASSERT_GT(n, 0) << r.length;
        EXPECT_EQ(ToHex(octets, size_t(n)), r.hex) << r.length;
        EXPECT_EQ(EncodeASN1Length(r.length, nullptr), n) << "count without output";
        delete[] octets;
    }
}

TEST(DerLength, EqualsOpenSslPutObject) {
    for (long length : {0L, 127L, 128L, 255L, 256L, 65535L, 65536L, 1L << 24, 0x7FFFFFFFL}) {
        unsigned char header[16];
        unsigned char* p = header;
        ASN1_put_object(&p, 1, length, V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL);
        const size_t headerLen = size_t(p - header);
        BYTE* octets = nullptr;
        const int n = EncodeASN1Length(ULONGLONG(length), &octets);
        ASSERT_GT(n, 0);
        EXPECT_EQ(ToHex(octets, size_t(n)), ToHex(header + 1, headerLen - 1)) << length;
        delete[] octets;
    }
}

TEST(DerEncode, BothFormsWrapContent) {
    EXPECT_EQ(ToHex(Encode(0x30, {}, true)), "3000");
    EXPECT_EQ(ToHex(Encode(0x30, {}, false)), "3000");
    EXPECT_EQ(ToHex(Encode(0x02, {0x05}, true)), "020105");
    const Bytes big(300, 0xAB);
    const Bytes enc = Encode(0x04, big, false);
    ASSERT_EQ(enc.size(), 304u);
    EXPECT_EQ(ToHex(Bytes(enc.begin(), enc.begin() + 4)), "0482012C");
    EXPECT_TRUE(std::equal(big.begin(), big.end(), enc.begin() + 4));
}

TEST(DerEncode, RefusesNegativeAndOversizedLengthsWithoutOutput) {
    const BYTE content[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    BYTE* const untouched = reinterpret_cast<BYTE*>(0x1234);
    struct Row {
        bool signedForm;
        LONGLONG length;
        HRESULT expected;
    } rows[] = {
        {true, -1, E_INVALIDARG},          // sign-extended it would be a 9-octet length
        {true, INT_MIN, E_INVALIDARG},
        {false, 0xFFFFFFFFLL, E_INVALIDARG},  // 1 + 5 + length does not fit in 32 bits
        {false, 0xFFFFFFFALL, E_INVALIDARG},
        {false, 0xFFFFFFF9LL, E_OUTOFMEMORY},  // fits exactly: only the allocation fails
    };
    for (const Row& r : rows) {
        BYTE* out = untouched;
        DWORD len = 77;
        const HRESULT hr = r.signedForm ? ASN1Encode(&out, &len, 0x04, content, int(r.length))
                                        : ASN1Encode(&out, &len, 0x04, content, DWORD(r.length));
        EXPECT_EQ(hr, r.expected) << r.length;
        EXPECT_EQ(out, untouched);
        EXPECT_EQ(len, 77u);
    }
    BYTE* out = nullptr;
    DWORD len = 0;
    EXPECT_EQ(ASN1Encode(&out, &len, 0x04, nullptr, DWORD(3)), E_INVALIDARG);
    EXPECT_EQ(ASN1Encode(nullptr, &len, 0x04, content, 3), E_INVALIDARG);
}

TEST(DerDecode, TableOfShapes) {
    const struct {
        const char* hex;
        int result;
        const char* tree;
    } rows[] = {
        {"3003020105", 0, "30(2,1,3,5){02(4,1,1,3)}"},
        {"30800201050000", 0, "30(2,1,5,7){02(4,1,1,3)}"},
        {"30800000", 0, "30(2,1,2,4)"},
        {"0403020105", 0, "04(2,1,3,5)"},  // OCTET STRING: a leaf, though its content is DER
        {"A003020105", 0, "A0(2,1,3,5){02(4,1,1,3)}"},
        {"800105", 0, "80(2,1,1,3)"},
        {"3000", 0, "30(2,1,0,2)"},
        {"3003020105FFFF", 0, "30(2,1,3,5){02(4,1,1,3)}"},  // trailing octets ignored
        {"048001020000", 0, "04(2,1,4,6)"},                 // primitive, indefinite: up to 00 00
        {"3081030201 05", 0, "30(3,2,3,6){02(5,1,1,3)}"},
        {"30820003020105", 0, "30(4,3,3,7){02(6,1,1,3)}"},
        {"3080A0800201050000 0000", 0, "30(2,1,9,11){A0(4,1,5,7){02(6,1,1,3)}}"},
        {"3006020105020106", 0, "30(2,1,6,8){02(4,1,1,3),02(7,1,1,3)}"},
        {"440101", -1, "44(2,1,1,3)"},      // application primitive: read as constructed
        {"3005020105", -1, "null"},         // root longer than the buffer
        {"30", -1, "null"},
        {"3002020105", -1, "30(2,1,2,4)"},  // the child runs past its parent
        {"3003020205", -1, "30(2,1,3,5)"},
        {"3080020105", -1, "30(2,1,4294967295,4294967295){02(4,1,1,3)}"},  // no end-of-contents
        {"04800102", -1, "04(2,1,4294967295,4294967295)"},
        {"3082FFFF", -1, "null"},
        {"3081", -1, "null"},
    };
    for (const auto& r : rows) {
        const Bytes data = FromHex(r.hex);
        Decoded d = Decode(data);
        EXPECT_EQ(d.result, r.result) << r.hex;
        EXPECT_EQ(Describe(d.root.get()), r.tree) << r.hex;
        if (d.root) ExpectConsistent(d.root.get(), data, nullptr);
    }
    Decoded empty = Decode({});
    EXPECT_EQ(empty.result, -1);
    EXPECT_EQ(empty.root, nullptr);
    const BYTE one = 0x30;
    ASN1Node* root = reinterpret_cast<ASN1Node*>(0x1);
    EXPECT_EQ(DecodeASN1MemoryEx(&root, &one, 0), -1);
    EXPECT_EQ(DecodeASN1MemoryEx(&root, &one, 1), -1);
    EXPECT_EQ(root, nullptr);
}

// Lengths whose 32-bit arithmetic would wrap back into the buffer.
TEST(DerDecode, LengthsThatWouldWrapFail) {
    const struct {
        const char* hex;
        const char* partial;
    } rows[] = {
        {"3085010000000502 0105", "null"},  // five length octets: read as 5 in 32 bits
        {"3084FFFFFFFC020105", "null"},    // offset + length wraps to 2
        {"3084FFFFFFFF020105", "null"},
        {"3089FFFFFFFFFFFFFFFF05", "null"},
        // The same inside a parent: the children decoded before stay.
        {"300C020105 3084FFFFFFFC020105", "30(2,1,12,14){02(4,1,1,3)}"},
        {"300D020105 3085010000000502 0105", "30(2,1,13,15){02(4,1,1,3)}"},
        {"3080020105 3085010000000502 0105 0000", "30(2,1,4294967295,4294967295){02(4,1,1,3)}"},
        // Inside an indefinite parent a child is bounded by the buffer.
        {"30800201 05 04 84 FFFFFFFA 0000", "30(2,1,4294967295,4294967295){02(4,1,1,3)}"},
    };
    for (const auto& r : rows) {
        const Bytes data = FromHex(r.hex);
        Decoded d = Decode(data);
        EXPECT_EQ(d.result, -1) << r.hex;
        EXPECT_EQ(Describe(d.root.get()), r.partial) << r.hex;
        if (d.root) ExpectConsistent(d.root.get(), data, nullptr);
    }
}

TEST(DerDecode, NestingLimitIs127Levels) {
    for (int levels : {126, 127, 128}) {
        // Definite lengths, built from the inside with the encoder.
        Bytes definite;
        for (int i = 0; i < levels; ++i) definite = Encode(0x30, definite, i % 2 == 0);
        // Indefinite lengths.
        Bytes indefinite;
        for (int i = 0; i < levels; ++i) indefinite.insert(indefinite.end(), {0x30, 0x80});
        for (int i = 0; i < levels; ++i) indefinite.insert(indefinite.end(), {0x00, 0x00});
        for (const Bytes* data : {&definite, &indefinite}) {
            Decoded d = Decode(*data);
            EXPECT_EQ(d.result, levels <= ASN1_MAX_NESTING ? 0 : -1) << levels;
            ASSERT_NE(d.root, nullptr);
            ExpectConsistent(d.root.get(), *data, nullptr);
            int depth = 1;
            for (const ASN1Node* n = d.root.get(); n->vetNodes.size() == 1; n = n->vetNodes[0]) ++depth;
            // A failed child is destroyed, so the failure empties the chain up to the root.
            EXPECT_EQ(depth, levels <= ASN1_MAX_NESTING ? levels : 1) << levels;
        }
    }
}

// ---- diagnostics

struct Line {
    TraceMessageKind kind;
    std::wstring text;
};
std::vector<Line> g_lines;
void Record(ULONG64, const TraceMessageArgs& m) { g_lines.push_back({m.kind, m.text ? m.text : L""}); }

std::vector<Line> TraceDecode(const char* hex, ULONG flags) {
    g_lines.clear();
    SetTraceWriter(Record);
    SetTraceControlState(true, 1, flags);
    Decode(FromHex(hex));
    SetTraceControlState(false, 0, 0);
    SetTraceWriter(nullptr);
    return g_lines;
}

size_t CountDiagnostics(const std::vector<Line>& lines) {
    size_t n = 0;
    for (const Line& l : lines)
        if (l.kind == TraceMessageKind::StepOrFailure && l.text.find(L"[ASN1EngineEx(") == 0) ++n;
    return n;
}

TEST(DerDecode, FailuresWriteDiagnosticsUnderTheirOwnFlag) {
    const std::vector<Line> diagnostics = TraceDecode("3085010000000502 0105", 0x01);
    ASSERT_EQ(CountDiagnostics(diagnostics), 1u);
    EXPECT_EQ(diagnostics.size(), 1u) << "flag 0x01 carries the diagnostics only";
    EXPECT_NE(diagnostics[0].text.find(L"DecodeASN1MemoryEx"), std::wstring::npos);

    const std::vector<Line> others = TraceDecode("3085010000000502 0105", 0x02 | 0x04 | 0x08);
    EXPECT_EQ(CountDiagnostics(others), 0u);
    bool values = false;
    for (const Line& l : others) values |= l.kind == TraceMessageKind::ValueNumber;
    EXPECT_TRUE(values) << "positions and lengths go under the step flag";
    EXPECT_EQ(CountDiagnostics(TraceDecode("3003020105", 0xFF)), 0u);
    EXPECT_EQ(CountDiagnostics(TraceDecode("30800201", 0x01)), 1u);
}

// ---- random trees: encoded with ASN1Encode, decoded back, headers read by OpenSSL

struct Element {
    BYTE tag;
    Bytes content;  // leaves only
    std::vector<Element> children;
};

const BYTE kConstructedTags[] = {0x30, 0x31, 0xA0, 0xA1, 0xA3, 0x60, 0xE2};
const BYTE kLeafTags[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x0C, 0x13, 0x17, 0x80, 0x81, 0x8F};

Element RandomElement(std::mt19937& rng, int depth) {
    Element e;
    if (depth < 6 && rng() % 3 != 0) {
        e.tag = kConstructedTags[rng() % sizeof(kConstructedTags)];
        const int n = int(rng() % 5);
        for (int i = 0; i < n; ++i) e.children.push_back(RandomElement(rng, depth + 1));
    } else {
        e.tag = kLeafTags[rng() % sizeof(kLeafTags)];
        size_t len = rng() % 4 == 0 ? rng() % 70000 : rng() % 300;
        if (len > 2000 && depth > 2) len %= 2000;
        e.content = RandomBytes(len);
    }
    return e;
}

Bytes EncodeElement(const Element& e, std::mt19937& rng) {
    if (!(e.tag & 0x20)) return Encode(e.tag, e.content, rng() % 2);
    Bytes content;
    for (const Element& c : e.children) {
        const Bytes enc = EncodeElement(c, rng);
        content.insert(content.end(), enc.begin(), enc.end());
    }
    return Encode(e.tag, content, rng() % 2);
}

void ExpectSameTree(const Element& e, const ASN1Node* n, const Bytes& data) {
    ASSERT_EQ(n->byTag, e.tag);
    const BYTE* start = data.data() + n->ullContentOffset - n->dwLengthOfLength - 1;
    // OpenSSL reads the same header.
    const unsigned char* p = start;
    long len = 0;
    int tag = 0, cls = 0;
    const int ret = ASN1_get_object(&p, &len, &tag, &cls, long(n->dwTotalLength));
    ASSERT_EQ(ret & 0x80, 0);
    EXPECT_EQ(long(n->dwContentLength), len);
    EXPECT_EQ(size_t(p - start), size_t(1 + n->dwLengthOfLength));
    EXPECT_EQ(tag, e.tag & 0x1F);
    EXPECT_EQ(cls, e.tag & 0xC0);
    EXPECT_EQ(ret & V_ASN1_CONSTRUCTED, e.tag & 0x20);
    if (!(e.tag & 0x20)) {
        EXPECT_TRUE(n->vetNodes.empty());
        ASSERT_EQ(n->dwContentLength, e.content.size());
        EXPECT_TRUE(std::equal(e.content.begin(), e.content.end(), data.data() + n->ullContentOffset));
        return;
    }
    ASSERT_EQ(n->vetNodes.size(), e.children.size());
    for (size_t i = 0; i < e.children.size(); ++i) {
        EXPECT_EQ(n->vetNodes[i]->pParent, n);
        ExpectSameTree(e.children[i], n->vetNodes[i], data);
    }
}

TEST(DerDecode, RandomTreesDecodeToThemselves) {
    std::mt19937 rng(20261210);
    for (int round = 0; round < 60; ++round) {
        Element root = RandomElement(rng, 0);
        if (root.children.empty()) {
            root.tag = 0x30;
            root.children.push_back(RandomElement(rng, 1));
        }
        const Bytes data = EncodeElement(root, rng);
        Decoded d = Decode(data);
        ASSERT_EQ(d.result, 0) << round;
        EXPECT_EQ(d.root->dwTotalLength, data.size());
        ExpectSameTree(root, d.root.get(), data);
    }
}

// ---- structures made by the host's openssl, against `openssl asn1parse -i`

std::vector<std::string> ReferenceLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

// The lines asn1parse prints for the tree: constructed by the identifier's
// bit, indefinite lengths as "inf" with their end-of-contents element.
void AsnParseLines(const ASN1Node* n, int depth, std::vector<std::string>& out) {
    const unsigned long long offset = n->ullContentOffset - n->dwLengthOfLength - 1;
    const bool indefinite = n->dwLengthOfLength == 1 && n->pbySource[n->ullContentOffset - 1] == 0x80;
    std::ostringstream s;
    s << offset << ' ' << depth << ' ' << (1 + n->dwLengthOfLength) << ' ';
    if (indefinite)
        s << "inf";
    else
        s << n->dwContentLength;
    s << ' ' << ((n->byTag & 0x20) ? "cons" : "prim");
    out.push_back(s.str());
    for (const ASN1Node* c : n->vetNodes) AsnParseLines(c, depth + 1, out);
    if (indefinite) {
        std::ostringstream eoc;
        eoc << (n->ullContentOffset + n->dwContentLength - 2) << ' ' << (depth + 1) << " 2 0 prim";
        out.push_back(eoc.str());
    }
}

TEST(DerDecode, HostStructuresMatchAsn1Parse) {
    const std::string dir = HostEnvPath("ASN1_REFERENCE_DIR");
    ASSERT_FALSE(dir.empty()) << "ASN1_REFERENCE_DIR is not set";
    std::ifstream namesFile(dir + "/names");
    std::string name;
    int count = 0;
    while (namesFile >> name) {
        std::ifstream in(dir + "/" + name + ".der", std::ios::binary);
        const Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(data.empty()) << name;
        Decoded d = Decode(data);
        ASSERT_EQ(d.result, 0) << name;
        ExpectConsistent(d.root.get(), data, nullptr);
        EXPECT_EQ(d.root->dwTotalLength, data.size()) << name;
        std::vector<std::string> ours;
        AsnParseLines(d.root.get(), 0, ours);
        EXPECT_EQ(ours, ReferenceLines(dir + "/" + name + ".ref")) << name;
        ++count;
    }
    EXPECT_EQ(count, 5);
}

}  // namespace
