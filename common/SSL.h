#pragma once
// One POST exchange over WinINet, HTTP or HTTPS: construct, Connect,
// SendHttpsRequest, GetRequestResult, Disconnect, destroy.
#include <windows.h>
#include <wininet.h>

// No time-out: the platform's own behaviour.
constexpr DWORD NO_TIMEOUT = 0xFFFFFFFF;

// A body may be at most this long, announced or not (4 MiB).
constexpr DWORD MAX_RESPONSE_BODY = 0x400000;

class CSSLConnection {
public:
    CSSLConnection();
    ~CSSLConnection();
    CSSLConnection(const CSSLConnection&) = delete;
    CSSLConnection& operator=(const CSSLConnection&) = delete;

    // Opens the session, the connection and a POST request (HTTP/1.0). The
    // connect time-out is set when it is not NO_TIMEOUT; the exchange
    // time-out, when it is not NO_TIMEOUT, bounds each send and each
    // receive, so that a server that accepts and never answers fails the
    // exchange instead of blocking it for ever. With the secure flag 1 the
    // request is HTTPS and does not follow redirects.
    HRESULT Connect(const char* szServer, INTERNET_PORT nPort, const char* szObjectPage, int bSecure,
                    DWORD dwConnectTimeout, DWORD dwExchangeTimeout = NO_TIMEOUT);
    // Sends the headers (null for none) and the body; the status must be 200
    // (else 0x800710D8).
    HRESULT SendHttpsRequest(const char* szHeaders, DWORD dwHeadersLength, const BYTE* szContext, DWORD dwContextLength);
    // The whole body in a new buffer (array new) of its length plus one zero
    // byte. Content-Length must be plain decimal digits (else 0x8007000D)
    // and at most MAX_RESPONSE_BODY (else 0x8007007A), checked before any
    // allocation; without it the body may be at most MAX_RESPONSE_BODY.
    HRESULT GetRequestResult(DWORD* pdwRequestResultSize, BYTE** lppRequestResult);
    void ClearHttpHandles();
    void Disconnect();

private:
    HINTERNET m_hSession;
    HINTERNET m_hConnect;
    HINTERNET m_hRequest;
    int m_bSecure;
};

// Reads a Content-Length value: plain decimal digits only, at most
// MAX_RESPONSE_BODY. S_OK, 0x8007000D (not a number) or 0x8007007A (too big).
HRESULT ParseContentLength(const char* szValue, DWORD* pdwLength);
