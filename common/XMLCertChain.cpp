// The embedded trust chain resource read into PKCS#7 bytes.
#include "XMLCertChain.h"

#include <objbase.h>

#include "Base64Utility.h"
#include "Encoding.h"
#include "Misc.h"
#include "TraceHelper.h"
#include "XMLParse.h"

#define TRACE_MODULE L"XMLCertChain"

HRESULT LoadP7bFromXMLCertChainData(const BYTE* pbyCertChainData, DWORD dwCertChainDataLen, BYTE** ppbyP7bCertData,
                                    DWORD* pdwP7bCertDataLen) {
    TRACE_SCOPE(L"LoadP7bFromXMLCertChainData");
    HRESULT hr = S_OK;
    bool bComInitialised = false;
    IXMLDOMDocument* pXMLDom = nullptr;
    IXMLDOMNode* pRoot = nullptr;
    IXMLDOMNode* pContent = nullptr;
    BSTR bstrName = nullptr;
    wchar_t* lpwText = nullptr;
    char* lpText = nullptr;
    DWORD dwTextLen = 0;
    BYTE* lpDecoded = nullptr;
    int nDecodedLen = 0;

    CHECK_GOTO(pbyCertChainData == NULL || dwCertChainDataLen == 0 || ppbyP7bCertData == NULL, L"Check Parameter",
               E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    // The document is used after LoadXMLDom returns: keep COM initialised
    // on this thread until it is released.
    hr = CoInitialize(nullptr);
    CHECK_GOTO(FAILED(hr), L"CoInitialize", hr);
    bComInitialised = true;
    hr = S_OK;

    hr = HResultFromError(LoadXMLDom(pbyCertChainData, dwCertChainDataLen, &pXMLDom));
    CHECK_GOTO(hr != S_OK, L"LoadXMLDom", hr);
    hr = HResultFromError(GetXMLRootNode(pXMLDom, &pRoot));
    CHECK_GOTO(hr != S_OK, L"GetXMLRootNode", hr);

    bstrName = SysAllocString(L"P7bContent");
    CHECK_GOTO(!bstrName, L"SysAllocString", E_OUTOFMEMORY);
    hr = HResultFromError(FindChildNode(pRoot, bstrName, &pContent));
    CHECK_GOTO(hr != S_OK, L"FindChildNode", hr);
    TRACE_STEP(L"FindChildNode");

    hr = HResultFromError(GetNodeValue(pContent, &lpwText));
    CHECK_GOTO(hr != S_OK, L"GetNodeValue", hr);
    hr = HResultFromError(UTF16ToUTF8(lpwText, &lpText, &dwTextLen));
    CHECK_GOTO(hr != S_OK, L"UTF16ToUTF8", hr);
    hr = HResultFromError(Base64DecodeEx(lpText, static_cast<int>(dwTextLen), &lpDecoded, &nDecodedLen));
    CHECK_GOTO(hr != S_OK, L"Base64DecodeEx", hr);
    TRACE_STEP(L"Base64DecodeEx");

    *ppbyP7bCertData = lpDecoded;
    lpDecoded = nullptr;
    if (pdwP7bCertDataLen) *pdwP7bCertDataLen = static_cast<DWORD>(nDecodedLen);

exit:
    delete[] lpDecoded;
    delete[] lpText;
    delete[] lpwText;
    SysFreeString(bstrName);
    if (pContent) pContent->Release();
    if (pRoot) pRoot->Release();
    if (pXMLDom) pXMLDom->Release();
    if (bComInitialised) CoUninitialize();
    return hr;
}

HRESULT LoadP7bFromXMLCertChainRes(HMODULE hModuleRes, BYTE** ppbyP7bCertData, DWORD* pdwP7bCertDataLen) {
    TRACE_SCOPE(L"LoadP7bFromXMLCertChainRes");
    HRESULT hr = S_OK;
    BYTE* lpResData = nullptr;
    DWORD dwResSize = 0;

    CHECK_GOTO(hModuleRes == NULL || ppbyP7bCertData == NULL, L"Check Parameter", E_INVALIDARG);
    hr = HResultFromError(LoadModuleResource(hModuleRes, &lpResData, &dwResSize));
    CHECK_GOTO(hr != S_OK, L"LoadModuleResource", hr);
    hr = HResultFromError(LoadP7bFromXMLCertChainData(lpResData, dwResSize, ppbyP7bCertData, pdwP7bCertDataLen));
    CHECK_GOTO(hr != S_OK, L"LoadP7bFromXMLCertChainData", hr);

exit:
    delete[] lpResData;
    return hr;
}
