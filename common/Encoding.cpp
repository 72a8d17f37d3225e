// UTF-16 / UTF-8 conversions through the platform, and hexadecimal text.
#include "Encoding.h"

#include <cwchar>
#include <new>

#include "TraceHelper.h"

#define TRACE_MODULE L"Encoding"

HRESULT UTF16ToUTF8(const wchar_t* pwszUTF16, char** ppszUTF8, DWORD* pdwLength) {
    TRACE_SCOPE(L"UTF16ToUTF8");
    HRESULT hr = S_OK;
    int utf8Size = 0;
    int nResult = 0;
    char* pszUTF8 = nullptr;

    CHECK_GOTO(pwszUTF16 == NULL || ppszUTF8 == NULL, L"Check Parameter", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    utf8Size = WideCharToMultiByte(CP_UTF8, 0, pwszUTF16, -1, nullptr, 0, nullptr, nullptr);
    CHECK_GOTO(0 == utf8Size, L"WideCharToMultiByte(Length)", HResultFromLastError());
    TRACE_STEP(L"WideCharToMultiByte(Length)");

    pszUTF8 = new (std::nothrow) char[utf8Size]();
    *ppszUTF8 = pszUTF8;
    CHECK_GOTO(!*ppszUTF8, L"New buffer", E_OUTOFMEMORY);
    TRACE_STEP(L"New buffer");

    nResult = WideCharToMultiByte(CP_UTF8, 0, pwszUTF16, -1, pszUTF8, utf8Size, nullptr, nullptr);
    CHECK_GOTO(0 == nResult, L"WideCharToMultiByte", HResultFromLastError());
    TRACE_STEP(L"WideCharToMultiByte");

    if (pdwLength) *pdwLength = static_cast<DWORD>(utf8Size - 1);
    pszUTF8 = nullptr;

exit:
    if (pszUTF8) {
        delete[] pszUTF8;
        *ppszUTF8 = nullptr;
    }
    return hr;
}

HRESULT UTF8ToUTF16(const char* pszUTF8, wchar_t** ppwszUTF16, DWORD* pdwLength) {
    TRACE_SCOPE(L"UTF8ToUTF16");
    HRESULT hr = S_OK;
    int utf16Size = 0;
    int nResult = 0;
    wchar_t* pwszUTF16 = nullptr;

    CHECK_GOTO(pszUTF8 == NULL || ppwszUTF16 == NULL, L"Check Parameter", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    utf16Size = MultiByteToWideChar(CP_UTF8, 0, pszUTF8, -1, nullptr, 0);
    CHECK_GOTO(0 == utf16Size, L"MultiByteToWideChar(Length)", HResultFromLastError());
    TRACE_STEP(L"MultiByteToWideChar(Length)");

    pwszUTF16 = new (std::nothrow) wchar_t[utf16Size]();
    *ppwszUTF16 = pwszUTF16;
    CHECK_GOTO(!*ppwszUTF16, L"New buffer", E_OUTOFMEMORY);
    TRACE_STEP(L"New buffer");

    nResult = MultiByteToWideChar(CP_UTF8, 0, pszUTF8, -1, pwszUTF16, utf16Size);
    CHECK_GOTO(0 == nResult, L"MultiByteToWideChar", HResultFromLastError());
    TRACE_STEP(L"MultiByteToWideChar");

    if (pdwLength) *pdwLength = static_cast<DWORD>(utf16Size - 1);
    pwszUTF16 = nullptr;

exit:
    if (pwszUTF16) {
        delete[] pwszUTF16;
        *ppwszUTF16 = nullptr;
    }
    return hr;
}

HRESULT ConvertBinaryDataToString(const BYTE* lpBinaryData, DWORD dwDataLen, wchar_t** lppwFormattedString) {
    TRACE_SCOPE(L"ConvertBinaryDataToString");
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    HRESULT hr = S_OK;

    CHECK_GOTO(lpBinaryData == NULL || lppwFormattedString == NULL, L"Check Parameter", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    *lppwFormattedString = new (std::nothrow) wchar_t[2 * static_cast<size_t>(dwDataLen) + 1]();
    CHECK_GOTO(!*lppwFormattedString, L"New buffer", E_OUTOFMEMORY);
    TRACE_STEP(L"New buffer");

    for (DWORD i = 0; i < dwDataLen; ++i) {
        (*lppwFormattedString)[2 * i] = kDigits[lpBinaryData[i] >> 4];
        (*lppwFormattedString)[2 * i + 1] = kDigits[lpBinaryData[i] & 0x0F];
    }
    TRACE_STEP(L"Format data");

exit:
    return hr;
}

HRESULT FormatStringFromData(const BYTE* lpBinaryData, DWORD dwDataLen, wchar_t** lppwFormattedString) {
    TRACE_SCOPE(L"FormatStringFromData");
    return ConvertBinaryDataToString(lpBinaryData, dwDataLen, lppwFormattedString);
}

namespace {
int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return c - L'A' + 10;
}
}  // namespace

HRESULT ConvertStringToBinaryData(const wchar_t* lpwString, BYTE** lppBinaryData, DWORD* pdwDataLen) {
    TRACE_SCOPE(L"ConvertStringToBinaryData");
    HRESULT hr = S_OK;
    size_t nChars = 0;
    size_t m = 0;
    BYTE* lpBinaryData = nullptr;
    wchar_t* lpwTempString = nullptr;

    CHECK_GOTO(lpwString == NULL || lppBinaryData == NULL, L"Check Parameter", E_INVALIDARG);
    nChars = wcslen(lpwString);
    // The whole text must be hexadecimal digits: its hexadecimal prefix must
    // equal the text.
    lpwTempString = new (std::nothrow) wchar_t[nChars + 1]();
    CHECK_GOTO(!lpwTempString, L"New buffer", E_OUTOFMEMORY);
    wcsncpy(lpwTempString, lpwString, wcsspn(lpwString, L"0123456789abcdefABCDEF"));
    CHECK_GOTO(wcscmp(lpwTempString, lpwString) != 0, L"Invalid Source String", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    m = nChars / 2;  // a final odd digit is ignored
    lpBinaryData = new (std::nothrow) BYTE[m + 4]();
    CHECK_GOTO(!lpBinaryData, L"New buffer", E_OUTOFMEMORY);
    TRACE_STEP(L"New buffer");

    // The last digit pair of the text becomes the first byte.
    for (size_t i = 0; i < m; ++i) {
        const size_t pos = 2 * (m - 1 - i);
        lpBinaryData[i] = static_cast<BYTE>((HexValue(lpwString[pos]) << 4) | HexValue(lpwString[pos + 1]));
    }
    TRACE_STEP(L"Convert data");

    *lppBinaryData = lpBinaryData;
    if (pdwDataLen) *pdwDataLen = static_cast<DWORD>(m);

exit:
    delete[] lpwTempString;
    return hr;
}
