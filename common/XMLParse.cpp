// Helpers over the MSXML document object.
#include "XMLParse.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "Encoding.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"XMLParse"

const CLSID CLSID_XMLDOMDocument = {0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};
const IID IID_XMLDOMDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

HRESULT LoadXMLDom(const BYTE* lpResData, DWORD dwResDataLen, IXMLDOMDocument** ppXMLDom) {
    TRACE_SCOPE(L"LoadXMLDom");
    HRESULT hr = S_OK;
    bool bComInitialised = false;
    char* lpResDataWithEnd = nullptr;
    wchar_t* lpwText = nullptr;
    BSTR bstrText = nullptr;
    VARIANT_BOOL bSuccess = VARIANT_FALSE;

    CHECK_GOTO(lpResData == NULL || ppXMLDom == NULL, L"Check Parameter", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    hr = CoInitialize(nullptr);
    CHECK_GOTO(FAILED(hr), L"CoInitialize", hr);
    bComInitialised = true;
    hr = S_OK;
    TRACE_STEP(L"CoInitialize");

    hr = HResultFromError(CoCreateInstance(CLSID_XMLDOMDocument, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_XMLDOMDocument, reinterpret_cast<void**>(ppXMLDom)));
    CHECK_GOTO(hr != S_OK, L"CoCreateInstance", hr);
    TRACE_STEP(L"CoCreateInstance");

    lpResDataWithEnd = new (std::nothrow) char[static_cast<size_t>(dwResDataLen) + 1]();
    CHECK_GOTO(!lpResDataWithEnd, L"New buffer", E_OUTOFMEMORY);
    memcpy(lpResDataWithEnd, lpResData, dwResDataLen);
    hr = HResultFromError(UTF8ToUTF16(lpResDataWithEnd, &lpwText, nullptr));
    CHECK_GOTO(hr != S_OK, L"UTF8ToUTF16", hr);
    TRACE_STEP(L"UTF8ToUTF16");

    bstrText = SysAllocString(lpwText);
    CHECK_GOTO(!bstrText, L"SysAllocString", E_OUTOFMEMORY);
    // Only the method's result counts: S_FALSE (text not well formed) fails.
    hr = HResultFromError((*ppXMLDom)->loadXML(bstrText, &bSuccess));
    CHECK_GOTO(hr != S_OK, L"loadXML", hr);
    TRACE_STEP(L"loadXML");

exit:
    SysFreeString(bstrText);
    delete[] lpwText;
    delete[] lpResDataWithEnd;
    if (bComInitialised) CoUninitialize();
    return hr;
}

HRESULT GetXMLRootNode(IXMLDOMDocument* pXMLDom, IXMLDOMNode** ppRootNode) {
    TRACE_SCOPE(L"GetXMLRootNode");
    HRESULT hr = S_OK;
    BSTR bstrName = nullptr;
    IXMLDOMNode* pRoot = nullptr;

    CHECK_GOTO(pXMLDom == NULL || ppRootNode == NULL, L"Check Parameter", E_INVALIDARG);
    hr = HResultFromError(pXMLDom->get_lastChild(&pRoot));
    CHECK_GOTO(hr != S_OK, L"get_lastChild", hr);
    hr = HResultFromError(pRoot->get_nodeName(&bstrName));
    CHECK_GOTO(hr != S_OK, L"get_nodeName", hr);
    TraceValueString(L"Root node", bstrName);
    *ppRootNode = pRoot;
    pRoot = nullptr;

exit:
    SysFreeString(bstrName);
    if (pRoot) pRoot->Release();
    return hr;
}

HRESULT FindChildNode(IXMLDOMNode* pParentNode, BSTR bstrChildNodeName, IXMLDOMNode** ppChildNode) {
    TRACE_SCOPE(L"FindChildNode");
    HRESULT hr = S_OK;
    IXMLDOMNodeList* pChildren = nullptr;
    IXMLDOMNode* pItem = nullptr;
    BSTR bstrName = nullptr;
    long nCount = 0;

    CHECK_GOTO(pParentNode == NULL || bstrChildNodeName == NULL || ppChildNode == NULL, L"Check Parameter",
               E_INVALIDARG);
    hr = HResultFromError(pParentNode->get_childNodes(&pChildren));
    CHECK_GOTO(hr != S_OK, L"get_childNodes", hr);
    hr = HResultFromError(pChildren->get_length(&nCount));
    CHECK_GOTO(hr != S_OK, L"get_length", hr);

    for (long i = 0; i < nCount; ++i) {
        hr = HResultFromError(pChildren->get_item(i, &pItem));
        CHECK_GOTO(hr != S_OK, L"get_item", hr);
        hr = HResultFromError(pItem->get_nodeName(&bstrName));
        CHECK_GOTO(hr != S_OK, L"get_nodeName", hr);
        if (_wcsicmp(bstrName, bstrChildNodeName) == 0) {
            *ppChildNode = pItem;
            pItem = nullptr;
            TRACE_STEP(L"Found child");
            goto exit;
        }
        SysFreeString(bstrName);
        bstrName = nullptr;
        pItem->Release();
        pItem = nullptr;
    }
    hr = ERROR_NOT_FOUND;  // plain, not folded, and no failure line

exit:
    SysFreeString(bstrName);
    if (pItem) pItem->Release();
    if (pChildren) pChildren->Release();
    return hr;
}

HRESULT GetNodeValue(IXMLDOMNode* pNode, wchar_t** lppwNodeValue) {
    TRACE_SCOPE(L"GetNodeValue");
    HRESULT hr = S_OK;
    BSTR bstrText = nullptr;
    size_t nLength = 0;

    CHECK_GOTO(pNode == NULL || lppwNodeValue == NULL, L"Check Parameter", E_INVALIDARG);
    hr = HResultFromError(pNode->get_text(&bstrText));
    CHECK_GOTO(hr != S_OK, L"get_text", hr);
    nLength = SysStringLen(bstrText);
    *lppwNodeValue = new (std::nothrow) wchar_t[nLength + 1]();
    CHECK_GOTO(!*lppwNodeValue, L"New buffer", E_OUTOFMEMORY);
    if (nLength) memcpy(*lppwNodeValue, bstrText, nLength * sizeof(wchar_t));
    TRACE_STEP(L"get_text");

exit:
    SysFreeString(bstrText);
    return hr;
}

HRESULT CreateAndAppendXMLNode(IXMLDOMDocument* pXMLDom, IXMLDOMNode* pNodeAppendto, BSTR bstrNewNodeName,
                               BSTR bstrNewNodeText) {
    TRACE_SCOPE(L"CreateAndAppendXMLNode");
    HRESULT hr = S_OK;
    IXMLDOMNode* pNewNode = nullptr;
    VARIANT nodeType;
    BSTR bstrNamespace = nullptr;

    CHECK_GOTO(pXMLDom == NULL || pNodeAppendto == NULL || bstrNewNodeName == NULL || bstrNewNodeText == NULL,
               L"Check Parameter", E_INVALIDARG);
    VariantInit(&nodeType);
    nodeType.vt = VT_I2;
    nodeType.iVal = NODE_ELEMENT;
    bstrNamespace = SysAllocString(L"");
    hr = HResultFromError(pXMLDom->createNode(nodeType, bstrNewNodeName, bstrNamespace, &pNewNode));
    CHECK_GOTO(hr != S_OK, L"createNode", hr);
    hr = HResultFromError(pNewNode->put_text(bstrNewNodeText));
    CHECK_GOTO(hr != S_OK, L"put_text", hr);
    hr = HResultFromError(pNodeAppendto->appendChild(pNewNode, nullptr));
    CHECK_GOTO(hr != S_OK, L"appendChild", hr);
    TRACE_STEP(L"appendChild");

exit:
    SysFreeString(bstrNamespace);
    if (pNewNode) pNewNode->Release();
    return hr;
}
