// The renewal server's POST over WinINet.
#include "HttpWinNet.h"

#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include "Encoding.h"
#include "Network.h"
#include "SSL.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"HttpWinNet"

wchar_t g_wszServerUrl[260] = {};
DWORD g_dwServerExchangeTimeout = 30000;

#define STEP_GOTO(step)                                  \
    do {                                                 \
        if (hr != S_OK) {                                \
            hr = HResultFromError(hr);                   \
            TRACE_FAIL(step, L"hResult != S_OK", hr);    \
            goto exit;                                   \
        }                                                \
        TRACE_STEP(step);                                \
    } while (0)

HRESULT PostToServerUrl(const wchar_t* lpwServerUrl, const char* szHeaders, DWORD dwHeadersLength, const BYTE* pbyBody,
                        DWORD dwBodyLength, DWORD dwConnectTimeout, DWORD dwExchangeTimeout, BYTE** ppbyResponse,
                        DWORD* pdwResponseLength) {
    TRACE_SCOPE(L"PostToServerUrl");
    HRESULT hr = S_OK;
    std::wstring host;
    std::wstring objectPath;
    INTERNET_PORT port = 0;
    int secure = 0;
    char* pszHost = nullptr;
    char* pszObjectPath = nullptr;
    CSSLConnection connection;

    hr = ParseNetworkURL(lpwServerUrl, host, port, objectPath, secure);
    STEP_GOTO(L"ParseNetworkURL");
    hr = UTF16ToUTF8(host.c_str(), &pszHost, nullptr);
    STEP_GOTO(L"UTF16ToUTF8(Host Name)");
    hr = UTF16ToUTF8(objectPath.c_str(), &pszObjectPath, nullptr);
    STEP_GOTO(L"UTF16ToUTF8");
    hr = connection.Connect(pszHost, port, pszObjectPath, secure, dwConnectTimeout, dwExchangeTimeout);
    STEP_GOTO(L"Connect");
    hr = connection.SendHttpsRequest(szHeaders, dwHeadersLength, pbyBody, dwBodyLength);
    STEP_GOTO(L"SendHttpRequest");
    hr = connection.GetRequestResult(pdwResponseLength, ppbyResponse);
    STEP_GOTO(L"GetRequestResult");

exit:
    delete[] pszHost;
    delete[] pszObjectPath;
    connection.Disconnect();
    return hr;
}

HRESULT WinNetPostUrlRequestData(char** ppszResponseData, const char* pszRequestData) {
    TRACE_SCOPE(L"WinNetPostUrlRequestData");
    HRESULT hr = S_OK;
    const wchar_t* lpwServerUrl = g_wszServerUrl;
    BYTE* pbyBody = nullptr;
    DWORD dwBodyLength = 0;
    char* pszResponseData = nullptr;

    if (lpwServerUrl == NULL || wcsnlen(lpwServerUrl, 260) == 0 || pszRequestData == NULL || ppszResponseData == NULL) {
        hr = E_INVALIDARG;
        TRACE_FAIL(L"Check Parameter",
                   L"lpwServerUrl == NULL || wcslen(lpwServerUrl) == 0 || pszRequestData == NULL || "
                   L"ppszResponseData == NULL",
                   hr);
        return hr;
    }
    TRACE_STEP(L"Check Parameter");

    {
        // The buffer is 260 units; a URL filling it without a terminator is cut there.
        const std::wstring url(lpwServerUrl, wcsnlen(lpwServerUrl, 260));
        hr = PostToServerUrl(url.c_str(), nullptr, 0, reinterpret_cast<const BYTE*>(pszRequestData),
                             DWORD(strlen(pszRequestData)), NO_TIMEOUT, g_dwServerExchangeTimeout, &pbyBody,
                             &dwBodyLength);
    }
    if (hr != S_OK) {
        TRACE_FAIL(L"PostToServerUrl", L"hResult != S_OK", hr);
        goto exit;
    }

    pszResponseData = new (std::nothrow) char[dwBodyLength + 1]();
    if (!pszResponseData) {
        hr = E_OUTOFMEMORY;
        TRACE_FAIL(L"New buffer", L"!pszResponseData", hr);
        goto exit;
    }
    memcpy(pszResponseData, pbyBody, dwBodyLength);
    *ppszResponseData = pszResponseData;

exit:
    delete[] pbyBody;
    return hr;
}

HRESULT PostUrlRequestData(const char* pszRequestData, char** ppszResponseData) {
    TRACE_SCOPE(L"PostUrlRequestData");
    return WinNetPostUrlRequestData(ppszResponseData, pszRequestData);
}
