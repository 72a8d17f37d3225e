// Whole-file helpers and the embedded resource, on real files in a
// scratch folder of the test's own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Misc.h"

namespace {

class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::wstring guid;
        ASSERT_EQ(CreateGUIDString(guid), S_OK);
        wchar_t temp[MAX_PATH + 1];
        GetTempPathW(MAX_PATH + 1, temp);
        m_dir = std::wstring(temp) + L"filetest" + guid;
        ASSERT_TRUE(CreateDirectoryW(m_dir.c_str(), nullptr));
    }
    void TearDown() override {
        for (const auto& f : m_created) {
            SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(f.c_str());
        }
        RemoveDirectoryW(m_dir.c_str());
    }
    std::wstring Path(const wchar_t* name) {
        m_created.push_back(m_dir + L"\\" + name);
        return m_created.back();
    }
    static std::vector<BYTE> Read(const std::wstring& path, HRESULT* hrOut = nullptr) {
        BYTE* data = nullptr;
        DWORD size = 0;
        const HRESULT hr = ReadFileSimple(&size, path.c_str(), &data);
        if (hrOut) *hrOut = hr;
        if (hr != S_OK) return {};
        EXPECT_EQ(data[size], 0);  // one zero byte beyond the content
        std::vector<BYTE> out(data, data + size);
        delete[] data;
        return out;
    }

    std::wstring m_dir;
    std::vector<std::wstring> m_created;
};

TEST_F(FileTest, WriteReadAndSizeOnly) {
    const std::wstring path = Path(L"data.bin");
    std::vector<BYTE> data(70000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i ^ (i >> 8));
    ASSERT_EQ(WriteFileSimple(path.c_str(), data.data(), static_cast<DWORD>(data.size())), S_OK);
    EXPECT_EQ(Read(path), data);

    DWORD size = 0;
    ASSERT_EQ(ReadFileSimple(&size, path.c_str(), nullptr), S_OK);
    EXPECT_EQ(size, data.size());

    // Written anew: a shorter write leaves no tail of the old content.
    const BYTE shorter[] = {1, 2, 3};
    ASSERT_EQ(WriteFileSimple(path.c_str(), shorter, 3), S_OK);
    EXPECT_EQ(Read(path), std::vector<BYTE>(shorter, shorter + 3));

    const BYTE empty = 0;
    ASSERT_EQ(WriteFileSimple(path.c_str(), &empty, 0), S_OK);
    EXPECT_EQ(Read(path), std::vector<BYTE>{});
}

TEST_F(FileTest, WriteReplacesReadOnlyFile) {
    const std::wstring path = Path(L"readonly.bin");
    const BYTE old[] = {9, 9};
    ASSERT_EQ(WriteFileSimple(path.c_str(), old, 2), S_OK);
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    const BYTE fresh[] = {1, 2, 3, 4};
    ASSERT_EQ(WriteFileSimple(path.c_str(), fresh, 4), S_OK);
    EXPECT_EQ(Read(path), std::vector<BYTE>(fresh, fresh + 4));
}

TEST_F(FileTest, ArgumentAndMissingFileFailures) {
    HRESULT hr = S_OK;
    Read(Path(L"missing.bin"), &hr);
    EXPECT_EQ(hr, static_cast<HRESULT>(0x80070002));
    DWORD size = 0;
    EXPECT_EQ(ReadFileSimple(&size, nullptr, nullptr), E_INVALIDARG);
    const BYTE b = 1;
    EXPECT_EQ(WriteFileSimple(nullptr, &b, 1), E_INVALIDARG);
    EXPECT_EQ(WriteFileSimple(Path(L"x.bin").c_str(), nullptr, 1), E_INVALIDARG);
    // A folder that is not there: the create fails with its own error.
    const std::wstring inMissingDir = m_dir + L"\\nodir\\x.bin";
    EXPECT_EQ(WriteFileSimple(inMissingDir.c_str(), &b, 1), static_cast<HRESULT>(0x80070003));
}

TEST_F(FileTest, ReadRefusesAFileWhoseSizeDoesNotFit) {
    // A sparse file of 4 GiB: size + 1 would wrap to a one-byte buffer.
    const std::wstring path = Path(L"huge.bin");
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = 0x100000000LL;
    ASSERT_TRUE(SetFilePointerEx(h, size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(h));
    CloseHandle(h);

    BYTE* data = nullptr;
    DWORD got = 0;
    EXPECT_EQ(ReadFileSimple(&got, path.c_str(), &data), static_cast<HRESULT>(0x800700DF));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(ReadFileSimple(&got, path.c_str(), nullptr), static_cast<HRESULT>(0x800700DF));
}

// A read that fails after the size is known hands nothing over, the size
// included: a sparse file of 4 GiB - 2 bytes has a size that fits, but no
// buffer of that size can be had in a 32-bit process.
TEST_F(FileTest, FailedReadHandsOverNoSize) {
    const std::wstring path = Path(L"large.bin");
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = 0xFFFFFFFELL;
    ASSERT_TRUE(SetFilePointerEx(h, size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(h));
    CloseHandle(h);

    BYTE* data = nullptr;
    DWORD got = 7;
    EXPECT_EQ(ReadFileSimple(&got, path.c_str(), &data), E_OUTOFMEMORY);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(got, 7u);
    ASSERT_EQ(ReadFileSimple(&got, path.c_str(), nullptr), S_OK);  // the size alone
    EXPECT_EQ(got, 0xFFFFFFFEu);
}

TEST_F(FileTest, DeleteHandlesReadOnlyAndMissing) {
    const std::wstring path = Path(L"del.bin");
    const BYTE b = 1;
    ASSERT_EQ(WriteFileSimple(path.c_str(), &b, 1), S_OK);
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(DeleteSpecialFile(path.c_str()), S_OK);
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(DeleteSpecialFile(path.c_str()), S_OK);  // not there: counts as deleted
    EXPECT_EQ(DeleteSpecialFile((m_dir + L"\\nodir\\x").c_str()), S_OK);
    EXPECT_EQ(DeleteSpecialFile(L""), E_INVALIDARG);
    EXPECT_EQ(DeleteSpecialFile(nullptr), E_INVALIDARG);
    // A folder is not a file: deleting it fails and it stays.
    EXPECT_LT(DeleteSpecialFile(m_dir.c_str()), 0);
}

TEST_F(FileTest, ChangeFileAttributeClearsReadOnly) {
    const std::wstring path = Path(L"attr.bin");
    const BYTE b = 1;
    ASSERT_EQ(WriteFileSimple(path.c_str(), &b, 1), S_OK);
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(ChangeFileAttribute(path.c_str()), S_OK);
    EXPECT_EQ(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(ChangeFileAttribute(path.c_str()), S_OK);  // already writable
    EXPECT_EQ(ChangeFileAttribute(L""), static_cast<HRESULT>(0x80070002));
    EXPECT_EQ(ChangeFileAttribute(Path(L"none.bin").c_str()), static_cast<HRESULT>(0x80070002));
}

TEST_F(FileTest, DumpDataToTempFile) {
    const BYTE data[] = {'c', 'e', 'r', 't'};
    std::wstring path;
    ASSERT_EQ(DumpDataToTempFile(data, 4, path), S_OK);
    m_created.push_back(path);
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    EXPECT_EQ(path.substr(0, n), temp);
    EXPECT_EQ(path.size(), n + 38 + 5);
    EXPECT_EQ(path.substr(path.size() - 5), L".PELQ");
    EXPECT_EQ(path[n], L'{');
    EXPECT_EQ(Read(path), std::vector<BYTE>(data, data + 4));
    EXPECT_EQ(DumpDataToTempFile(nullptr, 4, path), E_INVALIDARG);
}

TEST_F(FileTest, DumpRefusesATempFolderLongerThanItsBuffer) {
    wchar_t saved[32768];
    const DWORD had = GetEnvironmentVariableW(L"TMP", saved, 32768);
    const std::wstring longPath = L"C:\\" + std::wstring(300, L'a');
    ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", longPath.c_str()));
    std::wstring path = L"unchanged";
    const BYTE data[] = {1};
    const HRESULT hr = DumpDataToTempFile(data, 1, path);
    SetEnvironmentVariableW(L"TMP", had ? saved : nullptr);
    EXPECT_EQ(hr, static_cast<HRESULT>(0x800700CE));
    EXPECT_EQ(path, L"unchanged");
}

TEST(Resource, LoadsTheCertchainResource) {
    BYTE* data = nullptr;
    DWORD size = 0;
    ASSERT_EQ(LoadModuleResource(GetModuleHandleW(nullptr), &data, &size), S_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), "<certchain>test</certchain>");
    delete[] data;
    EXPECT_EQ(LoadModuleResource(nullptr, &data, &size), E_INVALIDARG);
    // A module without the resource.
    EXPECT_EQ(LoadModuleResource(GetModuleHandleW(L"kernel32.dll"), &data, &size),
              static_cast<HRESULT>(0x80070715));
}

}  // namespace
