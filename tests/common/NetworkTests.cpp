// The renewal server's POST client against the loopback test server, over
// real WinINet: what arrives is read back from the server, what the server
// answers is chosen per case.
// Winsock (the server control) before windows.h.
#include "ServerTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "HttpWinNet.h"
#include "Network.h"
#include "SSL.h"

namespace {

constexpr HRESULT NOT_FOUND = HRESULT(0x800710D8);
constexpr HRESULT NOT_A_NUMBER = HRESULT(0x8007000D);
constexpr HRESULT TOO_LONG = HRESULT(0x8007007A);

// ---- URL splitting

TEST(ParseNetworkURL, SplitsSchemeHostPortAndPath) {
    struct Row {
        const wchar_t* url;
        const wchar_t* host;
        INTERNET_PORT port;
        const wchar_t* path;
        int secure;
    } rows[] = {
        {L"https://renew.example.cn/AssistantServer/RequestAction.do", L"renew.example.cn", 443,
         L"/AssistantServer/RequestAction.do", 1},
        {L"HTTPS://host/a", L"host", 443, L"/a", 1},
        {L"HTTP://host:8080/x/y?z", L"host", 8080, L"/x/y?z", 0},
        {L"http://10.0.0.1/timestamp", L"10.0.0.1", 80, L"/timestamp", 0},
        {L"host.example/path", L"host.example", 80, L"/path", 0},
        {L"https://host", L"host", 443, L"", 1},
        {L"https://[fe80::1]:8443/p", L"[fe80::1]", 8443, L"/p", 1},
        {L"http://[fe80::1]/p", L"[fe80::1]", 80, L"/p", 0},
        {L"http://host:abc/", L"host", 0, L"/", 0},
    };
    for (const Row& row : rows) {
        std::wstring host, path;
        INTERNET_PORT port = 1;
        int secure = 7;
        ASSERT_EQ(S_OK, ParseNetworkURL(row.url, host, port, path, secure)) << row.url;
        EXPECT_EQ(row.host, host) << row.url;
        EXPECT_EQ(row.port, port) << row.url;
        EXPECT_EQ(row.path, path) << row.url;
        EXPECT_EQ(row.secure, secure) << row.url;
    }
    std::wstring host, path;
    INTERNET_PORT port = 0;
    int secure = 0;
    EXPECT_EQ(E_INVALIDARG, ParseNetworkURL(nullptr, host, port, path, secure));
    EXPECT_EQ(E_INVALIDARG, ParseNetworkURL(L"", host, port, path, secure));
    EXPECT_EQ(E_INVALIDARG, ParseNetworkURL((L"http://" + std::wstring(1024, L'h')).c_str(), host, port, path, secure));
    EXPECT_TRUE(CheckIsIpV6(L"[::1]:80"));
    EXPECT_FALSE(CheckIsIpV6(L"host:80"));
}

TEST(ParseContentLength, DigitsOnlyAndAtMostFourMebibytes) {
    struct Row {
        const char* text;
        HRESULT result;
        DWORD length;
    } rows[] = {
        {"0", S_OK, 0},          {"4194304", S_OK, 4194304}, {"004194304", S_OK, 4194304},
        {"4194305", TOO_LONG, 0}, {"4294967295", TOO_LONG, 0}, {"99999999999999999999999", TOO_LONG, 0},
        {"-1", NOT_A_NUMBER, 0},  {"", NOT_A_NUMBER, 0},        {"12 ", NOT_A_NUMBER, 0},
        {"+5", NOT_A_NUMBER, 0},  {"0x10", NOT_A_NUMBER, 0},    {"99999999999x", NOT_A_NUMBER, 0},
    };
    for (const Row& row : rows) {
        DWORD length = 12345;
        EXPECT_EQ(row.result, ParseContentLength(row.text, &length)) << row.text;
        EXPECT_EQ(row.result == S_OK ? row.length : 12345u, length) << row.text;
    }
}

// ---- the renewal POST

class RenewalPost : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        SetServerUrl(ServerUrl(L"https", port, L"/AssistantServer/RequestAction.do"));
        g_dwServerExchangeTimeout = 30000;
    }
    void TearDown() override { g_wszServerUrl[0] = 0; }
    static void SetServerUrl(const std::wstring& url) { wcsncpy(g_wszServerUrl, url.c_str(), 259); }

    // Posts the text; the response (when any) is returned in out.
    HRESULT Post(const char* request, std::string* out = nullptr) {
        char* response = reinterpret_cast<char*>(1);
        const HRESULT hr = PostUrlRequestData(request, &response);
        if (hr == S_OK) {
            if (out) *out = response;
            delete[] response;
        } else {
            EXPECT_EQ(reinterpret_cast<char*>(1), response) << "response written on failure";
        }
        return hr;
    }
};

TEST_F(RenewalPost, HttpsPostArrivesAsSentAndTheReplyComesBackTerminated) {
    const std::string body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Request>\xE8\xAF\x81\xE4\xB9\xA6</Request>";
    const std::string reply = "<Response code=\"0\">done</Response>";
    ASSERT_TRUE(control.Set("STATUS 200 " + testserver::ServerControl::Hex(reply)));

    char* response = nullptr;
    ASSERT_EQ(S_OK, WinNetPostUrlRequestData(&response, body.c_str()));
    ASSERT_NE(nullptr, response);
    EXPECT_EQ(0, memcmp(reply.c_str(), response, reply.size() + 1));  // one zero appended
    delete[] response;

    testserver::LastRequest last;
    ASSERT_TRUE(control.Last(last));
    EXPECT_TRUE(last.tls);
    EXPECT_EQ("POST", last.method);
    EXPECT_EQ("/AssistantServer/RequestAction.do", last.path);
    EXPECT_EQ("HTTP/1.0", last.version);
    EXPECT_FALSE(last.HasHeader("Content-Type"));
    EXPECT_EQ(body, last.body);
}

TEST_F(RenewalPost, PlainHttpUrlPostsWithoutTls) {
    SetServerUrl(ServerUrl(L"http", port, L"/plain"));
    std::string response;
    ASSERT_EQ(S_OK, Post("<a/>", &response));
    EXPECT_EQ("OK", response);
    testserver::LastRequest last;
    ASSERT_TRUE(control.Last(last));
    EXPECT_FALSE(last.tls);
    EXPECT_EQ("/plain", last.path);
    EXPECT_EQ("<a/>", last.body);
}

TEST_F(RenewalPost, StatusOtherThan200Fails) {
    for (const char* status : {"500", "302", "201", "404"}) {
        ASSERT_TRUE(control.Set(std::string("STATUS ") + status + " 3C612F3E"));
        EXPECT_EQ(NOT_FOUND, Post("<a/>")) << status;
    }
}

TEST_F(RenewalPost, ContentLengthIsCheckedBeforeTheBodyIsRead) {
    struct Row {
        const char* command;
        HRESULT result;
        size_t received;
    } rows[] = {
        {"LENGTH 10 10", S_OK, 10},
        {"LENGTH 10 11", TOO_LONG, 0},  // one byte beyond the announced length
        {"LENGTH 0 0", S_OK, 0},
        {"LENGTH -1 5", NOT_A_NUMBER, 0},
        {"LENGTH 4294967295 5", TOO_LONG, 0},
        {"LENGTH 5242880 5", TOO_LONG, 0},
        {"LENGTH 4194304 4194304", S_OK, 4194304},
        {"LENGTH - 4194304", S_OK, 4194304},
        {"LENGTH - 4194305", TOO_LONG, 0},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(control.Set(row.command));
        std::string response;
        EXPECT_EQ(row.result, Post("<a/>", &response)) << row.command;
        if (row.result == S_OK) {
            EXPECT_EQ(row.received, response.size()) << row.command;
            if (!response.empty()) {
                EXPECT_EQ('a', response[0]) << row.command;
            }
        }
    }
}

TEST_F(RenewalPost, EmptyServerUrlFailsWithoutConnecting) {
    const unsigned before = control.Count();
    g_wszServerUrl[0] = 0;
    EXPECT_EQ(E_INVALIDARG, Post("<a/>"));
    EXPECT_EQ(before, control.Count());
    SetServerUrl(ServerUrl(L"https", port, L"/x"));
    char* response = nullptr;
    EXPECT_EQ(E_INVALIDARG, WinNetPostUrlRequestData(&response, nullptr));
    EXPECT_EQ(E_INVALIDARG, WinNetPostUrlRequestData(nullptr, "<a/>"));
    EXPECT_EQ(before, control.Count());
}

TEST_F(RenewalPost, ClosedPortFails) {
    SetServerUrl(ServerUrl(L"https", ClosedLoopbackPort(), L"/x"));
    const HRESULT hr = Post("<a/>");
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
}

TEST_F(RenewalPost, ServerThatNeverAnswersFailsAfterTheExchangeTimeOut) {
    g_dwServerExchangeTimeout = 1500;
    ASSERT_TRUE(control.Set("HANG"));
    const HRESULT hr = Post("<a/>");
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_EQ(HRESULT_FACILITY(hr), FACILITY_WIN32);
}

// ---- the connection object on its own

TEST_F(ServerTest, ConnectionRefusesMissingArgumentsAndHoldsNoHandleAfterwards) {
    CSSLConnection connection;
    EXPECT_EQ(E_INVALIDARG, connection.Connect(nullptr, port, "/", 0, NO_TIMEOUT));
    EXPECT_EQ(E_INVALIDARG, connection.Connect("127.0.0.1", port, nullptr, 0, NO_TIMEOUT));
    ASSERT_EQ(S_OK, connection.Connect("127.0.0.1", port, "/direct", 0, 5000, 5000));
    EXPECT_EQ(E_INVALIDARG, connection.SendHttpsRequest(nullptr, 0, nullptr, 0));
    const BYTE body[] = {'h', 'i'};
    ASSERT_EQ(S_OK, connection.SendHttpsRequest("X-Test: 1\r\n", 11, body, 2));
    EXPECT_EQ(E_INVALIDARG, connection.GetRequestResult(nullptr, nullptr));
    BYTE* result = nullptr;
    DWORD size = 0;
    ASSERT_EQ(S_OK, connection.GetRequestResult(&size, &result));
    EXPECT_EQ(2u, size);
    EXPECT_EQ(0, memcmp("OK", result, 3));
    delete[] result;
    connection.Disconnect();
    testserver::LastRequest last;
    ASSERT_TRUE(control.Last(last));
    EXPECT_EQ("1", last.Header("X-Test"));
    EXPECT_EQ("hi", last.body);
}

}  // namespace
