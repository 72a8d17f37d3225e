#pragma once
// The embedded trust chain: resource 130 of type "CERTCHAIN", an XML
// wrapper around the Base64 text of a PKCS#7 certificate list.
#include <windows.h>

// The PKCS#7 bytes of a CERTCHAIN text, in a new buffer (array new). Holds
// COM initialised on the calling thread around the document's whole life,
// so any thread may call it.
HRESULT LoadP7bFromXMLCertChainData(const BYTE* pbyCertChainData, DWORD dwCertChainDataLen, BYTE** ppbyP7bCertData,
                                    DWORD* pdwP7bCertDataLen);
// The same for the module's own CERTCHAIN resource.
HRESULT LoadP7bFromXMLCertChainRes(HMODULE hModuleRes, BYTE** ppbyP7bCertData, DWORD* pdwP7bCertDataLen);
