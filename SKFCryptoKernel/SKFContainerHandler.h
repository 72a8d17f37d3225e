#pragma once
// The key access layer's handle on one open container of a key: every call
// the layer makes inside a container goes through it. It converts between
// the key library's blobs (big-endian values right-aligned in wide fields)
// and the CryptoAPI forms the layer's callers use (PKCS#1 RSA public keys,
// SM2 public-key blobs with little-endian coordinates, signatures least
// significant byte first), and it holds the temporary host SM2 key pair of a
// certificate renewal until the server's encryption key pair, encrypted to
// it, is carried into the key as an enveloped key blob.
#include <windows.h>

#include <string>

#include "SKFCryptProvider.h"
#include "SKFExternalCipher.h"

// Key algorithm identifiers in the CryptoAPI style.
constexpr DWORD SKF_ALG_AT_KEYEXCHANGE = 1;
constexpr DWORD SKF_ALG_AT_SIGNATURE = 2;
constexpr DWORD SKF_ALG_CALG_RSA_KEYX = 0xA400;
constexpr DWORD SKF_ALG_CALG_RSA_SIGN = 0x2400;
constexpr DWORD SKF_ALG_CALG_SM2_SIGN = 0x3E00;
constexpr DWORD SKF_ALG_CALG_SM2_KEYX = 0xBE00;

// The CSP form of an SM2 public key: an 8-byte BLOBHEADER, then the key
// library's ECCPUBLICKEYBLOB with each coordinate field reversed as a whole.
constexpr DWORD SKF_CSP_SM2_PUBLIC_KEY_SIZE = 140;
// The enveloped key pair as built for SKF_ImportECCKeyPair: the standard
// structure with a 16-byte cipher (the SM4 key).
constexpr DWORD SKF_ENVELOPED_KEY_BLOB_SIZE = 388;

// The key a certificate or public-key identifier names: TRUE the signature
// key, FALSE the encryption key; false for an identifier not known.
bool SKFSignFlagOfAlgorithm(DWORD dwAlgID, BOOL* pbSignFlag);

// Frees the key pair's buffers (the private key wiped first), zeroes the
// record's fields and frees the record. NULL is ignored.
void FreeSM2KeyHandle(SM2KeyHandle* pKeyHandle);

class CSKFContainerHandler {
public:
    explicit CSKFContainerHandler(ISKFModuleCaller* pSKFModuleCaller);
    // Closes the container (a failed close is only traced) and frees the
    // temporary key pair.
    ~CSKFContainerHandler();
    CSKFContainerHandler(const CSKFContainerHandler&) = delete;
    CSKFContainerHandler& operator=(const CSKFContainerHandler&) = delete;

    // A new handler with its container open, or NULL.
    static CSKFContainerHandler* FromContainerName(const wchar_t* lpwContainerName, HAPPLICATION hApplication,
                                                   ISKFModuleCaller* pSKFModuleCaller);

    HRESULT OpenContainer(HAPPLICATION hApplication, const wchar_t* lpwContainerName);
    // 0 when nothing is open; on failure the handle is kept.
    HRESULT CloseContainer();
    std::wstring GetContainerName() const { return m_strContainerName; }
    HCONTAINER GetContainerHandle() const { return m_hContainer; }

    // By the signature public key's size: 0 none, 1 RSA, 2 SM2.
    HRESULT GetContainerType(DWORD* pdwContainerType);
    // The certificate as Base64 text, or as DER bytes (array new).
    HRESULT ExportCertificate(BOOL bSignFlag, std::string& strCertData);
    HRESULT ExportCertificate(BOOL bSignFlag, BYTE** ppbyCertData, DWORD* pdwCertDataSize);
    // Writes the certificate only when its public key is the container's own.
    HRESULT ImportCertificate(BOOL bSignFlag, const BYTE* pbyCertData, DWORD dwCertDataSize);

    // RSA (2, 0x2400) and SM2 (0x3E00) signature key pairs on the key; 0xBE00
    // makes a new temporary SM2 key pair on the host. The public key comes
    // back as PKCS#1 (RSA) or the 140-byte CSP SM2 blob (array new).
    HRESULT GenerateKeyPair(DWORD dwAlgID, DWORD dwKeyLength, BYTE** ppbyPublicKey, DWORD* pdwPublicKeySize);
    HRESULT ExportPublicKey(DWORD dwAlgID, BYTE** ppbyPublicKey, DWORD* pdwPublicKeySize);
    // The SM2 signature public key in the library's own form (scalar new).
    HRESULT ExportECCSignPublicKey(ECCPUBLICKEYBLOB** ppECCPubKeyBlob);

    HRESULT ImportRSAKeyPair(const BYTE* pbyEncSessionKey, DWORD dwEncSessionKeySize, const BYTE* pbyEncPrivateKey,
                             DWORD dwEncPrivateKeySize);
    // The server's SM2 ciphertext of X || Y || D, encrypted to this handler's
    // temporary key pair, re-enveloped under the container's signature key
    // and imported as the encryption key pair.
    HRESULT ImportECCKeyPair(const BYTE* pbyEncPrivateKey, DWORD dwEncPrivateKeySize);

    // RSA: the signature reversed; SM2 (32-byte hash): r || s, each 32 bytes
    // least significant first.
    HRESULT SignHashData(const BYTE* pbyHashData, DWORD dwHashDataSize, BYTE** ppbySignedData,
                         DWORD* pdwSignedDataSize);

    // The DER RSAPublicKey of the library's blob (array new).
    static HRESULT ConstructPKCS1RSAPublicKey(RSAPUBLICKEYBLOB stRSAPublicKeyBlob, BYTE** ppbyPublicKey,
                                              DWORD* pdwPublicKeySize);
    // The 140-byte CSP SM2 public key blob under that identifier (array new).
    static HRESULT ConstructCSPSM2PublicKey(ECCPUBLICKEYBLOB stECCPublicKeyBlob, DWORD dwAlgID, BYTE** ppbyPublicKey,
                                            DWORD* pdwPublicKeySize);
    // 0 when the certificate's key (04 || X || Y) is the CSP blob's point.
    // The blob's coordinate bytes are reordered in place.
    static HRESULT CheckSM2CertPublicKeyMatched(const BYTE* pbyCertPubKey, DWORD dwCertPubKeySize,
                                                BYTE* pbyExportPubKey, DWORD dwExportPubKeySize);

protected:
    // The special provider's RSA blob turned into the standard layout.
    HRESULT CorrectSpecialProviderBlob(RSAPUBLICKEYBLOB& blob);

    ISKFModuleCaller* m_pSKFModuleCaller;  // not owned
    HAPPLICATION m_hApplication;           // not owned
    HCONTAINER m_hContainer;
    SM2KeyHandle* m_pstSM2KeyHandle;       // the temporary key pair, owned
    std::wstring m_strContainerName;
};
