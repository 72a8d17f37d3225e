#pragma once
// Base64 text of bytes and back, with the line rule of the callers.
#include <windows.h>

#define ATL_BASE64_FLAG_NONE 0   // standard text with line breaks and padding
#define ATL_BASE64_FLAG_NOPAD 1  // no padding
#define ATL_BASE64_FLAG_NOCRLF 2 // no line breaks

// Encodes nDataLen bytes into a new terminated 8-bit text (array new; the
// caller frees it with array delete). Exactly one of the three flags values.
HRESULT Base64EncodeEx(const BYTE* pbData, int nDataLen, char** ppBase64EncodedStr, int* pnBase64Len,
                       DWORD dwFlags);
// Decodes nTextLen characters, skipping any outside the alphabet, into a new buffer.
HRESULT Base64DecodeEx(const char* pszText, int nTextLen, BYTE** ppDecodedData, int* pnDecodedLen);
