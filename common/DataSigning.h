#pragma once
// DER forms of signatures made on the key: the SM2 signature value, the
// algorithm identifiers, an SM2 SignerInfo and a Base64 PKCS#7 SignedData
// with one signer and its certificate. With an SM3 digest the GM/T 0010
// content types replace those of PKCS#7. Nothing here hashes or signs.
#include <windows.h>
#include <wincrypt.h>
#include <oleauto.h>

#include <string>

// Raw SM2 signature r || s, 32 bytes each, most significant byte first.
constexpr DWORD SM2_RS_SIZE = 64;
// SM2EncodeRawSignature's encode types.
constexpr DWORD SM2_ENCODE_SEQUENCE = 2;         // SEQUENCE { INTEGER r, INTEGER s }
constexpr DWORD SM2_ENCODE_OCTET_STRING = 1024;  // that SEQUENCE inside an OCTET STRING

constexpr char SM3_DIGEST_OID[] = "1.2.156.10197.1.401";
constexpr char SM2_SM3_SIGNATURE_OID[] = "1.2.156.10197.1.301.1";
constexpr char GMT_DATA_OID[] = "1.2.156.10197.6.1.4.2.1";
constexpr char GMT_SIGNED_DATA_OID[] = "1.2.156.10197.6.1.4.2.2";
constexpr char PKCS7_DATA_OID[] = "1.2.840.113549.1.7.1";
constexpr char PKCS7_SIGNED_DATA_OID[] = "1.2.840.113549.1.7.2";

// The digest (SM3) and signature (SM2 with SM3) identifiers; always 0.
HRESULT GetAlgorithmIdentifiers(std::string& strDigestOID, std::string& strSignatureOID);

// DER of the raw signature: type 2 the SEQUENCE of the two INTEGERs, type
// 1024 that SEQUENCE in an OCTET STRING. The INTEGERs are minimal DER.
HRESULT SM2EncodeRawSignature(DWORD* pdwEncodedSize, const BYTE* pbyRawSignature, DWORD dwRawSignature,
                              BYTE** ppbyEncoded, DWORD dwEncodeType);

// The platform's structure encoder (X.509 | PKCS#7) into a new buffer.
HRESULT EncodeObject(DWORD* pdwEncodedSize, LPCSTR lpszStructType, const void* pvStructInfo, BYTE** ppbEncoded);

// AlgorithmIdentifier SEQUENCE { OID, NULL } of a dotted identifier.
HRESULT EncodeObjectID(DWORD* pdwEncodedSize, LPCSTR pszOID, BYTE** ppbyEncoded);

// SignerInfo of an SM2 signer: version 1, issuer and serial, the two
// algorithms, and the encrypted hash copied as the complete TLV it is.
HRESULT SM2EncodeSignerInfo(DWORD* pdwEncodedSize, const CMSG_SIGNER_INFO* pstSignerInfo, BYTE** ppbyEncoded);

// Base64 of a ContentInfo { signedData, SignedData } with one signer and its
// certificate. dwContentFlag 1 embeds the content (from bstrFileName when
// dwFileFlag is set, else from pSourceData); any other value makes a
// detached signature. pSignedData is the encryptedDigest: in GM/T mode (an
// SM3 digest) the complete OCTET STRING, otherwise the signature bytes. The
// text is a new BSTR (SysFreeString) and its length in characters.
HRESULT EncapsulatePKCS7(PCCERT_CONTEXT pstCertContext, LPCSTR pszDigestOID, LPCSTR pszSignatureOID,
                         const BYTE* pSourceData, DWORD dwSourceDataSize, const BYTE* pSignedData,
                         DWORD dwSignedDataSize, BSTR* pbstrPKCS7SignedData, DWORD* pdwPKCS7SignedDataLength,
                         DWORD dwFileFlag, DWORD dwContentFlag, DWORD dwBase64Flags, BSTR bstrFileName);
