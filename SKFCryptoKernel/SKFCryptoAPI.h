#pragma once
// The flat, CryptoAPI-shaped entry to the key access layer. A handle stands
// for one loaded key library; the acquire call loads it, opens a device or
// container and can create or delete containers; the key operations work on
// the container that the handle's last open, create or delete chose.
#include <windows.h>

#include <string>
#include <vector>

#include "CustomSKFInterface.h"
#include "SKFCryptProvider.h"
#include "SKFDeviceHandler.h"

// Acquire flags.
constexpr DWORD SKF_CRYPT_NEWKEYSET = 0x8;      // create the container
constexpr DWORD SKF_CRYPT_DELETEKEYSET = 0x10;  // delete it (no name: the empty ones)
constexpr DWORD SKF_CRYPT_FLAG_HIGH_BITS = 0xF0000000;

// Loads the library (module path first, else the provider name's registry
// entry) or reuses *phSKFCryptProv, then creates, deletes or opens. A new
// provider goes to *phSKFCryptProv on success; with phSKFCryptProv NULL the
// call only does its work and unloads the library again.
HRESULT SKFCryptAcquireContext(const wchar_t* pwszDevice, const wchar_t* pwszContainer, HSKFCRYPTPROV* phSKFCryptProv,
                               const wchar_t* pwszProvider, DWORD dwFlags, const wchar_t* pwszModulePath);
HRESULT SKFCryptEnumDevices(HSKFCRYPTPROV hSKFProv, std::vector<std::wstring>& vecDeviceNames);
HRESULT SKFCryptGetDeviceInfo(const wchar_t* pwszDevice, HSKFCRYPTPROV hSKFProv, DeviceObjInfo& stDeviceObjInfo);
HRESULT SKFCryptGetDeviceSeals(const wchar_t* pwszDevice, HSKFCRYPTPROV hSKFProv, std::vector<SealData>& vecSealData);
HRESULT WriteSeadDataToUkey(const wchar_t* pwszDevice, HSKFCRYPTPROV hSKFProv, const SealData& stSealData);
HRESULT SKFCryptGenerateKey(HSKFCRYPTPROV hSKFProv, DWORD dwAlgID, BYTE** ppbyPublicKey, DWORD* pdwPublicKeySize);
HRESULT SKFCryptSignBinaryData(HSKFCRYPTPROV hSKFProv, const BYTE* pbySourceData, DWORD dwSourceDataSize,
                               DWORD dwHashAlgID, BYTE** ppbySignedData, DWORD* pdwSignedDataSize);
HRESULT SKFCryptExportCertificate(HSKFCRYPTPROV hSKFProv, BYTE** ppbyCertData, DWORD* pdwCertDataSize);
HRESULT SKFCryptImportCertificate(HSKFCRYPTPROV hSKFProv, DWORD dwKeySpec, const BYTE* pbyCertData,
                                  DWORD dwCertDataSize);
HRESULT SKFCryptImportKeyPair(HSKFCRYPTPROV hSKFProv, DWORD dwAlgID, const BYTE* pbyKeyData, DWORD dwKeyDataSize,
                              const BYTE* pbyEncPrivateKey, DWORD dwEncPrivateKeySize);
// Destroys the provider; NULL is accepted. Always S_OK.
HRESULT SKFCryptReleaseContext(HSKFCRYPTPROV hSKFProv);
