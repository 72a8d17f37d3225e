// The application's files through Keylinq.dll against the virtual key. The
// data files behind them are read back raw with SKF_Transmit, and the key's
// record shows what was sent.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "HostPaths.h"
#include "KeylinqLibrary.h"
#include "SKFTestSupport.h"

namespace {

constexpr ULONG kAnyone = 0xFF;
constexpr ULONG kUser = 0x10;
constexpr uint8_t INS_WRITE_FILE = 0x3A;
constexpr uint8_t INS_CREATE_FILE = 0x30;

std::vector<BYTE> Pattern(size_t n, BYTE seed) {
    std::vector<BYTE> data(n);
    for (size_t i = 0; i < n; ++i) data[i] = BYTE(seed + i * 7 + (i >> 8));
    return data;
}

class SKFFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, k.missing);
        ASSERT_EQ(SAR_OK, key.Open());
    }

    ULONG Create(const char* name, ULONG size, ULONG readRights = kAnyone) {
        std::string text(name);
        return k.SKF_CreateFile(key.app, &text[0], size, readRights, kAnyone);
    }
    ULONG Write(const char* name, const std::vector<BYTE>& data, HAPPLICATION app = nullptr) {
        std::string text(name);
        std::vector<BYTE> copy(data.empty() ? 1 : data.size());
        if (!data.empty()) memcpy(copy.data(), data.data(), data.size());
        return k.SKF_WriteFile(app ? app : key.app, &text[0], 0, copy.data(), ULONG(data.size()));
    }
    ULONG Delete(const char* name, HAPPLICATION app = nullptr) {
        std::string text(name);
        return k.SKF_DeleteFile(app ? app : key.app, &text[0]);
    }
    std::vector<BYTE> Read(const char* name, ULONG* rc, HAPPLICATION app = nullptr) {
        std::string text(name);
        ULONG len = 0;
        *rc = k.SKF_ReadFile(app ? app : key.app, &text[0], 0, 0, nullptr, &len);
        if (*rc != SAR_OK) return {};
        std::vector<BYTE> data(len + 1, 0xEE);
        *rc = k.SKF_ReadFile(app ? app : key.app, &text[0], 0, len, data.data(), &len);
        data.resize(*rc == SAR_OK ? len : 0);
        return data;
    }
    std::vector<std::string> List(ULONG* rc, HAPPLICATION app = nullptr) {
        ULONG size = 0;
        *rc = k.SKF_EnumFiles(app ? app : key.app, nullptr, &size);
        if (*rc != SAR_OK) return {};
        std::vector<char> list(size + 1, 'x');
        *rc = k.SKF_EnumFiles(app ? app : key.app, list.data(), &size);
        return SplitNameList(list.data(), size);
    }
    // A data file of the key as the key itself reads it (plain B0 38).
    std::vector<BYTE> RawFile(uint16_t id, uint32_t size) {
        std::vector<BYTE> content;
        while (content.size() < size) {
            const uint16_t offset = uint16_t(content.size());
            const uint16_t ask = uint16_t(size - content.size() > 256 ? 256 : size - content.size());
            std::vector<BYTE> command = {0xB0, INS_READ_FILE, 0, 0, 0, 6, BYTE(ask >> 8), BYTE(ask),
                                         0, 0, BYTE(id >> 8), BYTE(id), BYTE(offset >> 8), BYTE(offset)};
            std::vector<BYTE> reply(4 + 256);
            ULONG len = ULONG(reply.size());
            EXPECT_EQ(SAR_OK, k.SKF_Transmit(key.dev, command.data(), ULONG(command.size()), reply.data(), &len));
            if (len < 4 || reply[0] != 0x90) {
                ADD_FAILURE() << "read of file " << std::hex << id << " answered " << int(reply[0]) << int(reply[1]);
                break;
            }
            const size_t n = size_t(reply[2]) << 8 | reply[3];
            if (n == 0) break;
            content.insert(content.end(), reply.begin() + 4, reply.begin() + 4 + n);
        }
        return content;
    }
    // The key's answer for the size of a data file: 0x9000 and its size,
    // or the status word.
    uint16_t RawFileSize(uint16_t id, uint32_t* size) {
        std::vector<BYTE> command = {0xB0, 0x36, 0, 0, 0, 4, 0, 2, 0, 0, BYTE(id >> 8), BYTE(id)};
        std::vector<BYTE> reply(64);
        ULONG len = ULONG(reply.size());
        EXPECT_EQ(SAR_OK, k.SKF_Transmit(key.dev, command.data(), ULONG(command.size()), reply.data(), &len));
        *size = len >= 6 ? uint32_t(reply[4]) << 8 | reply[5] : 0;
        return uint16_t(reply[0] << 8 | reply[1]);
    }
    void RawWrite(uint16_t id, uint16_t offset, const std::vector<BYTE>& bytes) {
        const size_t n = bytes.size();
        const size_t lc = 8 + n;
        const BYTE head[] = {0xB0, INS_WRITE_FILE, 0xB1, 0, BYTE(lc >> 8), BYTE(lc), 0, 0, 0, 0, BYTE(id >> 8),
                             BYTE(id), BYTE(offset >> 8), BYTE(offset), BYTE(n >> 8), BYTE(n)};
        std::vector<BYTE> command(head, head + sizeof head);
        for (BYTE b : bytes) command.push_back(b);
        std::vector<BYTE> reply(64);
        ULONG len = ULONG(reply.size());
        ASSERT_EQ(SAR_OK, k.SKF_Transmit(key.dev, command.data(), ULONG(command.size()), reply.data(), &len));
        ASSERT_EQ(0x90, reply[0]);
    }

    KeylinqLibrary& k = Keylinq();
    VirtualKeyControl control;
    KeySession<KeylinqLibrary> key{k, control, AddFreshKey(control)};
};

TEST_F(SKFFiles, FreshKeyHasNoFilesAndTheRecordFileComesWithTheFirst) {
    uint32_t size = 0;
    EXPECT_EQ(0xF102, RawFileSize(0xD000, &size));  // no record file yet
    ULONG rc = 0;
    ULONG listSize = 77;
    EXPECT_EQ(SAR_OK, k.SKF_EnumFiles(key.app, nullptr, &listSize));
    EXPECT_EQ(0u, listSize);
    EXPECT_TRUE(List(&rc).empty());
    ULONG readLen = 5;
    char missing[] = "missing";
    EXPECT_EQ(SAR_FILE_NOT_EXIST, k.SKF_ReadFile(key.app, missing, 0, 0, nullptr, &readLen));
    EXPECT_EQ(0u, readLen);
    FILEATTRIBUTE info;
    EXPECT_EQ(SAR_FILE_NOT_EXIST, k.SKF_GetFileInfo(key.app, missing, &info));
    EXPECT_EQ(SAR_FILE_NOT_EXIST, Delete("missing"));

    ASSERT_EQ(SAR_OK, Create("a", 10));
    EXPECT_EQ(0x9000, RawFileSize(0xD000, &size));
    EXPECT_EQ(592u, size);
    EXPECT_EQ(0x9000, RawFileSize(0xD020, &size));
    EXPECT_EQ(10u, size);
}

TEST_F(SKFFiles, ContentsReadBackAsThePartsOfTheirDataFiles) {
    // Created with 100 bytes, written with 40: the 40 bytes and the rest of
    // the key's file.
    ASSERT_EQ(SAR_OK, Create("f100", 100));
    const std::vector<BYTE> forty = Pattern(40, 1);
    ASSERT_EQ(SAR_OK, Write("f100", forty));
    ULONG rc = 0;
    std::vector<BYTE> expected = forty;
    expected.resize(100, 0);
    EXPECT_EQ(expected, Read("f100", &rc));

    // Contents of 1 to 7 bytes read back.
    for (ULONG n : {1u, 5u, 7u}) {
        const std::string name = "short" + std::to_string(n);
        ASSERT_EQ(SAR_OK, Create(name.c_str(), n));
        ASSERT_EQ(SAR_OK, Write(name.c_str(), Pattern(n, BYTE(n))));
        EXPECT_EQ(Pattern(n, BYTE(n)), Read(name.c_str(), &rc)) << n;
        EXPECT_EQ(SAR_OK, rc);
        ASSERT_EQ(SAR_OK, Delete(name.c_str()));
    }

    // A raw content that begins with "PELQ" stays raw unless it spans files.
    const std::vector<BYTE> pelq = {'P', 'E', 'L', 'Q', 100, 0, 0, 0, 9, 9};
    ASSERT_EQ(SAR_OK, Create("pelq", ULONG(pelq.size())));
    ASSERT_EQ(SAR_OK, Write("pelq", pelq));
    EXPECT_EQ(pelq, Read("pelq", &rc));

    // A whole data file that begins with "PELQ" and a length that no
    // content of several files can have (here one that wraps with the
    // header's 8 bytes) is raw content too.
    std::vector<BYTE> wrap = Pattern(24576, 9);
    memcpy(wrap.data(), "PELQ\xFC\xFF\xFF\xFF", 8);
    ASSERT_EQ(SAR_OK, Create("wrap", ULONG(wrap.size())));
    ASSERT_EQ(SAR_OK, Write("wrap", wrap));
    EXPECT_EQ(wrap, Read("wrap", &rc));
    FILEATTRIBUTE wrapInfo;
    char wrapName[] = "wrap";
    ASSERT_EQ(SAR_OK, k.SKF_GetFileInfo(key.app, wrapName, &wrapInfo));
    EXPECT_EQ(24576u, wrapInfo.FileSize);
    ASSERT_EQ(SAR_OK, Delete("wrap"));

    // Offset and size are not looked at; a buffer one byte short is refused
    // with the whole length.
    char name[] = "f100";
    std::vector<BYTE> out(100);
    ULONG len = 99;
    EXPECT_EQ(SAR_BUFFER_TOO_SMALL, k.SKF_ReadFile(key.app, name, 0, 100, out.data(), &len));
    EXPECT_EQ(100u, len);
    len = 100;
    EXPECT_EQ(SAR_OK, k.SKF_ReadFile(key.app, name, 17, 3, out.data(), &len));
    EXPECT_EQ(expected, out);
    BYTE one = 1;
    EXPECT_EQ(SAR_INVALIDPARAMERR, k.SKF_WriteFile(key.app, name, 1, &one, 1));

    FILEATTRIBUTE info;
    memset(&info, 0xCC, sizeof info);
    ASSERT_EQ(SAR_OK, k.SKF_GetFileInfo(key.app, name, &info));
    EXPECT_EQ(0, memcmp(info.FileName, "f100\0\0\0\0", 8));
    EXPECT_EQ(100u, info.FileSize);
    EXPECT_EQ(kAnyone, info.ReadRights);
    EXPECT_EQ(kAnyone, info.WriteRights);
}

TEST_F(SKFFiles, ListingNamingAndRoom) {
    ULONG rc = 0;
    ASSERT_EQ(SAR_OK, Create("a", 8));
    ASSERT_EQ(SAR_OK, Create("bc", 8, kUser));
    ULONG size = 0;
    ASSERT_EQ(SAR_OK, k.SKF_EnumFiles(key.app, nullptr, &size));
    EXPECT_EQ(6u, size);
    char list[8];
    memset(list, 'x', sizeof list);
    size = 5;
    EXPECT_EQ(SAR_BUFFER_TOO_SMALL, k.SKF_EnumFiles(key.app, list, &size));
    EXPECT_EQ(6u, size);
    ASSERT_EQ(SAR_OK, k.SKF_EnumFiles(key.app, list, &size));
    EXPECT_EQ(0, memcmp(list, "a\0bc\0\0", 6));
    FILEATTRIBUTE info;
    char bc[] = "bc";
    ASSERT_EQ(SAR_OK, k.SKF_GetFileInfo(key.app, bc, &info));
    EXPECT_EQ(kUser, info.ReadRights);  // only reported: reading asks for no PIN
    EXPECT_EQ(kUser, info.WriteRights);
    EXPECT_EQ(8u, Read("bc", &rc).size());
    EXPECT_EQ(SAR_OK, rc);

    // Names compare whole: seal and seal2 are two files, sea a third.
    ASSERT_EQ(SAR_OK, Create("seal2", 8));
    ASSERT_EQ(SAR_OK, Write("seal2", Pattern(8, 2)));
    ASSERT_EQ(SAR_OK, Create("seal", 8));
    ASSERT_EQ(SAR_OK, Write("seal", Pattern(8, 1)));
    EXPECT_EQ(Pattern(8, 1), Read("seal", &rc));
    EXPECT_EQ(SAR_FILE_ALREADY_EXIST, Create("seal", 8));
    EXPECT_EQ(SAR_NO_ROOM, Create("sea", 8));  // four records in use
    ASSERT_EQ(SAR_OK, Delete("a"));
    EXPECT_EQ(SAR_OK, Create("sea", 8));
    EXPECT_EQ((std::vector<std::string>{"sea", "bc", "seal2", "seal"}), List(&rc));

    char longName[] = "abcdefghijklmnopqrstuvwxyz0123456";  // 33
    EXPECT_EQ(SAR_NAMELENERR, k.SKF_CreateFile(key.app, longName, 8, kAnyone, kAnyone));
}

TEST_F(SKFFiles, ContentsAcrossDataFilesAndTheirLimits) {
    ULONG rc = 0;
    // 24576 bytes: one data file, stored raw.
    const std::vector<BYTE> one = Pattern(24576, 3);
    ASSERT_EQ(SAR_OK, Create("one", ULONG(one.size())));
    ASSERT_EQ(SAR_OK, Write("one", one));
    EXPECT_EQ(one, RawFile(0xD020, 24576));
    uint32_t size = 0;
    EXPECT_EQ(0xF102, RawFileSize(0xD021, &size));
    EXPECT_EQ(one, Read("one", &rc));
    ASSERT_EQ(SAR_OK, Delete("one"));

    // 24577 bytes: the header and 24568 bytes, then 9 bytes.
    const std::vector<BYTE> two = Pattern(24577, 5);
    ASSERT_EQ(SAR_OK, Create("two", ULONG(two.size())));
    ASSERT_EQ(SAR_OK, Write("two", two));
    const std::vector<BYTE> first = RawFile(0xD020, 24576);
    ASSERT_EQ(24576u, first.size());
    EXPECT_EQ(0, memcmp(first.data(), "PELQ\x01\x60\x00\x00", 8));  // 24577 little-endian
    EXPECT_TRUE(std::equal(two.begin(), two.begin() + 24568, first.begin() + 8));
    EXPECT_EQ(0x9000, RawFileSize(0xD021, &size));
    EXPECT_EQ(9u, size);
    EXPECT_EQ(std::vector<BYTE>(two.end() - 9, two.end()), RawFile(0xD021, 9));
    EXPECT_EQ(two, Read("two", &rc));
    FILEATTRIBUTE info;
    char twoName[] = "two";
    ASSERT_EQ(SAR_OK, k.SKF_GetFileInfo(key.app, twoName, &info));
    EXPECT_EQ(24577u, info.FileSize);

    // Writes longer than the object's data files, and sizes past 32 data
    // files, are refused before anything is written.
    key.ClearRecord();
    EXPECT_EQ(SAR_INDATALENERR, Write("two", Pattern(24577 + 24576, 1)));
    EXPECT_EQ(0u, key.CountIns(INS_WRITE_FILE));
    ASSERT_EQ(SAR_OK, Create("small", 10));
    key.ClearRecord();
    EXPECT_EQ(SAR_INDATALENERR, Write("small", Pattern(11, 1)));
    EXPECT_EQ(0u, key.CountIns(INS_WRITE_FILE));
    key.ClearRecord();
    EXPECT_EQ(SAR_INDATALENERR, Create("huge", 786425));
    EXPECT_EQ(SAR_INDATALENERR, Write("two", std::vector<BYTE>(786425, 1)));
    EXPECT_TRUE(key.Record().empty());
    EXPECT_EQ(two, Read("two", &rc));
}

// A content over more than four data files: deleting it removes every one
// of them (the key's own file listing), and their space serves files of
// other records again.
TEST_F(SKFFiles, DeletingALargeFileRemovesEveryDataFile) {
    constexpr uint32_t kDataFile = 24576;
    constexpr uint32_t kRecordFile = 592;
    // Six data files: the header and 5 × 24576 + 92 content bytes.
    const std::vector<BYTE> big = Pattern(5 * kDataFile + 92, 9);
    const uint32_t stored = uint32_t(big.size()) + 8;
    // Room for the record file, one small file and two such contents, no more.
    ASSERT_EQ(0u, control.SetDataSpace(key.KeyId(), kRecordFile + 16 + 2 * stored + 1024));
    std::map<uint16_t, uint32_t> files;
    uint32_t freeSpace = 0;
    ASSERT_EQ(SAR_OK, Create("big", ULONG(big.size())));
    ASSERT_EQ(SAR_OK, Write("big", big));
    ULONG rc = 0;
    EXPECT_EQ(big, Read("big", &rc));
    ASSERT_EQ(0u, control.Files(key.KeyId(), files, nullptr));
    const std::map<uint16_t, uint32_t> written = {{0xD000, kRecordFile}, {0xD020, kDataFile}, {0xD021, kDataFile},
                                                  {0xD022, kDataFile},   {0xD023, kDataFile}, {0xD024, kDataFile},
                                                  {0xD025, 100}};
    EXPECT_EQ(written, files);

    ASSERT_EQ(SAR_OK, Delete("big"));
    ASSERT_EQ(0u, control.Files(key.KeyId(), files, &freeSpace));
    EXPECT_EQ((std::map<uint16_t, uint32_t>{{0xD000, kRecordFile}}), files) << "data files left on the key";
    EXPECT_EQ(16 + 2 * stored + 1024, freeSpace);

    // A small file takes the freed record; two large ones in the next two
    // records need all the space that the deleted file held.
    ASSERT_EQ(SAR_OK, Create("small", 16));
    EXPECT_EQ(SAR_OK, Create("big2", ULONG(big.size())));
    EXPECT_EQ(SAR_OK, Create("big3", ULONG(big.size())));
    ASSERT_EQ(0u, control.Files(key.KeyId(), files, &freeSpace));
    EXPECT_EQ(14u, files.size());  // the record file, 0xD020, 0xD040-0xD045, 0xD060-0xD065
    EXPECT_EQ(1u, files.count(0xD065));
    EXPECT_EQ(1024u, freeSpace);
}

TEST_F(SKFFiles, RecordsThatCannotBeReadStayUnlisted) {
    ULONG rc = 0;
    ASSERT_EQ(SAR_OK, Create("good", 8));
    ASSERT_EQ(SAR_OK, Create("odd", 8));
    // Record 1's stored file-name length runs past its 64-byte field.
    RawWrite(0xD000, 148 + 80, {200, 0, 0, 0});
    EXPECT_EQ((std::vector<std::string>{"good"}), List(&rc));
    FILEATTRIBUTE info;
    char odd[] = "odd";
    EXPECT_EQ(SAR_FILE_NOT_EXIST, k.SKF_GetFileInfo(key.app, odd, &info));
    // Its record stays taken: the next file goes to record 2.
    ASSERT_EQ(SAR_OK, Create("next", 8));
    uint32_t size = 0;
    EXPECT_EQ(0x9000, RawFileSize(0xD060, &size));

    // A data file that went missing: the file is not listed, reading it
    // fails, deleting it frees its name.
    std::vector<BYTE> command = {0xB0, 0x32, 0, 0, 0, 4, 0, 0, 0, 0, 0xD0, 0x20};
    std::vector<BYTE> reply(16);
    ULONG len = ULONG(reply.size());
    ASSERT_EQ(SAR_OK, k.SKF_Transmit(key.dev, command.data(), ULONG(command.size()), reply.data(), &len));
    EXPECT_EQ((std::vector<std::string>{"next"}), List(&rc));
    EXPECT_TRUE(Read("good", &rc).empty());
    EXPECT_EQ(SAR_FILE_NOT_EXIST, rc);
    EXPECT_EQ(SAR_FILE_ALREADY_EXIST, Create("good", 8));
    EXPECT_EQ(SAR_OK, Delete("good"));
    EXPECT_EQ(SAR_OK, Create("good", 8));
}

TEST_F(SKFFiles, AListingThatSucceedsNamesEveryFile) {
    ULONG rc = 0;
    ASSERT_EQ(SAR_OK, Create("first", 8));
    ASSERT_EQ(SAR_OK, Create("second", 8));
    ASSERT_EQ(SAR_OK, Write("first", Pattern(8, 1)));
    ASSERT_EQ(SAR_OK, Write("second", Pattern(8, 2)));
    // The key fails each command of a listing in turn (the record file's
    // reads, each data file's size): the listing fails, or names both.
    int failed = 0;
    for (uint32_t n = 1; n <= 16; ++n) {
        ASSERT_EQ(0u, control.FailCommandAt(key.KeyId(), n, 0x6581));
        const std::vector<std::string> names = List(&rc);
        ASSERT_EQ(0u, control.FailCommandAt(key.KeyId(), 0, 0));
        if (rc == SAR_OK)
            EXPECT_EQ((std::vector<std::string>{"first", "second"}), names) << "command " << n;
        else
            ++failed;
    }
    EXPECT_LT(0, failed);
    EXPECT_EQ((std::vector<std::string>{"first", "second"}), List(&rc));
}

TEST_F(SKFFiles, ContainerIniIsTheKeysListAndReadOnly) {
    char ini[] = "Container.ini";
    FILEATTRIBUTE info;
    ASSERT_EQ(SAR_OK, k.SKF_GetFileInfo(key.app, ini, &info));
    EXPECT_EQ(0, memcmp(info.FileName, "Container.ini", 13));
    EXPECT_EQ(0u, info.ReadRights);
    EXPECT_EQ(0u, info.WriteRights);

    // The key's own list (B0 46 00 00).
    std::vector<BYTE> command = {0xB0, 0x46, 0, 0, 0, 2, 1, 0, 0, 0};
    std::vector<BYTE> reply(4 + 300);
    ULONG len = ULONG(reply.size());
    ASSERT_EQ(SAR_OK, k.SKF_Transmit(key.dev, command.data(), ULONG(command.size()), reply.data(), &len));
    ASSERT_EQ(0x90, reply[0]);
    const std::vector<BYTE> keyList(reply.begin() + 4, reply.begin() + 4 + (reply[2] << 8 | reply[3]));
    EXPECT_EQ(keyList.size(), info.FileSize);
    ULONG rc = 0;
    EXPECT_EQ(keyList, Read("Container.ini", &rc));
    EXPECT_EQ(0, memcmp(keyList.data(), "[Container]", 11));

    BYTE byte = 1;
    EXPECT_EQ(SAR_NOTSUPPORTYETERR, k.SKF_CreateFile(key.app, ini, 10, kAnyone, kAnyone));
    EXPECT_EQ(SAR_NOTSUPPORTYETERR, k.SKF_WriteFile(key.app, ini, 0, &byte, 1));
    EXPECT_EQ(SAR_NOTSUPPORTYETERR, k.SKF_DeleteFile(key.app, ini));
    EXPECT_TRUE(List(&rc).empty());  // never listed
    EXPECT_EQ(SAR_OK, Create("container.ini", 8));  // another name
    EXPECT_EQ(SAR_FILE_NOT_EXIST, Delete("Container.in"));
}

TEST_F(SKFFiles, TwoHandlesAndAnotherProcessLoseNoRecord) {
    HAPPLICATION second = nullptr;
    char zelk[] = "ZELK";
    ASSERT_EQ(SAR_OK, k.SKF_OpenApplication(key.dev, zelk, &second));
    ULONG rc = 0;
    ASSERT_EQ(SAR_OK, Create("a", 8));
    std::string b = "b";
    ASSERT_EQ(SAR_OK, k.SKF_CreateFile(second, &b[0], 8, kAnyone, kAnyone));
    ASSERT_EQ(SAR_OK, Create("c", 8));

    // A second process creates and deletes in turn.
    const std::string helper = HostEnvPath("KEYLINQ_FILE_HELPER");
    const std::string device = key.DeviceName();
    auto run = [&](const char* op, const char* name) {
        std::string command = "\"" + helper + "\" \"" + device + "\" " + op + " " + name;
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            return DWORD(0xFFFFFFFF);
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 0xFFFFFFFF;
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return code;
    };
    EXPECT_EQ(DWORD(SAR_OK), run("create", "p"));
    ASSERT_EQ(SAR_OK, Delete("a", second));
    EXPECT_EQ(DWORD(SAR_OK), run("delete", "b"));
    ASSERT_EQ(SAR_OK, Create("d", 8));
    EXPECT_EQ((std::vector<std::string>{"d", "c", "p"}), List(&rc));
    EXPECT_EQ((std::vector<std::string>{"d", "c", "p"}), List(&rc, second));

    // A handle never writes into a file that took another's place.
    ASSERT_EQ(SAR_OK, Write("c", Pattern(8, 1), second));
    ASSERT_EQ(SAR_OK, Delete("c"));
    ASSERT_EQ(SAR_OK, Create("e", 8));
    EXPECT_EQ(SAR_FILE_NOT_EXIST, Write("c", Pattern(8, 9), second));
    EXPECT_EQ(std::vector<BYTE>(8, 0), Read("e", &rc));
    EXPECT_EQ(SAR_OK, k.SKF_CloseApplication(second));
}

}  // namespace
