// The chip, flash and file command builders, frame by frame against a
// recording transport: headers, data, Le, chunking, and what each method
// makes of short, long and failing replies.
#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

#include "APDUChipNolt.h"
#include "APDUFile.h"
#include "RecordingTransport.h"

namespace {

using Bytes = std::vector<uint8_t>;

// 16-bit big-endian fields.
Bytes Be16(std::initializer_list<uint16_t> values) {
    Bytes out;
    for (uint16_t v : values) {
        out.push_back(uint8_t(v >> 8));
        out.push_back(uint8_t(v));
    }
    return out;
}
Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes Pattern(size_t n, uint8_t seed = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + i * 13);
    return b;
}

class FrameTest : public ::testing::Test {
protected:
    CDeviceInfo record;
    RecordingTransport key{record};
    CAPDUFile file{&record};
    CAPDUChip chip{&record};
    CAPDUChipNolt chipNolt{&record};
};

// Chunk flags and offsets of file writes: first chunk ORs in 0x01, more to
// come is 0xA0, the last 0xB0.
TEST_F(FrameTest, WriteFileChunksCarryFlagsOffsetsAndData) {
    struct Chunk {
        uint8_t p1;
        uint16_t offset;
        uint16_t length;
    };
    struct Case {
        uint32_t length;
        uint16_t offset;
        uint32_t result;
        std::vector<Chunk> chunks;
    };
    const Case cases[] = {
        {0, 0, 0, {}},
        {256, 0, 0, {{0xB1, 0x0000, 256}}},
        {257, 0x0100, 0, {{0xA1, 0x0100, 256}, {0xB0, 0x0200, 1}}},
        {600, 0, 0, {{0xA1, 0, 256}, {0xA0, 256, 256}, {0xB0, 512, 88}}},
        {65537, 0, 0x80070104, {}},
        {65536, 0, 0, {}},  // accepted: 256 chunks (counted below, not listed)
        // Offset plus length past 65535 is refused rather than wrapped to the start.
        {0x101, 0xFF00, 0x80070104, {}},
        {0x100, 0xFF00, 0, {{0xB1, 0xFF00, 256}}},
    };
    for (const Case& c : cases) {
        key.commands.clear();
        Bytes data = Pattern(c.length);
        ASSERT_EQ(c.result, file.WriteFile(0x1F02, c.offset, data.data(), c.length)) << c.length;
        if (c.length == 65536) {
            ASSERT_EQ(256u, key.commands.size());
            EXPECT_EQ(0xA1, key.commands.front().p1);
            EXPECT_EQ(0xB0, key.commands.back().p1);
            EXPECT_EQ(Cat(Be16({0, 0x1F02, 0xFF00, 256}), Bytes(data.end() - 256, data.end())),
                      key.commands.back().data);
            continue;
        }
        ASSERT_EQ(c.chunks.size(), key.commands.size()) << c.length;
        size_t at = 0;
        for (size_t i = 0; i < c.chunks.size(); ++i) {
            const RecordedCommand& cmd = key.commands[i];
            const Chunk& chunk = c.chunks[i];
            EXPECT_EQ(0xB0, cmd.cla);
            EXPECT_EQ(0x3A, cmd.ins);
            EXPECT_EQ(chunk.p1, cmd.p1) << c.length << " chunk " << i;
            EXPECT_EQ(0, cmd.p2);
            EXPECT_EQ(0, cmd.le);
            Bytes expected = Cat(Be16({0, 0x1F02, chunk.offset, chunk.length}),
                                 Bytes(data.begin() + long(at), data.begin() + long(at + chunk.length)));
            EXPECT_EQ(expected, cmd.data) << c.length << " chunk " << i;
            at += chunk.length;
        }
    }
}

TEST_F(FrameTest, WriteFileStopsAtTheFailingChunk) {
    key.Queue(0x9000);
    key.Queue(0x6A82);
    Bytes data = Pattern(600);
    EXPECT_EQ(0x80006A82u, file.WriteFile(1, 0, data.data(), 600));
    EXPECT_EQ(2u, key.commands.size());
}

TEST_F(FrameTest, ReadFileAsksForWhatIsStillWanted) {
    Bytes content = Pattern(300, 7);
    struct Case {
        const char* what;
        std::vector<size_t> replies;  // data bytes of each reply
        std::vector<uint16_t> les;    // Le of each command sent
        std::vector<uint16_t> offsets;
    };
    const Case cases[] = {
        {"whole chunks", {256, 44}, {256, 44}, {0x40, 0x40 + 256}},
        {"short first reply", {100, 200}, {256, 200}, {0x40, 0x40 + 100}},
        {"three short replies", {10, 256, 34}, {256, 256, 34}, {0x40, 0x40 + 10, 0x40 + 266}},
    };
    for (const Case& c : cases) {
        key.commands.clear();
        size_t at = 0;
        for (size_t n : c.replies) {
            key.Queue(0x9000, Bytes(content.begin() + long(at), content.begin() + long(at + n)));
            at += n;
        }
        Bytes out(300, 0);
        uint32_t length = 300;
        ASSERT_EQ(0u, file.ReadFile(0x0A00, 0x40, out.data(), &length)) << c.what;
        EXPECT_EQ(300u, length);
        EXPECT_EQ(content, out) << c.what;
        ASSERT_EQ(c.les.size(), key.commands.size()) << c.what;
        for (size_t i = 0; i < c.les.size(); ++i) {
            EXPECT_EQ(0xB0, key.commands[i].cla);
            EXPECT_EQ(0x38, key.commands[i].ins);
            EXPECT_EQ(0, key.commands[i].p1);
            EXPECT_EQ(c.les[i], key.commands[i].le) << c.what << " " << i;
            EXPECT_EQ(Be16({0, 0x0A00, c.offsets[i]}), key.commands[i].data) << c.what << " " << i;
        }
    }
}

TEST_F(FrameTest, ReadFileFailuresReportTheBytesReceived) {
    Bytes out(300);
    uint32_t length = 0;
    EXPECT_EQ(0u, file.ReadFile(1, 0, out.data(), &length));
    EXPECT_EQ(0u, length);
    EXPECT_TRUE(key.commands.empty());

    // The second chunk fails: its code, and the first chunk's bytes.
    key.Queue(0x9000, Pattern(256));
    key.Queue(0x6B00);
    length = 300;
    EXPECT_EQ(0x80006B00u, file.ReadFile(1, 0, out.data(), &length));
    EXPECT_EQ(256u, length);

    // A chunk that brings nothing ends the read instead of asking again for ever.
    key.commands.clear();
    key.Queue(0x9000, Pattern(100));
    key.Queue(0x9000, {});
    length = 300;
    EXPECT_EQ(0x80070026u, file.ReadFile(1, 0, out.data(), &length));
    EXPECT_EQ(100u, length);
    EXPECT_EQ(2u, key.commands.size());

    // Too much, or past offset 65535: refused before anything is sent.
    key.commands.clear();
    for (auto [offset, wanted] : {std::pair<uint16_t, uint32_t>{0, 65537}, {0xFFFF, 2}, {0x8000, 0x8001}}) {
        Bytes big(wanted);
        length = wanted;
        EXPECT_EQ(0x80070104u, file.ReadFile(1, offset, big.data(), &length)) << offset << "+" << wanted;
        EXPECT_EQ(0u, length);
    }
    EXPECT_TRUE(key.commands.empty());
    // A reply longer than asked fails in the command object.
    key.Queue(0x9000, Pattern(45));
    length = 44;
    EXPECT_EQ(0x80070103u, file.ReadFile(1, 0, out.data(), &length));
}

TEST_F(FrameTest, GetFileInfoChecksFlagAndRoom) {
    uint8_t out[20] = {};
    uint32_t length = 1;
    EXPECT_EQ(0x80070115u, file.GetFileInfo(0xA000, 2, out, &length));
    EXPECT_TRUE(key.commands.empty());

    key.Queue(0x9000, {0x01, 0x80});
    EXPECT_EQ(0x80070103u, file.GetFileInfo(0xA000, 0, out, &length));
    key.Queue(0x9000, {0x01, 0x80});
    length = 2;
    ASSERT_EQ(0u, file.GetFileInfo(0xA000, 0, out, &length));
    EXPECT_EQ(2u, length);
    EXPECT_EQ(0x01, out[0]);
    EXPECT_EQ(0x80, out[1]);
    key.Queue(0x9000, Pattern(20));
    length = 20;
    ASSERT_EQ(0u, file.GetFileInfo(0xA000, 1, out, &length));
    EXPECT_EQ(Pattern(20), Bytes(out, out + 20));

    // Existence test: no output, the key's answer decides.
    key.Queue(0x9000, {0x04, 0x00});
    EXPECT_EQ(0u, file.GetFileInfo(0xA000, 0, nullptr, nullptr));
    key.Queue(0xF102);
    EXPECT_EQ(0x8000F102u, file.GetFileInfo(0xA000, 0, nullptr, nullptr));

    ASSERT_EQ(5u, key.commands.size());
    const uint16_t les[] = {2, 2, 20, 2, 2};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(0x36, key.commands[i].ins);
        EXPECT_EQ(les[i], key.commands[i].le);
        EXPECT_EQ(Be16({0, 0xA000}), key.commands[i].data);
    }
    EXPECT_EQ(1, key.commands[2].p1);
}

// One row per single-command builder: the frame it sends.
TEST_F(FrameTest, SingleCommandFrames) {
    struct Case {
        const char* what;
        std::function<uint32_t()> call;
        uint8_t ins, p1;
        uint16_t le;
        Bytes data;
    };
    Bytes label = Pattern(32);
    Bytes sn = Pattern(16, 3);
    Bytes page = Pattern(256, 9);
    uint8_t out[2048];
    uint32_t outLen = 0;
    const Case cases[] = {
        {"SetTokenLabel", [&] { return chip.SetTokenLabel(label.data()); }, 0x02, 0, 0, label},
        {"SetTokenSN", [&] { return chip.SetTokenSN(sn.data(), 16); }, 0x03, 0, 0, sn},
        {"GetDevInfo", [&] { return chip.GetDevInfo(out, &outLen); }, 0x04, 0, 288, {}},
        {"GetTokenLabel", [&] { return chip.GetTokenLabel(out, &outLen); }, 0x04, 1, 32, {}},
        {"GetTokenSN", [&] { return chip.GetTokenSN(out, &outLen); }, 0x04, 2, 16, {}},
        {"GetChipSN", [&] { return chip.GetChipSN(out, &outLen); }, 0x04, 3, 16, {}},
        {"EraseFlash", [&] { return chip.EraseFlash(); }, 0xE1, 0, 0, {}},
        {"WriteFlash", [&] { return chip.WriteFlash(0x00012300, page.data()); }, 0xE2, 0, 0,
         Cat({0x00, 0x01, 0x23, 0x00}, page)},
        {"ReadFlash", [&] { return chip.ReadFlash(0x400, out); }, 0xE3, 0, 256, {0, 0, 4, 0}},
        // The family in use, reached through the base class's virtual slots.
        {"Nolt WriteFlash", [&] { return static_cast<CAPDUChip&>(chipNolt).WriteFlash(0x100, page.data()); }, 0xE9,
         0, 0, Cat({0, 0, 1, 0}, page)},
        {"Nolt ReadFlash", [&] { return static_cast<CAPDUChip&>(chipNolt).ReadFlash(0x400, out); }, 0xEA, 0, 2048,
         {0, 0, 4, 0}},
        {"CreateDataFile", [&] { return file.CreateDataFile(0xA000, 1024); }, 0x30, 0, 0, Be16({0, 0xA000, 1024})},
        {"DeleteDataFile", [&] { return file.DeleteDataFile(0xD020); }, 0x32, 0, 0, Be16({0, 0xD020})},
        {"OpenApplication", [&] { return file.OpenApplication(out, &outLen); }, 0x2A, 0, 72, Be16({0})},
    };
    for (const Case& c : cases) {
        key.commands.clear();
        ASSERT_EQ(0u, c.call()) << c.what;
        ASSERT_EQ(1u, key.commands.size()) << c.what;
        const RecordedCommand& cmd = key.commands[0];
        EXPECT_EQ(0xB0, cmd.cla) << c.what;
        EXPECT_EQ(c.ins, cmd.ins) << c.what;
        EXPECT_EQ(c.p1, cmd.p1) << c.what;
        EXPECT_EQ(0, cmd.p2) << c.what;
        EXPECT_EQ(c.le, cmd.le) << c.what;
        EXPECT_EQ(c.data, cmd.data) << c.what;
    }
}

TEST_F(FrameTest, ReplyHandlingOfTheChipReads) {
    // Serial number: the reply and its length.
    uint8_t out[288] = {};
    uint32_t outLen = 0;
    key.Queue(0x9000, Pattern(16));
    ASSERT_EQ(0u, chip.GetChipSN(out, &outLen));
    EXPECT_EQ(16u, outLen);
    EXPECT_EQ(Pattern(16), Bytes(out, out + 16));
    key.Queue(0x9000, Pattern(17));
    EXPECT_EQ(0x80070103u, chip.GetTokenSN(out, &outLen)) << "more than Le";

    // Serial numbers longer than 16 bytes are refused unsent.
    key.commands.clear();
    Bytes sn = Pattern(17);
    EXPECT_EQ(0x80070104u, chip.SetTokenSN(sn.data(), 17));
    EXPECT_TRUE(key.commands.empty());

    // Authentication key: fixed splits, zero where the reply fell short.
    uint8_t pub[132], sig[128];
    const Bytes sm2 = Pattern(128);
    key.Queue(0x9000, sm2);
    ASSERT_EQ(0u, chip.ExportAuthKey(19, pub, sig));
    EXPECT_EQ(128, key.commands.back().le);
    EXPECT_EQ(Bytes(sm2.begin(), sm2.begin() + 64), Bytes(pub, pub + 64));
    EXPECT_EQ(Bytes(sm2.begin() + 64, sm2.end()), Bytes(sig, sig + 64));
    const Bytes shortRsa = Pattern(200);
    for (uint8_t alg : {3, 4}) {
        key.Queue(0x9000, shortRsa);
        ASSERT_EQ(0u, chip.ExportAuthKey(alg, pub, sig));
        EXPECT_EQ(260, key.commands.back().le);
        EXPECT_EQ(0x07, key.commands.back().ins);
        EXPECT_EQ(Bytes(shortRsa.begin(), shortRsa.begin() + 132), Bytes(pub, pub + 132));
        EXPECT_EQ(Cat(Bytes(shortRsa.begin() + 132, shortRsa.end()), Bytes(60, 0)), Bytes(sig, sig + 128));
    }
    size_t sent = key.commands.size();
    EXPECT_EQ(0x80070114u, chip.ExportAuthKey(7, pub, sig));
    EXPECT_EQ(sent, key.commands.size());
}

}  // namespace
