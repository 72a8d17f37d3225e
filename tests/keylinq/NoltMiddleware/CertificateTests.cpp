// Certificates of container keys written and read in pieces, their length
// rules, and hashing on the key.
#include "KeyObjectTestSupport.h"
#include "RecordingTransport.h"

namespace {

Bytes Certificate(uint32_t wholeLen) {
    const uint32_t content = wholeLen - 4;
    Bytes cert = {0x30, 0x82, uint8_t(content >> 8), uint8_t(content)};
    for (uint32_t i = 0; i < content; ++i) cert.push_back(uint8_t(i * 13 + 7));
    return cert;
}

class CertificateTest : public KeyOperatorTest {
protected:
    struct Piece {
        uint8_t p1;
        uint16_t offset;
        uint16_t len;
    };
    std::vector<Piece> Pieces() {
        std::vector<Piece> pieces;
        for (const vk::RecordEntry& e : Entries())
            if (e.ins == 0x4C)
                pieces.push_back({e.p1, uint16_t(e.data[20] << 8 | e.data[21]), uint16_t(e.data[22] << 8 | e.data[23])});
        return pieces;
    }
    Bytes Export(uint8_t keySpec) {
        uint32_t len = 0;
        EXPECT_EQ(0u, op->ExportCert("C1", keySpec, nullptr, &len));
        Bytes out(len);
        EXPECT_EQ(0u, op->ExportCert("C1", keySpec, out.data(), &len));
        return out;
    }
};

TEST_F(CertificateTest, ThreeHundredBytesGoInTwoPiecesAndComeBackIdentical) {
    const Bytes cert = Certificate(300);
    ASSERT_EQ(0u, op->ImportCert("C1", 2, cert.data(), 300));
    const std::vector<Piece> pieces = Pieces();
    ASSERT_EQ(2u, pieces.size());
    EXPECT_EQ(0xA1, pieces[0].p1);
    EXPECT_EQ(0, pieces[0].offset);
    EXPECT_EQ(256, pieces[0].len);
    EXPECT_EQ(0xB0, pieces[1].p1);
    EXPECT_EQ(256, pieces[1].offset);
    EXPECT_EQ(44, pieces[1].len);
    CONTAINER_RECORD* cached = op->FindCachedContainer("C1");
    ASSERT_NE(nullptr, cached);
    EXPECT_EQ(1, cached->header.bySignCertFlag);

    // The size query reads only the header.
    Clear();
    uint32_t len = 0;
    ASSERT_EQ(0u, op->ExportCert("C1", 2, nullptr, &len));
    EXPECT_EQ(300u, len);
    EXPECT_EQ(1u, Count(0x4E));
    Bytes small(299);
    len = 299;
    EXPECT_EQ(0x80070103u, op->ExportCert("C1", 2, small.data(), &len));
    EXPECT_EQ(300u, len);
    EXPECT_EQ(cert, Export(2));

    // 256 bytes travel as one piece.
    Clear();
    const Bytes one = Certificate(256);
    ASSERT_EQ(0u, op->ImportCert("C1", 1, one.data(), 256));
    ASSERT_EQ(1u, Pieces().size());
    EXPECT_EQ(0xB1, Pieces()[0].p1);
    EXPECT_EQ(one, Export(1));
}

TEST_F(CertificateTest, OnlyCertificatesThatCanBeReadBackAreWritten) {
    // The largest certificate that reads back: 2560 bytes with its header.
    const Bytes largest = Certificate(2560);
    ASSERT_EQ(0u, op->ImportCert("C1", 2, largest.data(), 2560));
    EXPECT_EQ(largest, Export(2));

    Clear();
    const Bytes tooLong = Certificate(2561);
    EXPECT_EQ(0x8007020Bu, op->ImportCert("C1", 2, tooLong.data(), 2561));
    Bytes mismatch = Certificate(1004);
    EXPECT_EQ(0x8007020Bu, op->ImportCert("C1", 2, mismatch.data(), 900));
    // Too short to hold a header: its length bytes are never read.
    EXPECT_EQ(0x8007020Bu, op->ImportCert("C1", 2, mismatch.data(), 3));
    EXPECT_EQ(0x80070101u, op->ImportCert("C1", 2, nullptr, 300));
    EXPECT_EQ(0u, Count(0x4C));
    EXPECT_EQ(largest, Export(2));
}

TEST_F(CertificateTest, ExportNeedsTheCachedRecordAndARealCertificate) {
    CNoltOperator other(context);
    uint32_t len = 0;
    EXPECT_EQ(0x8007020Cu, other.ExportCert("C1", 2, nullptr, &len));
    EXPECT_TRUE(Entries().empty());
    // A certificate file that was never written starts with 00.
    EXPECT_EQ(0x8007020Bu, op->ExportCert("C1", 2, nullptr, &len));
    EXPECT_EQ(4u, len);
}

// A key that answers a piece with no bytes ends the read with a failure.
TEST(CertificateReadTest, AnEmptyPieceEndsTheRead) {
    CQuibContext context;
    ASSERT_EQ(0u, context.Initialize());
    RecordingTransport key{*context.GetDeviceHandle()};
    CDeviceOperator op(&context);
    Bytes header = Certificate(300);
    header.resize(16);
    key.Queue(0x9000, header);
    key.Queue(0x9000, Bytes(256, 0x30));
    key.Queue(0x9000, {});
    Bytes out(300);
    uint32_t len = 300;
    EXPECT_EQ(0x8007000Du, op.ReadCertFile(0x1F02, out.data(), &len));
    EXPECT_EQ(300u, len);
    EXPECT_EQ(3u, key.commands.size());
    context.GetDeviceHandle()->m_pTransport = nullptr;
}

TEST_F(CertificateTest, HashOnTheKey) {
    void* handle = reinterpret_cast<void*>(uintptr_t(0x1234));
    ASSERT_EQ(0u, op->HashInit(18, &handle));
    EXPECT_EQ(nullptr, handle);
    const Bytes data = {'a', 'b', 'c'};
    ASSERT_EQ(0u, op->HashUpdate(data.data(), 3));
    Bytes digest(32);
    uint32_t len = 32;
    ASSERT_EQ(0u, op->HashFinal(digest.data(), &len));
    EXPECT_EQ(32u, len);
    EXPECT_EQ(RefSm3(data), digest);

    ASSERT_EQ(0u, op->HashInit(18, &handle));
    len = 31;
    EXPECT_EQ(0x80070103u, op->HashFinal(digest.data(), &len));
    EXPECT_EQ(32u, len);
    EXPECT_EQ(0x80070101u, op->HashInit(18, nullptr));
}

}  // namespace
