#include "KeyCommandTestSupport.h"

#include <cstring>

void KeyCommandTest::SetUp() {
    VirtualKeyTest::SetUp();
    keyId = AddKey(19, &path);
    ASSERT_EQ(0u, session.Open(path));
    ASSERT_EQ(0u, session.Connect());
    ASSERT_EQ(0u, control.SetPinVerified(keyId, 1, auth));
    std::memcpy(session.record.m_abyAuthCode, auth, 16);
    session.record.m_nAuthCodeLen = 16;
    ASSERT_EQ(0u, control.ClearRecord(keyId));
}

void KeyCommandTest::TearDown() {
    session.Close();
    VirtualKeyTest::TearDown();
}

std::vector<vk::RecordEntry> KeyCommandTest::Taken() {
    std::vector<vk::RecordEntry> entries = Record(keyId);
    EXPECT_EQ(0u, control.ClearRecord(keyId));
    return entries;
}

ByteVec KeyCommandTest::Prefix(uint16_t fid) const {
    ByteVec p(auth, auth + 16);
    p.insert(p.end(), {0, 0, uint8_t(fid >> 8), uint8_t(fid)});
    return p;
}

uint16_t KeyCommandTest::ContainerWithSm2SignKey(const char* name) {
    EXPECT_EQ(0u, container.CreateContainer(auth, name));
    uint8_t record[8] = {};
    uint32_t len = 0;
    EXPECT_EQ(0u, container.OpenContainer(name, record, &len));
    const uint16_t base = uint16_t(record[2] << 8 | record[3]);
    EXPECT_EQ(0u, keyCmd.GenSm2KeyPair(auth, uint16_t(base | 2)));
    Taken();
    return base;
}

ByteVec Cat(ByteVec a, const ByteVec& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

ByteVec Bytes(const uint8_t* p, size_t n) { return ByteVec(p, p + n); }
