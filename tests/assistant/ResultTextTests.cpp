// The texts of the result line: the description of a result code checked
// against the system's own FormatMessageW, the skin's formats filled by our
// own substitution, and the release of a seal list.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "AppHelpers.h"
#include "SkinText.h"

// Arrays freed while recording (the seal list's buffers are array-allocated).
bool g_recordArrays = false;
std::vector<const void*> g_freedArrays;

void operator delete[](void* p) noexcept {
    if (g_recordArrays && p) {
        g_recordArrays = false;  // the record's own growth is not recorded
        g_freedArrays.push_back(p);
        g_recordArrays = true;
    }
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept { operator delete[](p); }

namespace {

// What the system says for a code, inserts left as written, line breaks
// removed; empty when it has no text.
std::wstring SystemText(DWORD code) {
    wchar_t buffer[512] = {0};
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                   buffer, 511, nullptr);
    std::wstring text(buffer, n);
    std::wstring out;
    for (wchar_t c : text)
        if (c != L'\r' && c != L'\n') out += c;
    return out;
}

std::wstring Describe(HRESULT code) {
    std::wstring text = L"untouched";
    EXPECT_EQ(S_OK, GetLastErrorDesc(text, code));
    return text;
}

TEST(GetLastErrorDesc, SystemTextsWithoutLineBreaks) {
    ASSERT_FALSE(SystemText(DWORD(E_FAIL)).empty()) << "the system has a text for E_FAIL";
    // The codes of the renewal's ends; where the system has no text (under
    // Wine 0x800710D8, the HTTP failure), the code itself in brackets.
    for (HRESULT code : {E_FAIL, HRESULT(0x80070002), HRESULT(0x800710D8), HRESULT(0x800704C7), HRESULT(0x80072F78)}) {
        SCOPED_TRACE(code);
        std::wstring expected = SystemText(DWORD(code));
        if (expected.empty()) {
            wchar_t bracketed[16];
            swprintf(bracketed, 16, L"(0x%08x)", unsigned(code));
            expected = bracketed;
        }
        const std::wstring text = Describe(code);
        EXPECT_EQ(expected, text);
        EXPECT_EQ(std::wstring::npos, text.find_first_of(L"\r\n"));
    }
}

TEST(GetLastErrorDesc, CodesWithoutTextAndCustomerCodes) {
    ASSERT_TRUE(SystemText(0x8007FFFFu).empty());
    EXPECT_EQ(L"(0x8007ffff)", Describe(HRESULT(0x8007FFFF)));
    // Bit 0x20000000: never looked up, even where the rest has a text.
    EXPECT_EQ(L"0xa0001234", Describe(HRESULT(0xA0001234)));
    ASSERT_FALSE(SystemText(0x00000002u).empty());
    EXPECT_EQ(L"0x20000002", Describe(HRESULT(0x20000002)));
    // A previous text in the out argument does not survive.
    std::wstring text = L"old";
    GetLastErrorDesc(text, HRESULT(0x8007FFFF));
    EXPECT_EQ(L"(0x8007ffff)", text);
}

TEST(GetLastErrorDesc, MessagesThatTakeInsertsKeepThemAsWritten) {
    // The first Win32 message that takes an insert, found by the system's own lookup.
    DWORD code = 0;
    std::wstring expected;
    for (DWORD c = 1; c < 4000 && !code; ++c) {
        const std::wstring text = SystemText(c);
        if (text.find(L"%1") != std::wstring::npos) {
            code = c;
            expected = text;
        }
    }
    ASSERT_NE(0u, code) << "no system message with an insert";
    SCOPED_TRACE(code);
    EXPECT_EQ(expected, Describe(HRESULT_FROM_WIN32(code)));
}

TEST(FormatSkinText, FillsTheFirstNumberAndTextOnly) {
    struct Case {
        const wchar_t* format;
        const wchar_t* text;
        size_t max;
        std::wstring expected;
    } cases[] = {
        {L"failed (%d): %s", L"5004 - refused", 511, L"failed (-2147012744): 5004 - refused"},
        {L"\x5931\x8D25\xFF08%d\xFF09\xFF1A%s", L"\x7B7E\x540D", 511, L"\x5931\x8D25\xFF08-2147012744\xFF09\xFF1A\x7B7E\x540D"},
        {L"%ls then %d", L"t", 511, L"t then -2147012744"},
        {L"%d %d %s %s %%d %x %n %", L"t", 511, L"-2147012744 %d t %s %d %x %n %"},
        {L"%s", nullptr, 511, L""},
        {L"%s", L"a %d %s in the text", 511, L"a %d %s in the text"},
        {L"no placeholders", L"t", 511, L"no placeholders"},
        {L"%d%s", L"abcdefghij", 12, L"-2147012744a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(c.expected, FormatSkinText(c.format, int(0x80072F78), c.text, c.max));
    }
    EXPECT_EQ(L"", FormatSkinText(nullptr, 1, L"t", 511));
    // Long results are cut at the limit: 511 for the result line, 255 for the tips.
    const std::wstring longText(600, L'x');
    EXPECT_EQ(511u, FormatSkinText(L"%d: %s", 7, longText.c_str(), 511).size());
    EXPECT_EQ(255u, FormatSkinText(L"%s %d", 7, longText.c_str(), 255).size());
}

TEST(ClearSealDataList, FreesEveryBufferOnce) {
    std::vector<SealData> seals(3);
    seals[0] = {new BYTE[9](), 8};
    seals[1] = {nullptr, 0};  // an entry without a buffer is fine too
    seals[2] = {new BYTE[3](), 2};
    const std::vector<const void*> buffers{seals[0].pbySealData, seals[2].pbySealData};
    g_freedArrays.clear();
    g_recordArrays = true;
    ClearSealDataList(seals);
    ClearSealDataList(seals);
    g_recordArrays = false;
    EXPECT_TRUE(seals.empty());
    EXPECT_EQ(buffers, g_freedArrays);
}

}  // namespace
