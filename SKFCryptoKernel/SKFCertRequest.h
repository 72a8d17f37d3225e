#pragma once
// A renewal's key work on the key, one call each, through the SKFCrypt
// facade: the detached PKCS#7 signature of the session text, the new
// container with its SM2 signature key pair and the PKCS#10 request that
// carries the host's temporary public key, and the import of the new
// signature certificate and of the enveloped encryption key pair with its
// certificate. The request and the key-pair import must use one provider
// handle: the temporary key pair lives in that provider's container handler.
// Outputs are new buffers (array new) for the caller to free with array delete.
#include <windows.h>

#include <string>

#include "SKFCryptoAPI.h"

// The CryptoAPI-style name under which the key's provider is registered.
constexpr wchar_t SKF_KEY_PROVIDER_NAME[] = L"Quib CSP v6.0 (ZOPRA)";
// The renewal request's constants.
constexpr wchar_t SKF_REQUEST_SUBJECT[] = L"CN=ZOPRA@CertificateApply, O=PELQ TEST CA, C=CN";
constexpr char SKF_REQUEST_PUBLIC_KEY_OID[] = "1.2.840.10045.2.1";
constexpr char SKF_REQUEST_SIGNATURE_OID[] = "1.2.156.10197.1.501";

// Key algorithm identifiers of the key access layer.
constexpr DWORD SKF_CALG_SM2_SIGN = 0x3E00;
constexpr DWORD SKF_CALG_SM2_KEYX = 0xBE00;
constexpr DWORD SKF_CALG_RSA_KEYX = 0xA400;

// Generates a key pair in a container and returns its public key (CSP form):
// key kind 1 (AT_KEYEXCHANGE) the host's temporary SM2 pair, otherwise an SM2
// signature pair on the key. dwCreate 1 creates the container (named by a
// new GUID when *lppwKeyContainerName is NULL, and then handed out), 0 opens
// the named one. With no device name the provider's only device is used, or
// the UI delegator chooses among several.
HRESULT SKFCreatePublicKey(const wchar_t* lpwDeviceName, DWORD dwKeySpec, DWORD dwCreate,
                           wchar_t** lppwKeyContainerName, HSKFCRYPTPROV* phSKFCryptProv, BYTE** lppPublicKey,
                           DWORD* pdwPublicKeySize);

// Signs with the current container; for SM3 the 64-byte r || s, each
// most significant byte first; otherwise the whole signature reversed.
HRESULT SKFPKCS10SignBinaryData(HSKFCRYPTPROV hSKFCryptProv, const BYTE* pbySourceData, DWORD dwSourceDataLength,
                                DWORD dwHashAlgID, BYTE** ppbySignedData, DWORD* pdwSignedDataSize);

// The request signed by the current container, as Base64 lines of 64
// characters (no final line break). The key blobs are copied, never changed.
HRESULT SKFPKCS10RequestBase64(HSKFCRYPTPROV hSKFCryptProv, const wchar_t* lpwSubject, LPCSTR pszPublicKeyAlgorithm,
                               LPCSTR pszSignAlgorithm, DWORD dwHashAlgID, const BYTE* pbySignPublicKey,
                               DWORD dwSignPublicKeySize, const BYTE* pbyTempPublicKey, DWORD dwTempPublicKeySize,
                               DWORD dwAttributeForm, char** ppbyPKCS10Request, DWORD* pdwPKCS10RequestLength);

// A new container with an SM2 signature key pair on the key, the temporary
// pair on the host, and the request. *phSKFCryptProv 0: a new provider is
// stored there on success.
HRESULT SKFPKCS10CertRequisition(const wchar_t* lpwDeviceName, HSKFCRYPTPROV* phSKFCryptProv,
                                 char** ppbyPKCS10Request, wchar_t** lppwContainerName);

// The signature certificate (Base64; "," and line breaks anywhere) into the
// container. Handle 0: a provider of that name is opened for the call.
HRESULT SKFImportSignatureCert(const wchar_t* lpwDeviceName, const wchar_t* lpwContainerName,
                               HSKFCRYPTPROV hSKFCryptProv, const wchar_t* lpwProvider,
                               const std::wstring& wstrBase64Cert);

// The server's enveloped encryption key pair and the encryption certificate
// into the container; "RSA" (any case) imports an RSA pair, any other name an
// SM2 pair unwrapped with the temporary key of the same provider.
HRESULT SKFImportKeyExchangeCert(const wchar_t* lpwDeviceName, const wchar_t* lpwContainerName,
                                 HSKFCRYPTPROV hSKFCryptProv, const wchar_t* lpwProvider, const wchar_t* lpwAlgName,
                                 const std::wstring& wstrEncPrivateKey, const std::wstring& wstrBase64Cert);

// A detached SignedData (GM/T 0010 types) of the data by the container's
// signature key and certificate, as Base64 text.
HRESULT SKFSignBinaryDataPKCS7(const wchar_t* lpwDeviceName, const wchar_t* lpwContainerName,
                               HSKFCRYPTPROV* phSKFCryptProv, const BYTE* pbySourceData, DWORD dwSourceDataSize,
                               wchar_t** lppwPKCS7Base64SignedData);
