// Exact frames of the container and key commands, as the key read them.
#include <string>

#include "KeyCommandTestSupport.h"
#include "SoftCrypto.h"

namespace {

using ContainerKeyFrames = KeyCommandTest;

TEST_F(ContainerKeyFrames, CreateAndDeleteContainer) {
    ASSERT_EQ(0u, container.CreateContainer(auth, "ABC"));
    ASSERT_EQ(0u, container.DeleteContainerByName(auth, "ABC"));
    std::vector<vk::RecordEntry> frames = Taken();
    ASSERT_EQ(2u, frames.size());
    const ByteVec code(auth, auth + 16);
    struct Row {
        uint8_t ins, p1, p2;
        ByteVec data;
    };
    const Row rows[] = {{0x40, 0x00, 0x00, Cat(code, {0, 0, 'A', 'B', 'C'})},
                        {0x48, 0x00, 0x01, Cat(code, {0, 0, 0xFF, 'A', 'B', 'C'})}};
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(0xB4, frames[i].cla);
        EXPECT_TRUE(frames[i].secure);
        EXPECT_EQ(rows[i].ins, frames[i].ins);
        EXPECT_EQ(rows[i].p1, frames[i].p1);
        EXPECT_EQ(rows[i].p2, frames[i].p2);
        EXPECT_EQ(0, frames[i].le);
        EXPECT_EQ(rows[i].data, frames[i].data) << i;
    }
    EXPECT_EQ(21u, frames[0].data.size());
    EXPECT_EQ(22u, frames[1].data.size());
}

TEST_F(ContainerKeyFrames, NamesThatDoNotFitAreRefusedUnsent) {
    const std::string create110(110, 'x'), create111(111, 'x'), delete110(110, 'x');
    // 110 characters fit the create command (the key itself takes 39 at most).
    EXPECT_EQ(0x80006A80u, container.CreateContainer(auth, create110.c_str()));
    EXPECT_EQ(1u, Taken().size());
    EXPECT_EQ(0x80070057u, container.CreateContainer(auth, create111.c_str()));
    EXPECT_EQ(0x80070057u, container.DeleteContainerByName(auth, delete110.c_str()));
    EXPECT_EQ(0x80070057u, container.CreateContainer(auth, nullptr));
    EXPECT_TRUE(Taken().empty());
}

TEST_F(ContainerKeyFrames, ListOpenAndAvailableList) {
    ASSERT_EQ(0u, container.CreateContainer(auth, "AB"));
    ASSERT_EQ(0u, container.CreateContainer(auth, "XYZ"));
    uint8_t list[256];
    uint32_t len = 0;
    ASSERT_EQ(0u, container.EnumContainer(list, &len));
    EXPECT_EQ(100u, len);
    EXPECT_EQ('X', list[60]);
    uint8_t record[50];
    std::fill(record, record + 50, 0xEE);
    ASSERT_EQ(0u, container.OpenContainer("XYZ", record, &len));
    EXPECT_EQ(8u, len);
    EXPECT_EQ(ByteVec(list + 50, list + 58), Bytes(record, 8));
    EXPECT_EQ(0xEE, record[8]) << "only the first 8 bytes are written";
    ASSERT_EQ(0u, container.EnumAvailableContainer(list, &len));
    EXPECT_EQ("[Container]\r\n0=AB\r\n1=XYZ\r\n", std::string(reinterpret_cast<char*>(list), len));

    std::vector<vk::RecordEntry> frames = Taken();
    ASSERT_EQ(5u, frames.size());
    EXPECT_EQ((ByteVec{0x46, 0x01, 0x01}), (ByteVec{frames[2].ins, frames[2].p1, frames[2].p2}));
    EXPECT_EQ(256, frames[2].le);
    EXPECT_EQ((ByteVec{0, 0}), frames[2].data);
    EXPECT_EQ((ByteVec{'X', 'Y', 'Z'}), frames[3].data);
    EXPECT_EQ(8, frames[3].le);
    EXPECT_EQ(0xB0, frames[3].cla);
    EXPECT_EQ((ByteVec{0x46, 0x00, 0x00}), (ByteVec{frames[4].ins, frames[4].p1, frames[4].p2}));

    // A container the key does not know.
    EXPECT_EQ(0x80006A88u, container.OpenContainer("NONE", record, &len));
}

// RSA-1024 takes two chunk commands, RSA-2048 three, each of 256 blob bytes
// behind the prefix, then the closing command with the algorithm id.
TEST_F(ContainerKeyFrames, RsaKeyPairImportSequences) {
    const uint16_t base = ContainerWithSm2SignKey("RSA");
    const uint16_t fid = uint16_t(base | 1);
    for (uint8_t alg : {uint8_t(1), uint8_t(7)}) {
        ByteVec blob(alg == 1 ? 512 : 768);
        for (size_t i = 0; i < blob.size(); ++i) blob[i] = uint8_t(i * 3 + alg);
        for (uint8_t flag : {uint8_t(0), uint8_t(1)}) {
            // The blob is no key pair: the key refuses the closing command.
            const uint32_t expected = flag ? 0x80006985u : 0x80006A80u;
            EXPECT_EQ(expected, keyCmd.ImportRsaKeyPair(alg, auth, fid, blob.data(), flag));
            std::vector<vk::RecordEntry> frames = Taken();
            const size_t chunks = alg == 1 ? 2 : 3;
            ASSERT_EQ(chunks + 1, frames.size());
            for (size_t i = 0; i < chunks; ++i) {
                EXPECT_EQ(0xB4, frames[i].cla);
                EXPECT_EQ(0x56, frames[i].ins);
                EXPECT_EQ(0x00, frames[i].p1);
                EXPECT_EQ(i, frames[i].p2);
                EXPECT_EQ(276u, frames[i].data.size());
                EXPECT_EQ(Cat(Prefix(fid), ByteVec(blob.begin() + long(i * 256), blob.begin() + long(i * 256 + 256))),
                          frames[i].data);
            }
            const vk::RecordEntry& closing = frames.back();
            EXPECT_EQ(0x01, closing.p1);
            EXPECT_EQ(flag, closing.p2);
            EXPECT_EQ(Cat(Prefix(fid), {alg}), closing.data);
        }
    }
    // A failing chunk ends the import: no closing command.
    ByteVec blob(512, 1);
    ASSERT_EQ(0u, control.FailCommandAt(keyId, 2, 0x6A80));
    EXPECT_EQ(0x80006A80u, keyCmd.ImportRsaKeyPair(1, auth, fid, blob.data(), 0));
    EXPECT_EQ(2u, Taken().size());
}

TEST_F(ContainerKeyFrames, KeyCommandFramesAndLimits) {
    const uint16_t base = ContainerWithSm2SignKey("K");
    const uint16_t fid = uint16_t(base | 1);
    ASSERT_EQ(0u, keyCmd.GenRsaKeyPair(7, auth, fid));
    SOFT_RSA_PUBKEY pub = {};
    ASSERT_EQ(0u, keyCmd.ExportPublicKey(fid, 7, &pub));
    EXPECT_EQ(256u, pub.nLen);
    EXPECT_EQ(4u, pub.eLen);
    EXPECT_EQ((ByteVec{0, 1, 0, 1}), Bytes(pub.exponent, 4));
    uint8_t xy[64];
    ASSERT_EQ(0u, keyCmd.ExportPublicKey(uint16_t(base | 2), 17, xy));
    EXPECT_EQ(0x80070114u, keyCmd.ExportPublicKey(fid, 2, xy));
    uint8_t random[255];
    ASSERT_EQ(0u, keyCmd.GenRandom(16, random));

    std::vector<vk::RecordEntry> frames = Taken();
    ASSERT_EQ(4u, frames.size()) << "nothing sent for algorithm 2";
    EXPECT_EQ(0x07, frames[0].p1);
    EXPECT_EQ(Cat(Prefix(fid), {0, 1, 0, 1}), frames[0].data);
    EXPECT_EQ(0x0104, frames[1].le);
    EXPECT_EQ((ByteVec{0, 0, uint8_t(fid >> 8), uint8_t(fid)}), frames[1].data);
    EXPECT_EQ(0x0040, frames[2].le);
    EXPECT_EQ(0x50, frames[3].ins);
    EXPECT_EQ(16, frames[3].le);

    // Data that would not fit a working buffer is refused before sending.
    ByteVec big(600, 1);
    EXPECT_EQ(0x80070057u, keyCmd.ImportEncSymKey(auth, fid, big.data(), 493));
    EXPECT_EQ(0x80070057u, keyCmd.ImportSm2KeyPair(auth, fid, big.data(), 493));
    EXPECT_EQ(0x80070057u, keyCmd.ImportSymKey(0x1301, big.data(), 505));
    EXPECT_EQ(0x80070057u, keyCmd.WriteCert(0xB1, auth, fid, 0, big.data(), 489));
    uint8_t reply[72];
    uint32_t replyLen = 0;
    EXPECT_EQ(0x80070057u, keyCmd.GenerateAgreementDataWithECC(fid, 0x1301, big.data(), 55, reply, &replyLen));
    EXPECT_EQ(0x80070057u, keyCmd.GenerateAgreementDataAndKeyWithECC(fid, 0x1301, big.data(), 68, big.data(), 68,
                                                                     big.data(), 53, big.data(), 54, reply, &replyLen));
    uint32_t result = 0;
    EXPECT_EQ(0x80070057u,
              keyCmd.GenerateKeyWithECC(fid, 1, big.data(), 68, big.data(), 68, big.data(), 109, &result));
    EXPECT_EQ(0x80070057u,
              keyCmd.GenerateKeyWithECC(fid, 1, big.data(), 0xFFFFFFF0u, big.data(), 68, big.data(), 20, &result));
    EXPECT_TRUE(Taken().empty());
    // At the limit the agreement data goes out (and the key judges it).
    EXPECT_EQ(0x80006A88u, keyCmd.GenerateAgreementDataWithECC(0x7F01, 0x1301, big.data(), 54, reply, &replyLen));
    frames = Taken();
    ASSERT_EQ(1u, frames.size());
    EXPECT_EQ(64u, frames[0].data.size());
}

TEST_F(ContainerKeyFrames, CertificateOf300BytesWritesAndReadsBack) {
    const uint16_t base = ContainerWithSm2SignKey("CERT");
    const uint16_t fid = uint16_t(base | 2);
    ByteVec cert(300);
    for (size_t i = 0; i < cert.size(); ++i) cert[i] = uint8_t(i * 13 + 5);
    cert[0] = 0x30;
    cert[1] = 0x82;
    cert[2] = 0x01;
    cert[3] = 0x28;  // content length 296
    ASSERT_EQ(0u, keyCmd.WriteCert(0xA1, auth, fid, 0, cert.data(), 256));
    ASSERT_EQ(0u, keyCmd.WriteCert(0xB0, auth, fid, 256, cert.data() + 256, 44));
    ByteVec back(300);
    uint32_t len = 16;
    ASSERT_EQ(0u, keyCmd.ReadCert(fid, 0, back.data(), &len));
    EXPECT_EQ(16u, len);
    uint32_t offset = 0;
    while (offset < cert.size()) {
        len = std::min<uint32_t>(256, uint32_t(cert.size()) - offset);
        ASSERT_EQ(0u, keyCmd.ReadCert(fid, uint16_t(offset), back.data() + offset, &len));
        ASSERT_GT(len, 0u);
        offset += len;
    }
    EXPECT_EQ(cert, back);

    std::vector<vk::RecordEntry> frames = Taken();
    ASSERT_EQ(5u, frames.size());
    EXPECT_EQ(0xA1, frames[0].p1);
    EXPECT_EQ(Cat(ByteVec(auth, auth + 16), {0, 0, uint8_t(fid >> 8), uint8_t(fid), 0, 0, 0x01, 0x00}),
              ByteVec(frames[0].data.begin(), frames[0].data.begin() + 24));
    EXPECT_EQ(0xB0, frames[1].p1);
    EXPECT_EQ(68u, frames[1].data.size());
    EXPECT_EQ(0x01, frames[1].data[20]);
    EXPECT_EQ(0x00, frames[1].data[21]);
    EXPECT_EQ(16, frames[2].le);
    EXPECT_EQ((ByteVec{0, 0, uint8_t(fid >> 8), uint8_t(fid), 0x01, 0x00}), frames[4].data);
    EXPECT_EQ(44, frames[4].le);
}

}  // namespace
