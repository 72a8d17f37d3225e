// Containers and the operation log against the virtual key: the name list
// and its sizes, the record cache, the file ids, and the ring of 64 log
// entries in file 0xA000.
#include "ContainerRecord.h"
#include "KeyLog.h"
#include "NoltOperatorTestSupport.h"

namespace {

constexpr uint32_t CMD_LIST = 0xB04601;   // CLA INS P1 of the list command
constexpr uint32_t CMD_OPEN = 0xB04A00;

// A 50-byte record as the key lists it.
Bytes ListRecord(const std::string& name, uint8_t nameLen, uint16_t base) {
    Bytes r(50, 0);
    r[0] = 1;
    r[2] = uint8_t(base >> 8);
    r[3] = uint8_t(base);
    r[9] = nameLen;
    for (size_t i = 0; i < name.size() && i < 40; ++i) r[10 + i] = uint8_t(name[i]);
    return r;
}

uint32_t g_now = 0;
uint32_t TestClock() { return g_now; }

class ContainerTest : public NoltOperatorTest {
protected:
    void SetUp() override {
        NoltOperatorTest::SetUp();
        OpenNoltKey();
        PinVerifiedByControl();
        previousClock = SetKeyLogClock(TestClock);
    }
    void TearDown() override {
        SetKeyLogClock(previousClock);
        NoltOperatorTest::TearDown();
    }
    Bytes List(uint32_t size) {
        Bytes list(size, 0);
        uint32_t len = size;
        EXPECT_EQ(0u, op->EnumContainer(reinterpret_cast<char*>(list.data()), &len, 0));
        EXPECT_EQ(size, len);
        return list;
    }
    Bytes LogFile() {
        Bytes file(KEY_LOG_FILE_LEN);
        uint32_t len = KEY_LOG_FILE_LEN;
        EXPECT_EQ(0u, op->ReadCosFile(0, KEY_LOG_FILE_ID, file.data(), &len));
        return file;
    }
    uint8_t Sequence(const Bytes& file, uint32_t entry) { return file[entry * 16]; }
    KeyLogClock previousClock = nullptr;
};

TEST_F(ContainerTest, NameListOfTwoContainersAndItsSizes) {
    uint32_t size = 99;
    ASSERT_EQ(0u, op->EnumContainer(nullptr, &size, 0));
    EXPECT_EQ(0u, size);
    EXPECT_EQ(0u, op->EnumContainer(reinterpret_cast<char*>(&size), &size, 0));  // empty cache: nothing written
    EXPECT_EQ(0u, size);

    ASSERT_EQ(0u, op->CreateContainer("AB"));
    ASSERT_EQ(0u, op->CreateContainer("XYZ"));
    ASSERT_EQ(0u, op->EnumContainer(nullptr, &size, 0));
    EXPECT_EQ(8u, size);
    EXPECT_EQ(B(std::string("AB\0XYZ\0\0", 8)), List(8));

    // A list smaller than the names is refused and told the size.
    char small[7] = {};
    uint32_t len = sizeof small;
    EXPECT_EQ(0x80070103u, op->EnumContainer(small, &len, 0));
    EXPECT_EQ(8u, len);
    EXPECT_EQ(0x80070101u, op->EnumContainer(nullptr, nullptr, 0));

    // Each creation was logged.
    Bytes log = LogFile();
    EXPECT_EQ(0, Sequence(log, 0));
    EXPECT_EQ(1, Sequence(log, 1));
    EXPECT_STREQ("CreCtnr", reinterpret_cast<const char*>(&log[17]));
}

TEST_F(ContainerTest, FullListOfFiveAndNameLengthsClampedToTheField) {
    Bytes reply;
    const char* names[] = {"one", "two", "three", "four", "a-name-that-fills-the-whole-field-40chr"};
    for (int i = 0; i < 5; ++i) {
        std::string name = names[i];
        // The last record claims a name far longer than its field.
        Bytes r = ListRecord(name, i == 4 ? 200 : uint8_t(name.size()), uint16_t(0x1F00 + 0x1000 * i));
        reply.insert(reply.end(), r.begin(), r.end());
    }
    reply.resize(256, 0xEE);  // six bytes that are not a record
    ASSERT_EQ(0u, control.ForceReply(keyId, 0x46, 0x9000, reply));
    uint32_t size = 0;
    ASSERT_EQ(0u, op->EnumContainer(nullptr, &size, 0));
    const uint32_t expected = 4 + 4 + 6 + 5 + 41 + 1;
    EXPECT_EQ(expected, size);
    Bytes list = List(expected);
    EXPECT_EQ(0, std::memcmp(list.data(), "one\0two\0three\0four\0", 19));
    EXPECT_EQ(0, std::memcmp(list.data() + 19, names[4], 39));

    CONTAINER_RECORD rec = {};
    std::strcpy(rec.szName, "four");
    ASSERT_EQ(0u, op->ReadContainer(&rec, 1));
    EXPECT_EQ(0x4F, rec.header.abyFileIDBase[0]);
}

TEST_F(ContainerTest, ReadContainerOpensOnceAndGivesFileIds) {
    ASSERT_EQ(0u, op->CreateContainer("C1"));
    uint8_t alg = 0xEE;
    uint16_t keyFid = 0, certFid = 0;
    EXPECT_EQ(0x8007020Cu, op->GetContainerInfo("C1", 1, &alg, &keyFid, &certFid, 1));
    EXPECT_EQ(0xEE, alg);

    Clear();
    CONTAINER_RECORD rec = {};
    std::strcpy(rec.szName, "C1");
    ASSERT_EQ(0u, op->ReadContainer(&rec, 0));
    ASSERT_EQ(0u, op->ReadContainer(&rec, 0));
    EXPECT_EQ(std::vector<uint32_t>{CMD_OPEN}, Sent());
    EXPECT_EQ(2, rec.header.byNameLen);

    // The key's first slot has base 0x1F00.
    ASSERT_EQ(0u, op->UpdateContainerKeyType("C1", 1, 7));
    ASSERT_EQ(0u, op->GetContainerInfo("C1", 1, &alg, &keyFid, &certFid, 1));
    EXPECT_EQ(7, alg);
    EXPECT_EQ(0x1F01, keyFid);
    EXPECT_EQ(0x1F01, certFid);
    EXPECT_EQ(1, op->FindCachedContainer("C1")->header.byType);
    ASSERT_EQ(0u, op->UpdateContainerKeyType("C1", 2, 17));
    ASSERT_EQ(0u, op->GetContainerInfo("C1", 2, &alg, &keyFid, nullptr, 1));
    EXPECT_EQ(17, alg);
    EXPECT_EQ(0x1F02, keyFid);
    EXPECT_EQ(2, op->FindCachedContainer("C1")->header.byType);
    ASSERT_EQ(0u, op->UpdateContainerCertFlag("C1", 2));
    EXPECT_EQ(1, op->FindCachedContainer("C1")->header.bySignCertFlag);
    EXPECT_EQ(0u, op->UpdateContainerKeyType("none", 2, 17));
    EXPECT_EQ(0x80070101u, op->UpdateContainerCertFlag(nullptr, 2));

    // Names must fit the record's field; an unknown one is the key's 6A88.
    const std::string longName(40, 'n');
    EXPECT_EQ(0x8007020Cu, op->CreateContainer(longName.c_str()));
    std::strcpy(rec.szName, "nope");
    EXPECT_EQ(0x80006A88u, op->ReadContainer(&rec, 0));
    EXPECT_EQ(0x80070101u, op->ReadContainer(nullptr, 0));
}

TEST_F(ContainerTest, DeleteDropsOnlyTheFirstCachedRecordOfTheName) {
    ASSERT_EQ(0u, op->CreateContainer("A"));
    Bytes twice = ListRecord("A", 1, 0x1F00);
    Bytes second = ListRecord("A", 1, 0x2F00);
    twice.insert(twice.end(), second.begin(), second.end());
    ASSERT_EQ(0u, control.ForceReply(keyId, 0x46, 0x9000, twice));
    uint32_t size = 0;
    ASSERT_EQ(0u, op->EnumContainer(nullptr, &size, 0));
    EXPECT_EQ(5u, size);
    ASSERT_EQ(0u, op->DeleteContainer("A"));
    CONTAINER_RECORD* left = op->FindCachedContainer("A");
    ASSERT_NE(nullptr, left);
    EXPECT_EQ(0x2F, left->header.abyFileIDBase[0]);
    EXPECT_EQ(0x80006A88u, op->DeleteContainer("A"));  // gone from the key
    EXPECT_NE(nullptr, op->FindCachedContainer("A"));   // a failed delete keeps the cache
}

TEST_F(ContainerTest, LogRingFromANewFile) {
    for (uint32_t n = 1; n <= 66; ++n) {
        g_now = 0x11223300 + n;
        ASSERT_EQ(0u, op->RecordVemuLog("RstApp")) << n;
        if (n == 3) {
            Bytes log = LogFile();
            for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(i, Sequence(log, i));
            EXPECT_EQ(0xFF, Sequence(log, 3));  // a new file is marked empty throughout
            EXPECT_STREQ("RstApp", reinterpret_cast<const char*>(&log[2 * 16 + 1]));
            EXPECT_EQ(Bytes({0x03, 0x33, 0x22, 0x11}), Bytes(log.begin() + 44, log.begin() + 48));
        }
        if (n == 65) {
            EXPECT_EQ(64, Sequence(LogFile(), 0));
        }
    }
    Bytes log = LogFile();
    EXPECT_EQ(64, Sequence(log, 0));
    EXPECT_EQ(65, Sequence(log, 1));
    EXPECT_EQ(2, Sequence(log, 2));
}

TEST_F(ContainerTest, LogSequenceWrapsAndTheOldestIsStillFound) {
    // Newest 254 in entry 10, the oldest (191) in entry 11.
    Bytes file(KEY_LOG_FILE_LEN, 0);
    for (uint32_t i = 0; i < 64; ++i) file[i * 16] = uint8_t(i <= 10 ? 244 + i : 191 + (i - 11));
    ASSERT_EQ(0u, op->CreateCosFile(KEY_LOG_FILE_ID, KEY_LOG_FILE_LEN));
    ASSERT_EQ(0u, op->WriteCosFile(0, KEY_LOG_FILE_ID, file.data(), KEY_LOG_FILE_LEN));
    ASSERT_EQ(0u, op->RecordVemuLog("ChgPin"));
    ASSERT_EQ(0u, op->RecordVemuLog("UnlkPin"));
    Bytes log = LogFile();
    EXPECT_EQ(254, Sequence(log, 10));
    EXPECT_EQ(0, Sequence(log, 11));
    EXPECT_EQ(1, Sequence(log, 12));
    EXPECT_EQ(193, Sequence(log, 13));
    EXPECT_STREQ("UnlkPin", reinterpret_cast<const char*>(&log[12 * 16 + 1]));
}

TEST_F(ContainerTest, LogOnAnAllZeroFileRewritesEntryZero) {
    ASSERT_EQ(0u, op->CreateCosFile(KEY_LOG_FILE_ID, KEY_LOG_FILE_LEN));
    ASSERT_EQ(0u, op->RecordVemuLog("ChgPin"));
    ASSERT_EQ(0u, op->RecordVemuLog("ChgPin"));
    Bytes log = LogFile();
    EXPECT_EQ(1, Sequence(log, 0));
    EXPECT_EQ(0, Sequence(log, 1));
}

TEST_F(ContainerTest, LogFileStillMissingAfterItsCreationEndsTheAppend) {
    // Info (missing), create, four write chunks, then the second info
    // request is answered "missing" as well: one try only.
    ASSERT_EQ(0u, control.FailCommandAt(keyId, 7, 0xF102));
    EXPECT_EQ(0x8000F102u, op->RecordVemuLog("ChgPin"));
    std::vector<uint32_t> sent = Sent();
    ASSERT_EQ(7u, sent.size());
    EXPECT_EQ(0xB03600u, sent[6]);
    EXPECT_EQ(0xB03000u, sent[1]);
}

}  // namespace
