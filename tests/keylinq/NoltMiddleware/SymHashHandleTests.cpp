// The symmetric key handles (host cipher, and cipher on the key) and the
// host digest handle, checked against OpenSSL and against each other.
#include "GMSymKeyHandle.h"
#include "HashObject.h"
#include "NoltOperatorTestSupport.h"
#include "SoftCrypto.h"

namespace {

const Bytes KEY16 = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
const Bytes IV16 = {0xa0, 0xa1, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xab, 0xac, 0xad, 0xae, 0xaf};

Bytes Pattern(size_t n, uint8_t seed = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + 7 * i);
    return b;
}

// One cycle through Update pieces then Final; the output of each call appended.
uint32_t RunCycle(CSymKeyHandle* h, const Bytes& in, const std::vector<size_t>& pieces, Bytes* out,
                  std::vector<uint32_t>* held = nullptr) {
    size_t at = 0;
    for (size_t n : pieces) {
        Bytes chunk(n + 16 * 20);
        uint32_t len = uint32_t(chunk.size());
        uint32_t hr = h->Update(in.data() + at, uint32_t(n), chunk.data(), &len);
        if (hr) return hr;
        out->insert(out->end(), chunk.begin(), chunk.begin() + len);
        if (held) held->push_back(static_cast<CGMSymKeyHandle*>(h)->GetHeldLen());
        at += n;
    }
    Bytes last(16);
    uint32_t len = 16;
    uint32_t hr = h->Final(last.data(), &len);
    if (hr) return hr;
    out->insert(out->end(), last.begin(), last.begin() + len);
    return 0;
}

TEST(HostSymKeyHandleTest, TripleDesReadsTwentyFourKeyBytesAndCountsThePaddingBlock) {
    const Bytes key24 = Pattern(24, 3);
    CSymKeyHandle h;
    uint32_t len = 0;
    EXPECT_EQ(0x80070113u, h.Encrypt(key24.data(), 16, nullptr, &len));  // never keyed: no block length
    EXPECT_EQ(0x80070057u, h.SetKey(4, key24.data(), 16));               // fewer bytes than the algorithm reads
    EXPECT_EQ(0x80070114u, h.SetKey(5, key24.data(), 24));
    ASSERT_EQ(0u, h.SetKey(4, key24.data(), 24));
    EXPECT_EQ(0x80070116u, h.Init(4, 3, 2, IV16.data(), 1));

    const Bytes in = Pattern(16);
    for (uint32_t padding : {1u, 0u}) {
        ASSERT_EQ(0u, h.Init(4, 1, 2, IV16.data(), padding));
        len = 0;
        ASSERT_EQ(0u, h.Encrypt(in.data(), 16, nullptr, &len));
        EXPECT_EQ(24u, len) << padding;
        Bytes out(23);
        len = 23;
        EXPECT_EQ(0x80070103u, h.Encrypt(in.data(), 16, out.data(), &len));
        EXPECT_EQ(24u, len);
        out.resize(24);
        ASSERT_EQ(0u, h.Encrypt(in.data(), 16, out.data(), &len));
        EXPECT_EQ(EvpEncrypt("DES-EDE3-CBC", key24, Bytes(IV16.begin(), IV16.begin() + 8), in), out);
    }
    ASSERT_EQ(0u, h.Init(4, 1, 2, IV16.data(), 0));
    len = 32;
    Bytes out(32);
    EXPECT_EQ(0x80070104u, h.Encrypt(in.data(), 15, out.data(), &len));
    EXPECT_EQ(15u, len);
    // After a Final the cycle needs Init again.
    ASSERT_EQ(0u, h.Init(4, 1, 2, IV16.data(), 1));
    len = 8;
    ASSERT_EQ(0u, h.Final(out.data(), &len));
    EXPECT_NE(0u, h.Final(out.data(), &len));
}

TEST(HostSymKeyHandleTest, InitializeStartsAnSm4CycleWithPadding) {
    CSymKeyHandle* h = nullptr;
    EXPECT_EQ(0x80070114u, CSymKeyHandle::Initialize(7, 1, 2, KEY16.data(), IV16.data(), &h));
    EXPECT_EQ(nullptr, h);
    ASSERT_EQ(0u, CSymKeyHandle::Initialize(19, 1, 2, KEY16.data(), IV16.data(), &h));
    const Bytes in = Pattern(50);
    Bytes out(64);
    uint32_t len = 64;
    ASSERT_EQ(0u, h->Encrypt(in.data(), 50, out.data(), &len));
    EXPECT_EQ(EvpEncrypt("SM4-CBC", KEY16, IV16, in), out);
    delete h;
}

class CardSymKeyTest : public NoltOperatorTest {
protected:
    void SetUp() override {
        NoltOperatorTest::SetUp();
        OpenNoltKey();
    }
    CGMSymKeyHandle* Card(uint8_t cryptType, uint8_t alg = 19, uint32_t padding = 1) {
        auto* h = new CGMSymKeyHandle(context);
        EXPECT_EQ(0u, h->SetKey(uint16_t(alg << 8 | 2), KEY16.data(), 16));
        EXPECT_EQ(0u, h->Init(alg, cryptType, 2, IV16.data(), padding));
        return h;
    }
};

TEST_F(CardSymKeyTest, HostAndCardGiveTheSameStreamAndHoldBackPerBlock) {
    const Bytes in = Pattern(300);
    const Bytes expected = EvpEncrypt("SM4-CBC", KEY16, IV16, in);

    CGMSymKeyHandle* card = Card(1);
    Bytes out;
    std::vector<uint32_t> held;
    Clear();
    ASSERT_EQ(0u, RunCycle(card, in, {10, 3, 7, 280}, &out, &held));
    EXPECT_EQ(expected, out);
    EXPECT_EQ((std::vector<uint32_t>{10, 13, 4, 12}), held);
    // 16 bytes, then 272 in pieces of 128, 128 and 16, then the padded block.
    std::vector<size_t> lengths;
    const std::vector<vk::RecordEntry> sent = Record(keyId);
    for (const vk::RecordEntry& e : sent) lengths.push_back(e.data.size() - 4);
    EXPECT_EQ((std::vector<size_t>{16, 128, 128, 16, 16}), lengths);
    // The last 12 bytes held, padded with four bytes 0x04.
    EXPECT_EQ(Bytes(4, 0x04), Bytes(sent.back().data.end() - 4, sent.back().data.end()));
    delete card;

    // The platform operator's SM1 handle: the virtual key plays SM1 with SM4.
    CSymKeyHandle* sm1 = nullptr;
    ASSERT_EQ(0u, nolt->InitSymKey(16, 1, 2, KEY16.data(), IV16.data(), &sm1));
    Bytes whole(320);
    uint32_t len = 303;
    EXPECT_EQ(0x80070103u, sm1->Encrypt(in.data(), 300, whole.data(), &len));
    EXPECT_EQ(304u, len);
    len = 320;
    ASSERT_EQ(0u, sm1->Encrypt(in.data(), 300, whole.data(), &len));
    whole.resize(len);
    EXPECT_EQ(expected, whole);
    delete sm1;

    // Decryption keeps a whole block for Final, which removes the padding.
    CGMSymKeyHandle* dec = Card(2);
    Bytes plain;
    held.clear();
    ASSERT_EQ(0u, RunCycle(dec, expected, {expected.size()}, &plain, &held));
    EXPECT_EQ(std::vector<uint32_t>{16}, held);
    EXPECT_EQ(in, plain);
    delete dec;
}

TEST_F(CardSymKeyTest, FinalChecksHeldBytesPaddingAndRoom) {
    // Decryption holding 5 bytes cannot finish.
    CGMSymKeyHandle* dec = Card(2);
    const Bytes five = Pattern(5);
    Bytes out(16);
    uint32_t len = 16;
    ASSERT_EQ(0u, dec->Update(five.data(), 5, out.data(), &len));
    EXPECT_EQ(0u, len);
    len = 16;
    EXPECT_EQ(0x80070104u, dec->Final(out.data(), &len));
    delete dec;

    // A block that does not end in valid padding.
    dec = Card(2);
    const Bytes garbage = EvpEncrypt("SM4-CBC", KEY16, IV16, Pattern(16));  // two blocks: data, then 0x10 x 16
    Bytes firstBlockOnly(garbage.begin(), garbage.begin() + 16);
    len = 16;
    ASSERT_EQ(0u, dec->Update(firstBlockOnly.data(), 16, out.data(), &len));
    len = 16;
    EXPECT_EQ(0x8000F525u, dec->Final(out.data(), &len));
    delete dec;

    // Room below a block: the needed length, and the held bytes stay.
    CGMSymKeyHandle* enc = Card(1);
    len = 16;
    ASSERT_EQ(0u, enc->Update(five.data(), 5, out.data(), &len));
    len = 0;
    ASSERT_EQ(0u, enc->Final(nullptr, &len));
    EXPECT_EQ(16u, len);
    len = 15;
    EXPECT_EQ(0x80070103u, enc->Final(out.data(), &len));
    EXPECT_EQ(16u, len);
    EXPECT_EQ(5u, enc->GetHeldLen());
    len = 16;
    ASSERT_EQ(0u, enc->Final(out.data(), &len));
    EXPECT_EQ(EvpEncrypt("SM4-CBC", KEY16, IV16, five), out);
    delete enc;

    // Without padding, held bytes are refused.
    enc = Card(1, 19, 0);
    len = 16;
    ASSERT_EQ(0u, enc->Update(five.data(), 5, out.data(), &len));
    EXPECT_EQ(0x80070104u, enc->Final(out.data(), &len));
    delete enc;
}

TEST_F(CardSymKeyTest, UpdateRefusesAnAnswerThatIsNotThePiece) {
    CGMSymKeyHandle* enc = Card(1);
    const Bytes in = Pattern(32);
    Bytes out(32);
    uint32_t len = 32;
    ASSERT_EQ(0u, control.ForceReply(keyId, 0xA8, 0x9000, {}));  // no bytes back
    EXPECT_EQ(0x8007000Du, enc->Update(in.data(), 32, out.data(), &len));
    EXPECT_EQ(0u, len);
    len = 16;
    EXPECT_EQ(0x80070103u, enc->Update(in.data(), 32, out.data(), &len));
    EXPECT_EQ(32u, len);
    delete enc;

    EXPECT_EQ(0x80070114u, CGMSymKeyHandle(context).Init(4, 1, 2, nullptr, 1));
    EXPECT_EQ(0x80070113u, CGMSymKeyHandle(nullptr).Init(19, 1, 2, nullptr, 1));
    CSymKeyHandle* none = nullptr;
    EXPECT_EQ(0x80070101u, CGMSymKeyHandle::Initialize(nullptr, 16, 1, 2, KEY16.data(), nullptr, &none));
}

TEST(HashObjectTest, DigestsMatchOpenSsl) {
    const Bytes abc = B("abc");
    const struct {
        uint8_t id;
        const char* name;
    } cases[] = {{10, "MD5"}, {11, "SHA1"}, {12, "SHA256"}, {13, "SHA512"}, {18, "SM3"}};
    for (const auto& c : cases) {
        CHashObject* h = nullptr;
        ASSERT_EQ(0u, CHashObject::Initialize(c.id, &h)) << c.name;
        Bytes out(64);
        uint32_t len = 64;
        ASSERT_EQ(0u, h->Digest(abc.data(), 3, out.data(), &len)) << c.name;
        out.resize(len);
        EXPECT_EQ(EvpDigest(c.name, abc), out) << c.name;
        delete h;
    }
}

TEST(HashObjectTest, ShaOneAndMd5TogetherAndTheLifeAfterFinal) {
    const Bytes abc = B("abc");
    Bytes expected = EvpDigest("SHA1", abc);
    const Bytes md5 = EvpDigest("MD5", abc);
    expected.insert(expected.end(), md5.begin(), md5.end());

    CHashObject* h = nullptr;
    ASSERT_EQ(0u, CHashObject::Initialize(14, &h));
    EXPECT_EQ(36u, h->GetDigestLen());
    uint32_t len = 0;
    ASSERT_EQ(0u, h->Digest(abc.data(), 3, nullptr, &len));
    EXPECT_EQ(36u, len);
    ASSERT_EQ(0u, h->Update(abc.data(), 1));
    ASSERT_EQ(0u, h->Update(abc.data() + 1, 2));
    EXPECT_EQ(0x80070057u, h->Update(nullptr, 0));
    Bytes out(36);
    len = 35;
    EXPECT_EQ(0x80070103u, h->Final(out.data(), &len));  // too little room: nothing finished
    EXPECT_EQ(36u, len);
    ASSERT_EQ(0u, h->Final(out.data(), &len));
    EXPECT_EQ(expected, out);
    Bytes again(36);
    ASSERT_EQ(0u, h->Final(again.data(), &len));
    EXPECT_EQ(expected, again);
    EXPECT_EQ(0x80070113u, h->Update(abc.data(), 3));
    delete h;

    EXPECT_EQ(0u, CHashObject::DigestLen(15));
    EXPECT_NE(0u, CHashObject::Initialize(15, &h));
}

}  // namespace
