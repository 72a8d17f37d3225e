// The skin archive: Info-ZIP archives (encrypted deflated and stored, plain,
// zip64, bzip2) read from a cached file, an uncached file and the program's
// "ZIPRES" resource; damaged archives; the process-wide settings.
#include <gtest/gtest.h>

#include <zlib.h>

#include <string>
#include <vector>

#include "PaintManager.h"
#include "SkinArchive.h"
#include "SkinTestSupport.h"
#include "UILock.h"

using namespace Veneer;
using namespace skintest;

namespace {
bool ReadEntry(const std::wstring& name, std::vector<BYTE>& out) {
    SkinFileBytes bytes;
    if (!ReadSkinFile(name.c_str(), nullptr, SkinFileFont, bytes)) return false;
    out.assign(bytes.data, bytes.data + bytes.size);
    return true;
}

enum class Source { CachedFile, UncachedFile, Resource };

void UseSource(Source source, const wchar_t* archive, const wchar_t* password) {
    switch (source) {
    case Source::CachedFile: UseArchive(archive, true, password); break;
    case Source::UncachedFile: UseArchive(archive, false, password); break;
    case Source::Resource: UseResourceArchive(password); break;
    }
}

const char* SourceName(Source source) {
    return source == Source::CachedFile ? "cached file" : source == Source::UncachedFile ? "uncached file" : "ZIPRES";
}
}  // namespace

class SkinArchive : public ::testing::Test {
protected:
    void TearDown() override { ResetSkin(); }
};

TEST_F(SkinArchive, EveryEntryExtractsEqualToItsSourceFromEachKindOfArchive) {
    const auto manifest = Manifest();
    ASSERT_GT(manifest.size(), 20u);
    const std::wstring password = Password();
    for (Source source : {Source::CachedFile, Source::UncachedFile, Source::Resource}) {
        UseSource(source, L"skin.zip", password.c_str());
        int extracted = 0;
        for (const auto& entry : manifest) {
            std::vector<BYTE> data;
            const bool read = ReadEntry(entry.second, data);
            if (entry.first == "bzip2") {
                EXPECT_FALSE(read) << SourceName(source);
                continue;
            }
            const std::vector<BYTE> expected = SkinSource(entry.second);
            if (expected.empty()) {   // an entry of size 0 counts as not found
                EXPECT_FALSE(read);
                continue;
            }
            ASSERT_TRUE(read) << SourceName(source) << " " << std::string(entry.second.begin(), entry.second.end());
            EXPECT_TRUE(data == expected) << SourceName(source);
            ++extracted;
        }
        EXPECT_GE(extracted, 19) << SourceName(source);
    }
}

TEST_F(SkinArchive, Zip64ArchiveEntriesExtract) {
    UseArchive(L"skin64.zip", true, Password().c_str());
    for (const wchar_t* name : {L"layouts/main.xml", L"images/button@150.png", L"lan_cn.xml", L"big/seq.txt"}) {
        std::vector<BYTE> data;
        ASSERT_TRUE(ReadEntry(name, data));
        EXPECT_TRUE(data == SkinSource(name));
    }
}

TEST_F(SkinArchive, EncryptedEntriesNeedTheRightPassword) {
    for (const wchar_t* password : {L"https://skin.certaide!", L""}) {
        UseArchive(L"skin.zip", true, password);
        std::vector<BYTE> data;
        EXPECT_FALSE(ReadEntry(L"layouts/main.xml", data));       // deflated
        EXPECT_FALSE(ReadEntry(L"stored/dialog.xml", data));      // stored
        EXPECT_FALSE(ReadEntry(L"big/seq.txt", data));
        EXPECT_TRUE(ReadEntry(L"plain/readme.txt", data));        // plain ones need none
        EXPECT_TRUE(data == SkinSource(L"plain/readme.txt"));
    }
}

TEST_F(SkinArchive, DamagedArchivesFail) {
    UseArchive(L"flipped.zip", true, Password().c_str());
    std::vector<BYTE> data;
    EXPECT_FALSE(ReadEntry(L"plain/flip.txt", data));   // CRC-32 mismatch
    EXPECT_TRUE(ReadEntry(L"plain/readme.txt", data));

    UseArchive(L"truncated.zip", true, Password().c_str());
    EXPECT_EQ(nullptr, CPaintManagerUI::GetSkinArchiveReader());
    EXPECT_FALSE(ReadEntry(L"resource.xml", data));
    UseArchive(L"truncated.zip", false, Password().c_str());
    EXPECT_FALSE(ReadEntry(L"resource.xml", data));
}

TEST_F(SkinArchive, NamesWithBackslashesAndOtherCaseFindTheEntry) {
    UseArchive(L"skin.zip", true, Password().c_str());
    std::vector<BYTE> data;
    ASSERT_TRUE(ReadEntry(L"LAYOUTS\\Nested\\child.XML", data));
    EXPECT_TRUE(data == SkinSource(L"layouts/nested/child.xml"));
}

TEST_F(SkinArchive, DirectoryEntriesExtractNothingAndSucceed) {
    UseArchive(L"skin.zip", true, Password().c_str());
    CUISharedLock lock;
    SkinZipReader* reader = CPaintManagerUI::GetSkinArchiveReader();
    ASSERT_NE(nullptr, reader);
    SkinZipIndex index = 0;
    DWORD size = 1;
    ASSERT_TRUE(SkinZipFindEntry(L"layouts/", reader, &index, &size));
    EXPECT_EQ(0u, size);
    EXPECT_TRUE(SkinZipExtractEntry(reader, index, nullptr, nullptr, 0));
    EXPECT_FALSE(SkinZipFindEntry(L"", reader, &index, &size));
    EXPECT_FALSE(SkinZipFindEntry(L"no/such.xml", reader, &index, &size));
    // A buffer smaller than the entry fails.
    ASSERT_TRUE(SkinZipFindEntry(L"plain/readme.txt", reader, &index, &size));
    std::vector<BYTE> small(size - 1);
    EXPECT_FALSE(SkinZipExtractEntry(reader, index, nullptr, small.data(), size - 1));
    EXPECT_FALSE(SkinZipExtractEntry(reader, index, nullptr, nullptr, size));
}

namespace {
// A one-file zip archive built by hand: method, stored bytes and the sizes
// and CRC the headers claim.
std::vector<BYTE> HandBuiltZip(const char* name, uint16_t method, const std::vector<BYTE>& data,
                               uint32_t claimedSize, uint32_t crc) {
    std::vector<BYTE> zip;
    auto u16 = [&zip](uint32_t v) { zip.push_back(v & 0xFF); zip.push_back((v >> 8) & 0xFF); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); };
    const uint16_t nameLength = static_cast<uint16_t>(strlen(name));
    u32(0x04034B50); u16(20); u16(0); u16(method); u16(0); u16(0x21);
    u32(crc); u32(static_cast<uint32_t>(data.size())); u32(claimedSize); u16(nameLength); u16(0);
    zip.insert(zip.end(), name, name + nameLength);
    zip.insert(zip.end(), data.begin(), data.end());
    const uint32_t directory = static_cast<uint32_t>(zip.size());
    u32(0x02014B50); u16(20); u16(20); u16(0); u16(method); u16(0); u16(0x21);
    u32(crc); u32(static_cast<uint32_t>(data.size())); u32(claimedSize); u16(nameLength); u16(0); u16(0);
    u16(0); u16(0); u32(0); u32(0);
    zip.insert(zip.end(), name, name + nameLength);
    const uint32_t directorySize = static_cast<uint32_t>(zip.size()) - directory;
    u32(0x06054B50); u16(0); u16(0); u16(1); u16(1); u32(directorySize); u32(directory); u16(0);
    return zip;
}

bool ExtractOnly(const std::vector<BYTE>& zip, const wchar_t* name, std::vector<BYTE>& out) {
    SkinZipReader* reader = SkinZipOpenMemory(zip.data(), zip.size());
    if (!reader) return false;
    SkinZipIndex index = 0;
    DWORD size = 0;
    bool done = SkinZipFindEntry(name, reader, &index, &size);
    if (done) {
        out.assign(size + 1, 0xEE);
        done = SkinZipExtractEntry(reader, index, nullptr, out.data(), size);
        out.resize(size);
    }
    SkinZipClose(reader);
    return done;
}
}  // namespace

TEST(SkinZipMemory, AnEntryWithNothingStoredButASizeFails) {
    std::vector<BYTE> out;
    EXPECT_FALSE(ExtractOnly(HandBuiltZip("x.txt", 0, {}, 5, 0x12345678), L"x.txt", out));
    EXPECT_FALSE(ExtractOnly(HandBuiltZip("x.txt", 8, {}, 5, 0x12345678), L"x.txt", out));
    EXPECT_TRUE(ExtractOnly(HandBuiltZip("x.txt", 0, {}, 0, 0), L"x.txt", out));

    const std::vector<BYTE> text = {'h', 'e', 'l', 'l', 'o'};
    const uint32_t crc = crc32(0, text.data(), 5);
    ASSERT_TRUE(ExtractOnly(HandBuiltZip("x.txt", 0, text, 5, crc), L"X.TXT", out));
    EXPECT_TRUE(out == text);
    EXPECT_FALSE(ExtractOnly(HandBuiltZip("x.txt", 0, text, 5, crc ^ 1), L"x.txt", out));
    // Stored bytes that do not match the claimed size.
    EXPECT_FALSE(ExtractOnly(HandBuiltZip("x.txt", 0, text, 4, crc32(0, text.data(), 4)), L"x.txt", out));
    // A deflate stream without its end: raw deflate of "hello", cut short.
    std::vector<BYTE> deflated(64);
    z_stream z = {};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    z.next_in = const_cast<BYTE*>(text.data());
    z.avail_in = 5;
    z.next_out = deflated.data();
    z.avail_out = 64;
    deflate(&z, Z_FINISH);
    deflated.resize(z.total_out);
    deflateEnd(&z);
    ASSERT_TRUE(ExtractOnly(HandBuiltZip("x.txt", 8, deflated, 5, crc), L"x.txt", out));
    EXPECT_TRUE(out == text);
    std::vector<BYTE> partial(64);
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    z.next_in = const_cast<BYTE*>(text.data());
    z.avail_in = 5;
    z.next_out = partial.data();
    z.avail_out = 64;
    deflate(&z, Z_FULL_FLUSH);   // all data out, no final block
    partial.resize(z.total_out);
    deflateEnd(&z);
    EXPECT_FALSE(ExtractOnly(HandBuiltZip("x.txt", 8, partial, 5, crc), L"x.txt", out));
    // Methods other than stored and deflate fail.
    EXPECT_FALSE(ExtractOnly(HandBuiltZip("x.txt", 12, text, 5, crc), L"x.txt", out));
}

TEST(ZipCrypto, KeyScheduleOfTheApplicationNote) {
    uint32_t keys[3];
    InitZipCryptoKeys(nullptr, keys);
    EXPECT_EQ(0x12345678u, keys[0]);
    EXPECT_EQ(0x23456789u, keys[1]);
    EXPECT_EQ(0x34567890u, keys[2]);
    uint32_t byHand[3];
    InitZipCryptoKeys("", byHand);
    UpdateZipCryptoKeys(byHand, 'a');
    InitZipCryptoKeys("a", keys);
    EXPECT_EQ(byHand[0], keys[0]);
    EXPECT_EQ(byHand[1], keys[1]);
    EXPECT_EQ(byHand[2], keys[2]);
    // key 0 follows the CRC-32 register: crc32 of "a" is ~(CRC step of ~0).
    uint32_t crcKeys[3] = {0xFFFFFFFFu, 0, 0};
    UpdateZipCryptoKeys(crcKeys, 'a');
    EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>("a"), 1), ~crcKeys[0]);
}

TEST_F(SkinArchive, AnUncachedArchiveKeepsNoHandleACachedOneUntilAnotherNameIsSet) {
    const std::wstring dir = SkinBuildDir();
    const std::wstring copy = dir + L"handle-test.zip", moved = dir + L"handle-test-moved.zip";
    DeleteFileW(moved.c_str());
    ASSERT_TRUE(CopyFileW((dir + L"skin.zip").c_str(), copy.c_str(), FALSE));
    std::vector<BYTE> data;

    UseArchive(L"handle-test.zip", false, Password().c_str());
    ASSERT_TRUE(ReadEntry(L"resource.xml", data));
    ASSERT_TRUE(MoveFileW(copy.c_str(), moved.c_str())) << GetLastError();
    ASSERT_TRUE(MoveFileW(moved.c_str(), copy.c_str()));

    UseArchive(L"handle-test.zip", true, Password().c_str());
    ASSERT_TRUE(ReadEntry(L"resource.xml", data));
    EXPECT_FALSE(MoveFileW(copy.c_str(), moved.c_str()));
    CPaintManagerUI::SetSkinArchive(L"skin.zip", true, Password().c_str());
    EXPECT_TRUE(MoveFileW(copy.c_str(), moved.c_str())) << GetLastError();
    DeleteFileW(moved.c_str());
    DeleteFileW(copy.c_str());
}

TEST_F(SkinArchive, SettingTheSameArchiveAgainKeepsTheFirstPassword) {
    UseArchive(L"skin.zip", true, Password().c_str());
    CPaintManagerUI::SetSkinArchive(L"skin.zip", true, L"another");
    EXPECT_EQ(Password(), CPaintManagerUI::GetSkinArchivePassword().GetData());
    std::vector<BYTE> data;
    EXPECT_TRUE(ReadEntry(L"layouts/main.xml", data));
    CPaintManagerUI::SetSkinArchive(L"skin.zip", false, L"another");   // another flag: taken
    EXPECT_EQ(std::wstring(L"another"), CPaintManagerUI::GetSkinArchivePassword().GetData());
    EXPECT_FALSE(CPaintManagerUI::IsSkinArchiveCached());

    UseResourceArchive(Password().c_str());
    CPaintManagerUI::SetSkinArchiveFromMemory(1, L"another");
    EXPECT_EQ(Password(), CPaintManagerUI::GetSkinArchivePassword().GetData());
    EXPECT_EQ(std::wstring(L"membuffer"), CPaintManagerUI::GetSkinArchiveName().GetData());
}

TEST_F(SkinArchive, ResourceFolderEndsInASeparator) {
    struct Case {
        const wchar_t *given, *stored;
    } cases[] = {{L"C:\\skin", L"C:\\skin\\"}, {L"C:/skin/", L"C:/skin/"}, {L"C:\\skin\\", L"C:\\skin\\"},
                 {L"", L""}, {nullptr, L""}};
    for (const Case& c : cases) {
        CPaintManagerUI::SetResourceFolder(c.given);
        EXPECT_EQ(std::wstring(c.stored), CPaintManagerUI::GetResourceFolder().GetData());
    }
}

TEST_F(SkinArchive, FolderFilesAndModuleFolder) {
    UseFolder(SkinFolder());
    std::vector<BYTE> data;
    ASSERT_TRUE(ReadEntry(L"layouts\\main.xml", data));
    EXPECT_TRUE(data == SkinSource(L"layouts/main.xml"));
    CPaintManagerUI::SetInstance(GetModuleHandleW(nullptr));
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    folder.resize(folder.rfind(L'\\') + 1);
    EXPECT_EQ(folder, CPaintManagerUI::GetModuleFolder().GetData());
    EXPECT_EQ(GetModuleHandleW(nullptr), CPaintManagerUI::GetResourceModule());
}
