// The renewal server's messages and one renewal's exchange.
#include "RenewalMessages.h"

#include "TraceHelper.h"

#define TRACE_MODULE L"RenewalMessages"

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

HRESULT CheckResponseMsgCodeValue(std::wstring&, IXMLDOMNode*, std::wstring&) { return E_NOTIMPL; }
HRESULT ComposeValidateCodeRequest(char**, DWORD*) { return E_NOTIMPL; }
HRESULT ParseValidateCodeResponse(std::wstring&, std::wstring&, const char*, std::wstring&, std::wstring&) {
    return E_NOTIMPL;
}
HRESULT SubmitValidateCodeRequest(std::wstring&, std::wstring&, std::wstring&, std::wstring&) { return E_NOTIMPL; }
HRESULT ComposeCertRenewRequestMsg(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
                                   char**, DWORD*) {
    return E_NOTIMPL;
}
HRESULT ParseCertResponseMsg(std::wstring&, std::wstring&, const char*, CertResponseData&, std::wstring&) {
    return E_NOTIMPL;
}
HRESULT PostUserCertRenewRequest(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
                                 CertResponseData&, std::wstring&, std::wstring&, std::wstring&) {
    return E_NOTIMPL;
}
HRESULT SubmitUserCertRenewRequest(const SKFUserKeyInfo&, std::list<CertImportEntry>&, std::wstring&,
                                   const SKFUserCertInfo&, const BYTE*, DWORD, BYTE**, DWORD*, HSKFCRYPTPROV) {
    return E_NOTIMPL;
}
HRESULT ImportAllCertificates(const wchar_t*, HSKFCRYPTPROV, std::list<CertImportEntry>&) { return E_NOTIMPL; }
