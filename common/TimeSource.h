#pragma once
// The trusted current time, taken from an RFC 3161 time-stamp server: the
// genTime of a time stamp over a fixed imprint. Outputs are new buffers
// (array new) that the caller frees with array delete.
#include <windows.h>

// The time-stamp server's URL, "http://<address>/timestamp", from the
// build (empty when the build names none: every request then fails and the
// caller uses the system clock). Tests write it.
extern wchar_t g_wszTimeStampUrl[260];
// Connect time-out and the bound on each send and receive of a time-stamp
// exchange, in milliseconds (6 s each; tests shorten the second).
extern DWORD g_dwTimeStampConnectTimeout;
extern DWORD g_dwTimeStampExchangeTimeout;

// TimeStampReq { 1, { SHA-1 with NULL parameters, imprint }, certReq TRUE }.
HRESULT EncodeTimeStampRequest(BYTE** ppbyRequest, DWORD* pdwRequestLength, const BYTE* pbyMessageImprint,
                               DWORD dwMessageImprintLength);
// POSTs the request to g_wszTimeStampUrl as "application/timestamp-query".
HRESULT HttpPostRequestData(BYTE** ppbyResponseData, DWORD* pdwResponseLength, const BYTE* pbyRequestData,
                            DWORD dwRequestLength);
// The complete encoding of a TimeStampResp's second element (the token);
// the response must have exactly two elements (else 0x8007000D).
HRESULT DecodeTimeStampResponse(DWORD* pdwTokenLength, const BYTE* pbyResponse, DWORD dwResponseLength,
                                BYTE** ppbyToken);
// Request, post, decode: the token's genTime as zero-terminated text.
HRESULT RequestTimeStampToken(const BYTE* pbyMessageImprint, DWORD dwMessageImprintLength, char** ppszUtcTimeValue);
// The time-stamp server's current time as a UTC FILETIME (seconds; a
// fraction is dropped). On failure the out value is left unchanged.
HRESULT GetStdTimeFromPELQTimeStamp(FILETIME* lpUtcFileTime);
