// Keylinq.dll as an SKF application sees it: every export found by name
// and by ordinal, the same function both ways.
#include <gtest/gtest.h>

#include "KeylinqLibrary.h"

namespace {

TEST(ExportTable, FindsAll80ByNameAndOrdinal) {
    KeylinqLibrary& lib = Keylinq();
    ASSERT_NE(nullptr, lib.module) << "KEYLINQ_DLL";
    EXPECT_EQ(0, lib.missing);
    int ordinal = 0;
#define SKF_CHECK_ORDINAL(name, params)                                                             \
    ++ordinal;                                                                                      \
    EXPECT_EQ(reinterpret_cast<void*>(lib.name),                                                    \
              reinterpret_cast<void*>(GetProcAddress(lib.module, MAKEINTRESOURCEA(ordinal))))       \
        << #name << " at ordinal " << ordinal;
    SKF_EXPORT_LIST(SKF_CHECK_ORDINAL)
#undef SKF_CHECK_ORDINAL
    EXPECT_EQ(80, ordinal);
    EXPECT_EQ(nullptr, GetProcAddress(lib.module, MAKEINTRESOURCEA(81)));
    EXPECT_EQ(nullptr, GetProcAddress(lib.module, "SKF_EnumDev@12"));  // undecorated only
}

TEST(ExportTable, CarriesAVersionResource) {
    KeylinqLibrary& lib = Keylinq();
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(lib.module, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    ASSERT_GT(size, 0u);
    std::string data(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, &data[0]));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(&data[0], L"\\", reinterpret_cast<void**>(&info), &len));
    EXPECT_EQ(VS_FFI_SIGNATURE, info->dwSignature);
    EXPECT_EQ(DWORD(VFT_DLL), info->dwFileType);
}

}  // namespace
