// Paths, platform, registry and conversions, checked against the system's
// own folder and environment functions.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <cwchar>
#include <string>
#include <vector>

#include "FileKeeper.h"
#include "Misc.h"
#include "Registry.h"
#include "TestFiles.h"
#include "System.h"
#include "UsualInterface.h"

namespace {

std::wstring Take(wchar_t* p) {
    std::wstring s = p ? p : L"";
    delete[] p;
    return s;
}

std::wstring Folder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    EXPECT_EQ(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
    return path;
}

std::wstring Expand(const wchar_t* text) {
    wchar_t out[MAX_PATH] = {};
    EXPECT_NE(ExpandEnvironmentStringsW(text, out, MAX_PATH), 0u);
    return out;
}

std::wstring Combine(const wchar_t* name, const wchar_t* target, BOOL is64, HRESULT expect = S_OK) {
    wchar_t* out = nullptr;
    EXPECT_EQ(CombineFilePath(name, target, &out, is64), expect) << (target ? target : L"(null)");
    return Take(out);
}

TEST(SystemInfo, PlatformAndBitness) {
    DWORD platform = 77;
    ASSERT_EQ(GetWindowsOSPlatform(&platform), S_OK);
    SYSTEM_INFO info = {};
    GetNativeSystemInfo(&info);
    EXPECT_EQ(platform, info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ? 0u : 1u);
    EXPECT_FALSE(IsCurrentProcessX64());  // a 32-bit program
}

TEST(CombineFilePath, TemplatesAgainstSystemFunctions) {
    DWORD platform = 1;
    ASSERT_EQ(GetWindowsOSPlatform(&platform), S_OK);
    const bool sys64 = platform == 0;
    const std::wstring system32 = Folder(CSIDL_SYSTEM);
    const std::wstring systemX86 = sys64 ? Folder(CSIDL_SYSTEMX86) : system32;

    EXPECT_EQ(Combine(L"x.dll", L"%SYSTEM%", FALSE), systemX86 + L"\\x.dll");
    EXPECT_EQ(Combine(L"x.dll", L"%system%", FALSE), systemX86 + L"\\x.dll");
    EXPECT_EQ(Combine(L"x.dll", L"%SYSTEM32%", TRUE), system32 + L"\\x.dll");
    EXPECT_EQ(Combine(L"x.dll", L"%SYSTEM%", TRUE), system32 + L"\\x.dll");
    if (sys64) {
        EXPECT_NE(system32, systemX86);
    }

    // A 32-bit process on a 64-bit system: the flag asks for the native folder.
    const std::wstring program =
        sys64 ? Expand(L"%ProgramW6432%") : Folder(CSIDL_PROGRAM_FILES);
    EXPECT_EQ(Combine(L"a.txt", L"%PROGRAMFILES%", TRUE), program + L"\\a.txt");
    EXPECT_EQ(Combine(L"a.txt", L"%PROGRAM%", FALSE), Folder(CSIDL_PROGRAM_FILES) + L"\\a.txt");
    EXPECT_EQ(Combine(L"a.txt", L"%ProgramFiles(x86)%", FALSE), Folder(CSIDL_PROGRAM_FILES) + L"\\a.txt");

    wchar_t temp[MAX_PATH] = {};
    ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
    std::wstring tempFolder = temp;
    tempFolder.pop_back();  // the trailing backslash
    EXPECT_EQ(Combine(L"t.tmp", L"%TEMP%", FALSE), tempFolder + L"\\t.tmp");
    EXPECT_EQ(Combine(L"h", L"%HOMEDRIVE%", FALSE), Expand(L"%HOMEDRIVE%") + L"\\h");
    EXPECT_EQ(Combine(L"c.xml", L"%APPDATA%", FALSE), Expand(L"%APPDATA%") + L"\\c.xml");

    // Templates match the whole target only.
    Combine(L"x.dll", L"%SYSTEM%\\", FALSE, E_INVALIDARG);
    Combine(L"x.dll", L"%SYSTEM%\\sub", FALSE, E_INVALIDARG);
    Combine(L"x.dll", L"%WINDIR%", FALSE, E_INVALIDARG);
    Combine(L"x.dll", L"dir%", FALSE, E_INVALIDARG);
}

TEST(CombineFilePath, FoldersNamesAndErrors) {
    EXPECT_EQ(Combine(L"sub/x.txt", L"D:\\dir\\", FALSE), L"D:\\dir\\sub\\x.txt");
    EXPECT_EQ(Combine(L"\\x.txt", L"D:\\dir", FALSE), L"D:\\dir\\x.txt");
    EXPECT_EQ(Combine(L"/x.txt", L"D:/dir", FALSE), L"D:\\dir\\x.txt");

    wchar_t module[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameW(nullptr, module, MAX_PATH), 0u);
    std::wstring programFolder = module;
    programFolder.erase(programFolder.find_last_of(L'\\'));
    EXPECT_EQ(Combine(L"x.dll", L"", FALSE), programFolder + L"\\x.dll");
    EXPECT_EQ(Combine(L"x.dll", nullptr, FALSE), programFolder + L"\\x.dll");

    const std::wstring longTarget(MAX_PATH, L'a');
    Combine(L"x", longTarget.c_str(), FALSE, static_cast<HRESULT>(0x8007006F));
    wchar_t* out = nullptr;
    EXPECT_EQ(CombineFilePath(nullptr, L"C:\\", &out, FALSE), E_INVALIDARG);
    EXPECT_EQ(CombineFilePath(L"x", L"C:\\", nullptr, FALSE), E_INVALIDARG);
}

TEST(PathTests, LocalEnvironmentAndSlashes) {
    EXPECT_TRUE(LooksLikeLocalFile(L"c:\\x"));
    EXPECT_TRUE(LooksLikeLocalFile(L"Z:\\"));
    EXPECT_FALSE(LooksLikeLocalFile(L"1:\\x"));
    EXPECT_FALSE(LooksLikeLocalFile(L"c:/x"));
    EXPECT_FALSE(LooksLikeLocalFile(L"c:"));
    EXPECT_FALSE(LooksLikeLocalFile(L"\\\\server\\share"));
    EXPECT_TRUE(ContainEnvironmentPath(L"%TEMP%\\x"));
    EXPECT_FALSE(ContainEnvironmentPath(L"%TEMP"));
    EXPECT_FALSE(ContainEnvironmentPath(L"x%TEMP%"));
    wchar_t text[] = L"a/b//c\\d";
    ReplaceSlashWithBackslash(text);
    EXPECT_STREQ(text, L"a\\b\\\\c\\d");
    ReplaceSlashWithBackslash(nullptr);

    wchar_t* copy = nullptr;
    ASSERT_EQ(TransformFilePathInSystem(L"C:\\any\\path.dll", &copy), S_OK);
    EXPECT_EQ(Take(copy), L"C:\\any\\path.dll");
}

class LongPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = NewScratchFolder(L"Long Folder Name ");
        ASSERT_FALSE(m_dir.empty());
    }
    void TearDown() override {
        for (auto it = m_cleanup.rbegin(); it != m_cleanup.rend(); ++it) {
            DeleteFileW(it->c_str());
            RemoveDirectoryW(it->c_str());
        }
        RemoveDirectoryW(m_dir.c_str());
    }
    std::wstring m_dir;
    std::vector<std::wstring> m_cleanup;
};

TEST_F(LongPathTest, ShortNameGivesLongNameOnlyForExistingFiles) {
    const std::wstring file = m_dir + L"\\A rather long file name.dll";
    m_cleanup.push_back(file);
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);

    wchar_t shortName[MAX_PATH] = {};
    ASSERT_NE(GetShortPathNameW(file.c_str(), shortName, MAX_PATH), 0u);
    ASSERT_NE(std::wstring(shortName), file);  // a real 8.3 form
    wchar_t* out = nullptr;
    ASSERT_EQ(GetFileLongPathName(shortName, &out), S_OK);
    EXPECT_EQ(_wcsicmp(Take(out).c_str(), file.c_str()), 0);

    // Through an environment variable: %TEMP% expands to the temporary folder.
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring viaEnv = L"%TEMP%\\" + file.substr(wcslen(temp));
    ASSERT_EQ(GetFileLongPathName(viaEnv.c_str(), &out), S_OK);
    EXPECT_EQ(_wcsicmp(Take(out).c_str(), file.c_str()), 0);

    const std::wstring missing = m_dir + L"\\missing.dll";
    out = nullptr;
    EXPECT_EQ(GetFileLongPathName(missing.c_str(), &out), static_cast<HRESULT>(0x80070002));
    EXPECT_EQ(out, nullptr);

    // A bare name lands in the native system folder, existing or not.
    ASSERT_EQ(GetFileLongPathName(L"no-such-file.dll", &out), S_OK);
    EXPECT_EQ(Take(out), Folder(CSIDL_SYSTEM) + L"\\no-such-file.dll");
    EXPECT_EQ(GetFileLongPathName(L"", &out), E_INVALIDARG);
}

TEST_F(LongPathTest, CreateDirectoriesMakesParentsOnly) {
    const std::wstring a = m_dir + L"\\a", b = a + L"\\b", file = b + L"\\c.dmp";
    m_cleanup = {a, b};
    ASSERT_EQ(CreateDirectories(file.c_str()), S_OK);
    EXPECT_EQ(GetFileAttributesW(b.c_str()) & FILE_ATTRIBUTE_DIRECTORY, DWORD(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(CreateDirectories(file.c_str()), S_OK);  // again: all there
    EXPECT_EQ(CreateDirectories(L""), E_INVALIDARG);
    EXPECT_EQ(CreateDirectories(std::wstring(520, L'x').c_str()), E_OUTOFMEMORY);
}

TEST(Conversions, StringTimes) {
    FILETIME ft = {};
    SYSTEMTIME st = {};
    ASSERT_EQ(StringTimeToFileTime(L"20240229235958Z", &ft), S_OK);
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(st.wYear, 2024);
    EXPECT_EQ(st.wMonth, 2);
    EXPECT_EQ(st.wDay, 29);
    EXPECT_EQ(st.wHour, 23);
    EXPECT_EQ(st.wMinute, 59);
    EXPECT_EQ(st.wSecond, 58);
    EXPECT_EQ(StringTimeToFileTime(L"2024022923595", &ft), E_INVALIDARG);
    EXPECT_EQ(StringTimeToFileTime(L"20230229000000", &ft), static_cast<HRESULT>(0x80070057));

    // Back to text in local time, as the system converts it.
    FILETIME local = {};
    ASSERT_TRUE(FileTimeToLocalFileTime(&ft, &local));
    ASSERT_TRUE(FileTimeToSystemTime(&local, &st));
    wchar_t expectDate[16], expectTime[16];
    swprintf(expectDate, 16, L"%04d-%02d-%02d", st.wYear, st.wMonth, st.wDay);
    swprintf(expectTime, 16, L"%02d:%02d:%02d", st.wHour, st.wMinute, st.wSecond);
    wchar_t *date = nullptr, *time = nullptr;
    ASSERT_EQ(FileTimeToStringTime(&ft, &date, &time), S_OK);
    EXPECT_EQ(Take(date), expectDate);
    EXPECT_EQ(Take(time), expectTime);
    ASSERT_EQ(FileTimeToStringTime(&ft, nullptr, &time), S_OK);
    EXPECT_EQ(Take(time), expectTime);
}

TEST(Conversions, HexNumbers) {
    const struct {
        const wchar_t* text;
        ULONG start, expect;
        HRESULT hr;
    } cases[] = {
        {L"F408", 0, 0xF408, S_OK},
        {L"1A2B", 0, 0x1A2B, S_OK},
        {L"12345678", 0, 0x12345678, S_OK},
        {L"AABBCCDDEE", 0, 0xBBCCDDEE, S_OK},  // the four low bytes
        {L"", 5, 0, S_OK},
        {nullptr, 5, 0, S_OK},
        {L"3A", 0xFFFFFF00, 0xFFFFFF3A, S_OK},  // only the bytes the text has
        {L"XYZ1", 7, 7, E_INVALIDARG},
    };
    for (const auto& c : cases) {
        ULONG value = c.start;
        EXPECT_EQ(HexStrToUnsignedLong(c.text, &value), c.hr) << (c.text ? c.text : L"(null)");
        EXPECT_EQ(value, c.expect) << (c.text ? c.text : L"(null)");
    }
}

// Values written in one view of HKLM\Software and read through both.
class RegistryTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        std::wstring guid;
        ASSERT_EQ(CreateGUIDString(guid), S_OK);
        m_subKey = L"Software\\CertaideRegistryTest" + guid;
        m_view = GetParam() ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | m_view,
                                  nullptr, &m_key, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        if (m_key) RegCloseKey(m_key);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, m_subKey.c_str(), m_view, 0);
    }
    void Set(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(RegSetValueExW(m_key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    }
    std::wstring m_subKey;
    REGSAM m_view = 0;
    HKEY m_key = nullptr;
};

TEST_P(RegistryTest, KindsAndTerminators) {
    const BOOL is64 = GetParam();
    const DWORD dw = 0x11223344;
    const ULONGLONG qw = 0x0102030405060708ULL;
    const DWORD big = 0x01020304;
    Set(L"dword", REG_DWORD, &dw, 4);
    Set(L"qword", REG_QWORD, &qw, 8);
    Set(L"bigendian", REG_DWORD_BIG_ENDIAN, &big, 4);
    Set(L"sz", REG_SZ, L"C:\\x.exe", 18);
    Set(L"unterminated", REG_SZ, L"abc", 6);   // no NUL stored
    Set(L"odd", REG_SZ, L"abc", 5);            // odd length
    Set(L"multi", REG_MULTI_SZ, L"a\0bc\0", 12);
    const BYTE bin[3] = {0xDE, 0xAD, 0xBF};
    Set(L"binary", REG_BINARY, bin, 3);

    struct Case {
        const wchar_t* name;
        RegistryDataKind kind;
        HRESULT hr;
    };
    const Case cases[] = {
        {L"dword", RegistryData_DWord, S_OK},
        {L"qword", RegistryData_QWord, S_OK},
        {L"dword", RegistryData_QWord, static_cast<HRESULT>(0x8007065D)},
        {L"qword", RegistryData_DWord, static_cast<HRESULT>(0x8007065D)},
        {L"sz", RegistryData_DWord, static_cast<HRESULT>(0x8007065D)},
        {L"dword", RegistryData_Buffer, static_cast<HRESULT>(0x8007065D)},
        {L"bigendian", RegistryData_DWord, static_cast<HRESULT>(0x80070032)},
        {L"bigendian", RegistryData_Buffer, static_cast<HRESULT>(0x80070032)},
        {L"missing", RegistryData_Buffer, static_cast<HRESULT>(0x80070002)},
    };
    for (const Case& c : cases) {
        // A sentinel shows that a refused read writes nothing.
        ULONGLONG out = 0xA5A5A5A5A5A5A5A5ULL;
        BYTE* buffer = reinterpret_cast<BYTE*>(0x1);
        void* target = c.kind == RegistryData_Buffer ? static_cast<void*>(&buffer) : static_cast<void*>(&out);
        EXPECT_EQ(ReadRegistryData(HKEY_LOCAL_MACHINE, m_subKey.c_str(), c.name, target, is64, c.kind), c.hr)
            << c.name << " " << c.kind;
        if (c.hr != S_OK) {
            EXPECT_EQ(out, 0xA5A5A5A5A5A5A5A5ULL) << c.name;
            EXPECT_EQ(buffer, reinterpret_cast<BYTE*>(0x1)) << c.name;
        } else if (c.kind == RegistryData_DWord) {
            EXPECT_EQ(out, 0xA5A5A5A511223344ULL);  // four bytes written, no more
        } else {
            EXPECT_EQ(out, qw);
        }
    }

    auto readText = [&](const wchar_t* name) {
        BYTE* buffer = nullptr;
        EXPECT_EQ(ReadRegistryData(HKEY_LOCAL_MACHINE, m_subKey.c_str(), name, &buffer, is64, RegistryData_Buffer),
                  S_OK);
        std::wstring s = buffer ? reinterpret_cast<const wchar_t*>(buffer) : L"?";
        delete[] buffer;
        return s;
    };
    EXPECT_EQ(readText(L"sz"), L"C:\\x.exe");
    EXPECT_EQ(readText(L"unterminated"), L"abc");
    EXPECT_EQ(readText(L"odd"), L"abc");  // the odd byte is completed by a zero byte
    BYTE* buffer = nullptr;
    ASSERT_EQ(ReadRegistryData(HKEY_LOCAL_MACHINE, m_subKey.c_str(), L"binary", &buffer, is64, RegistryData_Buffer),
              S_OK);
    EXPECT_EQ(memcmp(buffer, bin, 3), 0);
    EXPECT_EQ(buffer[3], 0);
    delete[] buffer;
    ASSERT_EQ(ReadRegistryData(HKEY_LOCAL_MACHINE, m_subKey.c_str(), L"multi", &buffer, is64, RegistryData_Buffer),
              S_OK);
    EXPECT_EQ(memcmp(buffer, L"a\0bc\0\0", 14), 0);
    delete[] buffer;

    // The other view does not see the key on a 64-bit system.
    DWORD platform = 1;
    ASSERT_EQ(GetWindowsOSPlatform(&platform), S_OK);
    DWORD value = 0;
    const HRESULT other =
        ReadRegistryData(HKEY_LOCAL_MACHINE, m_subKey.c_str(), L"dword", &value, !is64, RegistryData_DWord);
    EXPECT_EQ(other, platform == 0 ? static_cast<HRESULT>(0x80070002) : S_OK);

    EXPECT_EQ(ReadRegistryData(HKEY_LOCAL_MACHINE, nullptr, L"x", &value, is64, RegistryData_DWord), E_INVALIDARG);
    EXPECT_EQ(ReadRegistryData(HKEY_LOCAL_MACHINE, m_subKey.c_str(), L"x", nullptr, is64, RegistryData_DWord),
              E_INVALIDARG);
}

INSTANTIATE_TEST_SUITE_P(BothViews, RegistryTest, ::testing::Values(false, true));

}  // namespace
