// Certificate sets, field readers, checks and filters on CryptoAPI.
#include "RegCertificate.h"

#include <shlwapi.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "Misc.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"RegCertificate"

namespace {

constexpr DWORD kEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD kNameFlags = CERT_NAME_STR_REVERSE_FLAG | CERT_NAME_STR_NO_QUOTING_FLAG;

// Decodes the certificate's extension of the given identifier into a new
// zeroed buffer (size, then content). missingCode when there is none.
HRESULT DecodeExtension(PCCERT_CONTEXT cert, LPCSTR oid, HRESULT missingCode, BYTE** decoded) {
    TRACE_NAME(L"DecodeExtension");
    HRESULT hr = S_OK;
    PCERT_EXTENSION pstCertExtention = nullptr;
    BYTE* lpDecodedData = nullptr;
    DWORD size = 0;
    BOOL bRetCode = FALSE;

    pstCertExtention = CertFindExtension(oid, cert->pCertInfo->cExtension, cert->pCertInfo->rgExtension);
    CHECK_GOTO(pstCertExtention == NULL, L"CertFindExtension", missingCode);
    bRetCode = CryptDecodeObjectEx(kEncodingType, oid, pstCertExtention->Value.pbData, pstCertExtention->Value.cbData,
                                   CRYPT_DECODE_NOCOPY_FLAG, nullptr, nullptr, &size);
    CHECK_GOTO(bRetCode == FALSE, L"CryptDecodeObjectEx", HResultFromLastError());
    lpDecodedData = new (std::nothrow) BYTE[size ? size : 1]();
    CHECK_GOTO(!lpDecodedData, L"New buffer", E_OUTOFMEMORY);
    bRetCode = CryptDecodeObjectEx(kEncodingType, oid, pstCertExtention->Value.pbData, pstCertExtention->Value.cbData,
                                   CRYPT_DECODE_NOCOPY_FLAG, nullptr, lpDecodedData, &size);
    CHECK_GOTO(bRetCode == FALSE, L"CryptDecodeObjectEx(Content)", HResultFromLastError());
    *decoded = lpDecodedData;
    lpDecodedData = nullptr;

exit:
    delete[] lpDecodedData;
    return hr;
}

// Name text of a certificate name blob (two passes of CertNameToStrW).
HRESULT NameText(PCERT_NAME_BLOB name, DWORD strType, wchar_t** text, DWORD* length) {
    TRACE_NAME(L"NameText");
    HRESULT hr = S_OK;
    wchar_t* buffer = nullptr;
    DWORD dwNameLen = CertNameToStrW(kEncodingType, name, strType, nullptr, 0);
    CHECK_GOTO(dwNameLen == 0, L"CertNameToStrW(Length)", HResultFromLastError());
    buffer = new (std::nothrow) wchar_t[dwNameLen]();
    CHECK_GOTO(!buffer, L"New buffer", E_OUTOFMEMORY);
    dwNameLen = CertNameToStrW(kEncodingType, name, strType, buffer, dwNameLen);
    CHECK_GOTO(dwNameLen == 0, L"CertNameToStrW(Content)", HResultFromLastError());
    *text = buffer;
    if (length) *length = dwNameLen;
    buffer = nullptr;

exit:
    delete[] buffer;
    return hr;
}

// A name text contains one of the entries (case ignored); an empty entry always matches.
HRESULT MatchNameList(const wchar_t* text, const std::vector<std::wstring>& entries) {
    for (const std::wstring& entry : entries)
        if (entry.empty() || StrStrIW(text, entry.c_str()) != nullptr) return S_OK;
    return E_FAIL;
}

// A reader's failure as a check's result: negative codes unchanged,
// positive ones folded like a Win32 error.
HRESULT CheckResult(HRESULT hr) { return HResultFromError(hr); }

}  // namespace

HRESULT GetSystemCSPName(std::vector<std::wstring>& vtrCSPNames) {
    TRACE_SCOPE(L"GetSystemCSPName");
    for (DWORD index = 0;; ++index) {
        DWORD type = 0, size = 0;
        if (!CryptEnumProvidersW(index, nullptr, 0, &type, nullptr, &size)) {
            if (GetLastError() == ERROR_NO_MORE_ITEMS) break;
            TRACE_STEP(L"CryptEnumProvidersW(Length) skipped");
            continue;
        }
        wchar_t* name = new (std::nothrow) wchar_t[size / sizeof(wchar_t) + 1]();
        if (!name) return E_OUTOFMEMORY;
        if (CryptEnumProvidersW(index, nullptr, 0, &type, name, &size)) {
            try {
                vtrCSPNames.push_back(name);
            } catch (const std::bad_alloc&) {
                delete[] name;
                return E_OUTOFMEMORY;
            }
        } else {
            TRACE_STEP(L"CryptEnumProvidersW skipped");
        }
        delete[] name;
    }
    return S_OK;
}

void RemoveAllCertificates(CertContextSet& certSet) {
    TRACE_SCOPE(L"RemoveAllCertificates");
    for (PCCERT_CONTEXT cert : certSet)
        if (cert) CertFreeCertificateContext(cert);
    certSet.clear();
}

HRESULT GetCertSubject(wchar_t** lppwSubject, PCCERT_CONTEXT pstCertContext, DWORD* pdwSubjectLen,
                       DWORD dwStrType) {
    TRACE_SCOPE(L"GetCertSubject");
    HRESULT hr = S_OK;
    CHECK_GOTO(pstCertContext == NULL || lppwSubject == NULL, L"Check Parameter", E_INVALIDARG);
    *lppwSubject = nullptr;
    hr = NameText(&pstCertContext->pCertInfo->Subject, dwStrType | kNameFlags, lppwSubject, pdwSubjectLen);
    CHECK_GOTO(hr != S_OK, L"NameText(Subject)", hr);
exit:
    return hr;
}

HRESULT GetCertSubjectCN(PCCERT_CONTEXT pstCertContext, std::wstring& wstrSubjectCN) {
    TRACE_SCOPE(L"GetCertSubjectCN");
    HRESULT hr = S_OK;
    wchar_t* subject = nullptr;
    size_t comma = 0;
    hr = GetCertSubject(&subject, pstCertContext, nullptr, CERT_X500_NAME_STR);
    CHECK_GOTO(hr != S_OK, L"GetCertSubject", hr);
    wstrSubjectCN = subject;
    comma = wstrSubjectCN.find(L',');
    if (comma != std::wstring::npos) wstrSubjectCN.erase(comma);
exit:
    delete[] subject;
    return hr;
}

HRESULT GetCertIssuer(PCCERT_CONTEXT pstCertContext, wchar_t** lppwIssuer) {
    TRACE_SCOPE(L"GetCertIssuer");
    HRESULT hr = S_OK;
    CHECK_GOTO(pstCertContext == NULL || lppwIssuer == NULL, L"Check Parameter", E_INVALIDARG);
    *lppwIssuer = nullptr;
    hr = NameText(&pstCertContext->pCertInfo->Issuer, CERT_X500_NAME_STR | kNameFlags, lppwIssuer, nullptr);
    CHECK_GOTO(hr != S_OK, L"NameText(Issuer)", hr);
exit:
    return hr;
}

HRESULT GetCertKeyUsage(PCCERT_CONTEXT pstCertContext, DWORD* pdwKeyUsage) {
    TRACE_SCOPE(L"GetCertKeyUsage");
    HRESULT hr = S_OK;
    BYTE* decoded = nullptr;
    const CRYPT_BIT_BLOB* bits = nullptr;
    CHECK_GOTO(pstCertContext == NULL || pdwKeyUsage == NULL, L"Check Parameter", E_INVALIDARG);
    hr = DecodeExtension(pstCertContext, szOID_KEY_USAGE, RESULT_NO_KEY_USAGE, &decoded);
    CHECK_GOTO(hr != S_OK, L"DecodeExtension", hr);
    bits = reinterpret_cast<const CRYPT_BIT_BLOB*>(decoded);
    // An empty bit string has no first byte: no usage bit is set.
    *pdwKeyUsage = bits->cbData ? bits->pbData[0] : 0;
exit:
    delete[] decoded;
    return hr;
}

HRESULT GetCertSerialNumber(PCCERT_CONTEXT pstCertContext, BYTE** lppbySerialNumber, DWORD* pdwSerialNumberLen) {
    TRACE_SCOPE(L"GetCertSerialNumber");
    HRESULT hr = S_OK;
    const CRYPT_INTEGER_BLOB* serial = nullptr;
    BYTE* copy = nullptr;
    CHECK_GOTO(pstCertContext == NULL || lppbySerialNumber == NULL, L"Check Parameter", E_INVALIDARG);
    *lppbySerialNumber = nullptr;
    serial = &pstCertContext->pCertInfo->SerialNumber;
    copy = new (std::nothrow) BYTE[serial->cbData ? serial->cbData : 1]();
    CHECK_GOTO(!copy, L"New buffer", E_OUTOFMEMORY);
    if (serial->cbData) memcpy(copy, serial->pbData, serial->cbData);
    *lppbySerialNumber = copy;
    if (pdwSerialNumberLen) *pdwSerialNumberLen = serial->cbData;
exit:
    return hr;
}

HRESULT GetCertSerialNumber(PCCERT_CONTEXT pstCertContext, std::wstring& wstrSerialNumber) {
    TRACE_SCOPE(L"GetCertSerialNumber");
    HRESULT hr = S_OK;
    std::wstring text;
    CHECK_GOTO(pstCertContext == NULL, L"Check Parameter", E_INVALIDARG);
    {
        const CRYPT_INTEGER_BLOB& serial = pstCertContext->pCertInfo->SerialNumber;
        for (DWORD i = serial.cbData; i > 0; --i) {
            wchar_t digits[3];
            swprintf(digits, 3, L"%02X", serial.pbData[i - 1]);
            text += digits;
        }
    }
    wstrSerialNumber = text;
exit:
    return hr;
}

HRESULT GetCertSubjectKeyID(PCCERT_CONTEXT pstCertContext, BYTE** lppbySubjectKeyID, DWORD* pdwSubjectKeyIDLen) {
    TRACE_SCOPE(L"GetCertSubjectKeyID");
    HRESULT hr = S_OK;
    BYTE* decoded = nullptr;
    const CRYPT_DATA_BLOB* id = nullptr;
    BYTE* copy = nullptr;
    CHECK_GOTO(pstCertContext == NULL || lppbySubjectKeyID == NULL, L"Check Parameter", E_INVALIDARG);
    *lppbySubjectKeyID = nullptr;
    hr = DecodeExtension(pstCertContext, szOID_SUBJECT_KEY_IDENTIFIER, RESULT_NO_SUBJECT_KEY_ID, &decoded);
    CHECK_GOTO(hr != S_OK, L"DecodeExtension", hr);
    id = reinterpret_cast<const CRYPT_DATA_BLOB*>(decoded);
    copy = new (std::nothrow) BYTE[id->cbData ? id->cbData : 1]();
    CHECK_GOTO(!copy, L"New buffer", E_OUTOFMEMORY);
    if (id->cbData) memcpy(copy, id->pbData, id->cbData);
    *lppbySubjectKeyID = copy;
    if (pdwSubjectKeyIDLen) *pdwSubjectKeyIDLen = id->cbData;
exit:
    delete[] decoded;
    return hr;
}

HRESULT CheckCertSubjectName(PCCERT_CONTEXT pstCertContext, DWORD dwStrType,
                             const std::vector<std::wstring>& vtrSubjectNames) {
    TRACE_SCOPE(L"CheckCertSubjectName");
    HRESULT hr = S_OK;
    wchar_t* subject = nullptr;
    if (vtrSubjectNames.empty()) return S_OK;
    CHECK_GOTO(pstCertContext == NULL, L"Check Parameter", E_INVALIDARG);
    hr = GetCertSubject(&subject, pstCertContext, nullptr, dwStrType);
    CHECK_GOTO(hr != S_OK, L"GetCertSubject", CheckResult(hr));
    hr = MatchNameList(subject, vtrSubjectNames);
exit:
    delete[] subject;
    return hr;
}

HRESULT CheckCertIssuer(PCCERT_CONTEXT pstCertContext, const std::vector<std::wstring>& vtrIssuerNames) {
    TRACE_SCOPE(L"CheckCertIssuer");
    HRESULT hr = S_OK;
    wchar_t* issuer = nullptr;
    if (vtrIssuerNames.empty()) return S_OK;
    CHECK_GOTO(pstCertContext == NULL, L"Check Parameter", E_INVALIDARG);
    hr = GetCertIssuer(pstCertContext, &issuer);
    CHECK_GOTO(hr != S_OK, L"GetCertIssuer", CheckResult(hr));
    hr = MatchNameList(issuer, vtrIssuerNames);
exit:
    delete[] issuer;
    return hr;
}

HRESULT CheckCertKeyUsage(PCCERT_CONTEXT pstCertContext, DWORD dwKeyUsage) {
    TRACE_SCOPE(L"CheckCertKeyUsage");
    HRESULT hr = S_OK;
    DWORD dwCertKeyUsage = 0;
    if (dwKeyUsage == 0) return S_OK;
    CHECK_GOTO(pstCertContext == NULL, L"Check Parameter", E_INVALIDARG);
    hr = GetCertKeyUsage(pstCertContext, &dwCertKeyUsage);
    CHECK_GOTO(hr != S_OK, L"GetCertKeyUsage", CheckResult(hr));
    CHECK_GOTO(!(dwCertKeyUsage & dwKeyUsage), L"KeyUsage not match", E_FAIL);
exit:
    return hr;
}

HRESULT CheckCertSubjectKeyID(PCCERT_CONTEXT pstCertContext, const BYTE* lpbySubjectKeyID, DWORD cbSubjectKeyID) {
    TRACE_SCOPE(L"CheckCertSubjectKeyID");
    HRESULT hr = S_OK;
    BYTE* id = nullptr;
    DWORD idLen = 0;
    if (lpbySubjectKeyID == NULL) return S_OK;
    CHECK_GOTO(pstCertContext == NULL, L"Check Parameter", E_INVALIDARG);
    hr = GetCertSubjectKeyID(pstCertContext, &id, &idLen);
    CHECK_GOTO(hr != S_OK, L"GetCertSubjectKeyID", CheckResult(hr));
    // Equal only with equal lengths; neither buffer is read past its end.
    CHECK_GOTO(idLen != cbSubjectKeyID || memcmp(id, lpbySubjectKeyID, idLen) != 0, L"SubjectKeyID not match",
               E_FAIL);
exit:
    delete[] id;
    return hr;
}

HRESULT CheckCertSerialNumber(PCCERT_CONTEXT pstCertContext, const BYTE* lpbySerialNumber, DWORD cbSerialNumber) {
    TRACE_SCOPE(L"CheckCertSerialNumber");
    HRESULT hr = S_OK;
    BYTE* serial = nullptr;
    DWORD serialLen = 0;
    if (lpbySerialNumber == NULL) return S_OK;
    CHECK_GOTO(pstCertContext == NULL, L"Check Parameter", E_INVALIDARG);
    hr = GetCertSerialNumber(pstCertContext, &serial, &serialLen);
    CHECK_GOTO(hr != S_OK, L"GetCertSerialNumber", CheckResult(hr));
    CHECK_GOTO(serialLen != cbSerialNumber || memcmp(serial, lpbySerialNumber, serialLen) != 0,
               L"Serial number not match", E_FAIL);
exit:
    delete[] serial;
    return hr;
}

HRESULT CheckCertSignatureAlg(PCCERT_CONTEXT pstCertContext, const char* lpszSignAlgOID) {
    TRACE_SCOPE(L"CheckCertSignatureAlg");
    HRESULT hr = S_OK;
    const char* oid = nullptr;
    CHECK_GOTO(pstCertContext == NULL, L"Check Parameter", E_INVALIDARG);
    if (lpszSignAlgOID == NULL) return S_OK;
    oid = pstCertContext->pCertInfo->SignatureAlgorithm.pszObjId;
    CHECK_GOTO(oid == NULL || strncmp(oid, lpszSignAlgOID, strlen(lpszSignAlgOID)) != 0, L"The AlgOID not match.",
               E_FAIL);
exit:
    return hr;
}

HRESULT ExtractCertificatesFromStore(HCERTSTORE hCertStore, CertContextSet& certSet) {
    TRACE_SCOPE(L"ExtractCertificatesFromStore");
    HRESULT hr = S_OK;
    PCCERT_CONTEXT cert = nullptr;
    PCCERT_CONTEXT pstCertDuplicate = nullptr;
    DWORD seen = 0;

    CHECK_GOTO(hCertStore == NULL, L"Check Parameter", E_INVALIDARG);
    while ((cert = CertEnumCertificatesInStore(hCertStore, cert)) != nullptr) {
        ++seen;
        pstCertDuplicate = CertDuplicateCertificateContext(cert);
        if (pstCertDuplicate == NULL) {
            hr = HResultFromLastError();
            CertFreeCertificateContext(cert);
            CHECK_GOTO(true, L"CertDuplicateCertificateContext", hr);
        }
        try {
            certSet.push_back(pstCertDuplicate);
        } catch (const std::bad_alloc&) {
            CertFreeCertificateContext(pstCertDuplicate);
            CertFreeCertificateContext(cert);
            CHECK_GOTO(true, L"New buffer", E_OUTOFMEMORY);
        }
    }
    if (seen == 0) {
        hr = HResultFromLastError();
        if (hr == CRYPT_E_NOT_FOUND) hr = S_OK;
        CHECK_GOTO(hr != S_OK, L"CertEnumCertificatesInStore", hr);
    }
    TraceValue(L"Certificates", seen);

exit:
    if (hr != S_OK) RemoveAllCertificates(certSet);
    return hr;
}

HRESULT ExtractCertificatesFromLocalStore(const wchar_t* lpwCertStoreName, CertContextSet& certSet) {
    TRACE_SCOPE(L"ExtractCertificatesFromLocalStore");
    HRESULT hr = S_OK;
    HCERTSTORE hCertStore = nullptr;

    CHECK_GOTO(lpwCertStoreName == NULL, L"Check Parameter", E_INVALIDARG);
    hCertStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                               CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG, lpwCertStoreName);
    CHECK_GOTO(hCertStore == NULL, L"CertOpenStore", HResultFromLastError());
    hr = ExtractCertificatesFromStore(hCertStore, certSet);
    CHECK_GOTO(hr != S_OK, L"ExtractCertificatesFromStore", hr);

exit:
    if (hCertStore) CertCloseStore(hCertStore, 0);
    if (hr != S_OK) RemoveAllCertificates(certSet);
    return hr;
}

HRESULT FilterCertificates(const CertFilter* pstCertFilter, CertContextSet& outCertSet, CertContextSet inCertSet) {
    TRACE_SCOPE(L"FilterCertificates");
    HRESULT hr = S_OK;
    const CertFilter none = {};
    const CertFilter& filter = pstCertFilter ? *pstCertFilter : none;
    std::vector<std::wstring> subjects, issuers;

    if (filter.lpwSubjectNames && *filter.lpwSubjectNames) {
        hr = SplitStrings(subjects, filter.lpwSubjectNames, L"#");
        CHECK_GOTO(hr != S_OK, L"SplitStrings(Subject)", hr);
    }
    if (filter.lpwIssuerNames && *filter.lpwIssuerNames) {
        hr = SplitStrings(issuers, filter.lpwIssuerNames, L"#");
        CHECK_GOTO(hr != S_OK, L"SplitStrings(Issuer)", hr);
    }

    for (PCCERT_CONTEXT cert : inCertSet) {
        PCCERT_CONTEXT pstCertDuplicate = nullptr;
        if (CheckCertSubjectName(cert, CERT_X500_NAME_STR, subjects) != S_OK) continue;
        if (CheckCertIssuer(cert, issuers) != S_OK) continue;
        if (CheckCertKeyUsage(cert, filter.dwKeyUsage) != S_OK) continue;
        if (CheckCertSubjectKeyID(cert, filter.lpbySubjectKeyID, filter.cbSubjectKeyID) != S_OK) continue;
        if (CheckCertSerialNumber(cert, filter.lpbySerialNumber, filter.cbSerialNumber) != S_OK) continue;
        if (CheckCertSignatureAlg(cert, filter.lpszSignAlgOID) != S_OK) continue;
        if (filter.dwNeedPrivateKey == 1) {
            HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hProv = 0;
            DWORD keySpec = 0;
            const BOOL acquired = CryptAcquireCertificatePrivateKey(cert, 0, nullptr, &hProv, &keySpec, nullptr);
            if (hProv) CryptReleaseContext(hProv, 0);
            if (acquired != TRUE) continue;
        }
        pstCertDuplicate = CertDuplicateCertificateContext(cert);
        CHECK_GOTO(pstCertDuplicate == NULL, L"CertDuplicateCertificateContext", HResultFromLastError());
        try {
            outCertSet.push_back(pstCertDuplicate);
        } catch (const std::bad_alloc&) {
            CertFreeCertificateContext(pstCertDuplicate);
            CHECK_GOTO(true, L"New buffer", E_OUTOFMEMORY);
        }
    }

exit:
    if (hr != S_OK) RemoveAllCertificates(outCertSet);
    return hr;
}

HRESULT FilterCertificatesFromLocalStore(const wchar_t* lpwCertStoreName, const CertFilter* pstCertFilter,
                                         CertContextSet& outCertSet) {
    TRACE_SCOPE(L"FilterCertificatesFromLocalStore");
    HRESULT hr = S_OK;
    CertContextSet storeSet;

    CHECK_GOTO(lpwCertStoreName == NULL, L"Check Parameter", E_INVALIDARG);
    hr = ExtractCertificatesFromLocalStore(lpwCertStoreName, storeSet);
    CHECK_GOTO(hr != S_OK, L"ExtractCertificatesFromLocalStore", hr);
    hr = FilterCertificates(pstCertFilter, outCertSet, storeSet);
    CHECK_GOTO(hr != S_OK, L"FilterCertificates", hr);

exit:
    RemoveAllCertificates(storeSet);
    if (hr != S_OK) RemoveAllCertificates(outCertSet);
    return hr;
}
