#pragma once
// Result codes shared by both deliverables: 0 is success, negative is failure.
#include <windows.h>

#ifndef S_OK
#define S_OK ((HRESULT)0)
#endif

// Private codes; all carry the severity and customer bits (0xA...).
#define RESULT_NO_CERT_TO_SHOW        ((HRESULT)0xA0001A01)  // no matching certificate to show
#define RESULT_NO_SIGNER              ((HRESULT)0xA0001A04)  // the file's signature names no signer
#define RESULT_NO_KEY_USAGE           ((HRESULT)0xA0001A11)  // certificate has no key-usage extension
#define RESULT_NO_SUBJECT_KEY_ID      ((HRESULT)0xA0001A12)  // certificate has no subject-key-identifier
#define RESULT_CHAIN_PARTIAL          ((HRESULT)0xA0001A15)  // "Cert Chain Integrity Invalid"
#define RESULT_CHAIN_BAD_SIGNATURE    ((HRESULT)0xA0001A16)  // "Cert Chain Signature Invalid"
#define RESULT_BASE64_ENCODE_FAILED   ((HRESULT)0xA0071004)  // no Base64 text was produced
#define RESULT_BASE64_DECODE_FAILED   ((HRESULT)0xA0071005)  // no bytes were decoded

// Folds a Windows error value or a callee's result into a result code.
// 0 and negative values pass unchanged. Certaide: a positive value keeps its
// low 16 bits under 0xA007 when it has the customer bit 0x20000000, else
// 0x8007. Keylinq (built with TRACE_FOR_KEYLINQ): a positive value that is a
// GM/T 0016 result code (bits 0x08000000 and 0x02000000) passes unchanged,
// any other keeps its low 16 bits under 0x8007.
HRESULT HResultFromError(LONG value);

// The thread's last error folded by HResultFromError; 0 becomes E_FAIL.
HRESULT HResultFromLastError();
