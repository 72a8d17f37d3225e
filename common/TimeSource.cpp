// The trusted current time from an RFC 3161 time-stamp server. The time
// stamp serves only as a clock: the request carries a fixed imprint and
// only the genTime of the answer is read.
#include "TimeSource.h"

#include <wincrypt.h>

#include <cstring>
#include <new>
#include <vector>

#include "ASN1EngineEx.h"
#include "DataSigning.h"
#include "Encoding.h"
#include "HttpWinNet.h"
#include "SSL.h"
#include "TraceHelper.h"
#include "UsualInterface.h"

#define TRACE_MODULE L"TimeSource"

#ifndef CERTAIDE_TIMESTAMP_URL
#define CERTAIDE_TIMESTAMP_URL L""
#endif

wchar_t g_wszTimeStampUrl[260] = CERTAIDE_TIMESTAMP_URL;
DWORD g_dwTimeStampConnectTimeout = 6000;
DWORD g_dwTimeStampExchangeTimeout = 6000;

namespace {

const char TIMESTAMP_CONTENT_TYPE[] = "Content-Type: application/timestamp-query";
const char SHA1_OID[] = "1.3.14.3.2.26";
const BYTE FIXED_IMPRINT[] = "12345678901234567890";

// The child at the index, or null when the node has fewer children.
const ASN1Node* Child(const ASN1Node* node, size_t index) {
    return node && index < node->vetNodes.size() ? node->vetNodes[index] : nullptr;
}

}  // namespace

HRESULT EncodeTimeStampRequest(BYTE** ppbyRequest, DWORD* pdwRequestLength, const BYTE* pbyMessageImprint,
                               DWORD dwMessageImprintLength) {
    TRACE_SCOPE(L"EncodeTimeStampRequest");
    HRESULT hr = S_OK;
    CRYPT_ATTRIBUTE attribute = {const_cast<LPSTR>(SHA1_OID), 0, nullptr};
    BYTE* pbyAlgorithm = nullptr;
    DWORD dwAlgorithm = 0;
    std::vector<BYTE> imprint, request;
    static const BYTE version[] = {0x02, 0x01, 0x01};
    static const BYTE certReq[] = {0x01, 0x01, 0xFF};

    if (ppbyRequest == NULL || pdwRequestLength == NULL || pbyMessageImprint == NULL)
        FAIL_GOTO(L"Check Parameter", L"ppbyRequest == NULL || pdwRequestLength == NULL || pbyMessageImprint == NULL",
                  E_INVALIDARG);

    // SEQUENCE { OID, SET {} } with its empty SET turned into NULL.
    hr = EncodeObject(&dwAlgorithm, PKCS_ATTRIBUTE, &attribute, &pbyAlgorithm);
    if (FAILED(hr)) FAIL_GOTO(L"EncodeObject", L"FAILED(hResult)", hr);
    if (dwAlgorithm < 2 || pbyAlgorithm[dwAlgorithm - 2] != 0x31 || pbyAlgorithm[dwAlgorithm - 1] != 0x00)
        FAIL_GOTO(L"EncodeObject", L"unexpected attribute encoding", HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    pbyAlgorithm[dwAlgorithm - 2] = 0x05;
    TRACE_STEP(L"EncodeObject");

    try {
        imprint.assign(pbyAlgorithm, pbyAlgorithm + dwAlgorithm);
        hr = ASN1EncodeAppend(imprint, 0x04, pbyMessageImprint, dwMessageImprintLength);
        if (hr != S_OK) FAIL_GOTO(L"ASN1Encode(OCTET STRING)", L"hResult != S_OK", hr);
        std::vector<BYTE> content(version, version + sizeof version);
        hr = ASN1EncodeAppend(content, 0x30, imprint);
        if (hr != S_OK) FAIL_GOTO(L"ASN1Encode(MessageImprint)", L"hResult != S_OK", hr);
        content.insert(content.end(), certReq, certReq + sizeof certReq);
        hr = ASN1EncodeAppend(request, 0x30, content);
        if (hr != S_OK) FAIL_GOTO(L"ASN1Encode(TimeStampReq)", L"hResult != S_OK", hr);
    } catch (const std::bad_alloc&) {
        FAIL_GOTO(L"New buffer", L"!pbyTimeStampRequest", E_OUTOFMEMORY);
    }
    hr = CopyToNewBuffer(request, ppbyRequest, pdwRequestLength);
    if (hr != S_OK) FAIL_GOTO(L"New buffer", L"!pbyTimeStampRequest", hr);

exit:
    delete[] pbyAlgorithm;
    return hr;
}

HRESULT HttpPostRequestData(BYTE** ppbyResponseData, DWORD* pdwResponseLength, const BYTE* pbyRequestData,
                            DWORD dwRequestLength) {
    TRACE_SCOPE(L"HttpPostRequestData");
    const wchar_t* lpwServerUrl = g_wszTimeStampUrl;
    if (wcsnlen(lpwServerUrl, 260) == 0 || wcsnlen(lpwServerUrl, 260) == 260 || pbyRequestData == NULL ||
        ppbyResponseData == NULL || pdwResponseLength == NULL) {
        TRACE_FAIL(L"Check Parameter",
                   L"lpwServerUrl == NULL || wcslen(lpwServerUrl) == 0 || pbyRequestData == NULL || "
                   L"ppbyResponseData == NULL",
                   E_INVALIDARG);
        return E_INVALIDARG;
    }
    TRACE_STEP(L"Check Parameter");
    const HRESULT hr = PostToServerUrl(lpwServerUrl, TIMESTAMP_CONTENT_TYPE, DWORD(sizeof TIMESTAMP_CONTENT_TYPE - 1),
                                       pbyRequestData, dwRequestLength, g_dwTimeStampConnectTimeout,
                                       g_dwTimeStampExchangeTimeout, ppbyResponseData, pdwResponseLength);
    if (hr != S_OK) TRACE_FAIL(L"PostToServerUrl", L"hResult != S_OK", hr);
    return hr;
}

HRESULT DecodeTimeStampResponse(DWORD* pdwTokenLength, const BYTE* pbyResponse, DWORD dwResponseLength,
                                BYTE** ppbyToken) {
    TRACE_SCOPE(L"DecodeTimeStampResponse");
    HRESULT hr = S_OK;
    ASN1Node* pNodeTimeStampResponse = nullptr;
    const ASN1Node* status = nullptr;
    const ASN1Node* token = nullptr;
    ULONGLONG start = 0;
    BYTE* pbyTimeStampToken = nullptr;

    if (pdwTokenLength == NULL || pbyResponse == NULL || ppbyToken == NULL)
        FAIL_GOTO(L"Check Parameter", L"pdwTokenLength == NULL || pbyResponse == NULL || ppbyToken == NULL",
                  E_INVALIDARG);
    if (0 != DecodeASN1MemoryEx(&pNodeTimeStampResponse, pbyResponse, dwResponseLength))
        FAIL_GOTO(L"DecodeASN1MemoryEx", L"0 != nResult", HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    TRACE_STEP(L"DecodeASN1MemoryEx");
    if (2 != pNodeTimeStampResponse->vetNodes.size())
        FAIL_GOTO(L"Check TimeStamp response nodes", L"2 != pNodeTimeStampResponse->vetNodes.size()",
                  HRESULT_FROM_WIN32(ERROR_INVALID_DATA));

    status = pNodeTimeStampResponse->vetNodes[0];
    token = pNodeTimeStampResponse->vetNodes[1];
    start = status->ullContentOffset + status->dwContentLength;
    if (start + token->dwTotalLength > dwResponseLength)
        FAIL_GOTO(L"Check TimeStamp token", L"token beyond the response", HRESULT_FROM_WIN32(ERROR_INVALID_DATA));

    pbyTimeStampToken = new (std::nothrow) BYTE[token->dwTotalLength];
    if (!pbyTimeStampToken) FAIL_GOTO(L"New buffer", L"!pbyTimeStampToken", E_OUTOFMEMORY);
    memcpy(pbyTimeStampToken, pbyResponse + start, token->dwTotalLength);
    *ppbyToken = pbyTimeStampToken;
    *pdwTokenLength = token->dwTotalLength;

exit:
    delete pNodeTimeStampResponse;
    return hr;
}

HRESULT RequestTimeStampToken(const BYTE* pbyMessageImprint, DWORD dwMessageImprintLength, char** ppszUtcTimeValue) {
    TRACE_SCOPE(L"RequestTimeStampToken");
    HRESULT hr = S_OK;
    BYTE* pbyRequest = nullptr;
    DWORD dwRequest = 0;
    BYTE* pbyResponse = nullptr;
    DWORD dwResponse = 0;
    BYTE* pbyToken = nullptr;
    DWORD dwToken = 0;
    ASN1Node* pNodeToken = nullptr;
    ASN1Node* pNodeTSTInfo = nullptr;
    const BYTE* pbyTSTInfo = nullptr;
    DWORD dwTSTInfoSize = 0;
    const ASN1Node* octets = nullptr;
    const ASN1Node* genTime = nullptr;
    char* pszUtcTimeValue = nullptr;

    if (ppszUtcTimeValue == NULL) FAIL_GOTO(L"Check Parameter", L"ppszUtcTimeValue == NULL", E_INVALIDARG);

    hr = EncodeTimeStampRequest(&pbyRequest, &dwRequest, pbyMessageImprint, dwMessageImprintLength);
    if (FAILED(hr)) FAIL_GOTO(L"EncodeTimeStampRequest", L"FAILED(hResult)", hr);
    hr = HttpPostRequestData(&pbyResponse, &dwResponse, pbyRequest, dwRequest);
    if (hr != S_OK) FAIL_GOTO(L"HttpPostRequestData", L"hResult != S_OK", HResultFromError(hr));
    hr = DecodeTimeStampResponse(&dwToken, pbyResponse, dwResponse, &pbyToken);
    if (hr != S_OK) FAIL_GOTO(L"DecodeTimeStampResponse", L"hResult != S_OK", HResultFromError(hr));

    if (0 != DecodeASN1MemoryEx(&pNodeToken, pbyToken, dwToken))
        FAIL_GOTO(L"DecodeASN1MemoryEx", L"hResult != S_OK", HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    // ContentInfo -> [0] -> SignedData -> encapContentInfo -> [0] -> OCTET STRING
    octets = Child(Child(Child(Child(Child(pNodeToken, 1), 0), 2), 1), 0);
    if (octets) {
        pbyTSTInfo = pbyToken + octets->ullContentOffset;
        dwTSTInfoSize = octets->dwContentLength;
    }
    if (NULL == pbyTSTInfo || 0 == dwTSTInfoSize)
        FAIL_GOTO(L"The timestamp response is corrupted", L"NULL == pbyTSTInfo || 0 == dwTSTInfoSize", NTE_BAD_DATA);

    if (0 != DecodeASN1MemoryEx(&pNodeTSTInfo, pbyTSTInfo, dwTSTInfoSize))
        FAIL_GOTO(L"DecodeASN1MemoryEx", L"hResult != S_OK", HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    if (pNodeTSTInfo->vetNodes.size() < 5)
        FAIL_GOTO(L"The timestamp response is corrupted", L"pNodeTSTInfo->vetNodes.size() < 5", NTE_BAD_DATA);

    genTime = pNodeTSTInfo->vetNodes[4];
    pszUtcTimeValue = new (std::nothrow) char[genTime->dwContentLength + 1]();
    if (!pszUtcTimeValue) FAIL_GOTO(L"New buffer", L"!pszUtcTimeValue", E_OUTOFMEMORY);
    memcpy(pszUtcTimeValue, pbyTSTInfo + genTime->ullContentOffset, genTime->dwContentLength);
    *ppszUtcTimeValue = pszUtcTimeValue;

exit:
    delete[] pbyRequest;
    delete[] pbyResponse;
    delete[] pbyToken;
    delete pNodeToken;
    delete pNodeTSTInfo;
    return hr;
}

HRESULT GetStdTimeFromPELQTimeStamp(FILETIME* lpUtcFileTime) {
    TRACE_SCOPE(L"GetStdTimeFromPELQTimeStamp");
    HRESULT hr = S_OK;
    char* pszUtcTime = nullptr;
    wchar_t* pwszUtcTime = nullptr;
    FILETIME fileTime = {};

    if (lpUtcFileTime == NULL) FAIL_GOTO(L"Check parameter", L"lpUtcFileTime == NULL", E_INVALIDARG);

    hr = RequestTimeStampToken(FIXED_IMPRINT, 20, &pszUtcTime);
    if (hr != S_OK) FAIL_GOTO(L"RequestTimeStampToken", L"hResult != S_OK", HResultFromError(hr));
    hr = UTF8ToUTF16(pszUtcTime, &pwszUtcTime, nullptr);
    if (hr != S_OK) FAIL_GOTO(L"UTF8ToUTF16", L"hResult != S_OK", HResultFromError(hr));
    hr = StringTimeToFileTime(pwszUtcTime, &fileTime);
    if (hr != S_OK) FAIL_GOTO(L"StringTimeToFileTime", L"hResult != S_OK", HResultFromError(hr));
    *lpUtcFileTime = fileTime;

exit:
    delete[] pszUtcTime;
    delete[] pwszUtcTime;
    return hr;
}
