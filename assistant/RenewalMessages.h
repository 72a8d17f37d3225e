#pragma once
// The renewal server's messages and one renewal's exchange: the validate-code
// request ("2001") that yields a session, the renewal request ("5002") with
// the signed session text, the key's new PKCS#10 request and the old seal,
// and the import of what the reply carries into the key.
//
// Requests and replies are XML documents handled with the XML helpers, so
// the calling thread must have COM initialised in the apartment model
// (CoInitialize) for as long as it calls these functions.
#include <windows.h>
#include <msxml2.h>

#include <list>
#include <string>

#include "CustomSKFInterface.h"
#include "SKFCryptoAPI.h"

// The texts that frame the session id in the signed session text.
constexpr wchar_t RENEWAL_SESSION_PREFIX[] = L"{79A37AFB-3405-46DB-AE84-1B7A820EA55E}";
constexpr wchar_t RENEWAL_SESSION_SUFFIX[] = L"{A6437621-D5CE-45B9-ADF1-019FA83DFE27}";

// A reply whose code is not 2000 (ERROR_HTTP_INVALID_SERVER_RESPONSE as an HRESULT).
constexpr HRESULT RENEWAL_SERVER_REFUSED = HRESULT(0x80072F78);

// Key specs of CertImportEntry.
constexpr int CERT_IMPORT_EXCHANGE_KEY = 1;
constexpr int CERT_IMPORT_SIGNATURE_KEY = 2;

// One certificate to import into the key.
struct CertImportEntry {
    int nKeySpec;                    // 1 exchange (encryption) key, 2 signature key
    int nKeyBits;
    std::wstring wstrCert;           // Base64 (may hold "," and line breaks)
    std::wstring wstrEncPriKey;      // the enveloped key pair; empty for a signature certificate
    std::wstring wstrContainerName;  // the container on the key
    std::wstring wstrProviderName;
    std::wstring wstrAlgName;        // "SM2" or "RSA"

    CertImportEntry();
    ~CertImportEntry();
    void Clear();
};

// The six key texts of a renewal reply.
struct CertResponseData {
    std::wstring wstrRSASignCert;
    std::wstring wstrRSAEncCert;
    std::wstring wstrRSAEncPriKey;
    std::wstring wstrSM2SignCert;
    std::wstring wstrSM2EncCert;
    std::wstring wstrSM2EncPriKey;

    CertResponseData();
    ~CertResponseData();
    void Clear();
};

// 0 when the root's "code" reads as the decimal 2000 (both outs untouched).
// Otherwise code out = the code text and, when "message" is there, message
// out = its text and RENEWAL_SERVER_REFUSED; a missing child gives the
// look-up's failure. E_INVALIDARG for a null root.
HRESULT CheckResponseMsgCodeValue(std::wstring& wstrMessage, IXMLDOMNode* pRootNode, std::wstring& wstrCode);

// The validate-code request as UTF-8 text with a terminating zero (a new
// buffer, array new; the length counts the zero).
HRESULT ComposeValidateCodeRequest(char** ppszRequest, DWORD* pdwRequestLength);
HRESULT ParseValidateCodeResponse(std::wstring& wstrSessionId, std::wstring& wstrMessage, const char* pszResponse,
                                  std::wstring& wstrImageBase64, std::wstring& wstrCode);
// Compose, post to g_wszServerUrl, parse.
HRESULT SubmitValidateCodeRequest(std::wstring& wstrMessage, std::wstring& wstrCode, std::wstring& wstrImageBase64,
                                  std::wstring& wstrSessionId);

// The renewal request as UTF-8 text with a terminating zero (a new buffer,
// array new; the length counts the zero). A null key id or seal gives an
// empty element.
HRESULT ComposeCertRenewRequestMsg(const wchar_t* lpwP7, const wchar_t* lpwSM2P10, const wchar_t* lpwKeyId,
                                   const wchar_t* lpwSealData, const wchar_t* lpwSessionId, char** ppszRequest,
                                   DWORD* pdwRequestLength);
HRESULT ParseCertResponseMsg(std::wstring& wstrNewSealData, std::wstring& wstrCode, const char* pszResponse,
                             CertResponseData& stResponse, std::wstring& wstrMessage);
// Compose, post to g_wszServerUrl, parse.
HRESULT PostUserCertRenewRequest(const wchar_t* lpwSM2P10, const wchar_t* lpwSealData, const wchar_t* lpwKeyId,
                                 const wchar_t* lpwP7, const wchar_t* lpwSessionId, CertResponseData& stResponse,
                                 std::wstring& wstrNewSealData, std::wstring& wstrMessage, std::wstring& wstrCode);

// One renewal's exchange for the key: session, signature of the session
// text with the signature certificate's container, a new container with its
// request, the renewal request. On success the import list holds the new
// signature and encryption entries and the new seal data is a new buffer
// (array new). wstrMessage receives the server's code and message ("code -
// message"), empty after a success. On failure the new container is
// deleted again while it holds no certificate.
HRESULT SubmitUserCertRenewRequest(const SKFUserKeyInfo& stKeyInfo, std::list<CertImportEntry>& importList,
                                   std::wstring& wstrMessage, const SKFUserCertInfo& stSignCert,
                                   const BYTE* pbyOldSealData, DWORD dwOldSealDataSize, BYTE** ppbyNewSealData,
                                   DWORD* pdwNewSealDataSize, HSKFCRYPTPROV hSKFCryptProv);

// Imports the entries from the front of the list, removing each once it is
// in. On a failure the rest stay listed and the entries' container is
// deleted again while it holds no certificate.
HRESULT ImportAllCertificates(const wchar_t* lpwDeviceName, HSKFCRYPTPROV hSKFCryptProv,
                              std::list<CertImportEntry>& importList);
