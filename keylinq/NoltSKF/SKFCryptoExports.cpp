// Device-level cryptography (ordinals 38, 39, 43, 45, 46, 50, 52 to 55) and
// the key-handle families: symmetric keys, digests, MACs (61 to 78). The
// device operations answer through the device object, the key-handle
// exports through the handle's key object.
#include "DeviceObject.h"
#include "ExportFrame.h"
#include "KeyObject.h"

namespace {
constexpr ULONG kSM3DigestLen = 32;  // SM3_DIGEST_LENGTH
}

ULONG __stdcall SKF_GenRandom(DEVHANDLE hDev, BYTE* pbRandom, ULONG ulRandomLen) {
    CExportFrame frame(L"SKF_GenRandom");
    SKF_REQUIRE(pbRandom);
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
    ISKFDevice* pDevice = DeviceObjectFromHandle(hDev);
    return frame.Call(L"GenerateRandom", [&] { return pDevice->GenerateRandom(ulRandomLen, pbRandom); });
}

ULONG __stdcall SKF_GenExtRSAKey(DEVHANDLE hDev, ULONG ulBitsLen, RSAPRIVATEKEYBLOB* pBlob) {
    CExportFrame frame(L"SKF_GenExtRSAKey");
    SKF_REQUIRE(pBlob);
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
    ISKFDevice* pDevice = DeviceObjectFromHandle(hDev);
    return frame.Call(L"GenExtRSAKey", [&] { return pDevice->GenExtRSAKey(ulBitsLen, pBlob); });
}

ULONG __stdcall SKF_RSAVerify(DEVHANDLE hDev, RSAPUBLICKEYBLOB* pRSAPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                              BYTE* pbSignature, ULONG ulSignLen) {
    CExportFrame frame(L"SKF_RSAVerify");
    SKF_REQUIRE(pRSAPubKeyBlob);
    SKF_REQUIRE(pbData);
    SKF_REQUIRE(pbSignature);
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
    ISKFDevice* pDevice = DeviceObjectFromHandle(hDev);
    return frame.Call(L"RSAVerify", [&] {
        return pDevice->RSAVerify(pRSAPubKeyBlob, pbData, ulDataLen, pbSignature, ulSignLen);
    });
}

ULONG __stdcall SKF_ExtRSAPubKeyOperation(DEVHANDLE hDev, RSAPUBLICKEYBLOB* pRSAPubKeyBlob, BYTE* pbInput,
                                          ULONG ulInputLen, BYTE* pbOutput, ULONG* pulOutputLen) {
    CExportFrame frame(L"SKF_ExtRSAPubKeyOperation");
    SKF_REQUIRE(pRSAPubKeyBlob);
    SKF_REQUIRE(pbInput);
    SKF_REQUIRE(pulOutputLen);
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
    ISKFDevice* pDevice = DeviceObjectFromHandle(hDev);
    return frame.Call(L"ExtRSAPubKeyOperation", [&] {
        return pDevice->ExtRSAPubKeyOperation(pRSAPubKeyBlob, pbInput, ulInputLen, pbOutput, pulOutputLen);
    });
}

ULONG __stdcall SKF_ExtRSAPriKeyOperation(DEVHANDLE hDev, RSAPRIVATEKEYBLOB* pRSAPriKeyBlob, BYTE* pbInput,
                                          ULONG ulInputLen, BYTE* pbOutput, ULONG* pulOutputLen) {
    CExportFrame frame(L"SKF_ExtRSAPriKeyOperation");
    SKF_REQUIRE(pRSAPriKeyBlob);
    SKF_REQUIRE(pbInput);
    SKF_REQUIRE(pulOutputLen);
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
    ISKFDevice* pDevice = DeviceObjectFromHandle(hDev);
    return frame.Call(L"ExtRSAPriKeyOperation", [&] {
        return pDevice->ExtRSAPriKeyOperation(pRSAPriKeyBlob, pbInput, ulInputLen, pbOutput, pulOutputLen);
    });
}

namespace {
ULONG EccVerifyExport(const wchar_t* name, DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData,
                      ULONG ulDataLen, ECCSIGNATUREBLOB* pSignature) {
    CExportFrame frame(name);
    SKF_REQUIRE(pECCPubKeyBlob);
    SKF_REQUIRE(pbData);
    SKF_REQUIRE(pSignature);
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
    ISKFDevice* pDevice = DeviceObjectFromHandle(hDev);
    return frame.Call(L"ECCVerify", [&] {
        return pDevice->ECCVerify(pECCPubKeyBlob, pbData, ulDataLen, pSignature->r, pSignature->s);
    });
}
}  // namespace

ULONG __stdcall SKF_ECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                              ECCSIGNATUREBLOB* pSignature) {
    return EccVerifyExport(L"SKF_ECCVerify", hDev, pECCPubKeyBlob, pbData, ulDataLen, pSignature);
}

ULONG __stdcall SKF_ExtECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                                 ECCSIGNATUREBLOB* pSignature) {
    return EccVerifyExport(L"SKF_ExtECCVerify", hDev, pECCPubKeyBlob, pbData, ulDataLen, pSignature);
}

ULONG __stdcall SKF_ExtECCEncrypt(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbPlainText,
                                  ULONG ulPlainTextLen, ECCCIPHERBLOB* pCipherText) {
    CExportFrame frame(L"SKF_ExtECCEncrypt");
    SKF_REQUIRE(pECCPubKeyBlob);
    SKF_REQUIRE(pbPlainText);
    SKF_REQUIRE(pCipherText);
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
    ISKFDevice* pDevice = DeviceObjectFromHandle(hDev);
    return frame.Call(L"ExtECCEncrypt", [&] {
        return pDevice->ExtECCEncrypt(pECCPubKeyBlob, pbPlainText, ulPlainTextLen, pCipherText);
    });
}

ULONG __stdcall SKF_ExtECCDecrypt(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob, ECCCIPHERBLOB* pCipherText,
                                  BYTE* pbPlainText, ULONG* pulPlainTextLen) {
    CExportFrame frame(L"SKF_ExtECCDecrypt");
    SKF_REQUIRE(pECCPriKeyBlob);
    SKF_REQUIRE(pCipherText);
    SKF_REQUIRE(pulPlainTextLen);
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
    ISKFDevice* pDevice = DeviceObjectFromHandle(hDev);
    return frame.Call(L"ExtECCDecrypt", [&] {
        return pDevice->ExtECCDecrypt(pECCPriKeyBlob, pCipherText, pbPlainText, pulPlainTextLen);
    });
}

ULONG __stdcall SKF_ExtECCSign(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob, BYTE* pbData, ULONG ulDataLen,
                               ECCSIGNATUREBLOB* pSignature) {
    CExportFrame frame(L"SKF_ExtECCSign");
    SKF_REQUIRE(pECCPriKeyBlob);
    SKF_REQUIRE(pbData);
    SKF_REFUSE_IF(kSM3DigestLen != ulDataLen, L"CHECK ulDataLen", SAR_INDATALENERR);
    SKF_REQUIRE(pSignature);
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
    ISKFDevice* pDevice = DeviceObjectFromHandle(hDev);
    return frame.Call(L"ExtECCSign", [&] {
        return pDevice->ExtECCSign(pECCPriKeyBlob, pbData, kSM3DigestLen, pSignature->r, pSignature->s);
    });
}

ULONG __stdcall SKF_SetSymmKey(DEVHANDLE hDev, BYTE* pbKey, ULONG ulAlgID, HANDLE* phKey) {
    CExportFrame frame(L"SKF_SetSymmKey");
    SKF_REQUIRE(pbKey);
    SKF_REQUIRE(phKey);
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
    ISKFDevice* pDevice = DeviceObjectFromHandle(hDev);
    HANDLE hKey = nullptr;
    const ULONG rc = frame.Call(L"SetSymmKey", [&] { return pDevice->SetSymmKey(pbKey, ulAlgID, &hKey); });
    if (rc == SAR_OK) {
        SKFHandles::Add(hKey, SKFHandleKind::Key, frame.Context(), &DestroyKeyObject);
        *phKey = hKey;
    }
    return rc;
}

ULONG __stdcall SKF_DigestInit(DEVHANDLE hDev, ULONG ulAlgID, ECCPUBLICKEYBLOB* pPubKey, unsigned char* pucID,
                               ULONG ulIDLen, HANDLE* phHash) {
    CExportFrame frame(L"SKF_DigestInit");
    SKF_REQUIRE(phHash);
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
    ISKFDevice* pDevice = DeviceObjectFromHandle(hDev);
    HANDLE hHash = nullptr;
    const ULONG rc =
        frame.Call(L"DigestInit", [&] { return pDevice->DigestInit(ulAlgID, pPubKey, pucID, ulIDLen, &hHash); });
    if (rc == SAR_OK) {
        SKFHandles::Add(hHash, SKFHandleKind::Key, frame.Context(), &DestroyKeyObject);
        *phHash = hHash;
    }
    return rc;
}

// ---- key handles

namespace {
// The frame of a key-handle export after its pointer checks: the handle
// check, then the object's operation under the device mutex.
template <class Operation>
ULONG KeyCall(CExportFrame& frame, HANDLE hKey, const wchar_t* step, int line, Operation operation) {
    if (!frame.CheckHandle(hKey, SKFHandleKind::Key, L"CHECK_KEY_PCTX", L"hKey == NULL", line)) return frame.Result();
    CKeyObject* pKey = KeyObjectFromHandle(hKey);
    return frame.Call(step, [&] { return operation(pKey); }, line);
}
}  // namespace

ULONG __stdcall SKF_EncryptInit(HANDLE hKey, BLOCKCIPHERPARAM EncryptParam) {
    CExportFrame frame(L"SKF_EncryptInit");
    return KeyCall(frame, hKey, L"EncryptInit", __LINE__, [&](CKeyObject* k) { return k->EncInit(1, &EncryptParam); });
}

ULONG __stdcall SKF_Encrypt(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData,
                            ULONG* pulEncryptedLen) {
    CExportFrame frame(L"SKF_Encrypt");
    SKF_REQUIRE(pbData);
    SKF_REQUIRE(pulEncryptedLen);
    return KeyCall(frame, hKey, L"Encrypt", __LINE__, [&](CKeyObject* k) {
        return k->Encrypt(pbData, ulDataLen, pbEncryptedData, pulEncryptedLen);
    });
}

ULONG __stdcall SKF_EncryptUpdate(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData,
                                  ULONG* pulEncryptedLen) {
    CExportFrame frame(L"SKF_EncryptUpdate");
    SKF_REQUIRE(pbData);
    SKF_REQUIRE(pulEncryptedLen);
    return KeyCall(frame, hKey, L"EncryptUpdate", __LINE__, [&](CKeyObject* k) {
        return k->EncUpdate(pbData, ulDataLen, pbEncryptedData, pulEncryptedLen);
    });
}

ULONG __stdcall SKF_EncryptFinal(HANDLE hKey, BYTE* pbEncryptedData, ULONG* pulEncryptedDataLen) {
    CExportFrame frame(L"SKF_EncryptFinal");
    SKF_REQUIRE(pulEncryptedDataLen);
    return KeyCall(frame, hKey, L"EncryptFinal", __LINE__,
                   [&](CKeyObject* k) { return k->EncFinal(pbEncryptedData, pulEncryptedDataLen); });
}

ULONG __stdcall SKF_DecryptInit(HANDLE hKey, BLOCKCIPHERPARAM DecryptParam) {
    CExportFrame frame(L"SKF_DecryptInit");
    return KeyCall(frame, hKey, L"DecryptInit", __LINE__, [&](CKeyObject* k) { return k->EncInit(0, &DecryptParam); });
}

ULONG __stdcall SKF_Decrypt(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData,
                            ULONG* pulDataLen) {
    CExportFrame frame(L"SKF_Decrypt");
    SKF_REQUIRE(pbEncryptedData);
    SKF_REQUIRE(pulDataLen);
    return KeyCall(frame, hKey, L"Decrypt", __LINE__,
                   [&](CKeyObject* k) { return k->Encrypt(pbEncryptedData, ulEncryptedLen, pbData, pulDataLen); });
}

ULONG __stdcall SKF_DecryptUpdate(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData,
                                  ULONG* pulDataLen) {
    CExportFrame frame(L"SKF_DecryptUpdate");
    SKF_REQUIRE(pbEncryptedData);
    SKF_REQUIRE(pulDataLen);
    return KeyCall(frame, hKey, L"DecryptUpdate", __LINE__,
                   [&](CKeyObject* k) { return k->EncUpdate(pbEncryptedData, ulEncryptedLen, pbData, pulDataLen); });
}

ULONG __stdcall SKF_DecryptFinal(HANDLE hKey, BYTE* pbDecryptedData, ULONG* pulDecryptedDataLen) {
    CExportFrame frame(L"SKF_DecryptFinal");
    SKF_REQUIRE(pulDecryptedDataLen);
    return KeyCall(frame, hKey, L"DecryptFinal", __LINE__,
                   [&](CKeyObject* k) { return k->EncFinal(pbDecryptedData, pulDecryptedDataLen); });
}

ULONG __stdcall SKF_Digest(HANDLE hHash, BYTE* pbData, ULONG ulDataLen, BYTE* pbHashData, ULONG* pulHashLen) {
    CExportFrame frame(L"SKF_Digest");
    SKF_REQUIRE(pbData);
    SKF_REQUIRE(pulHashLen);
    return KeyCall(frame, hHash, L"Digest", __LINE__,
                   [&](CKeyObject* k) { return k->Digest(pbData, ulDataLen, pbHashData, pulHashLen); });
}

ULONG __stdcall SKF_DigestUpdate(HANDLE hHash, BYTE* pbData, ULONG ulDataLen) {
    CExportFrame frame(L"SKF_DigestUpdate");
    SKF_REQUIRE(pbData);
    return KeyCall(frame, hHash, L"DigestUpdate", __LINE__,
                   [&](CKeyObject* k) { return k->DigestUpdate(pbData, ulDataLen); });
}

ULONG __stdcall SKF_DigestFinal(HANDLE hHash, BYTE* pHashData, ULONG* pulHashLen) {
    CExportFrame frame(L"SKF_DigestFinal");
    SKF_REQUIRE(pulHashLen);
    return KeyCall(frame, hHash, L"DigestFinal", __LINE__,
                   [&](CKeyObject* k) { return k->DigestFinal(pHashData, pulHashLen); });
}

ULONG __stdcall SKF_MacInit(HANDLE hKey, BLOCKCIPHERPARAM* pMacParam, HANDLE* phMac) {
    CExportFrame frame(L"SKF_MacInit");
    SKF_REQUIRE(pMacParam);
    SKF_REQUIRE(phMac);
    HANDLE hMac = nullptr;
    const ULONG rc =
        KeyCall(frame, hKey, L"MacInit", __LINE__, [&](CKeyObject* k) { return k->MacInit(pMacParam, &hMac); });
    if (rc == SAR_OK) {
        SKFHandles::Add(hMac, SKFHandleKind::Key, frame.Context(), &DestroyKeyObject);
        *phMac = hMac;
    }
    return rc;
}

ULONG __stdcall SKF_Mac(HANDLE hMac, BYTE* pbData, ULONG ulDataLen, BYTE* pbMacData, ULONG* pulMacLen) {
    CExportFrame frame(L"SKF_Mac");
    SKF_REQUIRE(pbData);
    SKF_REQUIRE(pulMacLen);
    return KeyCall(frame, hMac, L"Mac", __LINE__,
                   [&](CKeyObject* k) { return k->Mac(pbData, ulDataLen, pbMacData, pulMacLen); });
}

ULONG __stdcall SKF_MacUpdate(HANDLE hMac, BYTE* pbData, ULONG ulDataLen) {
    CExportFrame frame(L"SKF_MacUpdate");
    SKF_REQUIRE(pbData);
    return KeyCall(frame, hMac, L"MacUpdate", __LINE__, [&](CKeyObject* k) { return k->MacUpdate(pbData, ulDataLen); });
}

ULONG __stdcall SKF_MacFinal(HANDLE hMac, BYTE* pbMacData, ULONG* pulMacDataLen) {
    CExportFrame frame(L"SKF_MacFinal");
    SKF_REQUIRE(pulMacDataLen);
    return KeyCall(frame, hMac, L"MacFinal", __LINE__,
                   [&](CKeyObject* k) { return k->MacFinal(pbMacData, pulMacDataLen); });
}

ULONG __stdcall SKF_CloseHandle(HANDLE hHandle) {
    if (!hHandle) return SAR_OK;
    // A handle that is not a live key handle is refused, never destroyed.
    // No device mutex: out of the live set at once, the object destroyed
    // when no call runs on it any more.
    if (!SKFHandles::Close(hHandle, SKFHandleKind::Key)) return SarFromResult(SAR_INVALIDHANDLEERR);
    return SAR_OK;
}
