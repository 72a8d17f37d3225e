#pragma once
// UTF-16 and UTF-8 text, bytes and hexadecimal text. Outputs are new
// buffers (array new) terminated one element beyond the reported length.
#include <windows.h>

HRESULT UTF16ToUTF8(const wchar_t* pwszUTF16, char** ppszUTF8, DWORD* pdwLength);
HRESULT UTF8ToUTF16(const char* pszUTF8, wchar_t** ppwszUTF16, DWORD* pdwLength);
// Upper-case hexadecimal wide text, two characters per byte.
HRESULT ConvertBinaryDataToString(const BYTE* lpBinaryData, DWORD dwDataLen, wchar_t** lppwFormattedString);
HRESULT FormatStringFromData(const BYTE* lpBinaryData, DWORD dwDataLen, wchar_t** lppwFormattedString);
// Bytes of a hexadecimal text in reverse order: "0102A0" gives A0 02 01.
// The buffer has 4 spare zero bytes so it reads as a little-endian integer.
HRESULT ConvertStringToBinaryData(const wchar_t* lpwString, BYTE** lppBinaryData, DWORD* pdwDataLen);
