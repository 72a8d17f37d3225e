// The renewal server's messages and one renewal's exchange.
#include "RenewalMessages.h"

#include <oleauto.h>

#include <cstring>
#include <cwchar>
#include <new>
#include <utility>
#include <vector>

#include "Base64Utility.h"
#include "CertificateImport.h"
#include "Encoding.h"
#include "HttpWinNet.h"
#include "ResultCodes.h"
#include "SKFCertRequest.h"
#include "TraceHelper.h"
#include "XMLParse.h"

#define TRACE_MODULE L"RenewalMessages"

namespace {

const char kRequestTemplate[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?><request/>";
constexpr int kServerSuccessCode = 2000;
constexpr int kSM2KeyBits = 256;
constexpr DWORD kAcquireDelete = 0x10;

using Children = std::vector<std::pair<const wchar_t*, const wchar_t*>>;

bool IsEmpty(const wchar_t* text) { return text == NULL || text[0] == L'\0'; }

// A BSTR released at the end of its scope.
class ScopedBstr {
public:
    explicit ScopedBstr(const wchar_t* text) : m_bstr(SysAllocString(text ? text : L"")) {}
    ~ScopedBstr() { SysFreeString(m_bstr); }
    ScopedBstr(const ScopedBstr&) = delete;
    ScopedBstr& operator=(const ScopedBstr&) = delete;
    BSTR get() const { return m_bstr; }

private:
    BSTR m_bstr;
};

template <class T>
void Release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

// A request document: <request> with the children in order, serialised by
// the DOM and converted to UTF-8 with its terminating zero.
HRESULT ComposeRequest(const Children& children, char** ppszRequest, DWORD* pdwRequestLength) {
    TRACE_SCOPE(L"ComposeRequest");
    HRESULT hr = S_OK;
    IXMLDOMDocument* pDocument = nullptr;
    IXMLDOMNode* pRoot = nullptr;
    BSTR bstrXML = nullptr;
    char* pszUTF8 = nullptr;
    DWORD dwLength = 0;

    hr = LoadXMLDom(reinterpret_cast<const BYTE*>(kRequestTemplate), DWORD(sizeof kRequestTemplate - 1), &pDocument);
    if (hr != S_OK) FAIL_GOTO(L"LoadXMLDom", L"hResult != S_OK", hr);
    hr = GetXMLRootNode(pDocument, &pRoot);
    if (hr != S_OK) FAIL_GOTO(L"GetXMLRootNode", L"hResult != S_OK", hr);
    for (const auto& child : children) {
        ScopedBstr name(child.first), text(child.second);
        CHECK_GOTO(name.get() == NULL || text.get() == NULL, L"SysAllocString", E_OUTOFMEMORY);
        hr = CreateAndAppendXMLNode(pDocument, pRoot, name.get(), text.get());
        if (hr != S_OK) FAIL_GOTO(L"CreateAndAppendXMLNode", L"hResult != S_OK", hr);
    }
    hr = pDocument->get_xml(&bstrXML);
    CHECK_GOTO(hr != S_OK || bstrXML == NULL, L"get_xml", FAILED(hr) ? hr : E_FAIL);
    hr = UTF16ToUTF8(bstrXML, &pszUTF8, &dwLength);
    if (hr != S_OK) FAIL_GOTO(L"UTF16ToUTF8", L"hResult != S_OK", hr);
    *ppszRequest = pszUTF8;
    pszUTF8 = nullptr;
    if (pdwRequestLength) *pdwRequestLength = dwLength + 1;
exit:
    delete[] pszUTF8;
    SysFreeString(bstrXML);
    Release(pRoot);
    Release(pDocument);
    return hr;
}

// The text of the root's first child of that name; a missing child gives
// the look-up's failure.
HRESULT ReadChildText(IXMLDOMNode* pRoot, const wchar_t* lpwName, std::wstring& wstrText) {
    TRACE_SCOPE(L"ReadChildText");
    HRESULT hr = S_OK;
    IXMLDOMNode* pChild = nullptr;
    wchar_t* lpwValue = nullptr;
    ScopedBstr name(lpwName);

    CHECK_GOTO(name.get() == NULL, L"SysAllocString", E_OUTOFMEMORY);
    hr = FindChildNode(pRoot, name.get(), &pChild);
    if (hr != S_OK) FAIL_GOTO(lpwName, L"FindChildNode != S_OK", HResultFromError(hr));
    hr = GetNodeValue(pChild, &lpwValue);
    if (hr != S_OK) FAIL_GOTO(lpwName, L"GetNodeValue != S_OK", HResultFromError(hr));
    wstrText = lpwValue;
exit:
    delete[] lpwValue;
    Release(pChild);
    return hr;
}

// Loads a reply and checks its code; the root stays for the caller.
HRESULT LoadReply(const char* pszResponse, IXMLDOMDocument** ppDocument, IXMLDOMNode** ppRoot,
                  std::wstring& wstrMessage, std::wstring& wstrCode) {
    TRACE_SCOPE(L"LoadReply");
    HRESULT hr = S_OK;
    hr = LoadXMLDom(reinterpret_cast<const BYTE*>(pszResponse), DWORD(strlen(pszResponse)), ppDocument);
    if (hr != S_OK) FAIL_GOTO(L"LoadXMLDom", L"hResult != S_OK", hr);
    hr = GetXMLRootNode(*ppDocument, ppRoot);
    if (hr != S_OK) FAIL_GOTO(L"GetXMLRootNode", L"hResult != S_OK", hr);
    hr = CheckResponseMsgCodeValue(wstrMessage, *ppRoot, wstrCode);
    if (hr != S_OK) FAIL_GOTO(L"CheckResponseMsgCodeValue", L"hResult != S_OK", hr);
exit:
    return hr;
}

// Deletes the renewal's own container, by name, while it holds no
// certificate: once its signature certificate is in, the container is the
// renewal's outcome and stays. Other containers of the key are never touched.
void DeleteRenewalContainer(const wchar_t* lpwDeviceName, const std::wstring& wstrContainerName,
                            HSKFCRYPTPROV hSKFCryptProv) {
    TRACE_SCOPE(L"DeleteRenewalContainer");
    HRESULT hr = S_OK;
    DeviceObjInfo stDeviceInfo;
    HSKFCRYPTPROV hProv = hSKFCryptProv;

    CHECK_GOTO(IsEmpty(lpwDeviceName) || wstrContainerName.empty() || hSKFCryptProv == NULL, L"Check Parameter",
               E_INVALIDARG);
    hr = SKFCryptGetDeviceInfo(lpwDeviceName, hSKFCryptProv, stDeviceInfo);
    if (hr != S_OK) FAIL_GOTO(L"SKFCryptGetDeviceInfo", L"hResult != S_OK", hr);
    for (const ContainerObjInfo& container : stDeviceInfo.vetContainers) {
        if (_wcsicmp(container.wstrContainerName.c_str(), wstrContainerName.c_str()) == 0) {
            TRACE_STEP(L"The container holds a certificate: kept");
            goto exit;
        }
    }
    hr = SKFCryptAcquireContext(lpwDeviceName, wstrContainerName.c_str(), &hProv, NULL, kAcquireDelete, NULL);
    if (hr != S_OK) FAIL_GOTO(L"SKFCryptAcquireContext(Delete)", L"hResult != S_OK", hr);
exit:
    return;
}

std::wstring Widen(const char* text) {
    std::wstring out;
    for (; text && *text; ++text) out += wchar_t(static_cast<unsigned char>(*text));
    return out;
}

}  // namespace

CertImportEntry::CertImportEntry() : nKeySpec(0), nKeyBits(0) {}
CertImportEntry::~CertImportEntry() { Clear(); }
void CertImportEntry::Clear() {
    nKeySpec = 0;
    nKeyBits = 0;
    wstrCert.clear();
    wstrEncPriKey.clear();
    wstrContainerName.clear();
    wstrProviderName.clear();
    wstrAlgName.clear();
}

CertResponseData::CertResponseData() {}
CertResponseData::~CertResponseData() { Clear(); }
void CertResponseData::Clear() {
    wstrRSASignCert.clear();
    wstrRSAEncCert.clear();
    wstrRSAEncPriKey.clear();
    wstrSM2SignCert.clear();
    wstrSM2EncCert.clear();
    wstrSM2EncPriKey.clear();
}

HRESULT CheckResponseMsgCodeValue(std::wstring& wstrMessage, IXMLDOMNode* pRootNode, std::wstring& wstrCode) {
    TRACE_SCOPE(L"CheckResponseMsgCodeValue");
    HRESULT hr = S_OK;
    std::wstring wstrCodeText, wstrMessageText;

    CHECK_GOTO(pRootNode == NULL, L"Check Parameter", E_INVALIDARG);
    hr = ReadChildText(pRootNode, L"code", wstrCodeText);
    if (hr != S_OK) FAIL_GOTO(L"ReadChildText(code)", L"hResult != S_OK", hr);
    if (wcstol(wstrCodeText.c_str(), nullptr, 10) == kServerSuccessCode) goto exit;
    wstrCode = wstrCodeText;
    hr = ReadChildText(pRootNode, L"message", wstrMessageText);
    if (hr != S_OK) FAIL_GOTO(L"ReadChildText(message)", L"hResult != S_OK", hr);
    wstrMessage = wstrMessageText;
    FAIL_GOTO(L"Server Code", L"nCode != 2000", RENEWAL_SERVER_REFUSED);
exit:
    return hr;
}

HRESULT ComposeValidateCodeRequest(char** ppszRequest, DWORD* pdwRequestLength) {
    TRACE_SCOPE(L"ComposeValidateCodeRequest");
    HRESULT hr = S_OK;
    CHECK_GOTO(ppszRequest == NULL, L"Check Parameter", E_INVALIDARG);
    hr = ComposeRequest({{L"type", L"2001"}}, ppszRequest, pdwRequestLength);
    if (hr != S_OK) FAIL_GOTO(L"ComposeRequest", L"hResult != S_OK", hr);
exit:
    return hr;
}

HRESULT ParseValidateCodeResponse(std::wstring& wstrSessionId, std::wstring& wstrMessage, const char* pszResponse,
                                  std::wstring& wstrImageBase64, std::wstring& wstrCode) {
    TRACE_SCOPE(L"ParseValidateCodeResponse");
    HRESULT hr = S_OK;
    IXMLDOMDocument* pDocument = nullptr;
    IXMLDOMNode* pRoot = nullptr;

    CHECK_GOTO(pszResponse == NULL, L"Check Parameter", E_INVALIDARG);
    hr = LoadReply(pszResponse, &pDocument, &pRoot, wstrMessage, wstrCode);
    if (hr != S_OK) FAIL_GOTO(L"LoadReply", L"hResult != S_OK", hr);
    hr = ReadChildText(pRoot, L"imageBase64", wstrImageBase64);
    if (hr != S_OK) FAIL_GOTO(L"ReadChildText(imageBase64)", L"hResult != S_OK", hr);
    hr = ReadChildText(pRoot, L"sessionId", wstrSessionId);
    if (hr != S_OK) FAIL_GOTO(L"ReadChildText(sessionId)", L"hResult != S_OK", hr);
exit:
    Release(pRoot);
    Release(pDocument);
    return hr;
}

HRESULT SubmitValidateCodeRequest(std::wstring& wstrMessage, std::wstring& wstrCode, std::wstring& wstrImageBase64,
                                  std::wstring& wstrSessionId) {
    TRACE_SCOPE(L"SubmitValidateCodeRequest");
    HRESULT hr = S_OK;
    char* pszRequest = nullptr;
    char* pszResponse = nullptr;
    DWORD dwRequestLength = 0;

    CHECK_GOTO(g_wszServerUrl[0] == L'\0', L"Check Server Url", E_INVALIDARG);
    hr = ComposeValidateCodeRequest(&pszRequest, &dwRequestLength);
    if (hr != S_OK) FAIL_GOTO(L"ComposeValidateCodeRequest", L"hResult != S_OK", hr);
    hr = PostUrlRequestData(pszRequest, &pszResponse);
    if (hr != S_OK) FAIL_GOTO(L"PostUrlRequestData", L"hResult != S_OK", hr);
    hr = ParseValidateCodeResponse(wstrSessionId, wstrMessage, pszResponse, wstrImageBase64, wstrCode);
    if (hr != S_OK) FAIL_GOTO(L"ParseValidateCodeResponse", L"hResult != S_OK", hr);
exit:
    delete[] pszRequest;
    delete[] pszResponse;
    return hr;
}

HRESULT ComposeCertRenewRequestMsg(const wchar_t* lpwP7, const wchar_t* lpwSM2P10, const wchar_t* lpwKeyId,
                                   const wchar_t* lpwSealData, const wchar_t* lpwSessionId, char** ppszRequest,
                                   DWORD* pdwRequestLength) {
    TRACE_SCOPE(L"ComposeCertRenewRequestMsg");
    HRESULT hr = S_OK;
    CHECK_GOTO(ppszRequest == NULL || lpwP7 == NULL || lpwSM2P10 == NULL || lpwSessionId == NULL, L"Check Parameter",
               E_INVALIDARG);
    hr = ComposeRequest({{L"type", L"5002"},
                         {L"keyId", lpwKeyId ? lpwKeyId : L""},
                         {L"p7", lpwP7},
                         {L"rsap10", L""},
                         {L"sm2p10", lpwSM2P10},
                         {L"sealData", lpwSealData ? lpwSealData : L""},
                         {L"sessionId", lpwSessionId}},
                        ppszRequest, pdwRequestLength);
    if (hr != S_OK) FAIL_GOTO(L"ComposeRequest", L"hResult != S_OK", hr);
exit:
    return hr;
}

HRESULT ParseCertResponseMsg(std::wstring& wstrNewSealData, std::wstring& wstrCode, const char* pszResponse,
                             CertResponseData& stResponse, std::wstring& wstrMessage) {
    TRACE_SCOPE(L"ParseCertResponseMsg");
    HRESULT hr = S_OK;
    IXMLDOMDocument* pDocument = nullptr;
    IXMLDOMNode* pRoot = nullptr;
    const std::pair<const wchar_t*, std::wstring*> texts[] = {
        {L"rsaSignCert", &stResponse.wstrRSASignCert},   {L"rsaEncCert", &stResponse.wstrRSAEncCert},
        {L"rsaEncPriKey", &stResponse.wstrRSAEncPriKey}, {L"sm2SignCert", &stResponse.wstrSM2SignCert},
        {L"sm2EncCert", &stResponse.wstrSM2EncCert},     {L"sm2EncPriKey", &stResponse.wstrSM2EncPriKey},
        {L"sealData", &wstrNewSealData}};

    CHECK_GOTO(pszResponse == NULL, L"Check Parameter", E_INVALIDARG);
    hr = LoadReply(pszResponse, &pDocument, &pRoot, wstrMessage, wstrCode);
    if (hr != S_OK) FAIL_GOTO(L"LoadReply", L"hResult != S_OK", hr);
    for (const auto& text : texts) {
        hr = ReadChildText(pRoot, text.first, *text.second);
        if (hr != S_OK) FAIL_GOTO(text.first, L"ReadChildText != S_OK", hr);
    }
exit:
    Release(pRoot);
    Release(pDocument);
    return hr;
}

HRESULT PostUserCertRenewRequest(const wchar_t* lpwSM2P10, const wchar_t* lpwSealData, const wchar_t* lpwKeyId,
                                 const wchar_t* lpwP7, const wchar_t* lpwSessionId, CertResponseData& stResponse,
                                 std::wstring& wstrNewSealData, std::wstring& wstrMessage, std::wstring& wstrCode) {
    TRACE_SCOPE(L"PostUserCertRenewRequest");
    HRESULT hr = S_OK;
    char* pszRequest = nullptr;
    char* pszResponse = nullptr;
    DWORD dwRequestLength = 0;

    CHECK_GOTO(g_wszServerUrl[0] == L'\0', L"Check Server Url", E_INVALIDARG);
    CHECK_GOTO(lpwP7 == NULL || lpwSM2P10 == NULL || lpwSessionId == NULL, L"Check Parameter", E_INVALIDARG);
    hr = ComposeCertRenewRequestMsg(lpwP7, lpwSM2P10, lpwKeyId, lpwSealData, lpwSessionId, &pszRequest,
                                    &dwRequestLength);
    if (hr != S_OK) FAIL_GOTO(L"ComposeCertRenewRequestMsg", L"hResult != S_OK", hr);
    hr = PostUrlRequestData(pszRequest, &pszResponse);
    if (hr != S_OK) FAIL_GOTO(L"PostUrlRequestData", L"hResult != S_OK", hr);
    hr = ParseCertResponseMsg(wstrNewSealData, wstrCode, pszResponse, stResponse, wstrMessage);
    if (hr != S_OK) FAIL_GOTO(L"ParseCertResponseMsg", L"hResult != S_OK", hr);
exit:
    delete[] pszRequest;
    delete[] pszResponse;
    return hr;
}

HRESULT SubmitUserCertRenewRequest(const SKFUserKeyInfo& stKeyInfo, std::list<CertImportEntry>& importList,
                                   std::wstring& wstrMessage, const SKFUserCertInfo& stSignCert,
                                   const BYTE* pbyOldSealData, DWORD dwOldSealDataSize, BYTE** ppbyNewSealData,
                                   DWORD* pdwNewSealDataSize, HSKFCRYPTPROV hSKFCryptProv) {
    TRACE_SCOPE(L"SubmitUserCertRenewRequest");
    HRESULT hr = S_OK;
    HSKFCRYPTPROV hProv = hSKFCryptProv;
    std::wstring wstrCode, wstrServerMessage, wstrImage, wstrSessionId, wstrSessionText, wstrSM2P10, wstrSeal,
        wstrNewSeal;
    char* pszSessionText = nullptr;
    DWORD dwSessionTextLength = 0;
    wchar_t* lpwP7 = nullptr;
    char* pszPKCS10 = nullptr;
    wchar_t* lpwContainerName = nullptr;
    wchar_t* lpwSM2P10 = nullptr;
    char* pszSeal = nullptr;
    int nSealLength = 0;
    char* pszNewSeal = nullptr;
    BYTE* pbyNewSeal = nullptr;
    int nNewSealLength = 0;
    CertResponseData stResponse;
    const wchar_t* lpwDeviceName = stKeyInfo.wstrDeviceName.c_str();

    CHECK_GOTO(g_wszServerUrl[0] == L'\0', L"Check Server Url", E_INVALIDARG);
    CHECK_GOTO(ppbyNewSealData == NULL || pdwNewSealDataSize == NULL, L"Check Parameter", E_INVALIDARG);
    hr = SubmitValidateCodeRequest(wstrServerMessage, wstrCode, wstrImage, wstrSessionId);
    if (hr != S_OK) FAIL_GOTO(L"SubmitValidateCodeRequest", L"hResult != S_OK", hr);

    // The signed text holds the whole session id, however long the server made it.
    wstrSessionText = std::wstring(RENEWAL_SESSION_PREFIX) + wstrSessionId + RENEWAL_SESSION_SUFFIX;
    hr = UTF16ToUTF8(wstrSessionText.c_str(), &pszSessionText, &dwSessionTextLength);
    if (hr != S_OK) FAIL_GOTO(L"UTF16ToUTF8(Session Text)", L"hResult != S_OK", hr);
    hr = SKFSignBinaryDataPKCS7(lpwDeviceName, stSignCert.wstrContainerName.c_str(), &hProv,
                                reinterpret_cast<const BYTE*>(pszSessionText), dwSessionTextLength, &lpwP7);
    if (hr != S_OK) FAIL_GOTO(L"SKFSignBinaryDataPKCS7", L"hResult != S_OK", hr);

    hr = SKFPKCS10CertRequisition(lpwDeviceName, &hProv, &pszPKCS10, &lpwContainerName);
    if (hr != S_OK) FAIL_GOTO(L"SKFPKCS10CertRequisition", L"hResult != S_OK", hr);
    hr = UTF8ToUTF16(pszPKCS10, &lpwSM2P10, nullptr);
    if (hr != S_OK) FAIL_GOTO(L"UTF8ToUTF16(PKCS10)", L"hResult != S_OK", hr);

    hr = Base64EncodeEx(pbyOldSealData, int(dwOldSealDataSize), &pszSeal, &nSealLength, ATL_BASE64_FLAG_NONE);
    if (hr != S_OK) FAIL_GOTO(L"Base64EncodeEx(Seal)", L"hResult != S_OK", hr);
    wstrSeal = Widen(pszSeal);

    hr = PostUserCertRenewRequest(lpwSM2P10, wstrSeal.c_str(), stKeyInfo.wstrSerialNumber.c_str(), lpwP7,
                                  wstrSessionId.c_str(), stResponse, wstrNewSeal, wstrServerMessage, wstrCode);
    if (hr != S_OK) FAIL_GOTO(L"PostUserCertRenewRequest", L"hResult != S_OK", hr);

    {
        CertImportEntry stSign, stExchange;
        stSign.nKeySpec = CERT_IMPORT_SIGNATURE_KEY;
        stSign.nKeyBits = kSM2KeyBits;
        stSign.wstrCert = stResponse.wstrSM2SignCert;
        stSign.wstrContainerName = lpwContainerName;
        stSign.wstrProviderName = SKF_KEY_PROVIDER_NAME;
        stSign.wstrAlgName = L"SM2";
        stExchange = stSign;
        stExchange.nKeySpec = CERT_IMPORT_EXCHANGE_KEY;
        stExchange.wstrCert = stResponse.wstrSM2EncCert;
        stExchange.wstrEncPriKey = stResponse.wstrSM2EncPriKey;
        importList.push_back(stSign);
        importList.push_back(stExchange);
    }

    hr = UTF16ToUTF8(wstrNewSeal.c_str(), &pszNewSeal, nullptr);
    if (hr != S_OK) FAIL_GOTO(L"UTF16ToUTF8(New Seal)", L"hResult != S_OK", hr);
    hr = Base64DecodeEx(pszNewSeal, int(strlen(pszNewSeal)), &pbyNewSeal, &nNewSealLength);
    if (hr != S_OK) FAIL_GOTO(L"Base64DecodeEx(New Seal)", L"hResult != S_OK", hr);
    // A key would take an empty seal file: a seal of no byte is no seal.
    CHECK_GOTO(nNewSealLength <= 0, L"Base64DecodeEx(New Seal)", RESULT_BASE64_DECODE_FAILED);
    *ppbyNewSealData = pbyNewSeal;
    *pdwNewSealDataSize = DWORD(nNewSealLength);
    pbyNewSeal = nullptr;

exit:
    wstrMessage = wstrCode;
    if (!wstrServerMessage.empty()) {
        if (!wstrCode.empty()) wstrMessage += L" - ";
        wstrMessage += wstrServerMessage;
    }
    if (hr != S_OK) importList.clear();  // nothing of a failed exchange is imported
    if ((hr != S_OK || importList.empty()) && !IsEmpty(lpwContainerName))
        DeleteRenewalContainer(lpwDeviceName, lpwContainerName, hProv);
    if (hSKFCryptProv == NULL && hProv != NULL) SKFCryptReleaseContext(hProv);  // one the key work opened
    if (pszSessionText) SecureZeroMemory(pszSessionText, dwSessionTextLength);
    delete[] pszSessionText;
    delete[] lpwP7;
    delete[] pszPKCS10;
    delete[] lpwContainerName;
    delete[] lpwSM2P10;
    delete[] pszSeal;
    delete[] pszNewSeal;
    delete[] pbyNewSeal;
    return hr;
}

HRESULT ImportAllCertificates(const wchar_t* lpwDeviceName, HSKFCRYPTPROV hSKFCryptProv,
                              std::list<CertImportEntry>& importList) {
    TRACE_SCOPE(L"ImportAllCertificates");
    HRESULT hr = S_OK;
    wchar_t* lpwLibraryPath = nullptr;
    std::wstring wstrContainerName;

    hr = GetSKFDLLPath(&lpwLibraryPath);
    TraceValue(L"GetSKFDLLPath", DWORD(hr));
    hr = S_OK;
    while (!importList.empty()) {
        const CertImportEntry& entry = importList.front();
        wstrContainerName = entry.wstrContainerName;
        if (entry.nKeySpec == CERT_IMPORT_EXCHANGE_KEY && !entry.wstrEncPriKey.empty()) {
            hr = SKFImportKeyExchangeCert(lpwDeviceName, entry.wstrContainerName.c_str(), hSKFCryptProv,
                                          entry.wstrProviderName.c_str(), entry.wstrAlgName.c_str(),
                                          entry.wstrEncPriKey, entry.wstrCert);
            if (hr != S_OK) FAIL_GOTO(L"SKFImportKeyExchangeCert", L"hResult != S_OK", hr);
        } else if (entry.wstrAlgName != L"RSA") {
            hr = SKFImportSignatureCert(lpwDeviceName, entry.wstrContainerName.c_str(), hSKFCryptProv,
                                        entry.wstrProviderName.c_str(), entry.wstrCert);
            if (hr != S_OK) FAIL_GOTO(L"SKFImportSignatureCert", L"hResult != S_OK", hr);
        } else {
            hr = ImportSignCert(DWORD(entry.nKeySpec), entry.wstrCert.c_str(), entry.wstrProviderName.c_str(),
                                entry.wstrContainerName.c_str(), entry.wstrAlgName.c_str());
            if (hr != S_OK) FAIL_GOTO(L"ImportSignCert", L"hResult != S_OK", hr);
        }
        importList.pop_front();
    }
exit:
    if (hr != S_OK && !wstrContainerName.empty())
        DeleteRenewalContainer(lpwDeviceName, wstrContainerName, hSKFCryptProv);
    delete[] lpwLibraryPath;
    return hr;
}
