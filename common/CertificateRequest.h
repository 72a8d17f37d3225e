#pragma once
// The pieces of a PKCS#10 certification request in DER: subject Name from a
// keyword=value text, SubjectPublicKeyInfo of an RSA or SM2 key, the
// challenge-password and temporary-key attributes, the
// CertificationRequestInfo, the signature algorithm and BIT STRING, and the
// re-wrapping of the final Base64 text. Every output is a new buffer (array
// new) with its length; the caller frees it with array delete.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

constexpr char RSA_PUBLIC_KEY_OID[] = "1.2.840.113549.1.1.1";
constexpr char EC_PUBLIC_KEY_OID[] = "1.2.840.10045.2.1";
constexpr char SM2_CURVE_OID[] = "1.2.156.10197.1.301";
constexpr char SM2_SM3_REQUEST_SIGNATURE_OID[] = "1.2.156.10197.1.501";
constexpr char CHALLENGE_PASSWORD_OID[] = "1.2.840.113549.1.9.7";
constexpr char TEMP_PUBLIC_KEY_OID[] = "1.2.840.113549.1.9.63";
constexpr char CHALLENGE_PASSWORD[] = "507193";

// The CSP SM2 public key blob: 8-byte header, 32-bit bit length, X and Y
// fields of 64 bytes each (the coordinate least significant byte first in
// the first 32 bytes of its field).
constexpr DWORD SM2_CSP_PUBLIC_KEY_BLOB_SIZE = 140;
// The temporary key as the request carries it: 0xB400, 256, X field, Y field.
constexpr DWORD SM2_TEMP_PUBLIC_KEY_SIZE = 136;
constexpr DWORD SM2_TEMP_PUBLIC_KEY_ALG = 0xB400;
constexpr DWORD SM2_POINT_SIZE = 65;

// String value types as the platform numbers them.
constexpr DWORD ANY_STRING_OCTET = 2;
constexpr DWORD ANY_STRING_PRINTABLE = 4;
constexpr DWORD ANY_STRING_IA5 = 7;
constexpr DWORD ANY_STRING_BMP = 12;

struct CertRequestInfoParams {
    std::wstring wstrSubject;            // "CN=...,O=...,C=..."
    std::string strPublicKeyAlgorithm;   // dotted identifier of the key's algorithm
    const BYTE* pbyPublicKey;            // the BIT STRING's bytes (SM2: 04 || X || Y)
    DWORD dwPublicKeySize;
    const BYTE* pbyTempPublicKey;        // 136-byte temporary key, or null
    DWORD dwTempPublicKeySize;
    DWORD dwStandardAttributes;          // non-zero: values in SETs (PKCS#10); 0: without the SETs
};

HRESULT ComposeAnyString(BYTE** ppbyEncodedData, DWORD* pdwEncodedSize, const BYTE* pbyValue, DWORD dwValueType,
                         DWORD dwValueSize);
HRESULT ComposeBITString(BYTE** ppbyEncodedData, DWORD* pdwEncodedSize, const BYTE* pbyData, DWORD dwDataSize);
// Bytes least significant first to a DER INTEGER of the unsigned number.
HRESULT ComposeMultiByteUnsignedInt(BYTE** ppbyEncodedData, DWORD* pdwEncodedSize, const BYTE* pbyData,
                                    DWORD dwDataSize);
// SEQUENCE { OID, SET { value } }.
HRESULT ComposeStandardAttribute(BYTE** ppbyEncodedData, DWORD* pdwEncodedSize, LPCSTR pszObjectID,
                                 const BYTE* pbyValue, DWORD dwValueSize);
// SEQUENCE { OID, value }, or SEQUENCE { OID, NULL } without a value.
HRESULT ComposeSpecialAttribute(BYTE** ppbyEncodedData, DWORD* pdwEncodedSize, LPCSTR pszObjectID,
                                const BYTE* pbyValue, DWORD dwValueSize);

// Identifier of a subject keyword (case and spaces ignored); empty when unknown.
std::string GetObjectID(const std::wstring& wstrKeyword);
// (identifier, value) pairs in text order. 0x80090005 for a piece that is
// not keyword=value, 0x80090005 for an unknown keyword, E_INVALIDARG for an
// empty text or an empty piece.
HRESULT ParseSubject(const wchar_t* lpwSubject, std::vector<std::pair<std::string, std::wstring>>& vtrPairs);
// SET { SEQUENCE { OID, string } }.
HRESULT ComposeSubjectChild(const std::pair<std::string, std::wstring>& pair, BYTE** ppbyEncodedData,
                            DWORD* pdwEncodedSize);
// The Name: the pairs' SETs from the last pair to the first.
HRESULT ComposeSubject(const wchar_t* lpwSubject, BYTE** ppbyEncodedData, DWORD* pdwEncodedSize);
HRESULT ComposeSignPublicKeyData(LPCSTR pszAlgorithm, const BYTE* pbyPublicKey, DWORD dwPublicKeySize,
                                 BYTE** ppbyEncodedData, DWORD* pdwEncodedSize);
// [0] { challenge password, temporary key }.
HRESULT ComposeAttributes(const BYTE* pbyTempPublicKey, DWORD dwTempPublicKeySize, DWORD dwStandardAttributes,
                          BYTE** ppbyEncodedData, DWORD* pdwEncodedSize);
HRESULT ComposeCertRequestInfo(CertRequestInfoParams stParams, BYTE** ppbyEncodedData, DWORD* pdwEncodedSize);
// SEQUENCE { OID, NULL }.
HRESULT ComposeSignAlgorithm(LPCSTR pszAlgorithm, BYTE** ppbyEncodedData, DWORD* pdwEncodedSize);
// BIT STRING of the signature; with bSM2 the 64-byte r || s as DER first.
HRESULT ComposeSignature(const BYTE* pbySignature, DWORD dwSignatureSize, BOOL bSM2, BYTE** ppbyEncodedData,
                         DWORD* pdwEncodedSize);
// Rewrites the two CSP blobs (140 bytes each) in place: the signature key
// to the 65-byte point, the temporary key (optional) to its 136-byte form.
HRESULT ProcessSM2PublicKey(BYTE* pbySignPublicKeyData, DWORD* pdwSignPublicKeyDataSize, BYTE* pbyTempPublicKeyData,
                            DWORD* pdwTempPublicKeyDataSize);
// The text with CR LF after every 64 characters (none at the end).
HRESULT TransBase64ToHoldCRLFPer64Chars(const char* pbyDataIn, DWORD dwDataInSize, char** ppbyDataOut,
                                        DWORD* pdwDataOutSize);
