// The trusted time against the test server's RFC 3161 replies (signed by
// host OpenSSL's TS_RESP_CTX at a genTime each case picks).
// Winsock (the server control) before windows.h.
#include "ServerTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TimeSource.h"

namespace {

constexpr HRESULT NOT_FOUND = HRESULT(0x800710D8);
constexpr HRESULT INVALID_DATA = HRESULT(0x8007000D);
constexpr HRESULT BAD_DATA = HRESULT(0x80090005);

const BYTE kRequest[43] = {0x30, 0x29, 0x02, 0x01, 0x01, 0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02,
                           0x1A, 0x05, 0x00, 0x04, 0x14, '1',  '2',  '3',  '4',  '5',  '6',  '7',  '8',  '9',  '0',
                           '1',  '2',  '3',  '4',  '5',  '6',  '7',  '8',  '9',  '0',  0x01, 0x01, 0xFF};

ULONGLONG AsNumber(const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

// The FILETIME of the fields, and the same instant in Unix seconds for the server.
FILETIME FileTimeOf(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME st = {year, month, 0, day, hour, minute, second, 0};
    FILETIME ft = {};
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
    return ft;
}
long long UnixSeconds(const FILETIME& ft) { return (long long)(AsNumber(ft) / 10000000ULL) - 11644473600LL; }

const FILETIME kUntouched = {0x12345678, 0x01D00000};

class TrustedTime : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        SetUrl(ServerUrl(L"http", port, L"/timestamp"));
        g_dwTimeStampExchangeTimeout = 6000;
    }
    void TearDown() override { SetUrl(saved); }
    static void SetUrl(const std::wstring& url) { wcsncpy(g_wszTimeStampUrl, url.c_str(), 259); }

    HRESULT Ask(FILETIME& out) {
        out = kUntouched;
        return GetStdTimeFromPELQTimeStamp(&out);
    }
    const std::wstring saved = g_wszTimeStampUrl;
};

TEST(TimeStampRequest, IsTheFixedFortyThreeBytes) {
    BYTE* request = nullptr;
    DWORD length = 0;
    ASSERT_EQ(S_OK, EncodeTimeStampRequest(&request, &length, reinterpret_cast<const BYTE*>("12345678901234567890"), 20));
    ASSERT_EQ(43u, length);
    EXPECT_EQ(0, memcmp(kRequest, request, 43));
    delete[] request;
    EXPECT_EQ(E_INVALIDARG, EncodeTimeStampRequest(&request, &length, nullptr, 20));
}

TEST(TimeStampRequest, BuildWithoutTimeStampServerFallsBack) {
    if (g_wszTimeStampUrl[0]) GTEST_SKIP() << "this build names a time-stamp server";
    FILETIME out = kUntouched;
    EXPECT_EQ(E_INVALIDARG, GetStdTimeFromPELQTimeStamp(&out));
    EXPECT_EQ(AsNumber(kUntouched), AsNumber(out));
    EXPECT_EQ(E_INVALIDARG, GetStdTimeFromPELQTimeStamp(nullptr));
}

TEST_F(TrustedTime, RequestGoesOutAsTheFixedQuery) {
    FILETIME out;
    ASSERT_EQ(S_OK, Ask(out));
    testserver::LastRequest last;
    ASSERT_TRUE(control.Last(last));
    EXPECT_FALSE(last.tls);
    EXPECT_EQ("POST", last.method);
    EXPECT_EQ("/timestamp", last.path);
    EXPECT_EQ("HTTP/1.0", last.version);
    EXPECT_EQ("application/timestamp-query", last.Header("Content-Type"));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(kRequest), 43), last.body);
}

TEST_F(TrustedTime, GenTimeComesBackAsItsFieldsWithTheFractionDropped) {
    const FILETIME expected = FileTimeOf(2031, 4, 15, 8, 30, 9);
    for (long micros : {0L, 125000L, 999999L}) {
        ASSERT_TRUE(control.Set("TS " + std::to_string(UnixSeconds(expected)) + " " + std::to_string(micros)));
        FILETIME out;
        ASSERT_EQ(S_OK, Ask(out)) << micros;
        EXPECT_EQ(AsNumber(expected), AsNumber(out)) << micros;
    }
    // A leap day.
    const FILETIME leap = FileTimeOf(2028, 2, 29, 23, 59, 59);
    ASSERT_TRUE(control.Set("TS " + std::to_string(UnixSeconds(leap)) + " 0"));
    FILETIME out;
    ASSERT_EQ(S_OK, Ask(out));
    EXPECT_EQ(AsNumber(leap), AsNumber(out));
}

TEST_F(TrustedTime, RejectionWithATokenStillGivesItsTime) {
    const FILETIME expected = FileTimeOf(2030, 1, 2, 3, 4, 5);
    ASSERT_TRUE(control.Set("TS_REJECT " + std::to_string(UnixSeconds(expected)) + " 0"));
    FILETIME out;
    ASSERT_EQ(S_OK, Ask(out));
    EXPECT_EQ(AsNumber(expected), AsNumber(out));
}

TEST_F(TrustedTime, BrokenRepliesFailAndLeaveTheTimeAlone) {
    struct Row {
        const char* command;
        HRESULT result;  // 0: any failure
    } rows[] = {
        {"TS_STATUS_ONLY", INVALID_DATA},
        {"TS_FOUR", BAD_DATA},
        {"STATUS 200 0102030405", 0},
        {"STATUS 200 3003020100", INVALID_DATA},
        {"STATUS 500 -", NOT_FOUND},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(control.Set(row.command));
        FILETIME out;
        const HRESULT hr = Ask(out);
        if (row.result)
            EXPECT_EQ(row.result, hr) << row.command;
        else
            EXPECT_TRUE(FAILED(hr)) << row.command;
        EXPECT_EQ(AsNumber(kUntouched), AsNumber(out)) << row.command;
    }
}

TEST_F(TrustedTime, UnreachableOrSilentServerFails) {
    SetUrl(ServerUrl(L"http", ClosedLoopbackPort(), L"/timestamp"));
    FILETIME out;
    EXPECT_TRUE(FAILED(Ask(out)));
    EXPECT_EQ(AsNumber(kUntouched), AsNumber(out));

    SetUrl(ServerUrl(L"http", port, L"/timestamp"));
    g_dwTimeStampExchangeTimeout = 1500;
    ASSERT_TRUE(control.Set("HANG"));
    EXPECT_TRUE(FAILED(Ask(out)));
    EXPECT_EQ(AsNumber(kUntouched), AsNumber(out));
}

TEST(TimeStampResponse, TokenIsTheSecondElementWhole) {
    const BYTE response[] = {0x30, 0x0A, 0x30, 0x03, 0x02, 0x01, 0x00, 0x30, 0x03, 0x04, 0x01, 0x7F};
    BYTE* token = nullptr;
    DWORD length = 0;
    ASSERT_EQ(S_OK, DecodeTimeStampResponse(&length, response, sizeof response, &token));
    ASSERT_EQ(5u, length);
    EXPECT_EQ(0, memcmp(response + 7, token, 5));
    delete[] token;
    const BYTE three[] = {0x30, 0x09, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00};
    EXPECT_EQ(INVALID_DATA, DecodeTimeStampResponse(&length, three, sizeof three, &token));
}

}  // namespace
