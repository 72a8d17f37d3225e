#pragma once
// Five helpers over the MSXML document object: load UTF-8 text, take the
// root node, find a child by name, read a node's text, append an element.
//
// COM: LoadXMLDom initialises COM on the calling thread only for the load
// itself and uninitialises it before returning. A caller that keeps using
// the document must hold COM initialised on its thread for the document's
// whole life, in the apartment model (CoInitialize; a thread already in the
// multithreaded apartment makes LoadXMLDom fail with RPC_E_CHANGED_MODE).
// Documents and nodes are used only on the thread that loaded them.
#include <windows.h>
#include <msxml2.h>

// The version-independent MSXML2 DOMDocument class and IXMLDOMDocument.
extern const CLSID CLSID_XMLDOMDocument;  // {F6D90F11-9C73-11D3-B32E-00C04F990BB4}
extern const IID IID_XMLDOMDocument;      // {2933BF81-7B36-11D2-B20E-00C04F983E60}

// Loads dwResDataLen bytes of UTF-8 text (no terminator needed) into a new
// document. On a failure after the document exists it stays in *ppXMLDom
// for the caller to release.
HRESULT LoadXMLDom(const BYTE* lpResData, DWORD dwResDataLen, IXMLDOMDocument** ppXMLDom);
// The document's last child (a comment after the root element is returned as it is).
HRESULT GetXMLRootNode(IXMLDOMDocument* pXMLDom, IXMLDOMNode** ppRootNode);
// The first child whose name equals the given one without regard to case;
// 1168 (ERROR_NOT_FOUND, not folded) when there is none.
HRESULT FindChildNode(IXMLDOMNode* pParentNode, BSTR bstrChildNodeName, IXMLDOMNode** ppChildNode);
// The node's text (its descendants' text included) as a new terminated array.
HRESULT GetNodeValue(IXMLDOMNode* pNode, wchar_t** lppwNodeValue);
// Appends an element with the given name and text (an empty text gives an empty element).
HRESULT CreateAndAppendXMLNode(IXMLDOMDocument* pXMLDom, IXMLDOMNode* pNodeAppendto, BSTR bstrNewNodeName,
                               BSTR bstrNewNodeText);
