// The WinINet POST exchange of the renewal and time-stamp clients.
#include "SSL.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "TraceHelper.h"

#define TRACE_MODULE L"SSL"

// INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_AUTO_REDIRECT |
// INTERNET_FLAG_IGNORE_CERT_DATE_INVALID | INTERNET_FLAG_IGNORE_CERT_CN_INVALID
constexpr DWORD SECURE_REQUEST_FLAGS = 0xA03000;
constexpr DWORD READ_CHUNK = 4096;

HRESULT ParseContentLength(const char* szValue, DWORD* pdwLength) {
    if (!szValue || !*szValue) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    ULONGLONG value = 0;
    for (const char* p = szValue; *p; ++p) {
        if (*p < '0' || *p > '9') return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        value = value * 10 + ULONGLONG(*p - '0');
        if (value > MAX_RESPONSE_BODY) {
            // Keep reading: a later non-digit still makes it no number.
            for (const char* q = p + 1; *q; ++q)
                if (*q < '0' || *q > '9') return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
            return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        }
    }
    *pdwLength = DWORD(value);
    return S_OK;
}

CSSLConnection::CSSLConnection() : m_hSession(nullptr), m_hConnect(nullptr), m_hRequest(nullptr), m_bSecure(0) {}

CSSLConnection::~CSSLConnection() { ClearHttpHandles(); }

void CSSLConnection::ClearHttpHandles() {
    TRACE_SCOPE(L"CSSLConnection::ClearHttpHandles");
    if (m_hRequest) {
        InternetCloseHandle(m_hRequest);
        m_hRequest = nullptr;
    }
    if (m_hConnect) {
        InternetCloseHandle(m_hConnect);
        m_hConnect = nullptr;
    }
    if (m_hSession) {
        InternetCloseHandle(m_hSession);
        m_hSession = nullptr;
    }
}

void CSSLConnection::Disconnect() {
    TRACE_SCOPE(L"CSSLConnection::Disconnect");
    ClearHttpHandles();
}

HRESULT CSSLConnection::Connect(const char* szServer, INTERNET_PORT nPort, const char* szObjectPage, int bSecure,
                                DWORD dwConnectTimeout, DWORD dwExchangeTimeout) {
    TRACE_SCOPE(L"CSSLConnection::Connect");
    HRESULT hr = S_OK;

    if (szServer == NULL || szObjectPage == NULL)
        FAIL_GOTO(L"Check Parameter", L"szVerb == NULL || szServer == NULL || szObjectPage == NULL", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");
    ClearHttpHandles();

    m_hSession = InternetOpenA("", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (m_hSession == NULL) FAIL_GOTO(L"InternetOpenA", L"m_hSession == NULL", HResultFromLastError());
    TRACE_STEP(L"InternetOpenA");

    m_hConnect = InternetConnectA(m_hSession, szServer, nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (m_hConnect == NULL) FAIL_GOTO(L"InternetConnect", L"m_hConnect == NULL", HResultFromLastError());
    TRACE_STEP(L"InternetConnect");

    if (dwConnectTimeout != NO_TIMEOUT) {
        const BOOL set = InternetSetOptionW(m_hConnect, INTERNET_OPTION_CONNECT_TIMEOUT, &dwConnectTimeout,
                                            sizeof dwConnectTimeout);
        TraceValue(L"InternetSetOption(INTERNET_OPTION_CONNECT_TIMEOUT)", set);
    }

    m_bSecure = bSecure;
    m_hRequest = HttpOpenRequestA(m_hConnect, "POST", szObjectPage, "HTTP/1.0", nullptr, nullptr,
                                  bSecure == 1 ? SECURE_REQUEST_FLAGS : 0, 0);
    if (m_hRequest == NULL) FAIL_GOTO(L"HttpOpenRequest", L"m_hRequest == NULL", HResultFromLastError());
    TRACE_STEP(L"HttpOpenRequest");

    if (dwExchangeTimeout != NO_TIMEOUT) {
        const BOOL sendSet = InternetSetOptionW(m_hRequest, INTERNET_OPTION_SEND_TIMEOUT, &dwExchangeTimeout,
                                                sizeof dwExchangeTimeout);
        const BOOL receiveSet = InternetSetOptionW(m_hRequest, INTERNET_OPTION_RECEIVE_TIMEOUT, &dwExchangeTimeout,
                                                   sizeof dwExchangeTimeout);
        if (!sendSet || !receiveSet)
            FAIL_GOTO(L"InternetSetOption(Timeout)", L"!bSendTimeout || !bReceiveTimeout", HResultFromLastError());
        TRACE_STEP(L"InternetSetOption(Timeout)");
    }

exit:
    if (hr != S_OK) ClearHttpHandles();
    return hr;
}

HRESULT CSSLConnection::SendHttpsRequest(const char* szHeaders, DWORD dwHeadersLength, const BYTE* szContext,
                                         DWORD dwContextLength) {
    TRACE_SCOPE(L"CSSLConnection::SendHttpsRequest");
    HRESULT hr = S_OK;
    char szStatusCode[16] = {};
    DWORD dwStatusLength = sizeof szStatusCode;

    if (szContext == NULL) FAIL_GOTO(L"Check Parameter", L"szContext == NULL", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    if (m_bSecure) {
        DWORD dwFlags = 0;
        DWORD dwFlagsLength = sizeof dwFlags;
        const BOOL queried = InternetQueryOptionW(m_hRequest, INTERNET_OPTION_SECURITY_FLAGS, &dwFlags, &dwFlagsLength);
        TraceValue(L"InternetQueryOption(INTERNET_OPTION_SECURITY_FLAGS)", queried);
        dwFlags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        const BOOL set = InternetSetOptionW(m_hRequest, INTERNET_OPTION_SECURITY_FLAGS, &dwFlags, sizeof dwFlags);
        TraceValue(L"InternetSetOption(INTERNET_OPTION_SECURITY_FLAGS)", set);
    }

    if (!HttpSendRequestA(m_hRequest, szHeaders, szHeaders ? dwHeadersLength : 0,
                          const_cast<BYTE*>(szContext), dwContextLength))
        FAIL_GOTO(L"HttpSendRequest", L"bRetCode == FALSE", HResultFromLastError());
    TRACE_STEP(L"HttpSendRequest");

    if (!HttpQueryInfoA(m_hRequest, HTTP_QUERY_STATUS_CODE, szStatusCode, &dwStatusLength, nullptr))
        FAIL_GOTO(L"HttpQueryInfo", L"bRetCode == FALSE", HResultFromLastError());
    TRACE_STEP(L"HttpQueryInfo");

    szStatusCode[sizeof szStatusCode - 1] = 0;
    TraceValue(L"HTTP status", DWORD(atoi(szStatusCode)));
    if (atoi(szStatusCode) != 200)
        FAIL_GOTO(L"object not found", L"atoi(szStatusCode) != 200", HRESULT_FROM_WIN32(ERROR_OBJECT_NOT_FOUND));

exit:
    return hr;
}

HRESULT CSSLConnection::GetRequestResult(DWORD* pdwRequestResultSize, BYTE** lppRequestResult) {
    TRACE_SCOPE(L"CSSLConnection::GetRequestResult");
    HRESULT hr = S_OK;
    char szContentLength[32] = {};
    DWORD dwQueryLength = sizeof szContentLength - 1;
    DWORD dwContentLengthSize = MAX_RESPONSE_BODY;
    DWORD dwCurrentResultSize = 0;
    BYTE* lpReadBuffer = nullptr;

    if (lppRequestResult == NULL || pdwRequestResultSize == NULL)
        FAIL_GOTO(L"Check Parameter", L"lppRequestResult == NULL", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    if (HttpQueryInfoA(m_hRequest, HTTP_QUERY_CONTENT_LENGTH, szContentLength, &dwQueryLength, nullptr)) {
        hr = ParseContentLength(szContentLength, &dwContentLengthSize);
        if (hr != S_OK) FAIL_GOTO(L"Check Content-Length", L"FAILED(ParseContentLength)", hr);
    } else if (GetLastError() != ERROR_HTTP_HEADER_NOT_FOUND) {
        // A value that does not fit the buffer is longer than any allowed length.
        FAIL_GOTO(L"HttpQueryInfo(Content-Length)", L"bRetCode == FALSE", HResultFromLastError());
    }
    TraceValue(L"Content length limit", dwContentLengthSize);

    lpReadBuffer = new (std::nothrow) BYTE[dwContentLengthSize + 1]();
    if (!lpReadBuffer) FAIL_GOTO(L"New buffer", L"!lpReadBuffer", E_OUTOFMEMORY);
    TRACE_STEP(L"New buffer");

    for (;;) {
        DWORD dwNumberOfBytesAvailable = 0;
        if (!InternetQueryDataAvailable(m_hRequest, &dwNumberOfBytesAvailable, 0, 0))
            FAIL_GOTO(L"InternetQueryDataAvailable", L"bRetCode == FALSE", HResultFromLastError());
        if (dwNumberOfBytesAvailable == 0) break;
        if (ULONGLONG(dwCurrentResultSize) + dwNumberOfBytesAvailable > dwContentLengthSize)
            FAIL_GOTO(L"Insufficient buffer to store accepted data.",
                      L"(dwCurrentResultSize + dwNumberOfBytesAvailable) > dwContentLengthSize",
                      HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
        DWORD dwRead = 0;
        const DWORD dwWant = dwNumberOfBytesAvailable < READ_CHUNK ? dwNumberOfBytesAvailable : READ_CHUNK;
        if (!InternetReadFile(m_hRequest, lpReadBuffer + dwCurrentResultSize, dwWant, &dwRead))
            FAIL_GOTO(L"InternetReadFile", L"bRetCode == FALSE", HResultFromLastError());
        if (dwRead == 0) break;
        dwCurrentResultSize += dwRead;
    }
    TraceValue(L"Body length", dwCurrentResultSize);

    *lppRequestResult = lpReadBuffer;
    *pdwRequestResultSize = dwCurrentResultSize;
    lpReadBuffer = nullptr;

exit:
    delete[] lpReadBuffer;
    return hr;
}
