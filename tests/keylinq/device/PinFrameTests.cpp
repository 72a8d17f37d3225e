// The PIN, authentication and session command builders, frame by frame
// against a recording transport that removes secure messaging as the key
// does: where each family puts the PIN type, what is protected, and the
// bounds of challenge replies and responses.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "APDUPinNolt.h"
#include "RecordingTransport.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t n, uint8_t seed = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + i * 29);
    return b;
}
Bytes ZeroThen(const Bytes& data) {
    Bytes out(2 + data.size(), 0);
    std::copy(data.begin(), data.end(), out.begin() + 2);
    return out;
}

class PinFrameTest : public ::testing::Test {
protected:
    CDeviceInfo record;
    RecordingTransport key{record};
    CAPDUPin pin{&record};
    CAPDUPinNolt pinNolt{&record};
};

TEST_F(PinFrameTest, SessionProbeNeedsASessionAndIsProtected) {
    EXPECT_EQ(0x80070107u, pin.CheckSessionKey());
    EXPECT_TRUE(key.commands.empty());
    key.StartSession();
    key.Queue(0x9000, {10, 9, 1, 0});
    EXPECT_EQ(0u, pin.CheckSessionKey());
    ASSERT_EQ(1u, key.commands.size());
    const RecordedCommand& c = key.commands[0];
    EXPECT_EQ((Bytes{0xB4, 0x14, 0x00, 0x00}), (Bytes{c.cla, c.ins, c.p1, c.p2}));
    EXPECT_EQ(4, c.le);
    EXPECT_EQ((Bytes{0, 0}), c.data);
    key.Queue(0x6988);
    EXPECT_EQ(0x80006988u, pin.CheckSessionKey());
}

TEST_F(PinFrameTest, PinStatusWritesOnlyTheOutputsGiven) {
    key.StartSession();
    key.Queue(0x9000, {10, 7, 1, 0x20});
    uint8_t out0 = 0xEE, out1 = 0xEE, out2 = 0xEE, out3 = 0xEE;
    ASSERT_EQ(0u, pin.GetPINStatus(1, &out0, nullptr, &out2, nullptr));
    EXPECT_EQ(10, out0);
    EXPECT_EQ(1, out2);
    EXPECT_EQ(0xEE, out1);
    EXPECT_EQ(0xEE, out3);
    EXPECT_EQ(1, key.commands[0].p2);
    key.Queue(0x9000, {10, 7, 1, 0x20});
    ASSERT_EQ(0u, pin.GetPINStatus(0, &out0, &out1, &out2, &out3));
    EXPECT_EQ(7, out1);
    EXPECT_EQ(0x20, out3);
}

// Verify and change: the family in use carries the PIN type in the
// challenge's P2, the base family in the response's.
TEST_F(PinFrameTest, PinTypePlacementOfBothFamilies) {
    key.StartSession();
    uint8_t challenge[16], pub[132], code[16];
    uint32_t codeLen = 0;
    Bytes block = Pattern(128);
    Bytes reset = Pattern(130, 3);
    struct Case {
        const char* what;
        std::function<uint32_t()> call;
        uint8_t ins, p1, p2;
        uint16_t le;
        Bytes data;
    };
    const Case cases[] = {
        {"Nolt challenge (change, user)", [&] { return pinNolt.GetChallengeCode(0x16, 1, challenge, pub); }, 0x16, 0,
         1, 148, {0, 0}},
        {"Nolt challenge (verify, admin)", [&] { return pinNolt.GetChallengeCode(0x18, 0, challenge, pub); }, 0x18, 0,
         0, 148, {0, 0}},
        {"base challenge (change)", [&] { return pin.GetChallengeCode(0x16, challenge, pub); }, 0x16, 0, 0, 148,
         {0, 0}},
        {"Nolt verify response", [&] { return pinNolt.VerifyPIN_Response(block.data(), 128, code, &codeLen); }, 0x18,
         1, 0, 16, ZeroThen(block)},
        {"base verify response (user)",
         [&] { return pin.VerifyPIN_Response(1, block.data(), 128, code, &codeLen); }, 0x18, 1, 1, 16,
         ZeroThen(block)},
        {"Nolt change response", [&] { return pinNolt.ChangePIN_Response(block.data(), 128); }, 0x16, 1, 0, 0,
         ZeroThen(block)},
        {"base change response (user)", [&] { return pin.ChangePIN_Response(1, block.data(), 128); }, 0x16, 1, 1, 0,
         ZeroThen(block)},
        {"reset response (step 3)", [&] { return pin.ResetResponse(0x2B, 1, reset.data(), 130); }, 0x2B, 1, 1, 0,
         ZeroThen(reset)},
    };
    for (const Case& c : cases) {
        key.commands.clear();
        ASSERT_EQ(0u, c.call()) << c.what;
        ASSERT_EQ(1u, key.commands.size()) << c.what;
        const RecordedCommand& cmd = key.commands[0];
        EXPECT_EQ(0xB4, cmd.cla) << c.what;
        EXPECT_EQ(c.ins, cmd.ins) << c.what;
        EXPECT_EQ(c.p1, cmd.p1) << c.what;
        EXPECT_EQ(c.p2, cmd.p2) << c.what;
        EXPECT_EQ(c.le, cmd.le) << c.what;
        EXPECT_EQ(c.data, cmd.data) << c.what;
    }
}

TEST_F(PinFrameTest, ChallengeAndResponseReplies) {
    key.StartSession();
    uint8_t challenge[16], pub[132];
    Bytes reply = Pattern(148);
    key.Queue(0x9000, reply);
    ASSERT_EQ(0u, pinNolt.GetChallengeCode(0x18, 1, challenge, pub));
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 16), Bytes(challenge, challenge + 16));
    EXPECT_EQ(Bytes(reply.begin() + 16, reply.end()), Bytes(pub, pub + 132));
    key.Queue(0x9000, Pattern(149));
    EXPECT_EQ(0x80070103u, pin.GetChallengeCode(0x18, challenge, pub));

    // The verify response's reply is the authorisation code.
    uint8_t code[16];
    uint32_t codeLen = 0;
    key.Queue(0x9000, Pattern(16, 5));
    Bytes block = Pattern(128);
    ASSERT_EQ(0u, pinNolt.VerifyPIN_Response(block.data(), 128, code, &codeLen));
    EXPECT_EQ(16u, codeLen);
    EXPECT_EQ(Pattern(16, 5), Bytes(code, code + 16));
    key.Queue(0x63C3);
    EXPECT_EQ(0x800063C3u, pin.VerifyPIN_Response(1, block.data(), 128, code, &codeLen));

    // A response longer than the command's 256 bytes (0x0000 and 254) is refused unsent.
    key.commands.clear();
    Bytes big = Pattern(255);
    EXPECT_EQ(0x80070057u, pinNolt.VerifyPIN_Response(big.data(), 255, code, &codeLen));
    EXPECT_EQ(0x80070057u, pin.ChangePIN_Response(1, big.data(), 255));
    EXPECT_EQ(0x80070057u, pin.ResetResponse(0x1A, 0, big.data(), 255));
    EXPECT_TRUE(key.commands.empty());
    EXPECT_EQ(0u, pinNolt.ChangePIN_Response(big.data(), 254));
    EXPECT_EQ(256u, key.commands.back().data.size());
}

TEST_F(PinFrameTest, PlainAuthenticationAndSessionFrames) {
    uint8_t challenge[16];
    uint32_t length = 0;
    key.Queue(0x9000, Pattern(16));
    ASSERT_EQ(0u, pin.ExternalAuth_Request(challenge, &length));
    EXPECT_EQ(16u, length);
    Bytes cryptogram = Pattern(32);
    ASSERT_EQ(0u, pin.ExternalAuth_Response(cryptogram.data(), 32));
    Bytes wrapped = Pattern(113);
    ASSERT_EQ(0u, pin.SetSessionKey(wrapped.data(), 113));
    ASSERT_EQ(0u, pin.ClearAuthCode());
    ASSERT_EQ(4u, key.commands.size());
    const struct {
        uint8_t ins, p1;
        uint16_t le;
        Bytes data;
    } expected[] = {{0x10, 0, 16, {}}, {0x10, 1, 0, cryptogram}, {0x0A, 0, 0, wrapped}, {0x1C, 0, 0, {0, 0}}};
    for (size_t i = 0; i < 4; ++i) {
        const RecordedCommand& c = key.commands[i];
        EXPECT_EQ(0xB0, c.cla) << i;
        EXPECT_EQ(expected[i].ins, c.ins) << i;
        EXPECT_EQ(expected[i].p1, c.p1) << i;
        EXPECT_EQ(0, c.p2) << i;
        EXPECT_EQ(expected[i].le, c.le) << i;
        EXPECT_EQ(expected[i].data, c.data) << i;
    }
    // Lengths a 16-bit field cannot carry are refused, not cut.
    Bytes huge(0x10000, 1);
    EXPECT_EQ(0x80070057u, pin.ExternalAuth_Response(huge.data(), 0x10000));
    EXPECT_EQ(0x80070057u, pin.SetSessionKey(huge.data(), 0x10000));
    EXPECT_EQ(4u, key.commands.size());
}

}  // namespace
