#pragma once
// The renewal server's POST: the request's UTF-8 text to g_wszServerUrl,
// the response body back.
#include <windows.h>

// The renewal server's URL; the application fills it once at start-up,
// before any thread posts (tests write it).
extern wchar_t g_wszServerUrl[260];

// Bounds each send and each receive of a renewal exchange, in milliseconds
// (30 s; tests shorten it).
extern DWORD g_dwServerExchangeTimeout;

// POSTs the request's bytes (without their terminating zero) to
// g_wszServerUrl and returns the body as a new zero-terminated buffer
// (array new). E_INVALIDARG, before any connection, for an empty URL or a
// missing pointer; the response pointer is written only on success.
HRESULT WinNetPostUrlRequestData(char** ppszResponseData, const char* pszRequestData);
// The renewal protocol's entry: WinNetPostUrlRequestData.
HRESULT PostUrlRequestData(const char* pszRequestData, char** ppszResponseData);

// One POST to the URL with the headers (null for none) and the body; the
// response body in a new buffer (array new) of its length plus one zero
// byte. The renewal and time-stamp clients share it.
HRESULT PostToServerUrl(const wchar_t* lpwServerUrl, const char* szHeaders, DWORD dwHeadersLength, const BYTE* pbyBody,
                        DWORD dwBodyLength, DWORD dwConnectTimeout, DWORD dwExchangeTimeout, BYTE** ppbyResponse,
                        DWORD* pdwResponseLength);
