// Base64 (RFC 4648 alphabet). The encoder breaks the text of the complete
// 3-byte groups into lines of 76 characters and appends the characters of
// the 1 or 2 bytes left over at the very end, with no line break around
// them. The decoder skips everything outside the alphabet.
#include "Base64Utility.h"

#include <new>

#include "TraceHelper.h"

#define TRACE_MODULE L"Base64Utility"

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kLineChars = 76;

int RequiredLength(int n, DWORD flags) {
    long long c = 4LL * n / 3;
    if (flags != ATL_BASE64_FLAG_NOPAD) c += n % 3;
    c = (c + 3) / 4 * 4;
    if (flags != ATL_BASE64_FLAG_NOCRLF) c += 2 * (c / kLineChars + 1);
    return c > 0x7FFFFFFF ? -1 : static_cast<int>(c);
}

// Writes the text into out (room for it is guaranteed by RequiredLength).
int Encode(const BYTE* data, int n, char* out, DWORD flags) {
    int len = 0, onLine = 0;
    const int groups = n / 3;
    for (int g = 0; g < groups; ++g) {
        const BYTE* p = data + 3 * g;
        const unsigned v = (p[0] << 16) | (p[1] << 8) | p[2];
        for (int shift = 18; shift >= 0; shift -= 6) out[len++] = kAlphabet[(v >> shift) & 0x3F];
        onLine += 4;
        if (onLine == kLineChars) {
            if (flags != ATL_BASE64_FLAG_NOCRLF) {
                out[len++] = '\r';
                out[len++] = '\n';
            }
            onLine = 0;
        }
    }
    const int rest = n % 3;
    if (rest) {
        const BYTE* p = data + 3 * groups;
        const unsigned v = (p[0] << 16) | (rest == 2 ? p[1] << 8 : 0);
        out[len++] = kAlphabet[(v >> 18) & 0x3F];
        out[len++] = kAlphabet[(v >> 12) & 0x3F];
        if (rest == 2) out[len++] = kAlphabet[(v >> 6) & 0x3F];
        if (flags != ATL_BASE64_FLAG_NOPAD) {
            out[len++] = '=';
            if (rest == 1) out[len++] = '=';
        }
    }
    return len;
}

int DecodeValue(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

int Decode(const char* text, int n, BYTE* out) {
    int len = 0, count = 0;
    unsigned acc = 0;
    for (int i = 0; i < n; ++i) {
        if (count == 0 && text[i] == '\0') break;  // a zero where a group would begin ends the text
        const int v = DecodeValue(text[i]);
        if (v < 0) continue;
        acc = (acc << 6) | static_cast<unsigned>(v);
        if (++count == 4) {
            out[len++] = static_cast<BYTE>(acc >> 16);
            out[len++] = static_cast<BYTE>(acc >> 8);
            out[len++] = static_cast<BYTE>(acc);
            acc = 0;
            count = 0;
        }
    }
    // A last group of 2 or 3 characters carries 1 or 2 whole bytes.
    if (count == 2) {
        out[len++] = static_cast<BYTE>(acc >> 4);
    } else if (count == 3) {
        out[len++] = static_cast<BYTE>(acc >> 10);
        out[len++] = static_cast<BYTE>(acc >> 2);
    }
    return len;
}

}  // namespace

HRESULT Base64EncodeEx(const BYTE* pbData, int nDataLen, char** ppBase64EncodedStr, int* pnBase64Len, DWORD dwFlags) {
    TRACE_NAME(L"Base64EncodeEx");
    HRESULT hr = S_OK;
    char* pBase64EncodedStr = nullptr;
    int nBase64Length = 0;
    bool bSuccess = false;

    CHECK_GOTO(NULL == ppBase64EncodedStr, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(ATL_BASE64_FLAG_NONE != dwFlags && ATL_BASE64_FLAG_NOPAD != dwFlags &&
                   ATL_BASE64_FLAG_NOCRLF != dwFlags,
               L"Check Parameter(Flags)", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    nBase64Length = nDataLen < 0 ? -1 : RequiredLength(nDataLen, dwFlags);
    CHECK_GOTO(nBase64Length <= 0, L"Base64EncodeGetRequiredLength", RESULT_BASE64_ENCODE_FAILED);
    TRACE_STEP(L"Base64EncodeGetRequiredLength");

    pBase64EncodedStr = new (std::nothrow) char[nBase64Length + 1]();
    CHECK_GOTO(!pBase64EncodedStr, L"New buffer", E_OUTOFMEMORY);
    TRACE_STEP(L"New buffer");

    bSuccess = pbData != nullptr;
    CHECK_GOTO(false == bSuccess, L"Base64Encode", RESULT_BASE64_ENCODE_FAILED);
    nBase64Length = Encode(pbData, nDataLen, pBase64EncodedStr, dwFlags);
    TRACE_STEP(L"Base64Encode");

    *ppBase64EncodedStr = pBase64EncodedStr;
    pBase64EncodedStr = nullptr;
    if (pnBase64Len) *pnBase64Len = nBase64Length;

exit:
    delete[] pBase64EncodedStr;
    return hr;
}

HRESULT Base64DecodeEx(const char* pszText, int nTextLen, BYTE** ppDecodedData, int* pnDecodedLen) {
    TRACE_NAME(L"Base64DecodeEx");
    HRESULT hr = S_OK;
    BYTE* pDecodedData = nullptr;
    const int nDecodeDataSize = nTextLen;
    bool bSuccess = false;
    int nDecoded = 0;

    CHECK_GOTO(NULL == ppDecodedData, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(nDecodeDataSize <= 0, L"Base64DecodeGetRequiredLength", RESULT_BASE64_DECODE_FAILED);
    TRACE_STEP(L"Base64DecodeGetRequiredLength");

    pDecodedData = new (std::nothrow) BYTE[nDecodeDataSize]();
    CHECK_GOTO(!pDecodedData, L"New buffer", E_OUTOFMEMORY);
    TRACE_STEP(L"New buffer");

    bSuccess = pszText != nullptr;
    CHECK_GOTO(false == bSuccess, L"Base64Decode", RESULT_BASE64_DECODE_FAILED);
    nDecoded = Decode(pszText, nTextLen, pDecodedData);
    TRACE_STEP(L"Base64Decode");

    *ppDecodedData = pDecodedData;
    pDecodedData = nullptr;
    if (pnDecodedLen) *pnDecodedLen = nDecoded;

exit:
    delete[] pDecodedData;
    return hr;
}
