#pragma once
// Installing a renewed certificate through a CryptoAPI provider, and taking
// apart the renewal server's texts: the encryption certificate and the key
// envelope that carries the encrypted session key and the encrypted
// private key of the new encryption key pair. Byte outputs are new buffers
// (array new) for the caller to free with array delete.
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

// The platform's algorithm identifier reported for session type 306.
constexpr DWORD ENVELOPE_SESSION_ALG_3DES = 0x6603;
// Characters of one number field of the envelope.
constexpr size_t ENVELOPE_FIELD_CHARS = 16;

// Installs the certificate (Base64, "," anywhere) for the container's key of
// the given kind (1 AT_KEYEXCHANGE, 2 AT_SIGNATURE): on the key itself when
// the provider's name has no "Microsoft", else into the current user's
// "MY" store with a link to the container.
HRESULT ImportSignCert(DWORD dwKeySpec, const wchar_t* lpwBase64Cert, const wchar_t* lpwCSPName,
                       const wchar_t* lpwContainerName, const wchar_t* lpwAlgName);

// Adds the certificate to the current user's "MY" store (replacing a copy)
// with the key-provider link: container, provider, PROV_RSA_FULL and the
// key's kind (AT_KEYEXCHANGE or AT_SIGNATURE).
HRESULT AddCertToSystemStore(const wchar_t* lpwCSPName, const BYTE* pbCertEncoded, DWORD cbCertEncoded,
                             HCRYPTPROV hCryptProv, DWORD dwKeySpec, const wchar_t* lpwContainerName);

// The encryption certificate's text: "," removed, Base64 decoded.
HRESULT ParseEncryptCertPublicKeyCert(const wchar_t* lpwBase64Cert, BYTE** ppbyPublicKey, DWORD* pdwPublicKeySize);

// The envelope's encrypted session key (only for session algorithm 0x6603;
// otherwise null and 0) and encrypted private key. The session algorithm is
// reported as soon as the type fields are read; the key outputs only when
// everything succeeded.
HRESULT ParseEncryptCertPrivateKeyData(const wchar_t* lpwEncryptedData, DWORD* pdwSessionAlg,
                                       BYTE** ppbyEncryptedSessionKey, DWORD* pdwEncryptedSessionKeySize,
                                       BYTE** ppbyEncryptedPrivateKey, DWORD* pdwEncryptedPrivateKeySize);

// The DER of the envelope's two parts (the session part only for 0x6603).
HRESULT GetSessionKeyAndPriKeyASN1Object(const std::wstring& wstrEncryptedPriKeyData, DWORD* pdwSessionAlg,
                                         BYTE** ppbySessionKeyASN1, DWORD* pdwSessionKeyASN1Size,
                                         BYTE** ppbyPrivateKeyASN1, DWORD* pdwPrivateKeyASN1Size);

// Reads one length field and the part it announces at *pnPosition, which
// moves past both; the part comes back without its commas (empty for 0).
HRESULT GetBase64KeyFromEncryptedData(const std::wstring& wstrEncryptedData, size_t* pnPosition,
                                      std::wstring& wstrBase64Key);

// The content octets of the second of exactly two children of the DER root.
HRESULT GetSessionKeyOrPriKeyFromASN1Object(const BYTE* pbyKeyASN1, DWORD dwKeyASN1Size, BYTE** ppbyKeyData,
                                            DWORD* pdwKeyDataSize);

// A number field: leading blanks skipped, an optional sign, the digits up
// to the first other character (0 when there are none). Sixteen characters
// always fit in 64 bits.
long long ReadEnvelopeNumber(const std::wstring& text, size_t position);

// Every "," removed, converted to UTF-8 and Base64 decoded into out. The
// failed step's name goes to *ppwFailedStep.
HRESULT DecodeCommaSeparatedBase64(const std::wstring& text, std::vector<BYTE>& out,
                                   const wchar_t** ppwFailedStep);
