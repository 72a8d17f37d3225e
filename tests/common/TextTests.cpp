// UTF conversions, hexadecimal text, string cutting and GUID text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Encoding.h"
#include "Misc.h"

namespace {

TEST(Utf, RoundTripAndEmpty) {
    const wchar_t* wide = L"Zertifikat \u8BC1\u4E66 \U0001F511";
    char* utf8 = nullptr;
    DWORD len = 0;
    ASSERT_EQ(UTF16ToUTF8(wide, &utf8, &len), S_OK);
    EXPECT_EQ(std::string(utf8), "Zertifikat \xE8\xAF\x81\xE4\xB9\xA6 \xF0\x9F\x94\x91");
    EXPECT_EQ(len, strlen(utf8));
    wchar_t* back = nullptr;
    DWORD wlen = 0;
    ASSERT_EQ(UTF8ToUTF16(utf8, &back, &wlen), S_OK);
    EXPECT_STREQ(back, wide);
    EXPECT_EQ(wlen, wcslen(wide));
    delete[] utf8;
    delete[] back;

    ASSERT_EQ(UTF16ToUTF8(L"", &utf8, &len), S_OK);
    EXPECT_EQ(utf8[0], '\0');
    EXPECT_EQ(len, 0u);
    delete[] utf8;
    ASSERT_EQ(UTF8ToUTF16("", &back, &wlen), S_OK);
    EXPECT_EQ(back[0], L'\0');
    EXPECT_EQ(wlen, 0u);
    delete[] back;

    EXPECT_EQ(UTF16ToUTF8(nullptr, &utf8, &len), E_INVALIDARG);
    EXPECT_EQ(UTF8ToUTF16("x", nullptr, &wlen), E_INVALIDARG);
}

TEST(Hex, BytesToTextAndBack) {
    const BYTE data[] = {0x00, 0x0A, 0xFF, 0x5c};
    wchar_t* text = nullptr;
    ASSERT_EQ(ConvertBinaryDataToString(data, 4, &text), S_OK);
    EXPECT_STREQ(text, L"000AFF5C");
    delete[] text;
    ASSERT_EQ(FormatStringFromData(data, 0, &text), S_OK);
    EXPECT_STREQ(text, L"");
    delete[] text;
    EXPECT_EQ(ConvertBinaryDataToString(nullptr, 4, &text), E_INVALIDARG);

    struct Row {
        const wchar_t* text;
        HRESULT hr;
        std::vector<BYTE> bytes;
    };
    const Row rows[] = {
        {L"0102A0", S_OK, {0xA0, 0x02, 0x01}},
        {L"123", S_OK, {0x12}},  // a final odd digit is ignored
        {L"abCD", S_OK, {0xCD, 0xAB}},
        {L"", S_OK, {}},
        {L"12G4", E_INVALIDARG, {}},
        {L"12 4", E_INVALIDARG, {}},
    };
    for (const Row& row : rows) {
        BYTE* bytes = nullptr;
        DWORD len = 99;
        EXPECT_EQ(ConvertStringToBinaryData(row.text, &bytes, &len), row.hr);
        if (row.hr != S_OK) {
            EXPECT_EQ(bytes, nullptr);
            continue;
        }
        ASSERT_EQ(len, row.bytes.size());
        EXPECT_EQ(std::vector<BYTE>(bytes, bytes + len), row.bytes);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(bytes[len + i], 0);  // reads as a little-endian integer
        delete[] bytes;
    }
}

TEST(Strings, SplitKeepsEmptyPiecesAndAppends) {
    std::vector<std::wstring> list = {L"kept"};
    ASSERT_EQ(SplitStrings(list, L"a,,b,", L","), S_OK);
    EXPECT_EQ(list, (std::vector<std::wstring>{L"kept", L"a", L"", L"b", L""}));

    list.clear();
    ASSERT_EQ(SplitStrings(list, L"one<>two<>three", L"<>"), S_OK);
    EXPECT_EQ(list, (std::vector<std::wstring>{L"one", L"two", L"three"}));
    list.clear();
    ASSERT_EQ(SplitStrings(list, L"no delimiter", L";"), S_OK);
    EXPECT_EQ(list, (std::vector<std::wstring>{L"no delimiter"}));
    list.clear();
    ASSERT_EQ(SplitStrings(list, L"aXbxc", L"x"), S_OK);  // case-sensitive
    EXPECT_EQ(list, (std::vector<std::wstring>{L"aXb", L"c"}));

    EXPECT_EQ(SplitStrings(list, L"", L","), E_INVALIDARG);
    EXPECT_EQ(SplitStrings(list, nullptr, L","), E_INVALIDARG);
    EXPECT_EQ(SplitStrings(list, L"a", L""), E_INVALIDARG);
}

TEST(Strings, ReplaceDoesNotRescanInsertedText) {
    struct Row {
        const wchar_t *in, *search, *repl, *out;
    };
    const Row rows[] = {
        {L"a b c", L" ", L"", L"abc"},
        {L"aa", L"a", L"aa", L"aaaa"},
        {L"Aa", L"a", L"b", L"Ab"},  // case-sensitive
        {L"abc", L"", L"x", L"abc"},
        {L"", L"a", L"b", L""},
    };
    for (const Row& row : rows) {
        std::wstring s = row.in;
        ReplaceStrRStrIW(s, row.search, row.repl);
        EXPECT_EQ(s, row.out);
    }
}

TEST(Bytes, SwapByteOrder) {
    BYTE odd[] = {1, 2, 3, 4, 5};
    SwapByteOrder(odd, 5);
    EXPECT_EQ(std::vector<BYTE>(odd, odd + 5), (std::vector<BYTE>{5, 4, 3, 2, 1}));
    BYTE even[] = {1, 2, 3, 4};
    SwapByteOrder(even, 4);
    EXPECT_EQ(std::vector<BYTE>(even, even + 4), (std::vector<BYTE>{4, 3, 2, 1}));
    BYTE one[] = {9};
    SwapByteOrder(one, 1);
    EXPECT_EQ(one[0], 9);
    SwapByteOrder(nullptr, 4);
}

TEST(Guid, TextFormAndUniqueness) {
    std::wstring a, b;
    ASSERT_EQ(CreateGUIDString(a), S_OK);
    ASSERT_EQ(CreateGUIDString(b), S_OK);
    EXPECT_NE(a, b);
    ASSERT_EQ(a.size(), 38u);
    EXPECT_EQ(a.front(), L'{');
    EXPECT_EQ(a.back(), L'}');
    for (size_t i = 1; i < 37; ++i) {
        if (i == 9 || i == 14 || i == 19 || i == 24)
            EXPECT_EQ(a[i], L'-');
        else
            EXPECT_TRUE(iswxdigit(a[i]) && !iswlower(a[i])) << i;
    }
}

}  // namespace
